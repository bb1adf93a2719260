#include "session/EditRules.h"
#include "session/ListingLine.h"

#include <cctype>
#include <vector>

namespace {

std::vector<std::string_view> Fields(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (pos < line.size()) {
        const std::size_t start = line.find_first_not_of(' ', pos);
        if (start == std::string_view::npos)
            break;
        const std::size_t end = std::min(line.find(' ', start), line.size());
        fields.push_back(line.substr(start, end - start));
        pos = end;
    }
    return fields;
}

// "18-Mar-08": digits, a dash, letters, a dash, digits.
bool IsListedDate(std::string_view field)
{
    const std::size_t first = field.find('-');
    const std::size_t second = first == std::string_view::npos ? first : field.find('-', first + 1);
    if (second == std::string_view::npos || first == 0 || second == first + 1 || second + 1 == field.size())
        return false;
    for (std::size_t i = 0; i < field.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(field[i]);
        const bool ok = i == first || i == second || (i < first || i > second ? std::isdigit(c) : std::isalpha(c));
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

HostFileStamp StampOfListingLine(std::string_view line)
{
    HostFileStamp stamp;
    stamp.Size = ListingLineSize(line);
    const std::vector<std::string_view> fields = Fields(line);
    for (std::size_t i = 1; i < fields.size(); ++i) {
        if (!IsListedDate(fields[i]))
            continue;
        stamp.Modified = std::string(fields[i]);
        if (i + 1 < fields.size())
            stamp.Modified += " " + std::string(fields[i + 1]);
        break;
    }
    return stamp;
}

std::string NameWithFileCode(std::string_view hostName, std::int32_t fileCode)
{
    return std::string(hostName) + "," + std::to_string(fileCode);
}

std::string TemporaryHostName(std::uint32_t serial)
{
    static constexpr char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::string name = "ZZED";
    for (int i = 0; i < 4; ++i) {
        name += kDigits[serial % 36];
        serial /= 36;
    }
    return name;
}
