#pragma once
// What the file operations reach of the main window beyond SessionViews.h: the session
// behind the remote list, the folder list, and everything they are handed at once.
#include <string>

class LogSink;
class TLocalView;
class TMessageBoxes;
class TRemoteView;
class TSounds;
class TConfirmation;
class TUserPrompt;

// The session behind the remote list and the log window, as the host file operations see it.
class THostSessionView {
public:
    virtual ~THostSessionView() = default;
    // The Connected flag: read after a failed request to tell a lost session from a refusal.
    virtual bool IsConnected() const = 0;
    // Lists the current remote subvolume into ListBoxTanFiles again.
    virtual bool ListTandemFiles() = 0;
    // The configured LogLevel.
    virtual int LogLevel() const = 0;
    // Empties the log window.
    virtual void ClearLog() = 0;
};

// The folder list of the "Local PC" group.
class TPCFolderView {
public:
    virtual ~TPCFolderView() = default;
    // The full path of the line highlighted in DirectoryListBoxPC; empty when none is.
    virtual std::string HighlightedFolder() const = 0;
    // Shows the process's current folder again: folders, and with them the files.
    virtual void RefreshFolders() = 0;
    // Makes the folder (relative to the current one) current and shows it; false when it
    // cannot be entered.
    virtual bool EnterFolder(const std::string &path) = 0;
};

// The window's side of the file operations; every pointer must outlive the operation.
struct TFileOperationViews {
    TRemoteView *Remote = nullptr;             // the selected remote lines
    THostSessionView *HostSession = nullptr;   // Connected, re-listing, the log window
    TLocalView *Local = nullptr;               // the selected PC names, re-reading them
    TPCFolderView *Folders = nullptr;          // the highlighted folder, re-reading the folders
    TUserPrompt *Prompt = nullptr;             // new names and the removal question
    TMessageBoxes *Messages = nullptr;         // error boxes
    TSounds *Sounds = nullptr;                 // the warning sound
    LogSink *Log = nullptr;                    // counts and errors
    TConfirmation *Confirm = nullptr;          // the question before a delete
    bool ConfirmDelete = true;                 // ask it (the ConfirmDelete setting)
};
