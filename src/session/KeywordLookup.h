#pragma once
#include <span>
#include <string_view>

// Keyword lookup of the command line and the stored-value names: case-insensitive, with
// unique abbreviations.

// Looks `word` up in `keywords`, an ordered list that ends at its first empty entry (or at
// its end). Letter case is ignored. Returns the 1-based index of the keyword the word
// names, 0 when none does, -1 when the word is a prefix of more than one keyword and
// abbreviations are allowed. An exact match wins over any prefix match seen before it.
int LookupKeyword(std::string_view word, std::span<const std::string_view> keywords,
                  bool allowAbbreviation);
