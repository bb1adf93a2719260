#include "session/ListingLine.h"

#include "session/DecimalReading.h"

#include <algorithm>

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
    const std::string_view date = Field(line, 3), time = Field(line, 4);
    return date.empty() || time.empty() ? std::string() : std::string(date) + ' ' + std::string(time);
}
