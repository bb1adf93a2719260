#pragma once
#include <string>
#include <string_view>

// The reversible scrambling of the stored password (not encryption: the settings file's
// mode is its protection).

// Scrambles or unscrambles `text` with `key` (the user ID); applying it twice with the same
// key gives the text back for any text without zero bytes. Leaves `result` alone when the
// text is empty. Works for texts of any length; the result has the text's length and, once
// the running key passes 255, may hold zero bytes.
void ScramblePassword(std::string_view key, std::string_view text, std::string &result);
