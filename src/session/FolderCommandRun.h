#pragma once
// `zarvel --compare` and `zarvel --sync ...` without a window: the stored connection and the
// keywords, the comparison of the current folder with the subvolume, the preview as text on
// standard output and, unless it is a dry run, the synchronization.
#include <string_view>

// Runs the whole command in the application's event loop (a QCoreApplication must exist)
// and returns the exit status (kFolderCommandOk, kFolderCommandFailed, kFolderCommandUsage).
// Errors go to standard error as "zarvel: <text>".
int RunFolderCommand(std::string_view commandLine);
