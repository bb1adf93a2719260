#include "session/TransferBatch.h"

#include "ftp/FtpClient.h"
#include "session/BatchConnections.h"
#include "session/DownloadTarget.h"
#include "session/GuardianNames.h"
#include "session/FileExtents.h"
#include "session/HostFiles.h"
#include "session/ListingLine.h"
#include "session/MarkerFiles.h"
#include "session/RememberedBatch.h"
#include "session/TransferProgress.h"

#include <QDir>
#include <QEventLoop>

#include <algorithm>
#include <exception>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>

namespace {

// The size given to the dialog before the first file's own line.
constexpr qint64 kPlaceholderTotal = 999999;

} // namespace

TTransferBatch::TTransferBatch(TFtpClient &client, TransferBatchWindow &window, TransferProgressView &dialog,
                               TProgressReporter &progress, TBatchConnections *extras)
    : client_(client), window_(window), dialog_(dialog), progress_(progress), extras_(extras)
{
    // A download counts once its file is saved under its PC name.
    commits_.SetOutcome([this](const std::string &pcName, const std::string &error) {
        if (error.empty()) {
            ++result_.Ok;
            if (const auto held = held_.find(pcName); held != held_.end())
                MarkDone(held->second);
        } else
            Fail(error, window_);
    });
}

BatchResult TTransferBatch::Download(const std::vector<std::string> &listingLines)
{
    if (RefusedWhileBusy(listingLines.size(), "download"))
        return result_;
    Begin();
    sizes_.clear();
    for (const std::string &line : listingLines)
        sizes_.push_back(std::max<qint64>(ListingLineSize(line), 0));
    download_ = true;
    items_ = &listingLines;
    Remember(true, listingLines);
    RunWalk();
    commits_.CommitAll();
    if (memory_)
        memory_->Finish();
    if (result_.Stopped || result_.Ok > 0)
        window_.RefreshPcFiles();
    window_.SetMainWindowEnabled(true);
    Summary("download", result_.Failed > 0, -1);
    return result_;
}

BatchResult TTransferBatch::Upload(const std::vector<std::string> &paths)
{
    if (RefusedWhileBusy(paths.size(), "upload"))
        return result_;
    Begin();
    ListHostNames();
    sizes_.clear();
    for (const std::string &path : paths) {
        struct stat status {};
        sizes_.push_back(::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) ? qint64(status.st_size) : 0);
    }
    download_ = false;
    items_ = &paths;
    Remember(false, paths);
    RunWalk();
    if (memory_)
        memory_->Finish();
    window_.ListTandemFiles();
    window_.SetMainWindowEnabled(true);
    Summary("upload", result_.Failed > 0 || result_.Stopped, 1);
    return result_;
}

void TTransferBatch::Begin()
{
    if (window_.CurrentGeneralSettings().LogLevel == 0)
        window_.ClearLogWindow();
    result_ = BatchResult{};
    switcher_ = TransferModeSwitcher{};
    existsChoice_ = TFileExistsChoice(window_.CurrentGeneralSettings().WhenFileExists);
    client_.SetConvertLineEnds(window_.CurrentGeneralSettings().AsciiLineEnds == LineEnds::LF);
    next_ = 0;
    startedConnected_ = window_.IsConnected();
    gaveUp_ = false;
}

void TTransferBatch::Remember(bool download, const std::vector<std::string> &items)
{
    held_.clear();
    if (memory_ && startedConnected_)
        memory_->Start({client_.HostName(), client_.Port(), client_.UserName(), client_.ReplyDirectory(),
                        QDir::currentPath().toStdString(), download, items});
}

void TTransferBatch::MarkDone(std::size_t index)
{
    if (memory_)
        memory_->Done(index);
}

bool TTransferBatch::RefusedWhileBusy(std::size_t files, const char *verb)
{
    if (!FtpClientBusy(client_))
        return false;
    Begin();
    result_.Failed = int(files);
    window_.Log(0, ClientBusyText);
    Summary(verb, true, 0);
    return true;
}

void TTransferBatch::RunWalk()
{
    const int wanted = std::min<int>(window_.CurrentGeneralSettings().Connections, int(items_->size())) - 1;
    const bool extras = extras_ && wanted > 0 && !OneConnectionOnly();
    try {
        if (extras)
            extras_->Serve(*this, wanted, window_.CurrentGeneralSettings().Retries);
        while (!result_.Stopped) {
            RecoverSession();
            std::optional<TBatchJob> job = Take(true);
            if (!job)
                break;
            RunMainFile(*job);
        }
    } catch (const std::exception &e) {
        window_.ShowErrorBox(e.what());
        result_.Stopped = true;
    }
    if (extras)
        WaitForExtras();
    // The window goes on browsing with the session the batch recovered, not a closed one.
    RecoverSession();
    EndDialog();
}

