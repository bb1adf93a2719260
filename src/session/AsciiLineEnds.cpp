#include "session/AsciiLineEnds.h"
#include "session/KeywordLookup.h"

#include <array>

std::optional<LineEnds> ParseLineEnds(std::string_view text)
{
    constexpr std::array<std::string_view, 2> names = {"LF", "CRLF"};
    switch (LookupKeyword(text, names, true)) {
    case 1: return LineEnds::LF;
    case 2: return LineEnds::CRLF;
    default: return std::nullopt;
    }
}

const char *LineEndsName(LineEnds mode)
{
    return mode == LineEnds::CRLF ? "CRLF" : "LF";
}

LineEnds LineEndsOrDefault(std::string_view text)
{
    return ParseLineEnds(text).value_or(LineEnds::LF);
}
