// Listing-line accessors and the file-code filter of the remote list.
#include "session/ListingLine.h"
#include "session/TandemFilter.h"
#include "QuotedText.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

// --- Listing lines ----------------------------------------------------------------------

struct LineRow {
    std::string line;
    std::string name;
    std::int32_t fileCode;
    std::int64_t size;
    std::int64_t time = -1; // the sort key of the modification time
};

void PrintTo(const LineRow &row, std::ostream *out)
{
    *out << Quoted(row.line);
}

class ListingLineTest : public testing::TestWithParam<LineRow> {};

TEST_P(ListingLineTest, nameCodeSizeAndTime)
{
    const LineRow &row = GetParam();
    EXPECT_EQ(ListingLineName(row.line), row.name) << row.line;
    EXPECT_EQ(ListingLineFileCode(row.line), row.fileCode) << row.line;
    EXPECT_EQ(ListingLineSize(row.line), row.size) << row.line;
    EXPECT_EQ(ListingLineTimeKey(row.line), row.time) << row.line;
}

INSTANTIATE_TEST_SUITE_P(ServerOutput, ListingLineTest, testing::Values(
    LineRow{"File         Code             EOF  Last Modification    Owner  RWEP", "File", 0, 0},
    LineRow{"ALV           101             2522 27-Aug-02 13:57:10 155,106 \"nnnn\"", "ALV", 101, 2522, 20020827135710},
    LineRow{"IARPTS        101            16354 18-Mar-08 15:09:12 244, 10 \"nnnn\"", "IARPTS", 101, 16354, 20080318150912},
    LineRow{"MYOBJ         100            20480 01-Feb-24 08:00:00 255,255 \"oooo\"", "MYOBJ", 100, 20480, 20240201080000},
    LineRow{"BIGDATA       180       3000000000 01-Feb-24 08:00:00 255,255 \"oooo\"", "BIGDATA", 180, 3000000000LL, 20240201080000},
    LineRow{"EMPTY           0                0 01-Feb-24 08:00:00 255,255 \"oooo\"", "EMPTY", 0, 0, 20240201080000},
    // Captured from tools/guardian-ftpd: unpadded days, owners with blanks, a closing summary.
    LineRow{"CUSTFILE      180              720 10-Apr-24 18:12:42 155,106 \"nnnn\"", "CUSTFILE", 180, 720, 20240410181242},
    LineRow{"LOG09         180              144 13-May-24 17:44:57 100,  1 \"AOAO\"", "LOG09", 180, 144, 20240513174457},
    LineRow{"MYOBJ         100            20480 7-Dec-26 20:45:19 244, 10 \"nnnn\"", "MYOBJ", 100, 20480, 20261207204519},
    LineRow{"PROG          700            12288 4-Apr-24 12:25:39 255,255 \"OOOO\"", "PROG", 700, 12288, 20240404122539},
    LineRow{"PROGE         800            16384 8-Apr-24 06:47:53 100,  1 \"AOAO\"", "PROGE", 800, 16384, 20240408064753},
    LineRow{"DATA            0                3 7-Dec-26 20:45:19 244, 10 \"nnnn\"", "DATA", 0, 3, 20261207204519},
    LineRow{"Total of 48 file(s), 66089 byte(s)", "Total", 0, 0}));

// A real host marks a file that is open with an "O" between name and code: the size is the
// number after the code, never the third field, which is then the code.
INSTANTIATE_TEST_SUITE_P(OpenFiles, ListingLineTest, testing::Values(
    LineRow{"EMSACSTM      101             146  18-Sep-00 09:03:37 170,175 \"nunu\"", "EMSACSTM", 101, 146, 20000918090337},
    LineRow{"TACLCSTM   O  101             101  4-Mar-01  23:50:06 255,255 \"oooo\"", "TACLCSTM", 101, 101, 20010304235006},
    LineRow{"ZZLOG      O  180          8388608 4-Mar-01 23:50:06 255,255 \"oooo\"", "ZZLOG", 180, 8388608, 20010304235006},
    LineRow{"ZZLOG      O    0                0 4-Mar-01 23:50:06 255,255 \"oooo\"", "ZZLOG", 0, 0, 20010304235006}));