void TTransferBatch::WaitForExtras()
{
    extras_->Finish();
    if (!extras_->Busy())
        return;
    // The other connections' last files end in the loop, as a synchronous operation's wait
    // lets them; Cancel stays live meanwhile, and the dialog and the window stay as they are.
    QEventLoop loop;
    QObject::connect(extras_, &TBatchConnections::Idle, &loop, &QEventLoop::quit);
    loop.exec();
}

std::optional<TBatchJob> TTransferBatch::TakeJob()
{
    return Take(false);
}

std::optional<TBatchJob> TTransferBatch::Take(bool main)
{
    while (!result_.Stopped && next_ < items_->size()) {
        const std::size_t index = next_++;
        const std::string &item = (*items_)[index];
        if (main) {
            commits_.Collect();
            ShowDialogForBatch(index);
        } else {
            progress_.OtherFileTaken();
        }
        const TransferOptions options = window_.CurrentTransferOptions();
        TBatchJob job;
        job.Index = index;
        job.Download = download_;
        job.Main = main;
        if (download_) {
            job.HostName = ListingLineName(item);
            job.Size = ListingLineSize(item);
            job.Mode = DownloadModeFor(ListingLineFileCode(item), options);
            return job;
        }
        struct stat status {};
        if (::stat(item.c_str(), &status) != 0)
            continue; // gone since it was listed or dropped: skipped, not counted
        job.LocalName = item;
        job.Size = static_cast<qint64>(status.st_size);
        job.Mode = UploadModeFor(std::string(PcFileNameOfPath(item)), options);
        return job;
    }
    return std::nullopt;
}

void TTransferBatch::ShowDialogForBatch(std::size_t index)
{
    if (!dialog_.IsShown()) {
        dialog_.SetFileInfo(std::string(), kPlaceholderTotal);
        dialog_.ShowDialog();
        window_.SetMainWindowEnabled(false);
        qint64 total = 0;
        for (const qint64 size : sizes_)
            total += size;
        progress_.StartBatch(int(sizes_.size()), total);
    }
    progress_.NextFile(index < sizes_.size() ? sizes_[index] : 0);
}

bool TTransferBatch::SwitchMode(TransferMode mode)
{
    const bool ok = switcher_.Prepare(mode, [this](TransferMode m) {
        client_.SetBinary(m == TransferMode::Binary);
        return client_.TypeSet();
    });
    if (!ok) {
        window_.Log(3, client_.ErrorMessage());
        client_.Quit();
        result_.Stopped = true;
    }
    return ok;
}

void TTransferBatch::RunMainFile(TBatchJob &job)
{
    // Names first (a taken one may ask); a type refused then stops the batch, and the file
    // counts neither way.
    if (!NameJob(job, window_) || !SwitchMode(job.Mode))
        return;
    StartFile(job.Download ? "Downloading" : "Uploading",
              job.Download ? job.HostName : std::string(PcFileNameOfPath(job.LocalName)), job.Size);
    if (!OpenJob(job, window_))
        return;
    bool ok = MoveOnMain(job);
    // A lost session is opened again and the file goes on where it stopped, Retries times at most.
    for (int attempt = 1; !ok && SessionLost() && attempt <= window_.CurrentGeneralSettings().Retries; ++attempt) {
        if (!ReopenSession(job.HostName, attempt))
            continue;
        if (!SwitchMode(job.Mode))
            break;
        PrepareRetry(job, window_);
        ok = MoveOnMain(job);
    }
    gaveUp_ = gaveUp_ || SessionLost();
    progress_.Flush();
    EndJob(job, ok, window_.IsConnected(), client_.ErrorMessage(), window_);
}

bool TTransferBatch::StartJob(TBatchJob &job, LogSink &log)
{
    return NameJob(job, log) && OpenJob(job, log);
}

bool TTransferBatch::NameJob(TBatchJob &job, LogSink &log)
{
    const int skipped = result_.Skipped;
    const bool named = job.Download ? NameDownload(job, log) : NameUpload(job, log);
    if (result_.Skipped > skipped)
        MarkDone(job.Index); // left alone by the rule or the user's answer: nothing to finish
    return named;
}

