#include "session/KeywordLookup.h"

#include <gtest/gtest.h>
#include <array>
#include <string>
#include <vector>

namespace {

constexpr std::array<std::string_view, 10> kProgramKeywords = {
    "HostName", "UserID", "Password", "ProxyName", "InitialSubvol", "HostPort",
    "AutoConnect", "TouchDown", "TouchUp", ""};

struct LookupRow {
    const char *word;
    bool abbreviate;
    int expected;
};

TEST(LookupKeyword, programKeywordsAbbreviateOnlyWhenUnique)
{
    const LookupRow rows[] = {
        // Ambiguous prefixes.
        {"host", true, -1}, {"p", true, -1}, {"touch", true, -1}, {"HOST", true, -1},
        // Shortest unique prefixes.
        {"hostn", true, 1}, {"pa", true, 3}, {"pr", true, 4}, {"touchu", true, 9},
        {"a", true, 7}, {"u", true, 2}, {"i", true, 5}, {"hostP", true, 6},
        // Whole words in any case.
        {"HOSTPORT", true, 6}, {"touchdown", true, 8}, {"TouchUp", false, 9},
        // No match: longer than every keyword it starts like, or unrelated.
        {"Hostx", true, 0}, {"hostnamex", true, 0}, {"x", true, 0}, {"AutoConnect1", true, 0},
        // Without abbreviations a prefix is no match, ambiguous or not.
        {"hostn", false, 0}, {"host", false, 0}, {"a", false, 0},
    };
    for (const LookupRow &row : rows) {
        SCOPED_TRACE(std::string(row.word) + (row.abbreviate ? " (abbreviated)" : " (whole)"));
        EXPECT_EQ(LookupKeyword(row.word, kProgramKeywords, row.abbreviate), row.expected);
    }
}

TEST(LookupKeyword, exactMatchWinsOverEarlierPrefixAndListEndsAtEmptyEntry)
{
    const std::vector<std::string_view> prefixFirst = {"ab", "a", ""};
    EXPECT_EQ(LookupKeyword("A", prefixFirst, true), 2);
    const std::vector<std::string_view> withTail = {"x", "", "y"};
    EXPECT_EQ(LookupKeyword("y", withTail, true), 0);
    // A list may also simply end without the empty entry.
    const std::vector<std::string_view> unterminated = {"one", "two"};
    EXPECT_EQ(LookupKeyword("tw", unterminated, true), 2);
}

} // namespace
