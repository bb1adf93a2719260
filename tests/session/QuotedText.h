// Table rows of the session tests print as text in test names and failures; raw bytes would
// show addresses or break the line.
#pragma once

#include <string>
#include <string_view>

inline std::string Quoted(std::string_view text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '\0')
            out += "\\0";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out + "\"";
}