bool TTransferBatch::NameDownload(TBatchJob &job, LogSink &log)
{
    const TransferOptions options = window_.CurrentTransferOptions();
    const std::string &line = (*items_)[job.Index];
    const std::string listedName = PcNameForDownload(job.HostName, ListingLineFileCode(line), job.Mode, options);
    // The listing comes from the server: a name that would land outside this folder is refused.
    if (IsUnsafePcName(listedName)) {
        if (job.Main)
            StartFile("Downloading", job.HostName, job.Size);
        Fail(job.HostName + " not downloaded: \"" + listedName + "\" is not a plain PC file name", log);
        return false;
    }
    if (IsHiddenName(job.HostName) || IsHiddenName(listedName)) {
        if (job.Main)
            StartFile("Downloading", job.HostName, job.Size);
        Fail(job.HostName + " not downloaded: a host file name never starts with a period, and \"" + listedName +
                 "\" would be a hidden PC file", log);
        return false;
    }
    job.Origin = {client_.HostName(), client_.Port(), client_.ReplyDirectory(), job.HostName, job.Size,
                  ListingLineModified(line)};
    job.PcName = DownloadName(listedName, job.HostName, job.Size, job.Fresh, log);
    return !job.PcName.empty();
}

bool TTransferBatch::OpenJob(TBatchJob &job, LogSink &log)
{
    if (!job.Download)
        return true;
    job.Target = std::make_unique<TDownloadTarget>(job.PcName);
    std::string error;
    if (!job.Target->Open(error) || (job.Fresh && job.Target->Size() > 0 && !job.Target->StartOver(error))) {
        Fail(error, log);
        return false;
    }
    job.LocalName = job.Target->PartialName();
    // A restart offset in ASCII is not portable, and a part longer than the file is no part of it.
    job.ResumeAt = job.Target->Size();
    // Only a part of this very file is continued: one of another host's file of the same name,
    // or of this file before it changed, would make a mixed file.
    const bool foreign = job.ResumeAt > 0 && job.Target->PartOrigin() != job.Origin;
    if (foreign && job.Mode == TransferMode::Binary)
        log.Log(1, "not resuming " + job.HostName + ": the part in this folder came from another file; starting over");
    if (job.ResumeAt > 0 &&
        (foreign || job.Mode != TransferMode::Binary || (job.Size > 0 && job.ResumeAt > job.Size))) {
        if (!StartOver(job, error))
            throw std::runtime_error(error);
    }
    job.ResumeAt = std::max<qint64>(job.ResumeAt, 0);
    if (job.ResumeAt > 0)
        log.Log(1, "resuming " + job.HostName + " at " + std::to_string(job.ResumeAt) + " bytes");
    return true;
}

bool TTransferBatch::StartOver(TBatchJob &job, std::string &error)
{
    job.ResumeAt = 0;
    return job.Target->StartOver(error);
}

bool TTransferBatch::NameUpload(TBatchJob &job, LogSink &log)
{
    const std::string name(PcFileNameOfPath(job.LocalName));
    const std::string listedName = HostNameForUpload(name, window_.CurrentTransferOptions());
    // A line break in the name would end the store command early and smuggle another one in.
    if (IsUnsafeHostName(listedName)) {
        Fail(name + " not uploaded: the name holds a line break or NUL", log);
        return false;
    }
    // Opening a pipe waits for a writer forever, a device never ends; a folder fails in the client.
    struct stat status {};
    if (::stat(job.LocalName.c_str(), &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode)) {
        Fail(name + " not uploaded: not a regular file", log);
        return false;
    }
    // The host would refuse the name after the data connection is open; nothing is sent for it.
    if (const std::string problem = GuardianNameProblem(listedName); !problem.empty()) {
        Fail(name + " not uploaded: " + problem, log);
        return false;
    }
    const std::string hostName = UploadName(listedName, name, job.Size, log);
    if (hostName.empty())
        return false;
    hostNames_.insert(HostListedName(hostName));
    // A big binary file gets room on the host: the default extents hold about 56 MB.
    job.HostName = HostNameWithExtents(hostName, job.Size, job.Mode, false);
    return true;
}

bool TTransferBatch::Fetch(TBatchJob &job)
{
    TDownloadTarget &target = *job.Target;
    client_.SetHostFileName(job.HostName);
    client_.SetLocalFileName(target.PartialName());
    bool got = false;
    bool whole = true;
    if (job.ResumeAt > 0) {
        client_.SetLocalFileHandle(target.Handle());
        client_.SetRestartOffset(job.ResumeAt);
        got = client_.RestGet();
        // Only a refused REST starts over; any other failure ends this file.
        whole = !got && client_.CurrentStep() == ftpFctRest && window_.IsConnected() && client_.GetConnected();
        if (whole) {
            window_.Log(1, "the server refused to resume " + job.HostName + ": starting over");
            std::string error;
            if (!StartOver(job, error))
                throw std::runtime_error(error);
        }
    }
    if (whole) {
        client_.SetLocalFileHandle(target.Handle());
        got = client_.Get();
    }
    client_.SetLocalFileHandle(-1);
    return got;
}

