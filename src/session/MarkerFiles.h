#pragma once
// High-water markers: empty files whose last-write time tells other programs (build scripts,
// schedulers) when the last fully successful download or upload batch ended.
#include "session/ConnectionSettings.h"

#include <ctime>
#include <optional>
#include <string>

class LogSink;

// The marker to touch: TouchFileBase + ".down" for direction < 0 with TouchDown, + ".up" for
// direction > 0 with TouchUp; none otherwise. A relative base names a file in the current folder.
std::optional<std::string> MarkerPath(int direction, const GeneralSettings &settings);

// A local time brought to the two seconds' resolution of a DOS file time: the seconds become
// 2 * min((s + 1) / 2, 29), so :01 gives :02 and :59 gives :58 without carrying into the next
// minute. Years outside 1980..2107, which that form cannot hold, go to the nearer end.
std::tm MarkerStamp(const std::tm &localTime);

// Opens path for writing, creating it empty when missing (never truncating), and sets its
// last-write time to the local time stamp; access time is left alone. On failure logs
// "Error touching <path>: <C library error text>" at level 1 and returns false.
bool TouchMarkerFile(const std::string &path, const std::tm &localStamp, LogSink &log);

// Touches the marker of a direction (< 0 download, > 0 upload, 0 none) with the current
// local time, when its setting is on. Failures are only logged.
void TouchHwm(int direction, const GeneralSettings &settings, LogSink &log);
