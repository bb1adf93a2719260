#include "session/DownloadTarget.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string_view>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// The process's umask without changing it (umask(2) can only read by setting, and a thread
// creating a file in between would get the wrong mode).
mode_t ReadUmask()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
    }
    return 022;
}

// Read once: this program never sets its umask, and reading /proc for every file of a batch
// cost three system calls and the kernel's formatting of the whole status page.
mode_t CurrentUmask()
{
    static const mode_t mask = ReadUmask();
    return mask;
}

std::string Reason(int error) { return std::strerror(error); }

constexpr std::string_view kPartSuffix = ".zarvel-part";
// An origin is a few names long; anything bigger at its name is no origin of ours.
constexpr qint64 kOriginMax = 64 * 1024;

// Closes a file after its last check (checked: that call's result, errno still its error):
// the check's failure is the one reported, else close's.
int CloseAfter(int handle, int checked)
{
    const int checkError = errno;
    const int closed = ::close(handle);
    if (checked != 0) {
        errno = checkError;
        return -1;
    }
    return closed;
}

} // namespace

unsigned TDownloadTarget::ReplacementMode(const struct stat *old, unsigned user, unsigned umask)
{
    // Another user's file (or a link to one) in a shared folder must not hand its setuid or
    // world-write bits to a file of ours.
    if (!old || !S_ISREG(old->st_mode) || old->st_uid != user)
        return 0666 & ~umask;
    return old->st_mode & 0777 & ~(umask & 022);
}

int TDownloadTarget::SyncAndClose(int handle, bool fileSystemSynced)
{
    // A write error that shows only now (NFS, quota) must fail the download, not commit it.
    // After a file-system sync it is recorded for the file, and a wait on the file itself
    // reports it (fsync would too, but would flush the disk once more).
    if (fileSystemSynced)
        return CloseAfter(handle, ::sync_file_range(handle, 0, 0, SYNC_FILE_RANGE_WAIT_BEFORE));
    return CloseAfter(handle, ::fsync(handle));
}

TDownloadTarget::TDownloadTarget(std::string pcName, FileFinisher finish)
    : pcName_(std::move(pcName)), partial_(PartialNameFor(pcName_)),
      origin_(partial_.substr(0, partial_.size() - kPartSuffix.size()) + ".zarvel-origin"), finish_(finish)
{
}

TDownloadTarget::~TDownloadTarget()
{
    if (keep_ && handle_ >= 0)
        ::close(std::exchange(handle_, -1));
    else
        Discard();
}

std::string TDownloadTarget::PartialNameFor(const std::string &pcName)
{
    constexpr std::size_t keep = 200; // stays under the usual 255-byte name limit
    if (pcName.size() <= keep)
        return "." + pcName + std::string(kPartSuffix);
    // Two long names that start alike must not share (and resume) one part.
    char tag[24];
    std::snprintf(tag, sizeof tag, ".%016zx", std::hash<std::string>{}(pcName));
    return "." + pcName.substr(0, keep) + tag + std::string(kPartSuffix);
}

bool TDownloadTarget::Open(std::string &error)
{
    struct stat existing {};
    if (::stat(pcName_.c_str(), &existing) == 0 && S_ISREG(existing.st_mode) && ::access(pcName_.c_str(), W_OK) != 0) {
        error = "Unable to replace read-only file " + pcName_;
        return false;
    }
    const bool found = ::lstat(pcName_.c_str(), &existing) == 0;
    finalMode_ = ReplacementMode(found ? &existing : nullptr, ::geteuid(), CurrentUmask());
    // No O_CREAT first: a partial file of an earlier download is taken up as it is. O_NOFOLLOW
    // refuses a link; O_NONBLOCK keeps a pipe from hanging the window.
    constexpr int flags = O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    int handle = ::open(partial_.c_str(), flags);
    mayHaveOrigin_ = handle >= 0;
    if (handle < 0 && errno == ENOENT)
        handle = ::open(partial_.c_str(), flags | O_CREAT | O_EXCL, 0600);
    if (handle < 0) {
        error = "Unable to create a file for " + pcName_ + " in this folder: " + Reason(errno);
        return false;
    }
    struct stat own {};
    // One link only: a hard link to another file of the user's would be written through.
    if (::fstat(handle, &own) != 0 || !S_ISREG(own.st_mode) || own.st_uid != ::geteuid() || own.st_nlink != 1) {
        ::close(handle);
        error = "Unable to download " + pcName_ + ": " + partial_ + " is not a file of yours";
        return false;
    }
    if (::flock(handle, LOCK_EX | LOCK_NB) != 0) {
        ::close(handle);
        error = "Unable to download " + pcName_ + ": another download is writing " + partial_;
        return false;
    }
    // Nobody else reads it while it fills; it gets its final mode when it is complete.
    if (::fchmod(handle, 0600) != 0) {
        error = "Unable to download " + pcName_ + ": " + Reason(errno);
        ::close(handle);
        return false;
    }
    handle_ = handle;
    device_ = own.st_dev;
    inode_ = own.st_ino;
    return true;
}