INSTANTIATE_TEST_SUITE_P(OddLines, ListingLineTest, testing::Values(
    LineRow{"", "", 0, 0},
    LineRow{"ALV", "", 0, 0},                               // no blank: no name
    LineRow{"ALV 101", "ALV", 0, 0},                        // 13 characters or fewer: no code
    LineRow{"ABCDEFGHIJKLM", "", 0, 0},
    LineRow{"ABCDEFGHIJKLM7", "", 7, 0},                    // the 14th character is read
    LineRow{"ALV          \t-42 9", "ALV", -42, 9},         // atol skips the tab; a tab is no field separator
    LineRow{"X             ABC 12 more", "X", 0, 0},        // no code: no size after it
    LineRow{"X             101 12abc", "X", 101, 12},       // digits stop at the first non-digit
    LineRow{"LONGFILENAMEX1234 5 6", "LONGFILENAMEX1234", 1234, 5},
    LineRow{"X             101 99999999999999999999 t", "X", 101, INT64_MAX},     // saturates
    LineRow{"X             99999999999 1", "X", INT32_MAX, 1},                    // codes are 32-bit
    // Times from the last century, and dates or times that are not of the server's form.
    LineRow{"OLD           101 5 31-Dec-99 23:59:59 1,1 \"nnnn\"", "OLD", 101, 5, 19991231235959},
    LineRow{"X             101 5 18-Mar-2008 15:09:12 1,1", "X", 101, 5},
    LineRow{"X             101 5 18-Mrz-08 15:09:12 1,1", "X", 101, 5},
    LineRow{"X             101 5 18-Mar-08 15:09 1,1", "X", 101, 5},
    LineRow{"X             101 5 18-Mar-08 15:x9:12 1,1", "X", 101, 5},
    LineRow{"X             101 5 -Mar-08 15:09:12", "X", 101, 5}));

// The accessors must stop at the end of the line even when more bytes follow in memory.
TEST(ListingLineBounds, neverReadPastTheLine)
{
    const std::string buffer = "ALV          101  2522 27-Aug-02";
    EXPECT_EQ(ListingLineFileCode(std::string_view(buffer).substr(0, 13)), 0);
    EXPECT_EQ(ListingLineFileCode(std::string_view(buffer).substr(0, 14)), 1);
    EXPECT_EQ(ListingLineSize(std::string_view(buffer).substr(0, 18)), 0);
    EXPECT_EQ(ListingLineSize(std::string_view(buffer).substr(0, 20)), 25);
    EXPECT_EQ(ListingLineName(std::string_view(buffer).substr(0, 3)), "");
}

// --- Filter definitions -------------------------------------------------------------------

struct DefinitionRow {
    const char *definition;
    bool accepted;
    std::vector<TandemFilter> entries;
};

void PrintTo(const DefinitionRow &row, std::ostream *out)
{
    *out << Quoted(row.definition);
}

class FilterDefinitionTest : public testing::TestWithParam<DefinitionRow> {};

TEST_P(FilterDefinitionTest, parsedInDefinitionOrder)
{
    const DefinitionRow &row = GetParam();
    const std::vector<TandemFilter> before = {{"untouched", "1"}};
    std::vector<TandemFilter> entries = before;
    ASSERT_EQ(ParseTandemFilterDefinition(row.definition, entries), row.accepted) << row.definition;
    EXPECT_EQ(entries, row.accepted ? row.entries : before) << row.definition;
}

INSTANTIATE_TEST_SUITE_P(Table, FilterDefinitionTest, testing::Values(
    DefinitionRow{"All files||Edit files (Filecode 101)|101|Object Files (Filecodes 100/700)|100;700", true,
                  {{"All files", ""}, {"Edit files (Filecode 101)", "101"}, {"Object Files (Filecodes 100/700)", "100;700"}}},
    DefinitionRow{"All files|", true, {{"All files", ""}}},
    DefinitionRow{"All files", true, {{"All files", ""}}},
    DefinitionRow{"Edit files|101|Last one", true, {{"Edit files", "101"}, {"Last one", ""}}},
    DefinitionRow{"All files|||Edit files|101", true, {{"All files", ""}}},      // empty label ends
    DefinitionRow{"Edit files|101||Other files|700", true, {{"Edit files", "101"}}},
    DefinitionRow{"|Edit files|101", true, {}},
    DefinitionRow{"Odd mix|101,,700", true, {{"Odd mix", "101,,700"}}},
    DefinitionRow{"", false, {}},
    DefinitionRow{"All||Edit|101", false, {}},                                    // no blank anywhere
    DefinitionRow{"Edit|101", false, {}}));

