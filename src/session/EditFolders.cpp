#include "session/EditFolders.h"

#include <QCryptographicHash>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The desktop's default application (a desktop entry's id) for a MIME type; empty for none.
QString DefaultApplicationFor(const QString &mimeType)
{
    QProcess query;
    query.start("xdg-mime", {"query", "default", mimeType});
    if (!query.waitForFinished(3000))
        return {};
    return QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
}

// The Exec line of a desktop entry found in the applications folders.
QString DesktopExec(const QString &desktopId)
{
    QFile entry(QStandardPaths::locate(QStandardPaths::ApplicationsLocation, desktopId));
    if (desktopId.isEmpty() || !entry.open(QIODevice::ReadOnly))
        return {};
    bool inEntry = false;
    while (!entry.atEnd()) {
        const QString line = QString::fromUtf8(entry.readLine()).trimmed();
        if (line.startsWith('['))
            inEntry = line == "[Desktop Entry]";
        else if (inEntry && line.startsWith("Exec="))
            return line.mid(5);
    }
    return {};
}

bool StartDetached(const QStringList &command, std::string &error)
{
    if (command.isEmpty() || !QProcess::startDetached(command.front(), command.mid(1))) {
        error = "cannot start " + (command.isEmpty() ? std::string("an editor") : command.front().toStdString());
        return false;
    }
    return true;
}

} // namespace

QString EditFolderBase()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return runtime + "/zarvel-edits";
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + "/zarvel/edits";
}

QString MakeEditFolder(const QString &base, std::string &error)
{
    const QByteArray baseBytes = QFile::encodeName(base);
    QDir().mkpath(base);
    struct stat status {};
    // The copies are the user's unsaved work: no other user may read them or swap the folder.
    if (::lstat(baseBytes.constData(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != ::getuid() ||
        ((status.st_mode & 077) != 0 && ::chmod(baseBytes.constData(), 0700) != 0)) {
        error = "cannot use " + base.toStdString() + " as a private folder";
        return {};
    }
    QByteArray pattern = baseBytes + "/XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        error = "cannot make a folder in " + base.toStdString() + ": " + std::strerror(errno);
        return {};
    }
    return QFile::decodeName(pattern);
}

QByteArray FileDigest(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return {};
    return hash.result();
}

QStringList DesktopExecArguments(const QString &exec, const QString &path)
{
    QStringList arguments;
    bool placed = false;
    for (QString argument : QProcess::splitCommand(exec)) {
        if (argument == "%f" || argument == "%F" || argument == "%u" || argument == "%U") {
            arguments << path;
            placed = true;
            continue;
        }
        if (argument.size() == 2 && argument.front() == '%' && argument != "%%")
            continue; // %i, %c, %k: icon, name and entry, which a file needs not
        arguments << argument.replace("%%", "%");
    }
    if (!placed)
        arguments << path;
    return arguments;
}

bool OpenInEditor(const std::string &editor, const QString &path, std::string &error)
{
    if (!editor.empty())
        return StartDetached(QProcess::splitCommand(QString::fromStdString(editor)) << path, error);
    const QString type = QMimeDatabase().mimeTypeForFile(path).name();
    if (DefaultApplicationFor(type).isEmpty()) {
        const QString exec = DesktopExec(DefaultApplicationFor("text/plain"));
        if (!exec.isEmpty())
            return StartDetached(DesktopExecArguments(exec, path), error);
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
        error = "no application opens " + path.toStdString();
        return false;
    }
    return true;
}
