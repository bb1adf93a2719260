#pragma once
// Extents of the files an upload creates on the host. A Guardian file is a primary extent and
// up to maxextents - 1 secondary ones, counted in pages of 2048 bytes and fixed when the file
// is made; STOR NAME,code,primary,secondary,maxextents names them, and without them the host
// gives 4, 28 and 978, room for about 56 MB. A file that would outgrow its extents fails on
// the host with File Full (error 45). Pure functions, no Qt.
#include "session/TransferRules.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct FileExtents {
    std::int64_t Primary = 4;      // pages of the first extent
    std::int64_t Secondary = 28;   // pages of each further extent
    std::int64_t MaxExtents = 978; // extents the file may have
    bool operator==(const FileExtents &) const = default;
};

inline constexpr std::int64_t kExtentPageBytes = 2048;
inline constexpr std::int64_t kMaxExtentPages = 65535; // the largest extent the host accepts

// Bytes a file with these extents can hold.
std::int64_t ExtentsCapacity(const FileExtents &extents);

// The extents for a new file of `size` bytes: none when the defaults hold it; otherwise equal
// primary and secondary extents with the default maximum, so the file fills about three
// quarters of the room, never less room than the defaults give (and at most the largest
// extents the host takes).
std::optional<FileExtents> ExtentsForSize(std::int64_t size);

// The name a STOR sends for a host name made by HostNameForUpload: for a binary file that the
// default extents cannot hold, "NAME,code,primary,secondary,maxextents" (code 0, the host's
// own for binary, when the name carries none). Unchanged for ASCII, for an append (extents
// cannot change then), and for a name that carries extents already (MYOBJ,100,64,64,978).
std::string HostNameWithExtents(std::string_view hostName, std::int64_t size, TransferMode mode, bool append);

// The host's File Full, "error 45" in its reply: the text Zarvel shows for it. Empty for any
// other reply.
std::string ExtentsErrorText(std::string_view reply);