qint64 TDownloadTarget::Size() const
{
    struct stat own {};
    return handle_ >= 0 && ::fstat(handle_, &own) == 0 ? qint64(own.st_size) : -1;
}

bool TDownloadTarget::StartOver(std::string &error)
{
    if (::ftruncate(handle_, 0) == 0)
        return true;
    error = "Unable to download " + pcName_ + ": " + Reason(errno);
    return false;
}

void TDownloadTarget::StartWriteback()
{
    // Only a hint: Commit's fsync is what makes the file durable, and reports any failure.
    if (handle_ >= 0)
        ::sync_file_range(handle_, 0, 0, SYNC_FILE_RANGE_WRITE);
}

bool TDownloadTarget::StillOurs() const
{
    struct stat now {};
    return ::lstat(partial_.c_str(), &now) == 0 && now.st_dev == device_ && now.st_ino == inode_;
}

void TDownloadTarget::Discard()
{
    if (handle_ < 0)
        return;
    // Removed only while the name still holds our file: never someone else's put there since.
    if (StillOurs()) {
        ::unlink(partial_.c_str());
        RemoveOrigin();
    }
    ::close(std::exchange(handle_, -1));
}

void TDownloadTarget::RemoveOrigin()
{
    if (std::exchange(mayHaveOrigin_, false))
        ::unlink(origin_.c_str());
}

std::optional<TPartOrigin> TDownloadTarget::PartOrigin() const
{
    // Read only from a file of our own: another user could otherwise vouch for a part.
    const int handle = ::open(origin_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (handle < 0)
        return std::nullopt;
    struct stat own {};
    std::string text;
    if (::fstat(handle, &own) == 0 && S_ISREG(own.st_mode) && own.st_uid == ::geteuid() && own.st_size < kOriginMax) {
        text.resize(std::size_t(own.st_size));
        if (::read(handle, text.data(), text.size()) != ssize_t(text.size()))
            text.clear();
    }
    ::close(handle);
    return ParsePartOrigin(text);
}

void TDownloadTarget::KeepPartial(const TPartOrigin &origin)
{
    // A new file each time: whatever stood at the name (a link included) is not written through.
    ::unlink(origin_.c_str());
    mayHaveOrigin_ = true;
    const int handle = ::open(origin_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const std::string text = PartOriginText(origin);
    const bool written = handle >= 0 && ::write(handle, text.data(), text.size()) == ssize_t(text.size());
    const bool closed = handle >= 0 && ::close(handle) == 0;
    keep_ = written && closed;
}

bool TDownloadTarget::Settle(std::string &error, bool fileSystemSynced)
{
    if (::fchmod(handle_, finalMode_) != 0) {
        error = "Unable to save " + pcName_ + ": " + Reason(errno);
        Discard();
        return false;
    }
    const bool ours = StillOurs();
    if (finish_(std::exchange(handle_, -1), fileSystemSynced) != 0) {
        error = "Unable to save " + pcName_ + ": " + Reason(errno);
        if (ours) {
            ::unlink(partial_.c_str());
            RemoveOrigin();
        }
        return false;
    }
    if (!ours) {
        error = "Unable to save " + pcName_ + ": " + partial_ + " was replaced";
        return false;
    }
    return true;
}

bool TDownloadTarget::Rename(std::string &error)
{
    // Again: the name may have been taken over since the file was settled.
    if (!StillOurs()) {
        error = "Unable to save " + pcName_ + ": " + partial_ + " was replaced";
        return false;
    }
    // rename(2) replaces the old file at once: readers see the old file or the new, never a part.
    if (std::rename(partial_.c_str(), pcName_.c_str()) != 0) {
        error = "Unable to save " + pcName_ + ": " + Reason(errno);
        ::unlink(partial_.c_str());
        RemoveOrigin();
        return false;
    }
    RemoveOrigin();
    return true;
}