TEST(TandemFilterListTest, refusedDefinitionKeepsTheOneInForce)
{
    TandemFilterList list;
    ASSERT_TRUE(list.SetTandemFilter("Edit files|101|Object files|100;700"));
    ASSERT_FALSE(list.SetTandemFilter("All||Edit|101"));
    ASSERT_FALSE(list.SetTandemFilter(""));
    EXPECT_EQ(list.Definition(), "Edit files|101|Object files|100;700");
    ASSERT_EQ(list.Entries().size(), 2u);
    EXPECT_EQ(list.Entries()[1].Codes, "100;700");
}

TEST(TandemFilterListTest, sortedBoxStillYieldsTheCodesOfItsLabel)
{
    TandemFilterList list;
    ASSERT_TRUE(list.SetTandemFilter("zeta files|700|Alpha files|101|beta files|100"));
    const std::vector<std::size_t> order = list.DisplayOrder();
    ASSERT_EQ(order, (std::vector<std::size_t>{1, 2, 0}));
    EXPECT_EQ(list.Entries()[order[0]].Codes, "101");
}

TEST(TandemFilterListTest, linesShownByTheSelectedEntry)
{
    TandemFilterList list;
    ASSERT_TRUE(list.SetTandemFilter(
        "All files||Edit files (Filecode 101)|101|Object Files (Filecodes 100/700)|100;700"));
    const std::string edit = "ALV           101             2522 27-Aug-02 13:57:10 155,106 \"nnnn\"";
    const std::string object = "MYOBJ         700            20480 01-Feb-24 08:00:00 255,255 \"oooo\"";
    const std::string summary = "Total of 48 file(s), 66089 byte(s)";
    EXPECT_TRUE(list.Shows(0, edit));
    EXPECT_TRUE(list.Shows(0, summary));   // "All files" shows every line
    EXPECT_TRUE(list.Shows(1, edit));
    EXPECT_FALSE(list.Shows(1, object));
    EXPECT_FALSE(list.Shows(2, edit));
    EXPECT_TRUE(list.Shows(2, object));
    EXPECT_TRUE(list.Shows(3, object));    // no entry selected: every line

    TandemFilterList empty;                // a refused definition at start-up
    EXPECT_TRUE(empty.Shows(0, object));
}

// --- Code matching -------------------------------------------------------------------------

struct MatchRow {
    const char *codes;
    std::int32_t fileCode;
    bool matches;
};

void PrintTo(const MatchRow &row, std::ostream *out)
{
    *out << Quoted(row.codes) << " against " << row.fileCode;
}

class FileCodeMatchTest : public testing::TestWithParam<MatchRow> {};

TEST_P(FileCodeMatchTest, strtolWalk)
{
    const MatchRow &row = GetParam();
    EXPECT_EQ(FileCodeMatches(row.codes, row.fileCode), row.matches)
        << '"' << row.codes << "\" against " << row.fileCode;
}

INSTANTIATE_TEST_SUITE_P(Table, FileCodeMatchTest, testing::Values(
    MatchRow{"", 12345, true},
    MatchRow{"101", 101, true},
    MatchRow{"101", 1010, false},          // whole numbers, not prefixes
    MatchRow{"101", 10, false},
    MatchRow{"100;700", 700, true},
    MatchRow{"100;700", 100, true},
    MatchRow{"100;700", 101, false},
    MatchRow{"100;700", 0, false},
    MatchRow{"101,,700", 101, true},
    MatchRow{"101,,700", 700, true},
    MatchRow{"101,,700", 0, true},         // the empty place reads 0
    MatchRow{"101,,700", 7, false},
    MatchRow{";;", 0, true},               // separators only match 0
    MatchRow{";;", 1, false},
    MatchRow{"101;", 0, false},            // a trailing separator is stepped over, nothing read after
    MatchRow{"abc", 0, true},
    MatchRow{" 101", 101, true},           // strtol skips white space
    MatchRow{"+101", 101, true},
    MatchRow{"-5;7", -5, true},
    MatchRow{"100 700", 700, true}));

} // namespace
