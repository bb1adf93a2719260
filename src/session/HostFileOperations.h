#pragma once

class FileOperationAlerts;
class HostFiles;
class LogSink;
class TandemFilesView;
class UserPrompt;

// Delete and rename of the files selected in the remote list. The requests wait in the
// event loop, so the session may end in the middle of a walk: after each failure the
// Connected flag tells a lost session (the walk stops) from a refusal (it goes on).
class THostFileOperations {
public:
    THostFileOperations(HostFiles &host, TandemFilesView &view, UserPrompt &prompt,
                        FileOperationAlerts &alerts, LogSink &log);

    // Deletes every selected host file; logs the count, the failures and a summary.
    void DeleteSelected();
    // Asks a new name for each selected host file and renames it; errors in a box.
    void RenameSelected();

private:
    HostFiles &Host;               // the FTP client's DELE and RNFR/RNTO
    TandemFilesView &View;         // selection, Connected, re-listing, the log window
    UserPrompt &Prompt;            // the new name
    FileOperationAlerts &Alerts;   // error box and warning sound
    LogSink &Log;                  // counts and errors
};
