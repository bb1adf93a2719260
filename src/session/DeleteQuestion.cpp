#include "session/DeleteQuestion.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStorageInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t kNamesShown = 3;

// The device of the path, or of its nearest existing parent; 0 when none can be read.
dev_t DeviceOf(QString path)
{
    struct stat status {};
    while (!path.isEmpty()) {
        if (::stat(QFile::encodeName(path).constData(), &status) == 0)
            return status.st_dev;
        const QString parent = QFileInfo(path).path();
        if (parent == path)
            break;
        path = parent;
    }
    return 0;
}

bool IsWritableFolder(const QString &path)
{
    return ::access(QFile::encodeName(path).constData(), W_OK | X_OK) == 0;
}

// A trash at the top of the file system: ".Trash/<uid>" under a shared, sticky ".Trash", or
// ".Trash-<uid>" that is there or can be made.
bool TopTrashAvailable(const QString &top)
{
    const QString uid = QString::number(::getuid());
    struct stat shared {};
    const QByteArray sharedPath = QFile::encodeName(QDir(top).filePath(".Trash"));
    if (::lstat(sharedPath.constData(), &shared) == 0 && S_ISDIR(shared.st_mode) && (shared.st_mode & S_ISVTX))
        return true;
    const QFileInfo own(QDir(top).filePath(".Trash-" + uid));
    return own.exists() ? own.isDir() && !own.isSymLink() && IsWritableFolder(own.filePath()) : IsWritableFolder(top);
}

} // namespace

std::string DeleteQuestionText(const std::vector<std::string> &names, const std::string &where,
                               const std::string &place)
{
    std::string text = "Delete " + std::to_string(names.size()) + (names.size() == 1 ? " file " : " files ") +
                       where + " " + place + ": ";
    for (std::size_t i = 0; i < names.size() && i < kNamesShown; ++i)
        text += (i > 0 ? ", " : "") + names[i];
    if (names.size() > kNamesShown)
        text += " and " + std::to_string(names.size() - kNamesShown) + " more";
    return text + "?";
}

std::string PcDeleteNote(bool toTrash)
{
    return toTrash ? "Deleted files go to the trash." : "This file system has no trash: the delete is final.";
}

bool TrashAvailableFor(const std::string &folder)
{
    const QString path = QFile::decodeName(QByteArray::fromStdString(folder));
    const dev_t device = DeviceOf(path);
    if (device != 0 && device == DeviceOf(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)))
        return true;
    const QStorageInfo storage(path);
    return storage.isValid() && TopTrashAvailable(storage.rootPath());
}

bool DeletePcFile(const std::string &name, bool toTrash)
{
    const QString file = QFile::decodeName(QByteArray::fromStdString(name));
    // The trash takes whole folders; Delete is for files only.
    if (QFileInfo(file).isDir() && !QFileInfo(file).isSymLink())
        return false;
    return toTrash ? QFile::moveToTrash(file) : QFile::remove(file);
}
