// The edits and the watching of their PC copies: a save is a change of the file's content
// that then stays unchanged for a moment.
#include "session/RemoteEdits.h"
#include "session/ListingLine.h"
#include "net/TlsStage.h"

#include <QDir>
#include <QFileInfo>

TEditConnection EditConnectionOf(const TCustomFtpCli &client)
{
    TEditConnection connection;
    connection.HostName = client.HostName();
    connection.Port = client.Port();
    connection.UserID = client.UserName();
    connection.Password = client.PassWord();
    connection.ProxyName = client.ConnectionType() == ftpProxy ? client.ProxyServer() : std::string();
    connection.Passive = client.Passive();
    connection.Encryption = client.Encryption();
    if (client.Encrypted())
        connection.TrustedFingerprint = client.TlsPeer().Fingerprint;
    return connection;
}

TRemoteEdits::TRemoteEdits(LogSink &log, QString folderBase, QObject *parent)
    : QObject(parent), log_(log), folderBase_(std::move(folderBase))
{
    opener_ = [this](const QString &path, std::string &error) { return OpenInEditor(editor_, path, error); };
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, &TRemoteEdits::PathChanged);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &TRemoteEdits::PathChanged);

    client_.SetOptions(OptBit(ftpAcceptLF));
    client_.SetShareMode(ftpShareExclusive);
    client_.OnRequestDone = [this](TCustomFtpCli *, TFtpRequest, int error) { RequestDone(error); };
    client_.OnError = [this](TCustomFtpCli *, std::string &text) { refusal_ = text; };
    client_.OnDisplay = [this](TCustomFtpCli *, std::string &text) { log_.Log(2, "Edit: " + text); };
    client_.OnDisplayFile = [this](TCustomFtpCli *, std::string &line) { listing_.push_back(line); };
    client_.OnProgress = [this](TCustomFtpCli *, qint64, bool &) { watchdog_.start(); };
    client_.OnSessionClosed = [this](TCustomFtpCli *, int) { connectedTo_.reset(); };
    // Only the certificate the user already accepted for the browsing session will do.
    client_.OnVerifyCertificate = [this](TCustomFtpCli *, const TTlsPeerInfo &peer, bool &accept) {
        accept = job_ && !peer.Fingerprint.empty() && Entry(job_->Id) &&
                 peer.Fingerprint == Entry(job_->Id)->Connection.TrustedFingerprint;
    };
    client_.OnTlsNote = [this](TCustomFtpCli *, int level, const std::string &text) { log_.Log(level, "Edit: " + text); };

    // The engine has no time limit of its own for asynchronous requests.
    watchdog_.setSingleShot(true);
    watchdog_.setInterval(60000);
    connect(&watchdog_, &QTimer::timeout, this, [this] {
        log_.Log(0, "Edit: the host did not answer for 60 seconds");
        client_.AbortAsync();
    });
}

TRemoteEdits::~TRemoteEdits()
{
    client_.DropHandlers();
    for (const auto &[id, entry] : entries_)
        if (!Unfinished(entry))
            QDir(entry.Folder).removeRecursively();
}

int TRemoteEdits::Edit(const TEditConnection &connection, const std::string &subvol, const std::string &listingLine,
                       const TransferOptions &naming)
{
    const std::string hostName = ListingLineName(listingLine);
    for (const auto &[id, entry] : entries_) {
        if (entry.Connection.HostName == connection.HostName && entry.Subvol == subvol && entry.HostName == hostName) {
            OpenAgain(id);
            return id;
        }
    }
    TEditEntry entry;
    entry.Connection = connection;
    entry.Subvol = subvol;
    entry.HostName = hostName;
    entry.FileCode = ListingLineFileCode(listingLine);
    // The mode the file code calls for, whatever the transfer group's choice.
    entry.Mode = DownloadModeFor(entry.FileCode, TransferOptions{});
    entry.ConvertLineEnds = lineEnds_ == LineEnds::LF;
    const std::string pcName = PcNameForDownload(hostName, entry.FileCode, entry.Mode, naming);
    if (hostName.empty() || IsUnsafeHostName(hostName) || IsUnsafePcName(pcName)) {
        log_.Log(0, hostName + " not edited: \"" + pcName + "\" is not a plain PC file name");
        return 0;
    }
    std::string error;
    entry.Folder = MakeEditFolder(folderBase_, error);
    if (entry.Folder.isEmpty()) {
        log_.Log(0, hostName + " not edited: " + error);
        return 0;
    }
    entry.PcPath = entry.Folder + "/" + QFile::decodeName(QByteArray::fromStdString(pcName));
    entry.Id = nextId_++;
    const int id = entry.Id;
    entries_.emplace(id, std::move(entry));
    Q_EMIT EntryChanged(id);
    Enqueue({Job::Open, id});
    return id;
}

void TRemoteEdits::AnswerHostChange(int id, HostChangeAnswer answer, const std::string &newName)
{
    TEditEntry *entry = Entry(id);
    if (!entry || !entry->AwaitingAnswer)
        return;
    entry->AwaitingAnswer = false;
    if (answer == HostChangeAnswer::Cancel) {
        log_.Log(1, entry->HostName + " not uploaded: it changed on the host");
        return;
    }
    if (answer == HostChangeAnswer::SaveAsNewName) {
        if (newName.empty() || IsUnsafeHostName(newName) || newName.find(' ') != std::string::npos) {
            SetState(*entry, EditState::ChangedOnHost, "\"" + newName + "\" is no host file name");
            return;
        }
        entry->SaveAsName = newName;
    } else {
        entry->Force = true;
    }
    entry->UploadWanted = false;
    Enqueue({Job::Upload, id});
}