void TTransferBatch::EndJob(TBatchJob &job, bool ok, bool connected, const std::string &error, LogSink &log)
{
    if (!job.Main)
        progress_.OtherFileDone(job.Size);
    if (job.Download) {
        EndDownload(job, ok, connected, error, log);
        return;
    }
    if (!ok || !connected) {
        CountFailure(job, connected, error, log);
        return;
    }
    ++result_.Ok;
    MarkDone(job.Index);
}

void TTransferBatch::EndDownload(TBatchJob &job, bool ok, bool connected, const std::string &error, LogSink &log)
{
    if (!job.Target) { // its connection failed before the file was opened
        CountFailure(job, connected, error, log);
        return;
    }
    TDownloadTarget &target = *job.Target;
    if (!ok || !connected) {
        // A binary part is kept for the next try, which resumes where it ends.
        if (job.Mode == TransferMode::Binary && target.Size() > 0)
            target.KeepPartial(job.Origin);
        CountFailure(job, connected, error, log);
        return;
    }
    const qint64 received = target.Size();
    // Short of the listing is a cut the server did not report; longer is a file that grew
    // since the listing was read, and arrived whole.
    if (job.Mode == TransferMode::Binary && job.Size > 0 && received < job.Size) {
        target.KeepPartial(job.Origin);
        Fail(job.HostName + " not downloaded: " + std::to_string(received) + " bytes arrived, the listing says " +
                 std::to_string(job.Size), log);
        return;
    }
    held_[job.PcName] = job.Index;
    commits_.Hold(std::move(job.Target));
}

void TTransferBatch::StartFile(const char *verb, const std::string &name, qint64 size)
{
    dialog_.SetFileInfo(std::string(verb) + " " + switcher_.ModeText() + " file " + name + " (" +
                            std::to_string(size) + " bytes)", size);
    progress_.StartFile();
}

void TTransferBatch::Fail(const std::string &why, LogSink &log)
{
    ++result_.Failed;
    result_.Failures.push_back(why);
    log.Log(0, why);
}

void TTransferBatch::CountFailure(const TBatchJob &job, bool connected, const std::string &error, LogSink &log)
{
    if (connected) {
        const std::string name = job.Download ? job.HostName : std::string(PcFileNameOfPath(job.LocalName));
        // Error 45 is named in words: the raw reply alone does not say the extents are full.
        const std::string extents = ExtentsErrorText(error);
        if (!extents.empty())
            log.Log(0, job.HostName + ": " + extents);
        Fail(name + ": " + (extents.empty() ? error : extents + " - " + error), log);
        return;
    }
    Fail(job.HostName + (job.Download ? " download" : " upload") + " aborted: Host Disconnected", log);
    // Only the browsing session's loss ends the batch; an extra connection just retires.
    if (job.Main)
        result_.Stopped = true;
}

void TTransferBatch::EndDialog()
{
    if (dialog_.IsShown())
        dialog_.HideDialog();
}

void TTransferBatch::Summary(const char *verb, bool failed, int direction)
{
    const std::string ok = std::to_string(result_.Ok);
    const std::string skipped = result_.Skipped > 0 ? ", " + std::to_string(result_.Skipped) + " skipped" : "";
    if (failed) {
        window_.PlaySound(BatchSound::Warning);
        const std::string summary = ok + " file(s) " + verb + "ed successfully" + skipped + ". Failed to " + verb +
                                    " " + std::to_string(result_.Failed) + " file(s)";
        window_.Log(1, summary);
        if (!result_.Failures.empty())
            window_.ShowFailures({std::string("Failed ") + verb + "s", summary, result_.Failures,
                                  summary + " - the failed files are listed in File > Log Window"});
        return;
    }
    // Skipped files are neither failed nor moved: the batch still counts as complete.
    window_.Log(1, ok + " file(s) " + verb + "ed" + (skipped.empty() ? "" : " successfully" + skipped));
    TouchHwm(direction, window_.CurrentGeneralSettings(), window_);
    if (window_.CurrentGeneralSettings().SoundConfirmations)
        window_.PlaySound(BatchSound::Confirmation);
}
