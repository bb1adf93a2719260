#include "session/GuardianNames.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr std::size_t kMaxNameLength = 8;
constexpr long kMaxNumber = 65535;

bool IsAsciiLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A number from 0 to 65535, digits only.
bool IsSmallNumber(std::string_view text)
{
    if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), IsAsciiDigit))
        return false;
    return std::stol(std::string(text)) <= kMaxNumber;
}

std::string NameProblem(std::string_view name)
{
    const std::string rule = ": a Guardian file name has 1 to 8 letters and digits, a letter first";
    if (name.empty())
        return "the host name is empty" + rule;
    const std::string quoted = "the host name \"" + std::string(name) + "\"";
    if (!std::all_of(name.begin(), name.end(), [](char c) { return IsAsciiLetter(c) || IsAsciiDigit(c); }))
        return quoted + " holds other characters than letters and digits" + rule;
    if (!IsAsciiLetter(name.front()))
        return quoted + " does not begin with a letter" + rule;
    if (name.size() > kMaxNameLength)
        return quoted + " is longer than 8 characters" + rule;
    return {};
}

} // namespace

std::string GuardianNameProblem(std::string_view hostName)
{
    const std::size_t comma = hostName.find(',');
    if (std::string problem = NameProblem(hostName.substr(0, comma)); !problem.empty())
        return problem;
    if (comma == std::string_view::npos)
        return {};
    std::string_view rest = hostName.substr(comma + 1);
    const std::size_t next = rest.find(',');
    if (!IsSmallNumber(rest.substr(0, next)))
        return "the file code \"" + std::string(rest.substr(0, next)) + "\" is not a number from 0 to 65535";
    while (rest.find(',') != std::string_view::npos) {
        rest = rest.substr(rest.find(',') + 1);
        const std::string_view extent = rest.substr(0, rest.find(','));
        if (!IsSmallNumber(extent))
            return "the extent size \"" + std::string(extent) + "\" is not a number from 0 to 65535";
    }
    return {};
}

std::string HostListedName(std::string_view hostName)
{
    std::string name(hostName.substr(0, hostName.find(',')));
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return name;
}

std::string FreeHostName(std::string_view hostName, const std::function<bool(const std::string &)> &taken)
{
    const std::size_t comma = hostName.find(',');
    const std::string_view name = hostName.substr(0, comma);
    const std::string_view suffix = comma == std::string_view::npos ? std::string_view() : hostName.substr(comma);
    for (int n = 1; n <= 9999; ++n) {
        const std::string digits = std::to_string(n);
        const std::string candidate =
            std::string(name.substr(0, kMaxNameLength - std::min(kMaxNameLength, digits.size()))) + digits;
        if (!taken(HostListedName(candidate)))
            return candidate + std::string(suffix);
    }
    return {};
}
