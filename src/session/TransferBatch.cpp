#include "session/TransferBatch.h"

#include "ftp/FtpClient.h"
#include "session/DownloadTarget.h"
#include "session/GuardianNames.h"
#include "session/FileExtents.h"
#include "session/HostFiles.h"
#include "session/ListingLine.h"
#include "session/MarkerFiles.h"
#include "session/TransferProgress.h"

#include <QDir>

#include <algorithm>
#include <exception>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>

namespace {

// The size given to the dialog before the first file's own line.
constexpr qint64 kPlaceholderTotal = 999999;

// The size of a PC file, or -1 when there is none (a dangling link is a name in use too).
qint64 PcFileSize(const std::string &name)
{
    struct stat status {};
    return ::lstat(name.c_str(), &status) == 0 ? qint64(status.st_size) : -1;
}

} // namespace

TTransferBatch::TTransferBatch(TFtpClient &client, TransferBatchWindow &window, TransferProgressView &dialog,
                               TProgressReporter &progress)
    : client_(client), window_(window), dialog_(dialog), progress_(progress)
{
    // A download counts once its file is saved under its PC name.
    commits_.SetOutcome([this](const std::string &, const std::string &error) {
        if (error.empty())
            ++result_.Ok;
        else
            Fail(error);
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
    RunSteps(listingLines.size(), [&](std::size_t i) { DownloadLine(listingLines[i], i); });
    commits_.CommitAll();
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
    RunSteps(paths.size(), [&](std::size_t i) { UploadPath(paths[i], i); });
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

void TTransferBatch::RunSteps(std::size_t count, const std::function<void(std::size_t)> &step)
{
    try {
        for (std::size_t i = 0; i < count && !result_.Stopped; ++i)
            step(i);
    } catch (const std::exception &e) {
        window_.ShowErrorBox(e.what());
        result_.Stopped = true;
    }
    EndDialog();
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

void TTransferBatch::DownloadLine(const std::string &line, std::size_t index)
{
    commits_.Collect();
    ShowDialogForBatch(index);
    const std::int32_t fileCode = ListingLineFileCode(line);
    const std::string hostName = ListingLineName(line);
    const qint64 size = ListingLineSize(line);
    const TransferOptions options = window_.CurrentTransferOptions();
    const TransferMode mode = DownloadModeFor(fileCode, options);
    const std::string listedName = PcNameForDownload(hostName, fileCode, mode, options);
    // The listing comes from the server: a name that would land outside this folder is refused.
    if (IsUnsafePcName(listedName)) {
        StartFile("Downloading", hostName, size);
        Fail(hostName + " not downloaded: \"" + listedName + "\" is not a plain PC file name");
        return;
    }
    if (IsHiddenName(hostName) || IsHiddenName(listedName)) {
        StartFile("Downloading", hostName, size);
        Fail(hostName + " not downloaded: a host file name never starts with a period, and \"" + listedName +
             "\" would be a hidden PC file");
        return;
    }
    bool fresh = false;
    const std::string pcName = DownloadName(listedName, hostName, size, fresh);
    if (pcName.empty() || !SwitchMode(mode))
        return;
    StartFile("Downloading", hostName, size);
    auto target = std::make_unique<TDownloadTarget>(pcName);
    std::string error;
    if (!target->Open(error) || (fresh && target->Size() > 0 && !target->StartOver(error))) {
        Fail(error);
        return;
    }
    const TPartOrigin origin{client_.HostName(), client_.Port(), client_.ReplyDirectory(), hostName, size,
                             ListingLineModified(line)};
    const bool got = Fetch(*target, origin, mode);
    progress_.Flush();
    if (!got || !window_.IsConnected()) {
        // A binary part is kept for the next try, which resumes where it ends.
        if (mode == TransferMode::Binary && target->Size() > 0)
            target->KeepPartial(origin);
        CountFailure("download", hostName);
        return;
    }
    const qint64 received = target->Size();
    // Short of the listing is a cut the server did not report; longer is a file that grew
    // since the listing was read, and arrived whole.
    if (mode == TransferMode::Binary && size > 0 && received < size) {
        target->KeepPartial(origin);
        Fail(hostName + " not downloaded: " + std::to_string(received) + " bytes arrived, the listing says " +
             std::to_string(size));
        return;
    }
    commits_.Hold(std::move(target));
}

FileExistsAnswer TTransferBatch::WhenExists(const std::string &text, bool canResume, const std::string &freeName)
{
    if (const auto decided = existsChoice_.Decided(canResume, !freeName.empty()))
        return *decided;
    const FileExistsReply reply = window_.AskFileExists({text, canResume, freeName});
    existsChoice_.Remember(reply);
    return reply.Answer;
}

std::string TTransferBatch::DownloadName(const std::string &pcName, const std::string &hostName, qint64 size,
                                         bool &fresh)
{
    // The same name again (two lines, one PC name): committed first, so it exists like any other.
    if (commits_.Holds(pcName))
        commits_.CommitAll();
    const qint64 existing = PcFileSize(pcName);
    if (existing < 0)
        return pcName; // a kept part alone is resumed without a question, as before
    const qint64 part = PcFileSize(TDownloadTarget::PartialNameFor(pcName));
    const bool canResume = part > 0 && (size <= 0 || part <= size);
    const std::string freeName = FreePcName(pcName, [this](const std::string &name) {
        return PcFileSize(name) >= 0 || PcFileSize(TDownloadTarget::PartialNameFor(name)) >= 0 || commits_.Holds(name);
    });
    std::string text = "The PC file " + pcName + " exists (" + std::to_string(existing) + " bytes); the host file " +
                       hostName + " has " + std::to_string(size) + " bytes.";
    if (canResume)
        text += " " + std::to_string(part) + " bytes of an earlier download of it are kept.";
    switch (WhenExists(text, canResume, freeName)) {
    case FileExistsAnswer::Skip:
        Skip(hostName + " skipped: the PC file " + pcName + " exists");
        return {};
    case FileExistsAnswer::Rename:
        return freeName;
    case FileExistsAnswer::Overwrite:
        fresh = true;
        return pcName;
    case FileExistsAnswer::Resume:
        break;
    }
    return pcName;
}

bool TTransferBatch::Fetch(TDownloadTarget &target, const TPartOrigin &origin, TransferMode mode)
{
    const std::string &hostName = origin.Name;
    client_.SetHostFileName(hostName);
    client_.SetLocalFileName(target.PartialName());
    // A restart offset in ASCII is not portable, and a part longer than the file is no part of it.
    qint64 part = target.Size();
    std::string error;
    // Only a part of this very file is continued: one of another host's file of the same name,
    // or of this file before it changed, would make a mixed file.
    const bool foreign = part > 0 && target.PartOrigin() != origin;
    if (foreign && mode == TransferMode::Binary)
        window_.Log(1, "not resuming " + hostName + ": the part in this folder came from another file; starting over");
    if (part > 0 && (foreign || mode != TransferMode::Binary || (origin.Size > 0 && part > origin.Size))) {
        if (!target.StartOver(error))
            throw std::runtime_error(error);
        part = 0;
    }
    bool got = false;
    bool whole = true;
    if (mode == TransferMode::Binary && part > 0) {
        window_.Log(1, "resuming " + hostName + " at " + std::to_string(part) + " bytes");
        client_.SetLocalFileHandle(target.Handle());
        client_.SetRestartOffset(part);
        got = client_.RestGet();
        // Only a refused REST starts over; any other failure ends this file.
        whole = !got && client_.CurrentStep() == ftpFctRest && window_.IsConnected() && client_.GetConnected();
        if (whole) {
            window_.Log(1, "the server refused to resume " + hostName + ": starting over");
            if (!target.StartOver(error))
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

void TTransferBatch::UploadPath(const std::string &path, std::size_t index)
{
    ShowDialogForBatch(index);
    const std::string name(PcFileNameOfPath(path));
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return; // gone since it was listed or dropped: skipped, not counted
    const TransferOptions options = window_.CurrentTransferOptions();
    const std::string listedName = HostNameForUpload(name, options);
    const qint64 size = static_cast<qint64>(status.st_size);

    // A line break in the name would end the store command early and smuggle another one in.
    if (IsUnsafeHostName(listedName)) {
        Fail(name + " not uploaded: the name holds a line break or NUL");
        return;
    }
    // Opening a pipe waits for a writer forever, a device never ends; a folder fails in the client.
    if (!S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode)) {
        Fail(name + " not uploaded: not a regular file");
        return;
    }
    // The host would refuse the name after the data connection is open; nothing is sent for it.
    if (const std::string problem = GuardianNameProblem(listedName); !problem.empty()) {
        Fail(name + " not uploaded: " + problem);
        return;
    }
    const std::string hostName = UploadName(listedName, name, size);
    if (hostName.empty())
        return;
    hostNames_.insert(HostListedName(hostName));
    const TransferMode mode = UploadModeFor(name, options);
    if (!SwitchMode(mode))
        return;
    StartFile("Uploading", name, size);
    client_.SetLocalFileName(path);
    // A big binary file gets room on the host: the default extents hold about 56 MB.
    client_.SetHostFileName(HostNameWithExtents(hostName, size, mode, false));
    const bool put = client_.Put();
    progress_.Flush();
    if (!put || !window_.IsConnected()) {
        CountFailure("upload", name);
        return;
    }
    ++result_.Ok;
}

void TTransferBatch::ListHostNames()
{
    hostNames_.clear();
    hostNamesError_.clear();
    // Without a session every file fails anyway; overwriting needs no names.
    if (existsChoice_.Decided(false, true) == FileExistsAnswer::Overwrite || !window_.IsConnected())
        return;
    window_.SetMainWindowEnabled(false);
    int lines = 0;
    client_.SetHostFileName("");
    client_.SetDisplayFileFlag(true);
    client_.OnDisplayFile = [this, &lines](TCustomFtpCli *, std::string &line) {
        if (!line.empty() && ++lines > 1) // the first line is the heading
            hostNames_.insert(HostListedName(ListingLineName(line)));
    };
    const bool listed = client_.Dir();
    client_.SetDisplayFileFlag(false);
    client_.OnDisplayFile = nullptr;
    if (!listed && !ListingRefusedAsEmpty(client_, lines))
        hostNamesError_ = client_.ErrorMessage();
}

std::string TTransferBatch::UploadName(const std::string &hostName, const std::string &pcName, qint64 size)
{
    if (existsChoice_.Decided(false, true) == FileExistsAnswer::Overwrite)
        return hostName;
    if (!hostNamesError_.empty()) {
        Fail(pcName + " not uploaded: the host's files could not be listed to see whether " + hostName +
             " exists: " + hostNamesError_);
        return {};
    }
    if (!hostNames_.count(HostListedName(hostName)))
        return hostName;
    const std::string freeName =
        FreeHostName(hostName, [this](const std::string &name) { return hostNames_.count(name) > 0; });
    const std::string place = client_.ReplyDirectory().empty() ? "the host" : client_.ReplyDirectory();
    const std::string text = "The host file " + HostListedName(hostName) + " exists on " + place +
                             "; the PC file " + pcName + " has " + std::to_string(size) + " bytes.";
    switch (WhenExists(text, false, freeName)) {
    case FileExistsAnswer::Skip:
        Skip(pcName + " skipped: " + HostListedName(hostName) + " exists on " + place);
        return {};
    case FileExistsAnswer::Rename:
        return freeName;
    case FileExistsAnswer::Overwrite:
    case FileExistsAnswer::Resume:
        break;
    }
    return hostName;
}

void TTransferBatch::Skip(const std::string &text)
{
    ++result_.Skipped;
    window_.Log(1, text);
}

void TTransferBatch::StartFile(const char *verb, const std::string &name, qint64 size)
{
    dialog_.SetFileInfo(std::string(verb) + " " + switcher_.ModeText() + " file " + name + " (" +
                            std::to_string(size) + " bytes)", size);
    progress_.StartFile();
}

void TTransferBatch::Fail(const std::string &why)
{
    ++result_.Failed;
    result_.Failures.push_back(why);
    window_.Log(0, why);
}

void TTransferBatch::CountFailure(const std::string &what, const std::string &name)
{
    if (window_.IsConnected()) {
        // Error 45 is named in words: the raw reply alone does not say the extents are full.
        const std::string extents = ExtentsErrorText(client_.ErrorMessage());
        if (!extents.empty())
            window_.Log(0, client_.HostFileName() + ": " + extents);
        Fail(name + ": " + (extents.empty() ? client_.ErrorMessage() : extents + " - " + client_.ErrorMessage()));
        return;
    }
    Fail(client_.HostFileName() + " " + what + " aborted: Host Disconnected");
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
