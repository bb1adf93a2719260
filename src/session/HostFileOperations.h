#pragma once
#include "session/FileOperationsView.h"

class THostFiles;

// Delete and rename of the files selected in the remote list. The requests wait in the
// event loop, so the session may end in the middle of a walk: after each failure the
// Connected flag tells a lost session (the walk stops) from a refusal (it goes on).
class THostFileOperations {
public:
    // Needs Remote, HostSession, Prompt, Messages, Sounds, Log and Confirm of `views`.
    THostFileOperations(THostFiles &host, const TFileOperationViews &views);

    // Asks first (unless ConfirmDelete is off), then deletes every selected host file; logs
    // each refusal and a summary.
    void DeleteSelected();
    // Asks a new name for each selected host file and renames it; errors in a box.
    void RenameSelected();

private:
    THostFiles &Host;             // the FTP client's DELE and RNFR/RNTO
    TFileOperationViews Views;    // the window's side
};
