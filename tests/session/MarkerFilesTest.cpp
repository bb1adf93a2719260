// High-water marker files: which marker, the two-second stamp, and what touching does to
// the file system.
#include "session/LogSink.h"
#include "session/MarkerFiles.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

struct RecordingLog : LogSink {
    std::vector<std::pair<int, std::string>> lines;
    void Log(int level, const std::string &text) override { lines.emplace_back(level, text); }
};

GeneralSettings Markers(std::string base, bool down, bool up)
{
    GeneralSettings settings;
    settings.TouchFileBase = std::move(base);
    settings.TouchDown = down;
    settings.TouchUp = up;
    return settings;
}

std::tm LocalTime(int year, int month, int day, int hour, int minute, int second)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return t;
}

std::tm LocalModificationTime(const std::string &path)
{
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    std::tm local{};
    ::localtime_r(&status.st_mtim.tv_sec, &local);
    return local;
}

std::string Contents(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool Exists(const std::string &path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

// --- Which marker ------------------------------------------------------------------------

TEST(MarkerPathTest, directionAndSwitchChooseTheMarker)
{
    const GeneralSettings both = Markers(".zarvel.xfer", true, true);
    EXPECT_EQ(MarkerPath(-1, both), ".zarvel.xfer.down");
    EXPECT_EQ(MarkerPath(-7, both), ".zarvel.xfer.down");
    EXPECT_EQ(MarkerPath(1, both), ".zarvel.xfer.up");
    EXPECT_EQ(MarkerPath(0, both), std::nullopt);

    const GeneralSettings downOnly = Markers("/tmp/m", true, false);
    EXPECT_EQ(MarkerPath(-1, downOnly), "/tmp/m.down");
    EXPECT_EQ(MarkerPath(1, downOnly), std::nullopt);

    const GeneralSettings none = Markers("m", false, false);
    EXPECT_EQ(MarkerPath(-1, none), std::nullopt);
    EXPECT_EQ(MarkerPath(1, none), std::nullopt);

    EXPECT_EQ(MarkerPath(1, Markers("", false, true)), ".up");
}

// --- The two-second stamp ------------------------------------------------------------------

struct StampRow {
    int second;
    int stampedSecond;
};

void PrintTo(const StampRow &row, std::ostream *out)
{
    *out << ":" << row.second;
}

class MarkerStampTest : public testing::TestWithParam<StampRow> {};

TEST_P(MarkerStampTest, roundsToTwoSecondsWithinTheMinute)
{
    const StampRow &row = GetParam();
    const std::tm stamp = MarkerStamp(LocalTime(2026, 1, 15, 10, 0, row.second));
    EXPECT_EQ(stamp.tm_sec, row.stampedSecond) << ":" << row.second;
    EXPECT_EQ(stamp.tm_min, 0);
    EXPECT_EQ(stamp.tm_hour, 10);
    EXPECT_EQ(stamp.tm_mday, 15);
}

INSTANTIATE_TEST_SUITE_P(Table, MarkerStampTest, testing::Values(
    StampRow{0, 0}, StampRow{1, 2}, StampRow{2, 2}, StampRow{3, 4},
    StampRow{30, 30}, StampRow{57, 58}, StampRow{58, 58}, StampRow{59, 58}, StampRow{60, 58}));

TEST(MarkerStampTest, yearsOutsideTheDosRangeGoToItsEnds)
{
    const std::tm early = MarkerStamp(LocalTime(1975, 6, 1, 12, 30, 31));
    EXPECT_EQ(early.tm_year + 1900, 1980);
    EXPECT_EQ(early.tm_mon, 0);
    EXPECT_EQ(early.tm_mday, 1);
    EXPECT_EQ(early.tm_hour, 0);
    const std::tm late = MarkerStamp(LocalTime(2200, 6, 1, 12, 30, 31));
    EXPECT_EQ(late.tm_year + 1900, 2107);
    EXPECT_EQ(late.tm_mon, 11);
    EXPECT_EQ(late.tm_sec, 58);
}

// --- Touching --------------------------------------------------------------------------------

class TouchTest : public testing::Test {
protected:
    QTemporaryDir dir;
    RecordingLog log;
    std::string PathOf(const char *name) const { return dir.filePath(name).toStdString(); }
};

TEST_F(TouchTest, newMarkerIsEmptyAndCarriesTheRoundedStamp)
{
    ASSERT_TRUE(dir.isValid());
    for (const StampRow row : {StampRow{0, 0}, StampRow{1, 2}, StampRow{59, 58}}) {
        const std::string path = PathOf(("m" + std::to_string(row.second)).c_str());
        ASSERT_TRUE(TouchMarkerFile(path, MarkerStamp(LocalTime(2025, 1, 20, 10, 0, row.second)), log));
        const std::tm written = LocalModificationTime(path);
        EXPECT_EQ(written.tm_hour, 10) << path;
        EXPECT_EQ(written.tm_min, 0) << path;
        EXPECT_EQ(written.tm_sec, row.stampedSecond) << path;
        EXPECT_EQ(written.tm_mday, 20) << path;
        EXPECT_EQ(Contents(path), "") << path;
    }
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(TouchTest, existingMarkerKeepsContentsAndAccessTime)
{
    const std::string path = PathOf("x.down");
    { std::ofstream(path, std::ios::binary) << "build 42\n"; }
    const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);

    ASSERT_TRUE(TouchMarkerFile(path, MarkerStamp(LocalTime(2025, 7, 4, 18, 30, 11)), log));

    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_atim.tv_sec, 1000000000);  // before reading: relatime would move it
    EXPECT_EQ(Contents(path), "build 42\n");
    const std::tm written = LocalModificationTime(path);
    EXPECT_EQ(written.tm_hour, 18);
    EXPECT_EQ(written.tm_min, 30);
    EXPECT_EQ(written.tm_sec, 12);
}

TEST_F(TouchTest, missingFolderLogsTheSystemErrorText)
{
    const std::string path = PathOf("no-such-folder/base.up");
    EXPECT_FALSE(TouchMarkerFile(path, MarkerStamp(LocalTime(2025, 1, 1, 0, 0, 0)), log));
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].first, 1);
    EXPECT_EQ(log.lines[0].second, "Error touching " + path + ": " + std::strerror(ENOENT));
    EXPECT_FALSE(Exists(PathOf("no-such-folder")));
}

