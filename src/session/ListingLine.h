#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// One line of the NonStop host's answer to LIST, as the remote list shows it:
//   File         Code             EOF  Last Modification    Owner  RWEP
//   IARPTS        101            16354 18-Mar-08 15:09:12 244, 10 "nnnn"
//   TACLCSTM   O  101             101  4-Mar-01 23:50:06 255,255 "oooo"
// The name runs to the first blank, the file code is read from the 14th character on, the
// size is the number after the code; whatever stands between name and code (the "O" of a
// file that is open) is not read, nor are the fields after the size. None of the accessors
// reads past the end of the line.

// The host file name: the bytes before the first blank; empty when the line holds no blank.
std::string ListingLineName(std::string_view line);

// The Guardian file code: an atol-style read from index 13 on. 0 for a line of 13 characters
// or fewer and when no digits stand there.
std::int32_t ListingLineFileCode(std::string_view line);

// The file size in bytes (64-bit: files over 2 GiB exist): an atol-style read of the field
// after the file code. 0 when no blank and field follow the code.
std::int64_t ListingLineSize(std::string_view line);

// The last modification as the listing writes it: the two fields after the size (date and
// time) with one blank between; empty when the line has fewer fields.
std::string ListingLineModified(std::string_view line);

// A modification time as the host lists it ("18-Mar-08 15:09:12"): the host's own local wall
// clock, with no zone.
struct ListingTime {
    int Year = 0;   // four digits: "yy" 70..99 is 19yy, 00..69 is 20yy
    int Month = 0;  // 1..12
    int Day = 0;    // 1..31
    int Hour = 0, Minute = 0, Second = 0;
    bool operator==(const ListingTime &) const = default;
};

// The last modification, parsed: the first "d-Mon-yy" field after the name followed by "hh:mm:ss".
// Found by its form, not by its place, so a column that some lines carry and others do not
// moves nothing. None when the line shows no such pair.
std::optional<ListingTime> ListingLineTime(std::string_view line);

// The last modification as a number that sorts in time order (yyyyMMddhhmmss); -1 when the
// line shows no date and time of the host's form.
std::int64_t ListingLineTimeKey(std::string_view line);
