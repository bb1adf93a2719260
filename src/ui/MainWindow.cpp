#include "ui/MainWindow.h"
#include "ui/MainWindowTransfers.h"
#include "ui/PadlockPicture.h"
#include "ui/AboutBox.h"
#include "ui/ConfigureDialog.h"
#include "ui/LocalPCGroup.h"
#include "ui/ConnectDialog.h"
#include "ui/EditsWindow.h"
#include "session/RemoteEdits.h"
#include "ui/TandemGroup.h"
#include "ui/LogWindow.h"
#include "ui/TransferGroup.h"
#include "ui/TransferProgressDialog.h"
#include "ui/UserMessages.h"
#include "session/FolderSync.h"
#include "session/SystemKeyring.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <algorithm>
#include <stdexcept>

TFormMain::TFormMain(TUserMessages &messages, TSounds &sounds, const QString &storePath, QWidget *parent)
    : QMainWindow(parent), Messages(messages), Sounds_(sounds), StorePath(storePath),
      Keyring(std::make_unique<TSystemKeyring>())
{
    setObjectName("FormMain");
    // No fixed accessible name: the window's name is its caption, which names the host.
    setWindowTitle("Zarvel");
    CreateMenus();
    CreateGroups();
    CreateStatusBar();
    ChainTabOrder();
    setMinimumSize(594, 405);
    resize(kDefaultSize);

    TSessionController::Views views;
    views.Remote = GroupBoxTandem;
    views.Status = this;
    views.Window = this;
    views.Messages = this;
    views.Certificates = this;
    views.PlainLogin = this;
    Session_ = std::make_unique<TSessionController>(views);
    WireTandemGroup();
    WireFileOperationsAndHelp();
    WireConfigure();
    WireTransfers();
    WireCompare();
    WireKeys();
    WireEdits();

    std::string problem;
    Store = OpenSettingsStore(std::make_unique<TFileSettingsStore>(storePath), problem);
    if (!Store)
        Messages.Warning(nullptr, TextForDisplay(problem)
            + "\n\nZarvel runs with default settings and saves none until this is put right.");
    Session_->SetTrustStore(Store.get());
    const StartupFilters filters = LoadStartupFilters(Store.get());
    SetFilterPC(filters.FilterPC);
    // A refused stored definition leaves the filter box empty; the list then shows every line.
    Session_->SetTandemFilter(filters.FilterTandem);
}

TFormMain::~TFormMain()
{
    // The client closes its sockets as it goes; nothing it reports may reach this window.
    Closing = true;
    // Hidden while still whole: hiding moves the focus, and the subvolume box's focus-out
    // handler must not reach a window whose TFormMain part is already gone.
    hide();
    delete FormEdits;
    Edits_.reset();
    FolderSync_.reset(); // it logs through the session
    Session_.reset();
    if (Store)
        Store->Close();
}

void TFormMain::WireTandemGroup()
{
    TTandemGroup *tandem = GroupBoxTandem;
    tandem->ComboBoxTanSubvol->OnDropDown = GuardedSlot(&TFormMain::ComboBoxTanSubvolDropDown);
    tandem->OnSubvolChange = GuardedSlot(&TFormMain::ComboBoxTanSubvolChange);
    tandem->OnSubvolExit = GuardedSlot(&TFormMain::ComboBoxTanSubvolExit);
    tandem->OnSubvolKeyPress = [this](char key) {
        bool consumed = false;
        Guarded([&] { consumed = ComboBoxTanSubvolKeyPress(key); });
        return consumed;
    };
    tandem->OnFilesKeyPress = GuardedSlot(&TFormMain::ListBoxTanFilesKeyPress);
    connect(tandem->ComboBoxTanFilter, &QComboBox::activated, this,
            GuardedSlot(&TFormMain::ComboBoxTanFilterChange));
    connect(tandem->BtnRefreshTandem, &QPushButton::clicked, this,
            GuardedSlot(&TFormMain::BtnRefreshTandemClick));
}

void TFormMain::AttachWindows(const Windows &windows)
{
    Forms_ = windows;
    AttachTransferDialog();
    Session_->SetSettings(Forms_.FormConnect ? &Forms_.FormConnect->Settings : nullptr,
                          Forms_.FormConfig ? &Forms_.FormConfig->Settings : nullptr);
}

bool TFormMain::LoadStartupSettings(const std::string &commandLine)
{
    if (!Forms_.FormConnect || !Forms_.FormConfig)
        throw std::logic_error("LoadStartupSettings needs the connect and configure dialogs");
    Forms_.FormConnect->SetStore(Store.get());
    Forms_.FormConnect->SetKeyring(Keyring.get(), StorePath.toStdString());
    const bool ok = ::LoadStartupSettings(Store.get(), commandLine, *this);
    if (ok)
        Forms_.FormConnect->LoadSavedPassword();
    return ok;
}

