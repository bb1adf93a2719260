#include "session/FileExtents.h"
#include "session/HostCommand.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

constexpr std::int64_t kMB = 1 << 20;
const std::int64_t kDefaultRoom = (4 + 28 * 977) * 2048; // 56,033,280 bytes

} // namespace

TEST(FileExtents, bigFilesGetRoomForAboutFourThirdsOfTheirSizeNeverLessThanTheDefaults)
{
    EXPECT_EQ(ExtentsCapacity(FileExtents{}), kDefaultRoom);
    struct Row {
        std::int64_t size;
        std::optional<FileExtents> extents;
    } rows[] = {
        {0, std::nullopt},
        {kDefaultRoom, std::nullopt},                         // the defaults hold it exactly
        {kDefaultRoom + 1, FileExtents{38, 38, 978}},
        {60 * kMB, FileExtents{42, 42, 978}},
        {4096 * kMB, FileExtents{2860, 2860, 978}},
        {std::int64_t(1) << 50, FileExtents{65535, 65535, 978}}, // the largest extents the host takes
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.size);
        EXPECT_EQ(ExtentsForSize(row.size), row.extents);
        if (!row.extents || row.extents->Primary == 65535)
            continue;
        EXPECT_NEAR(double(row.size) / double(ExtentsCapacity(*row.extents)), 0.75, 0.02);
    }
}

TEST(FileExtents, onlyNewBigBinaryFilesWithoutExtentsGetThemInTheirName)
{
    const std::int64_t big = 60 * kMB;
    struct Row {
        const char *name;
        std::int64_t size;
        TransferMode mode;
        bool append;
        const char *sent;
    } rows[] = {
        {"BIGOBJ,100", big, TransferMode::Binary, false, "BIGOBJ,100,42,42,978"},
        {"BIGDATA", big, TransferMode::Binary, false, "BIGDATA,0,42,42,978"},   // TYPE I's own code
        {"BIGDATA,", big, TransferMode::Binary, false, "BIGDATA,0,42,42,978"},
        {"MYOBJ,100,64,64,978", big, TransferMode::Binary, false, "MYOBJ,100,64,64,978"},
        {"MYOBJ,100,64", big, TransferMode::Binary, false, "MYOBJ,100,64"},
        {"SMALL,100", kDefaultRoom, TransferMode::Binary, false, "SMALL,100"},
        {"BIGTEXT", big, TransferMode::Ascii, false, "BIGTEXT"},
        {"BIGOBJ,100", big, TransferMode::Binary, true, "BIGOBJ,100"},           // APPE keeps the file's extents
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(HostNameWithExtents(row.name, row.size, row.mode, row.append), row.sent);
    }
}

TEST(FileExtents, fileFullOfTheHostIsExplainedAndNothingElse)
{
    const std::string explained = "The file is larger than its extents allow (error 45)";
    EXPECT_EQ(ExtentsErrorText("452 Write error on $DATA01.ZDEMO.BIG: File Full (error 45)."), explained);
    EXPECT_EQ(ExtentsErrorText("451 FILE FULL (ERROR 45)"), explained);
    EXPECT_EQ(ExtentsErrorText("550 File in use (error 12)"), "");
    EXPECT_EQ(ExtentsErrorText("451 error 450 on write"), "");
    EXPECT_EQ(ExtentsErrorText("451 error 145"), "");
}

TEST(HostCommand, oneLineGoesAsTypedButTheLoginStaysWithTheConnectDialog)
{
    struct Row {
        const char *typed;
        const char *sent;       // empty: refused
        const char *refusal;
    } rows[] = {
        {"SITE HELP", "SITE HELP", ""},
        {"  site help  ", "site help", ""},
        {"QUOTE OSS", "OSS", ""},                       // the command-line clients' word is dropped
        {"quote  guardian", "guardian", ""},
        {"QUOTED", "QUOTED", ""},
        {"", "", "No command to send"},
        {"quote", "", "No command to send"},
        {"NOOP\r\nDELE X", "", "A command is one line"},
        {"PASS secret", "", "PASS is not sent from here: the login belongs to File > Connect"},
        {"user dev.mgr", "", "USER is not sent from here: the login belongs to File > Connect"},
        {"QUOTE PASS x", "", "PASS is not sent from here: the login belongs to File > Connect"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.typed);
        std::string refusal = "stale";
        EXPECT_EQ(HostCommandLine(row.typed, refusal), row.sent);
        EXPECT_EQ(refusal, row.refusal);
    }
}
