#include "session/Zarvelutil.h"

#include <cstdint>

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

void ScramblePassword(std::string_view key, std::string_view text, std::string &result)
{
    if (text.empty())
        return;
    // The running value grows by one per scrambled byte, so it needs more than 32 bits only
    // for texts beyond 2 GiB; 64 bits keep it exact for any text.
    std::int64_t k = static_cast<std::int64_t>(key.size());
    for (char b : key)
        k ^= static_cast<unsigned char>(b);
    if (k == 0)
        k = static_cast<std::int64_t>(text.size()) + 1;

    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == k) {
            out.push_back(ch);
        } else {
            out.push_back(static_cast<char>(c ^ static_cast<unsigned char>(k & 0xFF)));
            ++k;
        }
    }
    result = std::move(out);
}
