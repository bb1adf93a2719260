// The main window's file operations on both sides and its help window: the handlers hand
// the work to the session logic (HostFileOperations, PCFileOperations) with this window's
// side of it.
#include "session/HostFileOperations.h"
#include "session/HostFiles.h"
#include "session/PCFileOperations.h"
#include "ui/ConfigureDialog.h"
#include "ui/ListFocus.h"
#include "ui/LocalPCGroup.h"
#include "ui/PromptDialog.h"
#include "ui/MainWindow.h"
#include "ui/TandemGroup.h"
#include "ui/HelpWindow.h"
#include "ui/LogWindow.h"
#include "ui/UserMessages.h"

#include <QAction>
#include <QPushButton>

void TFormMain::WireFileOperationsAndHelp()
{
    connect(GroupBoxTandem->BtnDeleteTandem, &QPushButton::clicked, this,
            GuardedSlot(&TFormMain::BtnDeleteTandemClick));
    connect(GroupBoxTandem->BtnRenameTandem, &QPushButton::clicked, this,
            GuardedSlot(&TFormMain::BtnRenameTandemClick));
    connect(GroupBoxPC->BtnDeletePC, &QPushButton::clicked, this, GuardedSlot(&TFormMain::BtnDeletePCClick));
    connect(GroupBoxPC->BtnRenamePC, &QPushButton::clicked, this, GuardedSlot(&TFormMain::BtnRenamePCClick));
    connect(GroupBoxPC->BtnMkDirPC, &QPushButton::clicked, this, GuardedSlot(&TFormMain::BtnMkDirPCClick));
    connect(GroupBoxPC->BtnRmDirPC, &QPushButton::clicked, this, GuardedSlot(&TFormMain::BtnRmDirPCClick));
    connect(HelpItem, &QAction::triggered, this, GuardedSlot(&TFormMain::Help1Click));
    GroupBoxPC->OnSkipped = [this](const std::string &name) {
        Log(0, "PC file " + name + " not listed: its name is not UTF-8");
    };
}

TFileOperationViews TFormMain::FileOperationViews()
{
    TFileOperationViews views;
    views.Remote = GroupBoxTandem;
    views.HostSession = this;
    views.Local = GroupBoxPC;
    views.Folders = GroupBoxPC;
    views.Prompt = this;
    views.Messages = this;
    views.Sounds = &Sounds_;
    views.Log = Session_.get();
    views.Confirm = this;
    views.ConfirmDelete = HeldGeneralSettings().ConfirmDelete;
    return views;
}

void TFormMain::BtnDeleteTandemClick()
{
    const TListFocus focus(GroupBoxTandem->ListBoxTanFiles);
    TFtpHostFiles host(Session_->FTPCLI);
    THostFileOperations(host, FileOperationViews()).DeleteSelected();
}

void TFormMain::BtnRenameTandemClick()
{
    const TListFocus focus(GroupBoxTandem->ListBoxTanFiles);
    TFtpHostFiles host(Session_->FTPCLI);
    THostFileOperations(host, FileOperationViews()).RenameSelected();
}

void TFormMain::BtnDeletePCClick()
{
    const TListFocus focus(GroupBoxPC->FileListBoxPC);
    TPCFileOperations(FileOperationViews()).DeleteSelected();
}

void TFormMain::BtnRenamePCClick()
{
    const TListFocus focus(GroupBoxPC->FileListBoxPC);
    TPCFileOperations(FileOperationViews()).RenameSelected();
}

void TFormMain::BtnMkDirPCClick()
{
    TPCFileOperations(FileOperationViews()).MakeFolder();
}

void TFormMain::BtnRmDirPCClick()
{
    TPCFileOperations(FileOperationViews()).RemoveHighlightedFolder();
}

void TFormMain::Help1Click()
{
    TFormHelp help(this);
    help.exec();
}

bool TFormMain::PromptUser(const std::string &caption, const std::string &prompt, std::string *value)
{
    QString shown = value ? TextForDisplay(*value) : QString();
    if (!Messages.Prompt(this, TextForDisplay(caption), TextForDisplay(prompt), value ? &shown : nullptr))
        return false;
    if (value)
        *value = AnswerBytes(*value, shown);
    return true;
}

bool TFormMain::AskYesNo(const std::string &caption, const std::string &text)
{
    return Messages.Confirm(this, TextForDisplay(caption), TextForDisplay(text));
}

bool TFormMain::IsConnected() const
{
    return Session_->Connected;
}

bool TFormMain::ListTandemFiles()
{
    return Session_->ListTandemFiles();
}

int TFormMain::LogLevel() const
{
    return Forms_.FormConfig ? Forms_.FormConfig->Settings.LogLevel : 0;
}

void TFormMain::ClearLog()
{
    if (Forms_.FormStatus)
        Forms_.FormStatus->btnClearClick();
}
