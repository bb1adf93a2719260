#pragma once
#include <string>
#include <vector>

// What the file operations read from and refresh in the main window.

// The "Tandem" side: the remote list and the session behind it.
class TandemFilesView {
public:
    virtual ~TandemFilesView() = default;
    // The selected lines of ListBoxTanFiles, in list order.
    virtual std::vector<std::string> SelectedTandemLines() const = 0;
    // The Connected flag: read after a failed request to tell a lost session from a refusal.
    virtual bool IsConnected() const = 0;
    // Lists the current remote subvolume into ListBoxTanFiles again.
    virtual bool ListTandemFiles() = 0;
    // The configured LogLevel.
    virtual int LogLevel() const = 0;
    // Empties the log window.
    virtual void ClearLog() = 0;
};

// The "Local PC" side: the folder list and the file list of the process's current folder.
class PCFilesView {
public:
    virtual ~PCFilesView() = default;
    // The selected names of FileListBoxPC, in list order: bare names in the current folder.
    virtual std::vector<std::string> SelectedPCNames() const = 0;
    // The full path of the line highlighted in DirectoryListBoxPC; empty when none is.
    virtual std::string HighlightedPCFolder() const = 0;
    // Reads the current folder's names into FileListBoxPC again.
    virtual void RefreshPCFiles() = 0;
    // Reads DirectoryListBoxPC again from the process's current folder (and with it the
    // file list).
    virtual void RefreshPCFolders() = 0;
};

// The two ways the file operations tell of a failure besides the log.
class FileOperationAlerts {
public:
    virtual ~FileOperationAlerts() = default;
    // A message box with the error icon and one OK button.
    virtual void ErrorBox(const std::string &text) = 0;
    // The system's warning (exclamation) sound.
    virtual void WarningSound() = 0;
};
