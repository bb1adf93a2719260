// The edits' requests, one job at a time on their own connection. Each step starts one
// asynchronous request and names the step that takes its end; nothing waits.
//
// Open:   [connect] CWD subvol, LIST name (its stamp), TYPE, RETR into the private folder.
// Upload: [connect] CWD subvol, LIST name (changed since seen? then ask), TYPE,
//         STOR temporary,code, RNFR temporary / RNTO name (refused over an existing file:
//         DELE name, then the rename again), LIST name (the new stamp).
#include "session/RemoteEdits.h"
#include "session/ListingLine.h"

#include <QDateTime>
#include <QFile>
#include <QRandomGenerator>

void TRemoteEdits::Enqueue(Job job)
{
    jobs_.push_back(job);
    RunNextJob();
}

void TRemoteEdits::RunNextJob()
{
    while (!job_ && !jobs_.empty()) {
        const Job job = jobs_.front();
        jobs_.pop_front();
        TEditEntry *entry = Entry(job.Id);
        if (!entry)
            continue;
        if (job.What == Job::Upload) {
            // The upload sends a copy taken now: a save during the transfer cannot mix in.
            snapshot_ = folderBase_ + "/.upload";
            QFile::remove(snapshot_);
            if (!QFile::copy(entry->PcPath, snapshot_)) {
                job_ = job;
                FailJob("cannot read " + entry->PcPath.toStdString());
                continue;
            }
            snapshotDigest_ = FileDigest(snapshot_);
            if (snapshotDigest_ == entry->Synced && !entry->Force && entry->SaveAsName.empty()) {
                QFile::remove(snapshot_);
                continue; // saved without a change: nothing to send
            }
        }
        job_ = job;
        SetState(*entry, job.What == Job::Open ? EditState::Opening : EditState::Uploading);
        ConnectStep();
    }
}

void TRemoteEdits::Run(void (TCustomFtpCli::*request)(), Step next)
{
    next_ = next;
    refusal_.clear();
    watchdog_.start();
    (client_.*request)();
    if (refusal_.empty())
        return;
    next_ = nullptr;
    watchdog_.stop();
    // Never end a job inside the call that started its request.
    QMetaObject::invokeMethod(this, [this, why = refusal_] { FailJob(why); }, Qt::QueuedConnection);
}

void TRemoteEdits::RequestDone(int error)
{
    watchdog_.stop();
    client_.SetDisplayFileFlag(false);
    const Step step = next_;
    next_ = nullptr;
    if (step && job_ && Entry(job_->Id))
        (this->*step)(error == 0);
}

std::string TRemoteEdits::Why() const
{
    if (HostAnswered())
        return client_.LastReply();
    return client_.ErrorMessage().empty() ? "the connection to the host was lost" : client_.ErrorMessage();
}

bool TRemoteEdits::HostAnswered() const
{
    return client_.GetConnected() && client_.ReplyCode() >= 400;
}

void TRemoteEdits::ConnectStep()
{
    const TEditConnection &to = Entry(job_->Id)->Connection;
    if (connectedTo_ && *connectedTo_ == to && client_.GetConnected()) {
        AfterConnect(true);
        return;
    }
    if (client_.GetConnected())
        client_.AbortAsync(); // logged in elsewhere: that connection goes
    connectedTo_.reset();
    client_.SetHostName(to.HostName);
    client_.SetPort(to.Port);
    client_.SetUserName(to.UserID);
    client_.SetPassWord(to.Password);
    client_.SetConnectionType(to.ProxyName.empty() ? ftpDirect : ftpProxy);
    client_.SetProxyServer(to.ProxyName);
    client_.SetPassive(to.Passive);
    client_.SetEncryption(to.Encryption);
    Run(&TCustomFtpCli::ConnectAsync, &TRemoteEdits::AfterConnect);
}

void TRemoteEdits::AfterConnect(bool ok)
{
    if (!ok) {
        FailJob("cannot connect: " + Why());
        return;
    }
    connectedTo_ = Entry(job_->Id)->Connection;
    client_.SetHostDirName(Entry(job_->Id)->Subvol);
    Run(&TCustomFtpCli::CwdAsync, &TRemoteEdits::AfterCwd);
}