TEST_F(TouchTest, fifoAtTheMarkerPathFailsInsteadOfHanging)
{
    const std::string path = PathOf("pipe.down");
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_FALSE(TouchMarkerFile(path, MarkerStamp(LocalTime(2025, 1, 1, 0, 0, 0)), log));
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].second.rfind("Error touching " + path + ": ", 0), 0u) << log.lines[0].second;
}

TEST_F(TouchTest, linkAtTheMarkerPathIsNeverFollowed)
{
    // Planted in a shared folder: neither a missing nor an existing target may be made or touched.
    const std::string victim = PathOf("victim"), absent = PathOf("absent");
    { std::ofstream(victim, std::ios::binary) << "keep"; }
    const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, victim.c_str(), old, 0), 0);
    ASSERT_EQ(::symlink(victim.c_str(), PathOf("x.down").c_str()), 0);
    ASSERT_EQ(::symlink(absent.c_str(), PathOf("x.up").c_str()), 0);

    EXPECT_FALSE(TouchMarkerFile(PathOf("x.down"), MarkerStamp(LocalTime(2025, 1, 1, 0, 0, 0)), log));
    EXPECT_FALSE(TouchMarkerFile(PathOf("x.up"), MarkerStamp(LocalTime(2025, 1, 1, 0, 0, 0)), log));

    struct stat status {};
    ASSERT_EQ(::stat(victim.c_str(), &status), 0);
    EXPECT_EQ(status.st_mtim.tv_sec, 1000000000);
    EXPECT_FALSE(Exists(absent));
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0], std::make_pair(0, "Not touching " + PathOf("x.down") + ": it is a symbolic link"));
}

TEST_F(TouchTest, repeatedAutumnHourKeepsItsDaylightSavingFlag)
{
    // 02:30 happens twice when clocks go back; the stamp of each must stay an hour apart.
    const char *previous = std::getenv("TZ");
    const std::string saved = previous ? previous : "";
    ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    ::tzset();
    std::tm summer = LocalTime(2025, 10, 26, 2, 30, 1);
    summer.tm_isdst = 1;
    std::tm winter = summer;
    winter.tm_isdst = 0;
    const bool touched = TouchMarkerFile(PathOf("summer"), MarkerStamp(summer), log) &&
                         TouchMarkerFile(PathOf("winter"), MarkerStamp(winter), log);
    if (previous)
        ::setenv("TZ", saved.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();

    ASSERT_TRUE(touched);
    struct stat first {}, second {};
    ASSERT_EQ(::stat(PathOf("summer").c_str(), &first), 0);
    ASSERT_EQ(::stat(PathOf("winter").c_str(), &second), 0);
    EXPECT_EQ(second.st_mtim.tv_sec - first.st_mtim.tv_sec, 3600);
    EXPECT_EQ(first.st_mtim.tv_sec % 60, 2);
}

TEST_F(TouchTest, touchHwmUsesTheCurrentFolderAndTheClock)
{
    char previous[4096];
    ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(::chdir(dir.path().toLocal8Bit().constData()), 0);

    const std::time_t before = std::time(nullptr);
    TouchHwm(-1, Markers("", true, false), log);  // an empty base names ".down" here
    TouchHwm(1, Markers("", true, false), log);   // upload marker switched off
    TouchHwm(0, Markers("", true, true), log);
    const std::time_t after = std::time(nullptr);
    const bool downExists = Exists(".down");
    const bool upExists = Exists(".up");
    struct stat status {};
    const int statResult = ::stat(".down", &status);
    ASSERT_EQ(::chdir(previous), 0);

    EXPECT_TRUE(downExists);
    EXPECT_FALSE(upExists);
    ASSERT_EQ(statResult, 0);
    EXPECT_EQ(status.st_mtim.tv_sec % 2, 0);  // two-second resolution (whole-hour time zones)
    EXPECT_GE(status.st_mtim.tv_sec, before - 1);
    EXPECT_LE(status.st_mtim.tv_sec, after + 2);
    EXPECT_TRUE(log.lines.empty());
}

} // namespace
