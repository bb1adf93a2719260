#pragma once
// The command line of a comparison or synchronization run without a window:
//   zarvel --compare [KEYWORD [VALUE]]...
//   zarvel --sync up|down|both [--delete] [--dry-run] [KEYWORD [VALUE]]...
// The keywords are the usual connection keywords, read by ApplyCommandLine.
#include "session/SyncPlan.h"

#include <string>
#include <string_view>

struct FolderCommand {
    bool Sync = false;                              // --sync; otherwise --compare
    SyncDirection Direction = SyncDirection::Both;  // --sync's direction
    bool Delete = false;                            // --delete: files only on the target side go
    bool DryRun = false;                            // --dry-run: the preview only
    std::string Keywords;                           // the other words, for ApplyCommandLine
};

// Exit statuses of such a run.
inline constexpr int kFolderCommandOk = 0;          // compared, or every file synchronized
inline constexpr int kFolderCommandFailed = 1;      // no connection or listing, or a file failed
inline constexpr int kFolderCommandUsage = 2;       // the command line was wrong

// Reads a command line whose first word is --compare or --sync. Returns the empty text, or
// the usage error to print.
std::string ParseFolderCommand(std::string_view commandLine, FolderCommand &command);
