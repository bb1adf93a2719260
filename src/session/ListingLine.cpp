#include "session/ListingLine.h"

#include "session/DecimalReading.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
#include <vector>

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

// The digits of `text` between the separators, as numbers; empty when anything else stands there.
std::optional<std::vector<int>> Numbers(std::string_view text, char separator, std::size_t count)
{
    std::vector<int> numbers;
    for (std::size_t pos = 0; numbers.size() < count; ++pos) {
        const std::size_t end = std::min(text.find(separator, pos), text.size());
        int value = 0;
        const auto [last, error] = std::from_chars(text.data() + pos, text.data() + end, value);
        if (error != std::errc() || last != text.data() + end || end == pos)
            return std::nullopt;
        numbers.push_back(value);
        pos = end;
        if (pos == text.size() && numbers.size() < count)
            return std::nullopt;
    }
    return numbers;
}

int MonthNumber(std::string_view name)
{
    constexpr std::array<std::string_view, 12> months = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const auto it = std::find(months.begin(), months.end(), name);
    return it == months.end() ? 0 : int(it - months.begin()) + 1;
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

std::int64_t ListingLineTime(std::string_view line)
{
    // The date: day, month name and two-digit year between hyphens.
    const std::string_view rest = AfterSize(line);
    const std::string_view date = Field(rest, 0);
    const std::size_t first = date.find('-'), second = date.rfind('-');
    if (first == std::string_view::npos || second == first)
        return -1;
    const auto day = Numbers(date.substr(0, first), '-', 1);
    const int month = MonthNumber(date.substr(first + 1, second - first - 1));
    const auto year = Numbers(date.substr(second + 1), '-', 1);
    const auto time = Numbers(Field(rest, 1), ':', 3);
    if (!day || !month || !year || !time || date.size() - second - 1 != 2)
        return -1;
    const std::int64_t fullYear = (*year)[0] < 70 ? 2000 + (*year)[0] : 1900 + (*year)[0];
    std::int64_t key = ((fullYear * 100 + month) * 100 + (*day)[0]);
    for (const int part : *time)
        key = key * 100 + part;
    return key;
}
