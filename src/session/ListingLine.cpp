#include "session/ListingLine.h"

#include "session/DecimalReading.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::size_t kFileCodeColumn = 13;

std::size_t SkipBlanks(std::string_view line, std::size_t pos)
{
    while (pos < line.size() && line[pos] == ' ')
        ++pos;
    return pos;
}

// The blank-separated field at this index (0 is the name); empty past the last.
std::string_view Field(std::string_view line, int index)
{
    std::size_t start = 0;
    for (; index > 0; --index) {
        const std::size_t blank = line.find(' ', start);
        if (blank == std::string_view::npos)
            return {};
        start = SkipBlanks(line, blank);
    }
    const std::size_t end = std::min(line.find(' ', start), line.size());
    return line.substr(start, end - start);
}

constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Digits [pos, pos + count) as a number; -1 when any of them is not a digit.
int DigitsAt(std::string_view text, std::size_t pos, std::size_t count)
{
    if (pos + count > text.size())
        return -1;
    int value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// "d-Mon-yy" or "dd-Mon-yy" into the date fields.
bool ReadDate(std::string_view word, ListingTime &time)
{
    const std::size_t dayDigits = word.size() == 9 ? 2 : 1;
    if (word.size() != dayDigits + 7 || word[dayDigits] != '-' || word[dayDigits + 4] != '-')
        return false;
    time.Day = DigitsAt(word, 0, dayDigits);
    const int year = DigitsAt(word, dayDigits + 5, 2);
    std::size_t month = 0;
    while (month < kMonths.size() && kMonths[month] != word.substr(dayDigits + 1, 3))
        ++month;
    if (time.Day < 1 || time.Day > 31 || year < 0 || month == kMonths.size())
        return false;
    time.Month = int(month) + 1;
    time.Year = year < 70 ? 2000 + year : 1900 + year;
    return true;
}

// "hh:mm:ss" into the time fields.
bool ReadClock(std::string_view word, ListingTime &time)
{
    if (word.size() != 8 || word[2] != ':' || word[5] != ':')
        return false;
    time.Hour = DigitsAt(word, 0, 2);
    time.Minute = DigitsAt(word, 3, 2);
    time.Second = DigitsAt(word, 6, 2);
    return time.Hour >= 0 && time.Hour < 24 && time.Minute >= 0 && time.Minute < 60 && time.Second >= 0 &&
           time.Second < 60;
}

// The blank-separated word at pos (pos at its first character); empty at the end.
std::string_view WordAt(std::string_view line, std::size_t pos)
{
    const std::size_t end = line.find(' ', pos);
    return line.substr(pos, end == std::string_view::npos ? line.size() - pos : end - pos);
}

// What follows the size (date, time, owner, security), found from the code as the size is.
std::string_view AfterSize(std::string_view line)
{
    if (line.size() <= kFileCodeColumn)
        return {};
    const DecimalRead code = ReadDecimal(line, SkipBlanks(line, kFileCodeColumn));
    if (code.end >= line.size() || line[code.end] != ' ')
        return {};
    const DecimalRead size = ReadDecimal(line, code.end);
    return line.substr(SkipBlanks(line, size.end));
}

} // namespace

std::string ListingLineName(std::string_view line)
{
    const std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos)
        return {};
    return std::string(line.substr(0, blank));
}

std::int32_t ListingLineFileCode(std::string_view line)
{
    if (line.size() <= kFileCodeColumn)
        return 0;
    return SaturateToInt32(AtolAt(line, SkipBlanks(line, kFileCodeColumn)));
}

std::int64_t ListingLineSize(std::string_view line)
{
    // After the code, not the third field: a real host puts an "O" between name and code
    // for a file that is open, and the third field is then the code.
    if (line.size() <= kFileCodeColumn)
        return 0;
    const DecimalRead code = ReadDecimal(line, SkipBlanks(line, kFileCodeColumn));
    if (code.end >= line.size() || line[code.end] != ' ')
        return 0;
    return AtolAt(line, code.end);
}

std::string ListingLineModified(std::string_view line)
{
    const std::string_view rest = AfterSize(line);
    const std::string_view date = Field(rest, 0), time = Field(rest, 1);
    return date.empty() || time.empty() ? std::string() : std::string(date) + ' ' + std::string(time);
}

std::optional<ListingTime> ListingLineTime(std::string_view line)
{
    std::size_t pos = line.find(' ');
    ListingTime time;
    while (pos != std::string_view::npos && (pos = SkipBlanks(line, pos)) < line.size()) {
        const std::string_view word = WordAt(line, pos);
        pos += word.size();
        if (!ReadDate(word, time))
            continue;
        pos = SkipBlanks(line, pos);
        if (pos < line.size() && ReadClock(WordAt(line, pos), time))
            return time;
    }
    return std::nullopt;
}

std::int64_t ListingLineTimeKey(std::string_view line)
{
    const std::optional<ListingTime> time = ListingLineTime(line);
    if (!time)
        return -1;
    std::int64_t key = 0;
    for (const int part : {time->Year, time->Month, time->Day, time->Hour, time->Minute, time->Second})
        key = key * 100 + part;
    return key;
}
