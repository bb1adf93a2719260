// Editing host files: the window hands the selected file to the edits (src/session/RemoteEdits.h),
// shows their window, and asks the user what the edits cannot decide alone.
#include "session/RemoteEdits.h"
#include "ui/ConfigureDialog.h"
#include "ui/EditsWindow.h"
#include "ui/MainWindow.h"
#include "ui/TandemGroup.h"
#include "ui/TransferGroup.h"
#include "ui/UserMessages.h"

#include <QAction>
#include <QPushButton>

void TFormMain::WireEdits()
{
    Edits_ = std::make_unique<TRemoteEdits>(*Session_, EditFolderBase());
    FormEdits = new TFormEdits(*Edits_, this);
    connect(GroupBoxTandem->BtnEditTandem, &QPushButton::clicked, this, GuardedSlot(&TFormMain::BtnEditTandemClick));
    connect(EditsItem, &QAction::triggered, this, GuardedSlot(&TFormMain::EditsItemClick));
    // Asked from the event loop, never inside the edits' own handling of a reply.
    connect(Edits_.get(), &TRemoteEdits::HostChanged, this, GuardedSlot(&TFormMain::EditHostChanged),
            Qt::QueuedConnection);
}

void TFormMain::BtnEditTandemClick()
{
    const std::vector<std::string> lines = GroupBoxTandem->SelectedLines();
    if (lines.empty() || !Session_->Connected)
        return;
    Edits_->SetEditor(HeldGeneralSettings().Editor);
    Edits_->SetLineEnds(HeldGeneralSettings().AsciiLineEnds);
    const TEditConnection connection = EditConnectionOf(Session_->FTPCLI);
    for (const std::string &line : lines)
        Edits_->Edit(connection, Session_->FTPCLI.ReplyDirectory(), line, GroupBoxMode->CurrentOptions());
    FormEdits->ShowWindow();
}

void TFormMain::EditsItemClick()
{
    FormEdits->ShowWindow();
}

void TFormMain::EditHostChanged(int id)
{
    const TEditEntry *entry = Edits_->Find(id);
    if (!entry || !entry->AwaitingAnswer)
        return;
    const std::string name = entry->HostName;
    const QString why = entry->Reason.empty() ? "changed on the host since you opened or last uploaded it"
                                              : TextForDisplay(entry->Reason);
    const int choice = Messages.Choose(FormEdits->isVisible() ? static_cast<QWidget *>(FormEdits) : this,
                                       TextForDisplay(name) + " in " + TextForDisplay(entry->Subvol) + ": " + why +
                                           ".\n\nOverwrite it with your text, save your text under a new host "
                                           "name, or cancel (nothing is uploaded)?",
                                       {"Overwrite", "Save as New Name...", "Cancel"});
    if (choice == 0) {
        Edits_->AnswerHostChange(id, HostChangeAnswer::Overwrite);
        return;
    }
    std::string newName;
    if (choice == 1 && PromptUser("Save as New Name", "New host file name for your text of " + name, &newName)) {
        Edits_->AnswerHostChange(id, HostChangeAnswer::SaveAsNewName, newName);
        return;
    }
    Edits_->AnswerHostChange(id, HostChangeAnswer::Cancel);
}

bool TFormMain::ConfirmCloseWithEdits()
{
    const int unfinished = Edits_->UnfinishedCount();
    if (unfinished == 0)
        return true;
    return Messages.Confirm(this, "Zarvel",
                            QString::number(unfinished) + " edited file(s) have changes that are not on the host "
                                "(see File > Edited Files). Their PC copies stay where they are. Exit anyway?");
}
