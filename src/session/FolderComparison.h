#pragma once
// The comparison of a PC folder with a host subvolume: which file is where, and which side
// is newer. Names are matched through the transfer rules in both directions, so a file is
// paired with the one a download or an upload of it would make. Pure functions; no Qt.
#include "session/TransferRules.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// One file of the PC folder.
struct PcFile {
    std::string Name;           // bare name in the folder
    std::int64_t Size = 0;      // bytes
    std::int64_t Modified = 0;  // seconds since the epoch
};

// One file of the subvolume, as its listing line shows it.
struct HostFile {
    std::string Name;                     // as listed, without a file code
    std::int32_t Code = 0;                // Guardian file code
    std::int64_t Size = 0;                // bytes (the EOF)
    std::optional<std::int64_t> Modified; // seconds since the epoch; none when the line shows no time
};

// Where a file stands, as the marks in both lists show it.
enum class CompareState { OnlyPc, OnlyHost, NewerPc, NewerHost, Same, SizeDiffers };

// "only on the PC", "only on the host", "newer on the PC", "newer on the host", "same",
// "same time, different size".
const char *CompareStateText(CompareState state);

// Host file name -> file code, for files seen on the host (keys in upper case).
using FileCodeMap = std::unordered_map<std::string, std::int32_t>;

// What decides the pairing and which rows count.
struct CompareRules {
    TransferOptions Options;                            // the transfer controls: modes and names
    std::function<bool(std::string_view pcName)> PcFilter; // the PC filter; empty lets all through
    std::string TandemCodes;                            // the Tandem filter's codes; empty lets all through
    const FileCodeMap *KnownCodes = nullptr;            // codes of files seen on the host before
};

// One row of the comparison: a pair, or a file on one side only.
struct ComparedFile {
    CompareState State = CompareState::Same;
    std::optional<std::size_t> Pc;    // index of the PC file
    std::optional<std::size_t> Host;  // index of the host file
    std::string PcName;               // the PC file's name, or the one a download would give
    std::string HostName;             // the host file's name, or the one an upload would give (no code)
    std::string UploadName;           // what an upload sends: the host name with ",code" when one is known
    std::int32_t Code = 0;            // the host's file code, or the one an upload would give
    TransferMode Mode = TransferMode::Binary; // how the file travels; binary sizes are compared
    bool Clash = false;               // a PC file whose upload name another PC file already takes
};

// Times closer than this count as the same: PC file systems keep 2-second times (FAT).
inline constexpr std::int64_t kSameTimeSlack = 2;

// Pairs first by the name a download of each host file would give, then by the host name an
// upload of each remaining PC file would give (letter case aside, as Guardian names are),
// and marks each row. Filters apply to rows after pairing, on both names, so a partner that
// a filter hides never makes a file look one-sided. Rows: host files in listing order
// (paired or not), then the PC files only on the PC, in their order.
std::vector<ComparedFile> CompareFolders(const std::vector<PcFile> &pcFiles, const std::vector<HostFile> &hostFiles,
                                         const CompareRules &rules);

// The name in upper case (ASCII letters only), as Guardian compares names.
std::string GuardianKey(std::string_view name);
