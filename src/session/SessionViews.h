#pragma once
// What the session logic sees of the windows: a few small interfaces, implemented by the
// main window and its groups, and by recording fakes in the tests. Texts are bytes, as the
// protocol and the file system give them; the windows convert at their edge.
#include "session/TransferRules.h"

#include <string>
#include <vector>

// The "Tandem" group: the remote list, the subvolume box and the file-code filter box.
class TRemoteView {
public:
    virtual ~TRemoteView() = default;
    virtual void ClearFiles() = 0;                              // empty ListBoxTanFiles
    virtual void AddFile(const std::string &line) = 0;          // append one listing line
    virtual std::vector<std::string> SelectedLines() const = 0; // selected lines, in list order
    virtual std::string SubvolText() const = 0;                 // ComboBoxTanSubvol's text
    // Sets the box's text from the program: no change handler runs.
    virtual void SetSubvolText(const std::string &text) = 0;
    // Adds the subvolume to the history unless an entry equal to it ignoring case is there.
    virtual void AddSubvolHistory(const std::string &subvol) = 0;
    // One entry of ComboBoxTanFilter: its label and its index in the definition.
    struct FilterItem {
        std::string Label;
        int Index;
    };
    // Fills ComboBoxTanFilter with the items in the order given (the box's sorted order) and
    // selects the first; an empty list leaves nothing selected.
    virtual void SetFilterItems(const std::vector<FilterItem> &items) = 0;
    // Index (in definition order) of the selected filter entry; -1 when none is selected.
    virtual int SelectedFilterIndex() const = 0;
};

// The "Local PC" group.
class TLocalView {
public:
    virtual ~TLocalView() = default;
    virtual std::vector<std::string> SelectedNames() const = 0; // selected file names, in list order
    virtual std::string CurrentFolder() const = 0;              // the folder shown, the process's current one
    virtual void RefreshFiles() = 0;                            // read the folder's file names again
    // Replaces the PC filter ("description|patterns|..."); an empty text keeps the built-in one.
    virtual void SetFilterPC(const std::string &filter) = 0;
};

// The "Transfer" group's option controls, read afresh for every file.
class TTransferOptionsView {
public:
    virtual ~TTransferOptionsView() = default;
    virtual TransferOptions CurrentOptions() const = 0;
};

// The status bar's two panels.
class TStatusPanels {
public:
    virtual ~TStatusPanels() = default;
    virtual void SetStatusMessage(const std::string &text) = 0; // first panel: level 1 messages
    virtual void SetFileCount(const std::string &text) = 0;     // second panel: "N File(s)"
    // The lock: shown with its text ("TLS 1.3, TLS_AES_256_GCM_SHA384") while the session is
    // encrypted; an empty text hides it.
    virtual void SetEncryptionLock(const std::string &text) = 0;
};

// The session controls, the captions and the log window.
class TSessionWindow {
public:
    virtual ~TSessionWindow() = default;
    // Switches the "Transfer" group and the "Tandem" controls.
    virtual void SetSessionControlsEnabled(bool on) = 0;
    // Switches File > Connect: off only while a session is being opened.
    virtual void SetConnectCommandEnabled(bool on) = 0;
    // Switches File > Disconnect: on only while a session is open.
    virtual void SetDisconnectCommandEnabled(bool on) = 0;
    // Main window caption and application title.
    virtual void SetCaptions(const std::string &text) = 0;
    // Adds one line to the log window.
    virtual void AddLogLine(const std::string &text) = 0;
    // True once the main window is being destroyed: nothing on it may be touched then.
    virtual bool IsClosing() const = 0;
};

// The modal message boxes, shown through a seam so tests never block.
class TMessageBoxes {
public:
    virtual ~TMessageBoxes() = default;
    virtual void Simple(const std::string &text) = 0;      // application title, OK (input checks)
    virtual void ErrorDialog(const std::string &text) = 0; // error icon, title "Error", OK
};

// The system sounds of the confirmations and warnings.
class TSounds {
public:
    virtual ~TSounds() = default;
    virtual void DefaultSound() = 0;     // confirmation after a successful operation
    virtual void ExclamationSound() = 0; // a warning
};