void TFormMain::ConnectToHost()
{
    if (Session_->ConnectToHost())
        OfferUnfinishedBatch();
}

std::string TFormMain::BatchMemoryPath() const
{
    return QFile::encodeName(QFileInfo(StorePath).absolutePath() + "/Zarvel-batch").toStdString();
}

void TFormMain::OfferUnfinishedBatch()
{
    const std::optional<TRememberedBatch> batch = LoadRememberedBatch(BatchMemoryPath());
    const TFtpClient &client = Session_->FTPCLI;
    if (!batch || !batch->SameSite(client.HostName(), client.Port(), client.UserName()) || BatchRunning())
        return;
    if (!Messages.Confirm(this, "Zarvel", TextForDisplay(RememberedBatchQuestion(*batch)))) {
        ForgetRememberedBatch(BatchMemoryPath());
        return;
    }
    if (!GroupBoxPC->EnterFolder(batch->PcFolder) || !Session_->ChangeSubvol(batch->Subvol, false)) {
        Log(0, "The last batch cannot be finished: its PC folder " + batch->PcFolder + " or subvolume " +
                   batch->Subvol + " cannot be opened");
        return;
    }
    if (batch->Download)
        Transfers_->RunBatch([&](TTransferBatch &run) { run.Download(batch->Items); });
    else
        Transfers_->RunBatch([&](TTransferBatch &run) { run.Upload(batch->Items); });
}

void TFormMain::Log(int level, const std::string &text)
{
    Session_->Log(level, text);
}

void TFormMain::SetFilterPC(const std::string &filter)
{
    FilterPC = filter;
    GroupBoxPC->SetFilterPC(filter);
}

void TFormMain::SelectAll(QListWidget *list)
{
    for (int row = 0; row < list->count(); ++row)
        list->item(row)->setSelected(true);
    if (list->count() > 0)
        list->scrollToItem(list->item(0), QAbstractItemView::PositionAtTop);
}

void TFormMain::ConnectClick()
{
    if (!Forms_.FormConnect)
        return;
    if (IsConnected()) {
        const QString host = TextForDisplay(Forms_.FormConnect->Settings.HostName);
        if (!Messages.Prompt(this, "Connect", "End the session with " + host + " first?", nullptr))
            return;
        DisconnectClick();
        if (IsConnected())
            return; // the session did not end; its reason is in the log
    }
    if (Forms_.FormConnect->exec() == QDialog::Accepted)
        ConnectToHost();
}

void TFormMain::DisconnectClick()
{
    Session_->DisconnectClick();
}

void TFormMain::ExitClick()
{
    close();
}

void TFormMain::AboutClick()
{
    if (Forms_.AboutBox)
        Forms_.AboutBox->exec();
}

void TFormMain::LogWindowClick()
{
    if (!Forms_.FormStatus)
        return;
    Forms_.FormStatus->show();
    Forms_.FormStatus->raise();
    Forms_.FormStatus->activateWindow();
}

void TFormMain::SendCommandClick()
{
    std::string line;
    if (!PromptUser("Send Command", "Command for the host (for example SITE HELP or QUOTE OSS):", &line))
        return;
    LogWindowClick();
    Session_->SendHostCommand(line);
}

void TFormMain::FormPaint()
{
    if (!AutoConnectPending)
        return;
    AutoConnectPending = false;
    // Connecting runs the event loop while it waits; started from inside a paint it would
    // repaint recursively, so it starts right after this paint instead, and not before the
    // keyring has answered (it may be waiting for the user to unlock it).
    Forms_.FormConnect->WhenPasswordKnown([this] {
        QMetaObject::invokeMethod(this, [this] { Guarded([this] { ConnectToHost(); }); }, Qt::QueuedConnection);
    });
}

void TFormMain::ComboBoxTanSubvolDropDown()
{
    Session_->ComboBoxTanSubvolDropDown();
}

void TFormMain::ComboBoxTanSubvolChange()
{
    Session_->ComboBoxTanSubvolChange();
}

void TFormMain::ComboBoxTanSubvolExit()
{
    Session_->ComboBoxTanSubvolExit();
}

bool TFormMain::ComboBoxTanSubvolKeyPress(char key)
{
    return Session_->ComboBoxTanSubvolKeyPress(key);
}

void TFormMain::ComboBoxTanFilterChange()
{
    Session_->ComboBoxTanFilterChange();
}

void TFormMain::BtnRefreshTandemClick()
{
    Session_->BtnRefreshTandemClick();
}

void TFormMain::ListBoxTanFilesKeyPress(char key)
{
    if (key == '\x01')
        SelectAll(GroupBoxTandem->ListBoxTanFiles);
}

