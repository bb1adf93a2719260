// The names a batch's files take: the question about a taken name (or the rule that answers
// it), the free name of a Rename, the host's names an upload checks against, and whether the
// batch must keep to one connection.
#include "session/TransferBatch.h"

#include "ftp/FtpClient.h"
#include "session/DownloadTarget.h"
#include "session/GuardianNames.h"
#include "session/HostFiles.h"
#include "session/ListingLine.h"

#include <set>
#include <sys/stat.h>

namespace {

// The size of a PC file, or -1 when there is none (a dangling link is a name in use too).
qint64 PcFileSize(const std::string &name)
{
    struct stat status {};
    return ::lstat(name.c_str(), &status) == 0 ? qint64(status.st_size) : -1;
}

} // namespace

FileExistsAnswer TTransferBatch::WhenExists(const std::string &text, bool canResume, const std::string &freeName)
{
    if (const auto decided = existsChoice_.Decided(canResume, !freeName.empty()))
        return *decided;
    const FileExistsReply reply = window_.AskFileExists({text, canResume, freeName});
    existsChoice_.Remember(reply);
    return reply.Answer;
}

std::string TTransferBatch::DownloadName(const std::string &pcName, const std::string &hostName, qint64 size,
                                         bool &fresh, LogSink &log)
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
        Skip(hostName + " skipped: the PC file " + pcName + " exists", log);
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

std::string TTransferBatch::UploadName(const std::string &hostName, const std::string &pcName, qint64 size,
                                       LogSink &log)
{
    if (existsChoice_.Decided(false, true) == FileExistsAnswer::Overwrite)
        return hostName;
    if (!hostNamesError_.empty()) {
        Fail(pcName + " not uploaded: the host's files could not be listed to see whether " + hostName +
                 " exists: " + hostNamesError_, log);
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
        Skip(pcName + " skipped: " + HostListedName(hostName) + " exists on " + place, log);
        return {};
    case FileExistsAnswer::Rename:
        return freeName;
    case FileExistsAnswer::Overwrite:
    case FileExistsAnswer::Resume:
        break;
    }
    return hostName;
}

void TTransferBatch::Skip(const std::string &text, LogSink &log)
{
    ++result_.Skipped;
    log.Log(1, text);
}

bool TTransferBatch::OneConnectionOnly() const
{
    // Taken names are asked about one at a time, in list order, by the browsing connection.
    const bool mayAsk = !existsChoice_.Decided(false, false);
    const TransferOptions options = window_.CurrentTransferOptions();
    std::set<std::string> names;
    for (const std::string &item : *items_) {
        std::string name;
        if (download_) {
            const std::int32_t code = ListingLineFileCode(item);
            name = PcNameForDownload(ListingLineName(item), code, DownloadModeFor(code, options), options);
            if (mayAsk && PcFileSize(name) >= 0)
                return true;
        } else {
            name = HostListedName(HostNameForUpload(std::string(PcFileNameOfPath(item)), options));
            if (mayAsk && hostNames_.count(name))
                return true;
        }
        // Two files of one name: the later replaces the earlier, in list order.
        if (!names.insert(name).second)
            return true;
    }
    return false;
}

