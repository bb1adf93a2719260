#include "session/DownloadTarget.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
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

QString LocalPath(const std::string &name) { return QString::fromLocal8Bit(name.c_str()); }

} // namespace

TDownloadTarget::TDownloadTarget(std::string pcName) : pcName_(std::move(pcName)) {}

TDownloadTarget::~TDownloadTarget()
{
    if (!temporary_.empty())
        std::remove(temporary_.c_str());
}

bool TDownloadTarget::Create(std::string &error)
{
    const QFileInfo existing(LocalPath(pcName_));
    if (existing.exists() && existing.isFile() && !existing.isWritable()) {
        error = "Unable to replace read-only file " + pcName_;
        return false;
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string name = TemporaryNameFor(pcName_);
        QFile file(LocalPath(name));
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            file.close();
            temporary_ = name;
            if (existing.exists() && existing.isFile())
                QFile::setPermissions(LocalPath(name), existing.permissions());
            return true;
        }
        // Only a name that happens to exist already is worth another try.
        if (!QFileInfo::exists(LocalPath(name))) {
            error = "Unable to create a file for " + pcName_ + " in this folder: " +
                    file.errorString().toStdString();
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