void TFormMain::paintEvent(QPaintEvent *event)
{
    QMainWindow::paintEvent(event);
    FormPaint();
}

void TFormMain::closeEvent(QCloseEvent *event)
{
    // A batch on the stack still uses this window: stop its transfer, close when it ends.
    if (BatchRunning()) {
        Transfers_->CloseAfterBatch = true;
        Transfers_->AbortTransfer();
        event->ignore();
        return;
    }
    if (!ConfirmCloseWithEdits()) {
        event->ignore();
        return;
    }
    event->accept();
    SavePlacement();
    // The log window or a progress dialog may still be open; the program ends anyway.
    QCoreApplication::quit();
}

bool TFormMain::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonDblClick) {
        Guarded([this] { LogWindowClick(); });
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

ConnectionSettings &TFormMain::HeldConnectionSettings()
{
    return Forms_.FormConnect->Settings;
}

GeneralSettings &TFormMain::HeldGeneralSettings()
{
    return Forms_.FormConfig->Settings;
}

void TFormMain::SetProxyControls(bool on)
{
    Forms_.FormConnect->SetProxyControls(on);
}

void TFormMain::ShowCommandLineError(const std::string &message)
{
    Messages.CommandLineError(nullptr, TextForDisplay(message));
}

void TFormMain::SetAutoConnectPending(bool on)
{
    AutoConnectPending = on;
}

void TFormMain::CloseMainWindow()
{
    close();
}

void TFormMain::SetSessionControlsEnabled(bool on)
{
    TTransferGroup *mode = GroupBoxMode;
    TTandemGroup *tandem = GroupBoxTandem;
    for (QWidget *control : {static_cast<QWidget *>(mode), static_cast<QWidget *>(mode->BtnUpload),
                             static_cast<QWidget *>(mode->BtnDownload),
                             static_cast<QWidget *>(tandem->ComboBoxTanSubvol),
                             static_cast<QWidget *>(tandem->ListBoxTanFiles),
                             static_cast<QWidget *>(tandem->BtnDeleteTandem),
                             static_cast<QWidget *>(tandem->BtnRefreshTandem),
                             static_cast<QWidget *>(tandem->BtnRenameTandem),
                             static_cast<QWidget *>(tandem->BtnEditTandem),
                             static_cast<QWidget *>(mode->ULAppendExtension),
                             static_cast<QWidget *>(mode->DLAddFileCode),
                             static_cast<QWidget *>(mode->DLExtensionSize),
                             static_cast<QWidget *>(tandem->ComboBoxTanFilter)})
        control->setEnabled(on);
    SendCommandItem->setEnabled(on);
    // A batch's other connections go with the session they were opened beside; during a batch
    // they go on while the batch opens that session again.
    if (!on && Transfers_ && !BatchRunning())
        Transfers_->Extras.CloseAll();
    tandem->EditItem->setEnabled(on);
    CompareItem->setEnabled(on);
    SynchronizeItem->setEnabled(on);
}

void TFormMain::SetConnectCommandEnabled(bool on)
{
    ConnectItem->setEnabled(on);
}

void TFormMain::SetDisconnectCommandEnabled(bool on)
{
    DisconnectItem->setEnabled(on);
}

void TFormMain::SetCaptions(const std::string &text)
{
    // Only the window's own title: an application display name would make Qt append
    // " — <name>" to the title of every window on X11 and Wayland.
    const QString caption = TextForDisplay(text);
    setWindowTitle(caption);
}

void TFormMain::AddLogLine(const std::string &text)
{
    if (Forms_.FormStatus)
        Forms_.FormStatus->AddLine(TextForShowing(text));
}

void TFormMain::SetStatusMessage(const std::string &text)
{
    StatusMessage->setText(TextForShowing(text));
}

void TFormMain::SetFileCount(const std::string &text)
{
    StatusCount->setText(TextForShowing(text));
}

void TFormMain::SetEncryptionLock(const std::string &text)
{
    const QString shown = TextForShowing(text);
    StatusLock->setToolTip(PlainToolTip(shown));
    StatusLock->setAccessibleName(text.empty() ? QString("Not encrypted") : shown);
    StatusLock->setVisible(!text.empty());
}

TTrustAnswer TFormMain::AskTrust(const TCertificateQuestion &question)
{
    return Messages.AskCertificateTrust(this, question);
}

TPlainAnswer TFormMain::AskPlainLogin(const std::string &host)
{
    // A window nobody sees cannot be answered: the password then stays unsent.
    if (!isVisible())
        return plainNoAnswer;
    return Messages.AskPlainLogin(this, TextForDisplay(host));
}

void TFormMain::Simple(const std::string &text)
{
    Messages.Simple(this, TextForDisplay(text));
}

void TFormMain::ErrorDialog(const std::string &text)
{
    Messages.ErrorDialog(this, TextForDisplay(text));
}
