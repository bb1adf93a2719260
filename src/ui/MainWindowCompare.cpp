// Compare and Synchronize in the main window: the menu and keys, the marks in both lists, the
// preview dialog and the progress dialog. The work is src/session/FolderSync's, over a
// connection of its own; the window only hands it the settings and shows what it reports.
#include "ui/MainWindow.h"

#include "session/FolderSync.h"
#include "session/ListingLine.h"
#include "ui/ConnectDialog.h"
#include "ui/ConfigureDialog.h"
#include "ui/LocalPCGroup.h"
#include "ui/MainWindowTransfers.h"
#include "ui/SyncPreviewDialog.h"
#include "ui/TandemGroup.h"
#include "ui/TransferGroup.h"
#include "ui/UserMessages.h"

#include <QAction>
#include <QDir>
#include <QListWidget>
#include <QMenuBar>

#include <map>

namespace {

// The colour of each state; the state's words go to the screen reader and the tooltip.
QColor MarkColour(CompareState state)
{
    switch (state) {
    case CompareState::OnlyPc: return QColor(0xcc, 0xe5, 0xff);
    case CompareState::OnlyHost: return QColor(0xff, 0xf0, 0xb3);
    case CompareState::NewerPc: return QColor(0xcc, 0xf2, 0xcc);
    case CompareState::NewerHost: return QColor(0xff, 0xd9, 0xb3);
    case CompareState::Same: return QColor(0xe8, 0xe8, 0xe8);
    case CompareState::SizeDiffers: return QColor(0xff, 0xcc, 0xcc);
    }
    return {};
}

void Mark(QListWidgetItem *item, CompareState state)
{
    const QString words = CompareStateText(state);
    item->setData(Qt::AccessibleTextRole, item->text() + ": " + words);
    item->setData(Qt::AccessibleDescriptionRole, words);
    item->setToolTip(words);
    item->setBackground(MarkColour(state));
    item->setForeground(Qt::black);
}

QString CountsText(const std::vector<ComparedFile> &rows)
{
    std::map<CompareState, int> counts;
    for (const ComparedFile &row : rows)
        ++counts[row.State];
    QStringList parts;
    for (const auto &[state, count] : counts)
        parts << QString("%1 %2").arg(count).arg(CompareStateText(state));
    return "Compared " + QString::number(rows.size()) + " file(s): " + (parts.isEmpty() ? "none" : parts.join(", "));
}

} // namespace

void TFormMain::WireCompare()
{
    CompareItem->setShortcut(Qt::Key_F7);
    SynchronizeItem->setShortcut(Qt::SHIFT | Qt::Key_F7);
    for (QAction *item : {CompareItem, SynchronizeItem})
        item->setEnabled(false);
    connect(CompareItem, &QAction::triggered, this, GuardedSlot(&TFormMain::CompareClick));
    connect(SynchronizeItem, &QAction::triggered, this, GuardedSlot(&TFormMain::SynchronizeClick));
}

FolderSyncSetup TFormMain::CurrentSyncSetup()
{
    FolderSyncSetup setup;
    setup.Connection = HeldConnectionSettings();
    setup.Subvolume = Session_->FTPCLI.ReplyDirectory();
    setup.Options = GroupBoxMode->CurrentOptions();
    const QStringList patterns = GroupBoxPC->FilterPatterns();
    setup.PcFilter = [patterns](std::string_view name) {
        return patterns.isEmpty() || QDir::match(patterns, QString::fromUtf8(name.data(), qsizetype(name.size())));
    };
    const int filter = GroupBoxTandem->SelectedFilterIndex();
    const auto &entries = Session_->TandemFilters.Entries();
    setup.TandemCodes = filter >= 0 && std::size_t(filter) < entries.size() ? entries[std::size_t(filter)].Codes : "";
    setup.General = HeldGeneralSettings();
    setup.HostTimeOffset = setup.General.HostTimeOffset;
    // The certificate the user accepted for the browsing session, and no other.
    const std::string accepted = Session_->FTPCLI.Encrypted() ? Session_->FTPCLI.TlsPeer().Fingerprint : "";
    setup.AcceptCertificate = [accepted](const TTlsPeerInfo &peer) {
        return !accepted.empty() && peer.Fingerprint == accepted;
    };
    return setup;
}

