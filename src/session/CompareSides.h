#pragma once
// Both sides of a comparison as plain file lists: the host's from its listing lines, the PC's
// from the folder; and the clock that makes their times comparable.
#include "session/FolderComparison.h"
#include "session/ListingLine.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Host times as seconds since the epoch. The host lists its own local wall clock, taken here
// as the PC's local time moved by the setting HostTimeOffset (how far the host's clock runs
// ahead of the PC's), so daylight saving follows the PC's rules.
class THostClock {
public:
    explicit THostClock(std::int32_t offsetMinutes) : offsetMinutes_(offsetMinutes) {}
    std::int64_t ToEpoch(const ListingTime &time);

private:
    // Asking the time zone costs tens of microseconds: it is asked once per hour of the
    // calendar, of which a listing of ten thousand files holds a few hundred at most.
    std::int64_t ZoneOffset(const ListingTime &time, std::int64_t wallHour);

    std::int32_t offsetMinutes_;
    std::unordered_map<std::int64_t, std::int64_t> zoneOffsets_; // wall-clock hour -> seconds east of UTC
};

// A listing line through the listing accessors; a line without a name gives an empty name.
HostFile HostFileFromLine(std::string_view line, THostClock &clock);

// The regular files of the folder, hidden ones left out as the PC list leaves them out
// (this is where the marker files, partial downloads and the kept file codes live). False
// with a message when the folder cannot be read.
bool ReadPcFolder(const std::string &folder, std::vector<PcFile> &files, std::string &error);

// Sets the file's last-write time (access time left alone). False with the system's text.
bool SetPcFileTime(const std::string &path, std::int64_t epochSeconds, std::string &error);
