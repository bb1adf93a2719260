// The main window's transfers: the Download and Upload buttons, files dropped on the remote
// list, the PC list's Refresh and Ctrl+A, and the progress events on their way to the
// "File Transfer" dialog. The batches themselves are src/session/TransferBatch.
#include "ui/MainWindowTransfers.h"

#include "ui/ConfigureDialog.h"
#include "ui/ListFocus.h"
#include "ui/LocalPCGroup.h"
#include "ui/TandemGroup.h"
#include "ui/LogWindow.h"
#include "ui/TransferGroup.h"
#include "ui/UserMessages.h"
#include "ui/FileDropTarget.h"
#include "ui/FileDragList.h"

#include <QFile>
#include <QKeyEvent>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>

#include <stdexcept>

namespace {

// Hands the key releases of one widget to a handler, and lets everything else pass.
class TKeyUpFilter : public QObject {
public:
    using Handler = std::function<void(int key, Qt::KeyboardModifiers modifiers)>;
    TKeyUpFilter(QObject *parent, Handler handler) : QObject(parent), handler_(std::move(handler)) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyRelease) {
            const auto *key = static_cast<QKeyEvent *>(event);
            handler_(key->key(), key->modifiers());
        }
        return QObject::eventFilter(watched, event);
    }

private:
    Handler handler_;
};

} // namespace

void TFormMain::WireTransfers()
{
    Transfers_ = std::make_unique<TTransferSide>(*this);
    connect(GroupBoxMode->BtnDownload, &QPushButton::clicked, this, GuardedSlot(&TFormMain::BtnDownloadClick));
    connect(GroupBoxMode->BtnUpload, &QPushButton::clicked, this, GuardedSlot(&TFormMain::BtnUploadClick));
    connect(GroupBoxPC->BtnRefreshPC, &QPushButton::clicked, this, GuardedSlot(&TFormMain::BtnRefreshPCClick));
    GroupBoxPC->FileListBoxPC->installEventFilter(new TKeyUpFilter(this, [this](int key, Qt::KeyboardModifiers m) {
        Guarded([&] { FileListBoxPCKeyUp(key, m); });
    }));

    ListBoxTanFilesTrg = new TDragFilesTrg(this);
    ListBoxTanFilesTrg->setObjectName("ListBoxTanFilesTrg");
    ListBoxTanFilesTrg->SetTarget(GroupBoxTandem->ListBoxTanFiles);
    ListBoxTanFilesTrg->SetEnabled(true);
    ListBoxTanFilesTrg->OnDrop = [this](TDragFilesTrg *sender) { Guarded([&] { ListBoxTanFilesTrgDrop(sender); }); };
    // Remote files dropped on the PC list land in the folder it shows, as Download does.
    new THostLinesDropTarget(GroupBoxPC->FileListBoxPC, [this](const std::vector<std::string> &lines) {
        Guarded([&] { DownloadLines(lines); });
    });

    Session_->FTPCLI.OnProgress = [this](TCustomFtpCli *sender, qint64 count, bool &abort) {
        FTPCLIProgress(sender, count, abort);
    };
}

void TFormMain::AttachTransferDialog()
{
    if (!Forms_.FormTransfer)
        return;
    Forms_.FormTransfer->SetAborter(Transfers_.get());
    Transfers_->Progress = std::make_unique<TProgressReporter>(*Forms_.FormTransfer);
}

void TFormMain::BtnDownloadClick()
{
    const TListFocus focus(GroupBoxTandem->ListBoxTanFiles);
    DownloadLines(GroupBoxTandem->SelectedLines());
}

void TFormMain::DownloadLines(const std::vector<std::string> &lines)
{
    // A drop can come after the session ended; the Download button is off then.
    if (!GroupBoxMode->BtnDownload->isEnabled())
        return;
    Transfers_->RunBatch([&](TTransferBatch &batch) { batch.Download(lines); });
}

void TFormMain::BtnUploadClick()
{
    const std::vector<std::string> names = GroupBoxPC->SelectedNames();
    const TListFocus focus(GroupBoxPC->FileListBoxPC);
    if (!names.empty())
        UploadFiles(names);
}

void TFormMain::ListBoxTanFilesTrgDrop(TDragFilesTrg *sender)
{
    std::vector<std::string> paths;
    for (const QString &path : sender->Files)
        paths.push_back(QFile::encodeName(path).toStdString());
    UploadFiles(paths);
}

void TFormMain::UploadFiles(const std::vector<std::string> &paths)
{
    Transfers_->RunBatch([&](TTransferBatch &batch) { batch.Upload(paths); });
}

void TFormMain::BtnRefreshPCClick()
{
    GroupBoxPC->RefreshFiles();
}

