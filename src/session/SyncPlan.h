#pragma once
// What a synchronization would do: the uploads, downloads and deletes that bring one side (or
// both) up to date with the other, from a comparison. Pure functions; no Qt.
#include "session/FolderComparison.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Which side is brought up to date: the host from the PC, the PC from the host, or each from
// the other (the newer file wins).
enum class SyncDirection { Up, Down, Both };

// "up", "down" or "both" in any letter case; none for anything else.
std::optional<SyncDirection> ParseSyncDirection(std::string_view text);

enum class SyncVerb { Upload, Download, DeleteHost, DeletePc };

// One step of a synchronization, as the preview lists it.
struct SyncAction {
    SyncVerb Verb = SyncVerb::Upload;
    std::string PcName;       // the PC file (source, target or the one to delete)
    std::string HostName;     // the host file: an upload's target with its ",code", else the listed name
    TransferMode Mode = TransferMode::Binary;
    std::int32_t Code = 0;    // the host file's code (kept for the files seen on the host)
    std::int64_t Size = 0;    // bytes of the source file
    CompareState State = CompareState::Same; // why it is done
    bool Ticked = true;       // the user may untick a row in the preview
};

// The steps for a direction. One-way directions make the target like the source, a newer
// target file included; both ways the newer side wins and a size that differs at the same
// time is left alone. Deletes remove files only on the target side, and only one way.
// Rows whose upload name another PC file takes are left out.
std::vector<SyncAction> PlanSync(const std::vector<ComparedFile> &rows, const std::vector<PcFile> &pcFiles,
                                 const std::vector<HostFile> &hostFiles, SyncDirection direction, bool deletes);

// One preview line: "upload   PROG.C -> PROGC,101 (ascii, newer on the PC)".
std::string SyncActionText(const SyncAction &action);

// One comparison line: the state, the PC name and the host name in columns ("-" for a side
// without the file).
std::string ComparedFileText(const ComparedFile &row);
