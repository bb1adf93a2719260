#pragma once
// The setting AsciiLineEnds as stored and typed: "LF" or "CRLF".
#include "session/ConnectionSettings.h"

#include <optional>
#include <string_view>

// "LF" or "CRLF" in any letter case, or a unique prefix of one ("l", "c"); nothing otherwise.
std::optional<LineEnds> ParseLineEnds(std::string_view text);
// The stored spelling: "LF" or "CRLF".
const char *LineEndsName(LineEnds mode);
// The stored text read back: unknown or empty values give LF.
LineEnds LineEndsOrDefault(std::string_view text);
