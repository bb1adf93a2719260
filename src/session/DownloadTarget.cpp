#include "session/DownloadTarget.h"

#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// Hidden, and recognisably ours if a crash ever leaves one behind.
std::string TemporaryNameFor(const std::string &pcName)
{
    constexpr std::size_t keep = 200; // stays under the usual 255-byte name limit
    const quint32 tag = QRandomGenerator::global()->generate();
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".zarvel-%08x", static_cast<unsigned>(tag));
    return "." + pcName.substr(0, keep) + suffix;
}

} // namespace

TDownloadTarget::TDownloadTarget(std::string pcName) : pcName_(std::move(pcName)) {}

TDownloadTarget::~TDownloadTarget()
{
    if (!temporary_.empty())
        std::remove(temporary_.c_str());
}

bool TDownloadTarget::Create(std::string &error)
{
    // By the name's bytes throughout (stat, open, chmod): a name that is not UTF-8 has no
    // QString that Qt would turn back into the same bytes.
    struct stat existing {};
    const bool replaces = ::stat(pcName_.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
    if (replaces && ::access(pcName_.c_str(), W_OK) != 0) {
        error = "Unable to replace read-only file " + pcName_;
        return false;
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string name = TemporaryNameFor(pcName_);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            if (replaces)
                ::fchmod(fd, existing.st_mode & 07777);
            ::close(fd);
            temporary_ = name;
            return true;
        }
        // Only a name that happens to exist already is worth another try.
        if (errno != EEXIST) {
            error = "Unable to create a file for " + pcName_ + " in this folder: " + std::strerror(errno);
            return false;
        }
    }
    error = "Unable to create a file for " + pcName_ + " in this folder";
    return false;
}

bool TDownloadTarget::Commit(std::string &error)
{
    // rename(2) replaces the old file at once: readers see the old file or the new, never a part.
    if (std::rename(temporary_.c_str(), pcName_.c_str()) != 0) {
        error = "Unable to save " + pcName_ + ": " + std::strerror(errno);
        return false;
    }
    temporary_.clear();
    return true;
}
