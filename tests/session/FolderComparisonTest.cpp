// Comparing a PC folder with a subvolume: the listing's time, the pairing through the name
// rules in both directions, the states, the filters, the plan of each direction and the file
// codes kept beside the folder.
#include "session/FileCodeMemory.h"
#include "session/FolderComparison.h"
#include "session/ListingLine.h"
#include "session/SyncPlan.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

// --- The listing's modification time -------------------------------------------------------

struct TimeRow {
    const char *line;
    std::optional<ListingTime> expected;
};

void PrintTo(const TimeRow &row, std::ostream *out) { *out << '"' << row.line << '"'; }

class ListingTimeTest : public testing::TestWithParam<TimeRow> {};

TEST_P(ListingTimeTest, foundByItsFormWhereverItStands)
{
    EXPECT_EQ(ListingLineTime(GetParam().line), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, ListingTimeTest, testing::Values(
    TimeRow{"IARPTS        101            16354 18-Mar-08 15:09:12 244, 10 \"nnnn\"", ListingTime{2008, 3, 18, 15, 9, 12}},
    // An open file's "O" column moves every field after the name.
    TimeRow{"TACLCSTM   O  101             101  4-Mar-01  23:50:06 255,255 \"oooo\"", ListingTime{2001, 3, 4, 23, 50, 6}},
    TimeRow{"OLDFILE       101               1 31-Dec-99 00:00:00 1,1 \"nnnn\"", ListingTime{1999, 12, 31, 0, 0, 0}},
    TimeRow{"NEWFILE       101               1 1-Jan-69 23:59:59 1,1 \"nnnn\"", ListingTime{2069, 1, 1, 23, 59, 59}},
    // Lines that hold no time: a summary, a bad month, a clock out of range, a date alone.
    TimeRow{"Total of 3 file(s), 120 byte(s)", std::nullopt},
    TimeRow{"BAD           101               1 18-Foo-08 15:09:12", std::nullopt},
    TimeRow{"BAD           101               1 18-Mar-08 24:00:00", std::nullopt},
    TimeRow{"BAD           101               1 18-Mar-08", std::nullopt},
    TimeRow{"18-Mar-08 15:09:12", std::nullopt}));

// --- Pairing and states ---------------------------------------------------------------------

constexpr std::int64_t T = 1'700'000'000; // a time both sides share

struct CompareRow {
    const char *what;
    std::vector<PcFile> pc;
    std::vector<HostFile> host;
    int extensionSize;
    bool addFileCode;
    // Each row: state, PC name, host name, upload name, clash.
    std::vector<std::tuple<CompareState, std::string, std::string, std::string, bool>> expected;
};

void PrintTo(const CompareRow &row, std::ostream *out) { *out << row.what; }

class CompareTest : public testing::TestWithParam<CompareRow> {};

TEST_P(CompareTest, pairsByBothNameRulesAndMarksEachRow)
{
    const CompareRow &row = GetParam();
    CompareRules rules;
    rules.Options.DLExtensionSize = row.extensionSize;
    rules.Options.DLAddFileCode = row.addFileCode;
    const auto rows = CompareFolders(row.pc, row.host, rules);
    ASSERT_EQ(rows.size(), row.expected.size()) << row.what;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto &[state, pcName, hostName, uploadName, clash] = row.expected[i];
        EXPECT_EQ(CompareStateText(rows[i].State), std::string(CompareStateText(state))) << row.what << " row " << i;
        EXPECT_EQ(rows[i].PcName, pcName) << row.what << " row " << i;
        EXPECT_EQ(rows[i].HostName, hostName) << row.what << " row " << i;
        EXPECT_EQ(rows[i].UploadName, uploadName) << row.what << " row " << i;
        EXPECT_EQ(rows[i].Clash, clash) << row.what << " row " << i;
    }
}

using S = CompareState;

