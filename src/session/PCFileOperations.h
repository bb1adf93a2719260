#pragma once
#include "session/FileOperationsView.h"
#include <string>

// Delete and rename of the files selected in the PC file list, and making and removing
// folders, in the process's current folder (the folder the PC lists show).
class TPCFileOperations {
public:
    // Needs Local, Folders, Prompt, Messages, Sounds, Log and Confirm of `views`.
    explicit TPCFileOperations(const TFileOperationViews &views);

    // Asks first (unless ConfirmDelete is off), then moves every selected file to the trash,
    // or deletes it where the file system has none; one error box for each file that stays.
    void DeleteSelected();
    // Asks a new name for each selected file and renames (or moves) it. A name that is
    // taken is refused: a rename never replaces a file the user did not name.
    void RenameSelected();
    // Asks a folder name and creates it; the warning sound when that fails.
    void MakeFolder();
    // Asks whether to remove the highlighted folder and removes it when it is empty; the
    // warning sound when that fails.
    void RemoveHighlightedFolder();

    static constexpr const char *kRemoveFolderCaption = "Remove Directory";

private:
    TFileOperationViews Views;    // the window's side
};

// Renames `from` to `to` unless `to` names an existing file or folder (the file system's
// rename would silently replace it). Either may hold a folder part; relative names resolve
// against the current folder.
bool RenameWithoutReplacing(const std::string &from, const std::string &to);

// Removes the empty folder `path`. When it is the current folder, the current folder moves
// to its parent first (and back when the removal fails), so the lists never show a folder
// that is gone.
bool RemoveEmptyFolder(const std::string &path);
