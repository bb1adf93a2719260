#include "session/DecimalReading.h"

#include <limits>

namespace {

// The C locale's white space; isspace() would follow the process locale.
bool IsCSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

DecimalRead ReadDecimal(std::string_view text, std::size_t pos)
{
    DecimalRead result;
    result.end = pos;
    std::size_t i = pos;
    while (i < text.size() && IsCSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i >= text.size() || !IsDigit(text[i]))
        return result;

    // Accumulate towards the sign's side so the most negative value is reachable.
    constexpr std::int64_t max = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t min = std::numeric_limits<std::int64_t>::min();
    std::int64_t value = 0;
    bool saturated = false;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        const int digit = text[i] - '0';
        if (saturated)
            continue;
        if (negative) {
            if (value < (min + digit) / 10) {
                value = min;
                saturated = true;
                continue;
            }
            value = value * 10 - digit;
        } else {
            if (value > (max - digit) / 10) {
                value = max;
                saturated = true;
                continue;
            }
            value = value * 10 + digit;
        }
    }
    result.value = value;
    result.end = i;
    return result;
}

std::int64_t AtolAt(std::string_view text, std::size_t pos)
{
    return ReadDecimal(text, pos).value;
}

std::int32_t SaturateToInt32(std::int64_t value)
{
    if (value > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}