void TFormMain::FileListBoxPCKeyUp(int key, Qt::KeyboardModifiers modifiers)
{
    if (key == Qt::Key_A && (modifiers & Qt::ControlModifier))
        SelectAll(GroupBoxPC->FileListBoxPC);
}

void TFormMain::FTPCLIProgress(TCustomFtpCli *, qint64 count, bool &)
{
    // Listings report progress too; only a batch's transfers reach the dialog.
    if (Transfers_->Running && Transfers_->Progress)
        Transfers_->Progress->Report(count);
}

bool TFormMain::BatchRunning() const
{
    return Transfers_ && Transfers_->Running;
}

// ---- TTransferSide -------------------------------------------------------------------------

TFormMain::TTransferSide::TTransferSide(TFormMain &form)
    : Form(form), Extras(form.Session_->FTPCLI, *this), Memory(form.BatchMemoryPath())
{
}

void TFormMain::TTransferSide::RunBatch(const std::function<void(TTransferBatch &)> &run)
{
    if (!Form.Forms_.FormTransfer || !Progress)
        throw std::logic_error("a transfer needs the progress dialog");
    if (Running)
        return; // the window is off during a batch; nothing may start a second one
    TTransferBatch batch(Form.Session_->FTPCLI, *this, *Form.Forms_.FormTransfer, *Progress, &Extras);
    batch.RememberIn(&Memory);
    Running = true;
    CancelPressed = false;
    Form.Session_->BatchRunning = true;
    try {
        run(batch);
    } catch (...) {
        Running = false;
        Form.Session_->BatchRunning = false;
        SetMainWindowEnabled(true);
        throw;
    }
    Running = false;
    Form.Session_->BatchRunning = false;
    // A batch that could not open its lost session again leaves no connection behind.
    if (!Form.Session_->Connected)
        Extras.CloseAll();
    if (std::exchange(CloseAfterBatch, false))
        QTimer::singleShot(0, &Form, &QWidget::close);
}

bool TFormMain::TTransferSide::IsConnected() const
{
    return Form.Session_->Connected;
}

TransferOptions TFormMain::TTransferSide::CurrentTransferOptions()
{
    return Form.GroupBoxMode->CurrentOptions();
}

const GeneralSettings &TFormMain::TTransferSide::CurrentGeneralSettings()
{
    return Form.HeldGeneralSettings();
}

void TFormMain::TTransferSide::ClearLogWindow()
{
    if (Form.Forms_.FormStatus)
        Form.Forms_.FormStatus->btnClearClick();
}

void TFormMain::TTransferSide::SetMainWindowEnabled(bool on)
{
    // Not the window itself: its child windows, the progress dialog and the log window,
    // would go dark with it, and Cancel with them.
    Form.centralWidget()->setEnabled(on);
    Form.menuBar()->setEnabled(on);
}

void TFormMain::TTransferSide::RefreshPcFiles()
{
    Form.GroupBoxPC->RefreshFiles();
}

bool TFormMain::TTransferSide::ListTandemFiles()
{
    return Form.Session_->ListTandemFiles();
}

void TFormMain::TTransferSide::ShowErrorBox(const std::string &text)
{
    Form.Messages.ShowException(&Form, TextForDisplay(text));
}

void TFormMain::TTransferSide::PlaySound(BatchSound sound)
{
    if (sound == BatchSound::Warning)
        Form.Sounds_.ExclamationSound();
    else
        Form.Sounds_.DefaultSound();
}

void TFormMain::TTransferSide::Log(int level, const std::string &text)
{
    Form.Log(level, text);
}

FileExistsReply TFormMain::TTransferSide::AskFileExists(const FileExistsQuestion &question)
{
    // Over the progress dialog, which is on screen while the main window is off.
    QWidget *owner = Form.Forms_.FormTransfer ? static_cast<QWidget *>(Form.Forms_.FormTransfer) : &Form;
    return Form.Messages.AskFileExists(owner, question);
}

void TFormMain::TTransferSide::ShowFailures(const FailureReport &report)
{
    QStringList lines;
    for (const std::string &line : report.Lines)
        lines << TextForDisplay(line);
    Form.Messages.ShowFailures(&Form, TextForDisplay(report.Title), TextForDisplay(report.Summary), lines);
    Form.SetStatusMessage(report.Status);
}

bool TFormMain::TTransferSide::Cancelled() const
{
    return CancelPressed;
}

bool TFormMain::TTransferSide::ReconnectSession()
{
    return Form.Session_->Reconnect();
}

bool TFormMain::TTransferSide::AbortTransfer()
{
    CancelPressed = Running;
    Extras.Abort();
    if (Form.CancelFolderSync())
        return true;
    return Form.Session_->AbortTransfer();
}
