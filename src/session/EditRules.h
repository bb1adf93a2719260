#pragma once
// Rules of editing a host file on the PC: what identifies the host file's version in its
// listing line, the name an upload goes to, and the temporary name that takes the new text
// until it is complete. Pure functions over bytes; no Qt here.
#include <cstdint>
#include <string>
#include <string_view>

// What a listing line says about the file's version: its size and last modification
// ("18-Mar-08 15:09:12"). Another user's save changes at least one of the two.
struct HostFileStamp {
    std::int64_t Size = 0;
    std::string Modified;   // the date and time fields as listed; empty when the line has none
    bool operator==(const HostFileStamp &) const = default;
};

// The stamp of one listing line. The date is found by its form (day-month-year), so a
// column between name and code (an open file's "O") does not shift it.
HostFileStamp StampOfListingLine(std::string_view line);

// The store name that keeps a file code: "NAME,101" for an edit file, "NAME,<code>" for others.
std::string NameWithFileCode(std::string_view hostName, std::int32_t fileCode);

// A Guardian file name (a letter, then letters and digits, 8 at most) for the upload in
// progress, made from `serial`; the prefix marks it as Zarvel's.
std::string TemporaryHostName(std::uint32_t serial);
