#pragma once
#include <span>
#include <string>
#include <string_view>

// Shared helpers of the session logic: keyword lookup for the command line and the
// reversible scrambling of the stored password.

// Looks `word` up in `keywords`, an ordered list that ends at its first empty entry (or at
// its end). Letter case is ignored. Returns the 1-based index of the keyword the word
// names, 0 when none does, -1 when the word is a prefix of more than one keyword and
// abbreviations are allowed. An exact match wins over any prefix match seen before it.
int LookupKeyword(std::string_view word, std::span<const std::string_view> keywords,
                  bool allowAbbreviation);

// Scrambles or unscrambles `text` with `key` (the user ID); applying it twice with the same
// key gives the text back for any text without zero bytes. Leaves `result` alone when the
// text is empty. Works for texts of any length; the result has the text's length and, once
// the running key passes 255, may hold zero bytes.
void ScramblePassword(std::string_view key, std::string_view text, std::string &result);