INSTANTIATE_TEST_SUITE_P(Table, CompareTest, testing::Values(
    CompareRow{"an extension made by the download rule",
               {{"PROG.C", 900, T}}, {{"PROGC", 101, 1000, T}}, 1, true,
               {{S::Same, "PROG.C", "PROGC", "PROGC,101", false}}},
    CompareRow{"an extension folded by the upload rule, letter case aside",
               {{"prog.c", 900, T}}, {{"PROGC", 101, 1000, T}}, 0, true,
               {{S::Same, "prog.c", "PROGC", "progc,101", false}}},
    CompareRow{"a binary file with its code in the PC name",
               {{"MYOBJ,100", 20, T}}, {{"MYOBJ", 100, 20, T}}, 0, true,
               {{S::Same, "MYOBJ,100", "MYOBJ", "MYOBJ,100", false}}},
    CompareRow{"a binary file without the code in its name goes back with the host's code",
               {{"MYOBJ", 20, T}}, {{"MYOBJ", 100, 20, T}}, 0, false,
               {{S::Same, "MYOBJ", "MYOBJ", "MYOBJ,100", false}}},
    CompareRow{"binary sizes count, ASCII sizes do not",
               {{"MYOBJ,100", 21, T}, {"NOTES", 5, T}}, {{"MYOBJ", 100, 20, T}, {"NOTES", 101, 9, T}}, 0, true,
               {{S::SizeDiffers, "MYOBJ,100", "MYOBJ", "MYOBJ,100", false}, {S::Same, "NOTES", "NOTES", "NOTES,101", false}}},
    CompareRow{"newer by more than the slack on either side; within it the same",
               {{"A", 1, T + 60}, {"B", 1, T - 60}, {"C", 1, T + 1}}, {{"A", 101, 1, T}, {"B", 101, 1, T}, {"C", 101, 1, T}}, 0, true,
               {{S::NewerPc, "A", "A", "A,101", false}, {S::NewerHost, "B", "B", "B,101", false}, {S::Same, "C", "C", "C,101", false}}},
    CompareRow{"one-sided files: host rows first, then the PC's",
               {{"LOCAL.TXT", 1, T}}, {{"REMOTE", 0, 4, T}}, 0, true,
               {{S::OnlyHost, "REMOTE,0", "REMOTE", "", false}, {S::OnlyPc, "LOCAL.TXT", "LOCALTXT", "LOCALTXT", false}}},
    CompareRow{"two PC names for one host file: the download's name pairs, the other clashes",
               {{"PROG.C", 1, T}, {"PROGC", 1, T}}, {{"PROGC", 101, 1, T}}, 0, true,
               {{S::Same, "PROGC", "PROGC", "PROGC,101", false}, {S::OnlyPc, "PROG.C", "PROGC", "PROGC", true}}},
    CompareRow{"two PC-only files for one host name: the second clashes",
               {{"X.C", 1, T}, {"XC", 1, T}}, {}, 0, true,
               {{S::OnlyPc, "X.C", "XC", "XC", false}, {S::OnlyPc, "XC", "XC", "XC", true}}}));

TEST(CompareFilters, applyAfterPairingSoAHiddenPartnerMakesNoOneSidedFile)
{
    CompareRules rules;
    rules.PcFilter = [](std::string_view name) { return name.ends_with(".C") || name.ends_with(",100"); };
    rules.TandemCodes = "100;700";
    rules.Options.DLExtensionSize = 1;
    const std::vector<PcFile> pc{{"PROG.C", 1, T}, {"MYOBJ,100", 2, T}, {"README", 3, T}};
    const std::vector<HostFile> host{{"PROGC", 101, 1, T}, {"MYOBJ", 100, 2, T}};
    const auto rows = CompareFolders(pc, host, rules);
    // PROG.C passes the PC filter but its partner's code does not pass the Tandem filter:
    // the pair is left out, never shown as a file only on the PC.
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].PcName, "MYOBJ,100");
    EXPECT_EQ(rows[0].State, CompareState::Same);
}

TEST(CompareKnownCodes, aFileSeenOnTheHostBeforeGoesBackWithItsCodeAndMode)
{
    const FileCodeMap known{{"MYOBJ", 100}};
    CompareRules rules;
    rules.KnownCodes = &known;
    const auto rows = CompareFolders({{"myobj", 20, T}, {"NOTES", 3, T}}, {}, rules);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].UploadName, "myobj,100");
    EXPECT_EQ(rows[0].Mode, TransferMode::Binary);
    // Without a known code the upload rule decides: ASCII, which the host makes an edit file.
    EXPECT_EQ(rows[1].UploadName, "NOTES");
    EXPECT_EQ(rows[1].Code, 101);
}