void TRemoteEdits::AfterCwd(bool ok)
{
    const TEditEntry &entry = *Entry(job_->Id);
    if (!ok)
        FailJob("cannot enter " + entry.Subvol + ": " + Why());
    else if (job_->What == Job::Open)
        ListStep(entry.HostName, &TRemoteEdits::AfterOpenList);
    else
        ListStep(Target(), &TRemoteEdits::AfterUploadList);
}

void TRemoteEdits::ListStep(const std::string &name, Step next)
{
    listing_.clear();
    client_.SetHostFileName(name);
    client_.SetDisplayFileFlag(true);
    Run(&TCustomFtpCli::DirAsync, next);
}

std::optional<std::string> TRemoteEdits::ListedLine(const std::string &name) const
{
    for (const std::string &line : listing_)
        if (ListingLineName(line) == name)
            return line;
    return std::nullopt;
}

std::string TRemoteEdits::Target() const
{
    const TEditEntry &entry = entries_.at(job_->Id);
    return entry.SaveAsName.empty() ? entry.HostName : entry.SaveAsName;
}

void TRemoteEdits::AfterOpenList(bool ok)
{
    TEditEntry &entry = *Entry(job_->Id);
    const std::optional<std::string> line = ok ? ListedLine(entry.HostName) : std::nullopt;
    if (!line) {
        FailJob(ok || HostAnswered() ? entry.HostName + " is not in " + entry.Subvol : Why());
        return;
    }
    entry.Seen = StampOfListingLine(*line);
    TypeStep();
}

void TRemoteEdits::AfterUploadList(bool ok)
{
    TEditEntry &entry = *Entry(job_->Id);
    if (!ok && !HostAnswered()) {
        FailJob(Why());
        return;
    }
    const std::optional<std::string> line = ok ? ListedLine(Target()) : std::nullopt;
    std::optional<std::string> change;
    if (!entry.SaveAsName.empty()) {
        if (line)
            change = entry.SaveAsName + " exists on the host";
    } else if (!entry.Force && !line) {
        change = "gone from the host";
    } else if (!entry.Force && StampOfListingLine(*line) != entry.Seen) {
        change = "";
    }
    if (change) {
        // Never a silent overwrite: the user decides, and nothing is sent until then.
        entry.SaveAsName.clear();
        entry.AwaitingAnswer = true;
        log_.Log(1, entry.HostName + " changed on the host since it was opened or last uploaded");
        SetState(entry, EditState::ChangedOnHost, *change);
        Q_EMIT HostChanged(entry.Id);
        EndJob();
        return;
    }
    TypeStep();
}

void TRemoteEdits::TypeStep()
{
    const TEditEntry &entry = *Entry(job_->Id);
    client_.SetBinary(entry.Mode == TransferMode::Binary);
    client_.SetConvertLineEnds(entry.ConvertLineEnds);
    Run(&TCustomFtpCli::TypeSetAsync, &TRemoteEdits::AfterType);
}

void TRemoteEdits::AfterType(bool ok)
{
    const TEditEntry &entry = *Entry(job_->Id);
    if (!ok) {
        FailJob("the host refused the transfer type: " + Why());
        return;
    }
    if (job_->What == Job::Open) {
        client_.SetHostFileName(entry.HostName);
        client_.SetLocalFileName(QFile::encodeName(entry.PcPath).toStdString());
        Run(&TCustomFtpCli::GetAsync, &TRemoteEdits::AfterGet);
        return;
    }
    // The temporary file takes the file code now, so the rename needs to give none.
    temporary_ = TemporaryHostName(QRandomGenerator::global()->generate());
    client_.SetHostFileName(NameWithFileCode(temporary_, entry.FileCode));
    client_.SetLocalFileName(QFile::encodeName(snapshot_).toStdString());
    Run(&TCustomFtpCli::PutAsync, &TRemoteEdits::AfterStore);
}

