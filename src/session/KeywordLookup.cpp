#include "session/KeywordLookup.h"

namespace {

unsigned char Fold(unsigned char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

// Compares the first word.size() characters of keyword with word, ignoring ASCII case; the
// keyword must be at least as long as the word.
bool StartsWithNoCase(std::string_view keyword, std::string_view word)
{
    if (keyword.size() < word.size())
        return false;
    for (size_t i = 0; i < word.size(); ++i)
        if (Fold(static_cast<unsigned char>(keyword[i])) != Fold(static_cast<unsigned char>(word[i])))
            return false;
    return true;
}

} // namespace

int LookupKeyword(std::string_view word, std::span<const std::string_view> keywords,
                  bool allowAbbreviation)
{
    int remembered = 0;
    int index = 0;
    for (std::string_view keyword : keywords) {
        if (keyword.empty())
            break;
        ++index;
        if (!StartsWithNoCase(keyword, word))
            continue;
        if (keyword.size() == word.size())
            return index;
        if (allowAbbreviation) {
            if (remembered != 0)
                return -1;
            remembered = index;
        }
    }
    return remembered;
}