// --- Plans ----------------------------------------------------------------------------------

struct PlanRow {
    SyncDirection direction;
    bool deletes;
    std::vector<std::string> expected; // the preview lines
};

void PrintTo(const PlanRow &row, std::ostream *out)
{
    *out << int(row.direction) << (row.deletes ? " with deletes" : "");
}

class PlanTest : public testing::TestWithParam<PlanRow> {};

TEST_P(PlanTest, eachDirectionMovesWhatItShouldAndDeletesOnlyWhenAsked)
{
    // Every state once: newer on each side, one-sided files, same, and a size that differs.
    const std::vector<PcFile> pc{{"NEWPC", 5, T + 60}, {"NEWHOST", 5, T - 60}, {"PCONLY", 7, T},
                                 {"SAME", 1, T}, {"DIFF,100", 3, T}};
    const std::vector<HostFile> host{{"NEWPC", 101, 4, T}, {"NEWHOST", 101, 6, T}, {"HOSTONLY", 100, 8, T},
                                     {"SAME", 101, 1, T}, {"DIFF", 100, 2, T}};
    const auto rows = CompareFolders(pc, host, CompareRules{});
    std::vector<std::string> lines;
    for (const SyncAction &action : PlanSync(rows, pc, host, GetParam().direction, GetParam().deletes))
        lines.push_back(SyncActionText(action));
    EXPECT_EQ(lines, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, PlanTest, testing::Values(
    PlanRow{SyncDirection::Up, false, {
        "upload   NEWPC -> NEWPC,101 (ascii, newer on the PC)",
        "upload   NEWHOST -> NEWHOST,101 (ascii, newer on the host)",
        "upload   DIFF,100 -> DIFF,100 (binary, same time, different size)",
        "upload   PCONLY -> PCONLY (ascii, only on the PC)"}},
    PlanRow{SyncDirection::Up, true, {
        "upload   NEWPC -> NEWPC,101 (ascii, newer on the PC)",
        "upload   NEWHOST -> NEWHOST,101 (ascii, newer on the host)",
        "delete   HOSTONLY on the host",
        "upload   DIFF,100 -> DIFF,100 (binary, same time, different size)",
        "upload   PCONLY -> PCONLY (ascii, only on the PC)"}},
    PlanRow{SyncDirection::Down, true, {
        "download NEWPC -> NEWPC (ascii, newer on the PC)",
        "download NEWHOST -> NEWHOST (ascii, newer on the host)",
        "download HOSTONLY -> HOSTONLY,100 (binary, only on the host)",
        "download DIFF -> DIFF,100 (binary, same time, different size)",
        "delete   PCONLY on the PC"}},
    // Both ways the newer side wins, nothing is deleted and a tie in time with another size stays.
    PlanRow{SyncDirection::Both, true, {
        "upload   NEWPC -> NEWPC,101 (ascii, newer on the PC)",
        "download NEWHOST -> NEWHOST (ascii, newer on the host)",
        "download HOSTONLY -> HOSTONLY,100 (binary, only on the host)",
        "upload   PCONLY -> PCONLY (ascii, only on the PC)"}}));

// --- File codes kept beside the folder ------------------------------------------------------

TEST(FileCodes, readBackWhatWasWrittenAndPassOverLinesThatDoNotRead)
{
    const FileCodeMap codes{{"MYOBJ", 100}, {"PROGC", 101}};
    EXPECT_EQ(FormatFileCodes(codes), "MYOBJ 100\nPROGC 101\n");
    EXPECT_EQ(ParseFileCodes(FormatFileCodes(codes)), codes);
    EXPECT_EQ(ParseFileCodes("myobj 700\n 5\nNOCODE\nBAD 12x\nLAST 0"), (FileCodeMap{{"MYOBJ", 700}, {"LAST", 0}}));
}

} // namespace