void TRemoteEdits::AfterGet(bool ok)
{
    TEditEntry &entry = *Entry(job_->Id);
    if (!ok) {
        QFile::remove(entry.PcPath);
        FailJob("download failed: " + Why());
        return;
    }
    entry.Synced = FileDigest(entry.PcPath);
    log_.Log(1, entry.HostName + " opened for editing as " + entry.PcPath.toStdString());
    SetState(entry, EditState::Opened);
    Watch(entry);
    OpenEditor(entry);
    EndJob();
}

void TRemoteEdits::AfterStore(bool ok)
{
    if (ok) {
        client_.SetHostFileName(temporary_);
        client_.SetLocalFileName(Target());
        Run(&TCustomFtpCli::RenAsync, &TRemoteEdits::AfterRename);
        return;
    }
    failure_ = "upload failed: " + Why() + "; " + Target() + " on the host is unchanged";
    if (!client_.GetConnected()) {
        FailJob(failure_);
        return;
    }
    client_.SetHostFileName(temporary_);
    Run(&TCustomFtpCli::DeleAsync, &TRemoteEdits::AfterTemporaryDeleted);
}

void TRemoteEdits::AfterTemporaryDeleted(bool)
{
    FailJob(failure_);
}

void TRemoteEdits::AfterRename(bool ok)
{
    if (ok) {
        ListStep(Target(), &TRemoteEdits::AfterFinalList);
        return;
    }
    if (!HostAnswered() || client_.CurrentStep() != ftpFctRenTo) {
        FailJob("rename failed: " + Why() + "; your text is on the host as " + temporary_);
        return;
    }
    log_.Log(1, "The host does not rename " + temporary_ + " over " + Target() + " (" + client_.LastReply() +
                    "): deleting " + Target() + ", then renaming");
    client_.SetHostFileName(Target());
    Run(&TCustomFtpCli::DeleAsync, &TRemoteEdits::AfterDeleteOriginal);
}

void TRemoteEdits::AfterDeleteOriginal(bool ok)
{
    if (!ok) {
        FailJob("the host neither renames over nor deletes " + Target() + " (" + Why() + "); your text is on the host as " +
                temporary_);
        return;
    }
    client_.SetHostFileName(temporary_);
    client_.SetLocalFileName(Target());
    Run(&TCustomFtpCli::RenAsync, &TRemoteEdits::AfterSecondRename);
}

void TRemoteEdits::AfterSecondRename(bool ok)
{
    if (!ok) {
        FailJob(Target() + " was deleted, but " + temporary_ + " could not be renamed to it (" + Why() +
                "); your text is on the host as " + temporary_);
        return;
    }
    ListStep(Target(), &TRemoteEdits::AfterFinalList);
}

void TRemoteEdits::AfterFinalList(bool ok)
{
    TEditEntry &entry = *Entry(job_->Id);
    entry.HostName = Target();
    if (const std::optional<std::string> line = ok ? ListedLine(entry.HostName) : std::nullopt)
        entry.Seen = StampOfListingLine(*line);
    entry.Synced = snapshotDigest_;
    entry.SaveAsName.clear();
    entry.Force = false;
    entry.UploadedAt = QTime::currentTime();
    log_.Log(1, entry.HostName + " uploaded to " + entry.Subvol);
    SetState(entry, EditState::Uploaded);
    EndJob();
}

void TRemoteEdits::FailJob(const std::string &reason)
{
    if (!job_)
        return;
    if (TEditEntry *entry = Entry(job_->Id)) {
        log_.Log(0, entry->HostName + ": " + reason);
        entry->Force = false;
        entry->SaveAsName.clear();
        SetState(*entry, EditState::Failed, reason);
    }
    EndJob();
}

void TRemoteEdits::EndJob()
{
    const int id = job_->Id;
    job_.reset();
    next_ = nullptr;
    if (!snapshot_.isEmpty())
        QFile::remove(snapshot_);
    snapshot_.clear();
    if (TEditEntry *entry = Entry(id); entry && entry->UploadWanted) {
        entry->UploadWanted = false;
        jobs_.push_back({Job::Upload, id}); // a save made during this job
    }
    QMetaObject::invokeMethod(this, &TRemoteEdits::RunNextJob, Qt::QueuedConnection);
}