void TRemoteEdits::OpenAgain(int id)
{
    if (const TEditEntry *entry = Find(id); entry && !entry->Synced.isEmpty())
        OpenEditor(*entry);
}

void TRemoteEdits::UploadAgain(int id)
{
    if (TEditEntry *entry = Entry(id); entry && entry->State == EditState::Failed && !entry->Synced.isEmpty())
        WantUpload(*entry);
}

void TRemoteEdits::EndEditing(int id)
{
    const TEditEntry *entry = Find(id);
    if (!entry)
        return;
    if (job_ && job_->Id == id) {
        log_.Log(1, entry->HostName + " is being transferred; end its editing when that is over");
        return;
    }
    const bool keep = Unfinished(*entry);
    if (keep)
        log_.Log(1, "The copy of " + entry->HostName + " stays in " + entry->Folder.toStdString());
    Discard(id, keep);
}

const TEditEntry *TRemoteEdits::Find(int id) const
{
    const auto it = entries_.find(id);
    return it == entries_.end() ? nullptr : &it->second;
}

TEditEntry *TRemoteEdits::Entry(int id)
{
    const auto it = entries_.find(id);
    return it == entries_.end() ? nullptr : &it->second;
}

bool TRemoteEdits::Unfinished(const TEditEntry &entry) const
{
    if (entry.Synced.isEmpty())
        return false; // never opened: nothing of the user's is in the copy
    const auto timer = settle_.find(entry.Id);
    return entry.UploadWanted || entry.AwaitingAnswer || entry.State == EditState::Uploading ||
           entry.State == EditState::Failed || entry.State == EditState::ChangedOnHost ||
           (timer != settle_.end() && timer->second->isActive()) || FileDigest(entry.PcPath) != entry.Synced;
}

int TRemoteEdits::UnfinishedCount() const
{
    int count = 0;
    for (const auto &[id, entry] : entries_)
        count += Unfinished(entry) ? 1 : 0;
    return count;
}

QString TRemoteEdits::StateText(const TEditEntry &entry)
{
    switch (entry.State) {
    case EditState::Opening: return "opening";
    case EditState::Opened: return "opened";
    case EditState::Uploading: return "uploading";
    case EditState::Uploaded: return "uploaded at " + entry.UploadedAt.toString("HH:mm");
    case EditState::Failed: return "failed: " + QString::fromStdString(entry.Reason);
    case EditState::ChangedOnHost:
        return entry.Reason.empty() ? "changed on host" : "changed on host: " + QString::fromStdString(entry.Reason);
    }
    return {};
}

void TRemoteEdits::SetState(TEditEntry &entry, EditState state, const std::string &reason)
{
    entry.State = state;
    entry.Reason = reason;
    Q_EMIT EntryChanged(entry.Id);
}

void TRemoteEdits::Watch(const TEditEntry &entry)
{
    watcher_.addPath(entry.Folder);
    watcher_.addPath(entry.PcPath);
    auto &timer = settle_[entry.Id];
    timer = std::make_unique<QTimer>();
    timer->setSingleShot(true);
    connect(timer.get(), &QTimer::timeout, this, [this, id = entry.Id] { Settled(id); });
}

void TRemoteEdits::PathChanged(const QString &path)
{
    for (auto &[id, entry] : entries_) {
        if (path != entry.PcPath && path != entry.Folder)
            continue;
        // An editor that saves by writing a new file and renaming it over the old one leaves
        // the watcher on a file that is gone: watch the new one.
        if (!watcher_.files().contains(entry.PcPath) && QFileInfo::exists(entry.PcPath))
            watcher_.addPath(entry.PcPath);
        if (const auto timer = settle_.find(id); timer != settle_.end())
            timer->second->start(settleMs_);
        return;
    }
}

void TRemoteEdits::Settled(int id)
{
    TEditEntry *entry = Entry(id);
    if (!entry || !QFileInfo::exists(entry->PcPath))
        return; // the editor's rename is not done yet; the folder's change brings us back
    if (FileDigest(entry->PcPath) != entry->Synced)
        WantUpload(*entry);
}

void TRemoteEdits::WantUpload(TEditEntry &entry)
{
    if (entry.AwaitingAnswer)
        return; // the open question's answer takes the latest text
    const bool queued = std::any_of(jobs_.begin(), jobs_.end(), [&](const Job &job) { return job.Id == entry.Id; });
    if (job_ && job_->Id == entry.Id) {
        entry.UploadWanted = true; // after the running one
        return;
    }
    if (!queued)
        Enqueue({Job::Upload, entry.Id});
}

void TRemoteEdits::OpenEditor(const TEditEntry &entry)
{
    std::string error;
    if (!opener_(entry.PcPath, error))
        log_.Log(0, entry.HostName + ": " + error);
}

void TRemoteEdits::Discard(int id, bool keepCopy)
{
    const auto it = entries_.find(id);
    if (it == entries_.end())
        return;
    watcher_.removePath(it->second.PcPath);
    watcher_.removePath(it->second.Folder);
    settle_.erase(id);
    jobs_.erase(std::remove_if(jobs_.begin(), jobs_.end(), [id](const Job &job) { return job.Id == id; }), jobs_.end());
    if (!keepCopy)
        QDir(it->second.Folder).removeRecursively();
    entries_.erase(it);
    Q_EMIT EntryRemoved(id);
}
