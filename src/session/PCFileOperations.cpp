#include "session/PCFileOperations.h"
#include "session/DeleteQuestion.h"
#include "session/SessionViews.h"
#include "session/LogSink.h"
#include "session/UserPrompt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString FileName(const std::string &bytes)
{
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

bool SameFolder(const QString &a, const QString &b)
{
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    return !canonicalA.isEmpty() && canonicalA == QFileInfo(b).canonicalFilePath();
}

} // namespace

TPCFileOperations::TPCFileOperations(const TFileOperationViews &views) : Views(views)
{
}

void TPCFileOperations::DeleteSelected()
{
    const std::vector<std::string> names = Views.Local->SelectedNames();
    if (names.empty())
        return;
    const std::string folder = Views.Local->CurrentFolder();
    const bool toTrash = TrashAvailableFor(folder);
    if (Views.ConfirmDelete &&
        !Views.Confirm->AskYesNo("Delete", DeleteQuestionText(names, "in", folder) + "\n\n" + PcDeleteNote(toTrash)))
        return;
    int deletedCount = 0;
    for (const std::string &name : names) {
        if (!name.empty() && DeletePcFile(name, toTrash))
            ++deletedCount;
        else
            Views.Messages->ErrorDialog("Unable to delete '" + name + "'");
    }
    if (deletedCount > 0) {
        Views.Log->Log(1, std::to_string(deletedCount) + " file(s) deleted");
        Views.Local->RefreshFiles();
    }
}

void TPCFileOperations::RenameSelected()
{
    int renamedCount = 0;
    for (const std::string &oldName : Views.Local->SelectedNames()) {
        std::string newName = oldName;
        if (Views.Prompt->PromptUser("Rename", "Enter new name for '" + oldName + "'", &newName)
            && RenameWithoutReplacing(oldName, newName))
            ++renamedCount;
    }
    if (renamedCount > 0) {
        Views.Local->RefreshFiles();
        Views.Log->Log(1, std::to_string(renamedCount) + " file(s) renamed");
    }
}

void TPCFileOperations::MakeFolder()
{
    std::string name;
    if (!Views.Prompt->PromptUser("Create Directory", "Create in " + Views.Local->CurrentFolder(), &name))
        return;
    // mkdir refuses an existing folder as well as a bad name.
    // The new folder is where the user wants to put files next.
    if (!name.empty() && QDir::current().mkdir(FileName(name)))
        Views.Folders->EnterFolder(name);
    else
        Views.Sounds->ExclamationSound();
}

void TPCFileOperations::RemoveHighlightedFolder()
{
    const std::string path = Views.Folders->HighlightedFolder();
    if (!Views.Prompt->PromptUser(kRemoveFolderCaption, "Remove " + path + "?", nullptr))
        return;
    if (RemoveEmptyFolder(path))
        Views.Folders->RefreshFolders();
    else
        Views.Sounds->ExclamationSound();
}

bool RenameWithoutReplacing(const std::string &from, const std::string &to)
{
    if (from.empty() || to.empty())
        return false;
    const QFileInfo target(FileName(to));
    // exists() follows a symbolic link; a dangling one is a name in use all the same.
    if (target.exists() || target.isSymLink())
        return false;
    // QFile::rename refuses an existing target itself and renames with the kernel's
    // no-replace flag, so a file that appears meanwhile is not replaced either.
    return QFile::rename(FileName(from), target.filePath());
}

bool RemoveEmptyFolder(const std::string &path)
{
    if (path.empty())
        return false;
    const QString folder = QFileInfo(FileName(path)).absoluteFilePath();
    const QString current = QDir::currentPath();
    if (!SameFolder(folder, current))
        return QDir().rmdir(folder);
    // Linux removes the folder a process stands in; the lists would then show a folder
    // that is gone. Step out first, and back in when the removal fails.
    QDir parent(folder);
    if (!parent.cdUp() || !QDir::setCurrent(parent.path()))
        return false;
    if (QDir().rmdir(folder))
        return true;
    QDir::setCurrent(current);
    return false;
}