bool TFormMain::StartFolderSync()
{
    if (FolderSync_) {
        Log(1, "A comparison is running already");
        return false;
    }
    FolderSync_ = std::make_unique<TFolderSync>(CurrentSyncSetup(), *Session_);
    connect(FolderSync_.get(), &TFolderSync::CompareFailed, this, [this](const std::string &why) {
        Messages.ErrorDialog(this, TextForDisplay(why));
        FolderSync_->Close();
    });
    connect(FolderSync_.get(), &TFolderSync::Closed, this, [this] {
        FolderSync_.release()->deleteLater();
    });
    FolderSync_->Compare();
    return true;
}

void TFormMain::CompareClick()
{
    if (!StartFolderSync())
        return;
    connect(FolderSync_.get(), &TFolderSync::Compared, this, [this] {
        MarkCompared();
        FolderSync_->Close();
    });
}

void TFormMain::MarkCompared()
{
    std::map<std::string, QListWidgetItem *> hostItems, pcItems;
    QListWidget *tandem = GroupBoxTandem->ListBoxTanFiles;
    for (int row = 0; row < tandem->count(); ++row)
        hostItems[ListingLineName(tandem->item(row)->text().toStdString())] = tandem->item(row);
    QListWidget *pc = GroupBoxPC->FileListBoxPC;
    for (int row = 0; row < pc->count(); ++row)
        pcItems[pc->item(row)->text().toStdString()] = pc->item(row);
    for (const ComparedFile &file : FolderSync_->Rows()) {
        if (const auto found = hostItems.find(file.HostName); file.Host && found != hostItems.end())
            Mark(found->second, file.State);
        if (const auto found = pcItems.find(file.PcName); file.Pc && found != pcItems.end())
            Mark(found->second, file.State);
    }
    Log(1, CountsText(FolderSync_->Rows()).toStdString());
}

void TFormMain::SynchronizeClick()
{
    if (!StartFolderSync())
        return;
    connect(FolderSync_.get(), &TFolderSync::Compared, this, [this] {
        MarkCompared();
        TFolderSync *sync = FolderSync_.get();
        auto *preview = new TSyncPreviewDialog(
            [sync](SyncDirection direction, bool deletes) { return sync->Plan(direction, deletes); }, this);
        preview->setAttribute(Qt::WA_DeleteOnClose);
        // Window-modal, not exec(): the comparison's connection stays live meanwhile.
        connect(preview, &QDialog::rejected, this, [this] { FolderSync_->Close(); });
        connect(preview, &QDialog::accepted, this, [this, preview] { RunSync(preview->Actions()); });
        preview->open();
    });
}

void TFormMain::RunSync(std::vector<SyncAction> actions)
{
    TFolderSync *sync = FolderSync_.get();
    Transfers_->Running = true;
    setEnabled(false);
    qint64 total = 0;
    int count = 0;
    for (const SyncAction &action : actions)
        if (action.Ticked) {
            total += action.Size;
            ++count;
        }
    Forms_.FormTransfer->SetFileInfo({}, total);
    Forms_.FormTransfer->ShowDialog();
    Transfers_->Progress->StartBatch(count, total);
    connect(sync, &TFolderSync::ActionStarted, this, [this, sync](int index) {
        const SyncAction &action = sync->Actions()[std::size_t(index)];
        Transfers_->Progress->NextFile(action.Size);
        Forms_.FormTransfer->SetFileInfo(SyncActionText(action), action.Size);
        Transfers_->Progress->StartFile();
    });
    connect(sync, &TFolderSync::BytesMoved, this, [this](qint64 bytes) { Transfers_->Progress->Report(bytes); });
    connect(sync, &TFolderSync::Finished, this, [this, sync] {
        Transfers_->Progress->Flush();
        Forms_.FormTransfer->HideDialog();
        setEnabled(true);
        Transfers_->Running = false;
        BtnRefreshPCClick();
        Session_->ListTandemFiles();
        const SyncResult &result = sync->Result();
        if (result.Failed > 0 || result.Stopped)
            Transfers_->PlaySound(BatchSound::Warning);
        else if (HeldGeneralSettings().SoundConfirmations)
            Transfers_->PlaySound(BatchSound::Confirmation);
        sync->Close();
        if (std::exchange(Transfers_->CloseAfterBatch, false))
            close();
    });
    sync->Run(std::move(actions));
}

bool TFormMain::CancelFolderSync()
{
    if (!FolderSync_ || !Transfers_->Running)
        return false;
    FolderSync_->Cancel();
    return true;
}
