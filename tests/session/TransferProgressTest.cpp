// The progress dialog's arithmetic and the reporter's throttle: the percentage and the rate
// stay exact for 64-bit sizes, the rate moves at most once a second, and the dialog is
// repainted rarely while the last count it shows is always the true one.
#include "session/TransferProgress.h"

#include <gtest/gtest.h>
#include <tuple>

#include <clocale>
#include <limits>
#include <vector>

namespace {

using Clock = TProgressMeter::Clock;
using std::chrono::milliseconds;

struct PercentRow {
    qint64 count, total, expected;
};

class ProgressPercentTest : public testing::TestWithParam<PercentRow> {};

TEST_P(ProgressPercentTest, exactFor64BitSizes)
{
    const PercentRow &row = GetParam();
    EXPECT_EQ(ProgressPercent(row.count, row.total), row.expected) << row.count << " of " << row.total;
}

constexpr qint64 kGiB = qint64(1) << 30;
constexpr qint64 kMax = std::numeric_limits<qint64>::max();

INSTANTIATE_TEST_SUITE_P(Table, ProgressPercentTest, testing::Values(
    PercentRow{0, 0, 100},                    // empty file: full from the start
    PercentRow{0, -5, 100},                   // size column without digits read as negative
    PercentRow{15000000, 30000000, 50},
    PercentRow{1, 3, 33},                     // truncated, not rounded
    PercentRow{2 * kGiB, 3 * kGiB, 66},       // over 2 GiB: would go negative in 32 bits
    PercentRow{3 * kGiB, 3 * kGiB, 100},
    PercentRow{150, 100, 150},                // more than announced
    PercentRow{kMax, kMax, 100},              // count * 100 would overflow
    PercentRow{kMax - 1, kMax, 99},
    PercentRow{kMax, 1, kMax}));              // saturates instead of wrapping

TEST(ProgressStatusTextTest, countAndRateWithTwoDecimalsWhateverTheLocale)
{
    EXPECT_EQ(ProgressStatusText(17920, 12.345678), "17920 (12.35 kbps)");
    EXPECT_EQ(ProgressStatusText(0, 0), "0 (0.00 kbps)");
    EXPECT_EQ(ProgressStatusText(3 * kGiB, 700000.5), "3221225472 (700000.50 kbps)");
    // A locale with a decimal comma, where the machine has one, must not change the text.
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr) {
        EXPECT_EQ(ProgressStatusText(1, 1.5), "1 (1.50 kbps)");
        std::setlocale(LC_NUMERIC, "C");
    }
}

TEST(ProgressMeterTest, rateChangesOnlyAfterMoreThanASecond)
{
    TProgressMeter meter;
    const Clock::time_point t0 = Clock::now();
    meter.StartFile(t0);
    meter.Sample(5000, t0 + milliseconds(500));
    EXPECT_EQ(meter.Rate(), 0) << "no sample in the first second";
    meter.Sample(10000, t0 + milliseconds(1000));
    EXPECT_EQ(meter.Rate(), 0) << "exactly one second is not more than one";
    meter.Sample(20000, t0 + milliseconds(2000));
    EXPECT_DOUBLE_EQ(meter.Rate(), 10.0); // 20000 bytes in 2000 ms
    meter.Sample(21000, t0 + milliseconds(2500));
    EXPECT_DOUBLE_EQ(meter.Rate(), 10.0) << "kept between samples";
    meter.Sample(40000, t0 + milliseconds(4000));
    EXPECT_DOUBLE_EQ(meter.Rate(), 10.0); // 20000 more bytes in 2000 ms

    // The next file starts counting from 0; its first second shows the previous file's rate.
    meter.StartFile(t0 + milliseconds(5000));
    meter.Sample(100, t0 + milliseconds(5100));
    EXPECT_DOUBLE_EQ(meter.Rate(), 10.0);
    meter.ResetRate();
    EXPECT_EQ(meter.Rate(), 0) << "a new batch starts at 0.00";
}

TEST(ProgressMeterTest, repaintsAtTheFirstEventThenAtMostEveryInterval)
{
    TProgressMeter meter;
    const Clock::time_point t0 = Clock::now();
    meter.StartFile(t0);
    ASSERT_TRUE(meter.Sample(2048, t0));
    meter.MarkShown(t0);
    EXPECT_FALSE(meter.Sample(4096, t0 + milliseconds(1)));
    EXPECT_TRUE(meter.HasUnshownCount());
    EXPECT_FALSE(meter.Sample(6144, t0 + TProgressMeter::RepaintInterval - milliseconds(1)));
    EXPECT_TRUE(meter.Sample(8192, t0 + TProgressMeter::RepaintInterval));
    meter.MarkShown(t0 + TProgressMeter::RepaintInterval);
    EXPECT_FALSE(meter.HasUnshownCount());
    meter.StartFile(t0 + milliseconds(41));
    EXPECT_TRUE(meter.Sample(1, t0 + milliseconds(42))) << "a new file is shown at once";
}

struct RecordingView : TransferProgressView {
    std::vector<std::pair<qint64, std::string>> shown;
    void SetFileInfo(const std::string &, qint64) override {}
    void ShowProgress(qint64 count, const std::string &text) override { shown.emplace_back(count, text); }
    bool IsShown() const override { return true; }
    void ShowDialog() override {}
    void HideDialog() override {}
    void ShowBatchProgress(const std::string &text) override { batch.push_back(text); }
    std::vector<std::string> batch;
};

TEST(ProgressReporterTest, manyEventsFewRepaintsAndTheLastCountIsShownExactly)
{
    RecordingView view;
    TProgressReporter reporter(view);
    reporter.StartBatch();
    reporter.StartFile();
    constexpr int kEvents = 200000; // about 400 MB of 2 KiB chunks, as fast as they come
    for (int i = 1; i <= kEvents; ++i)
        reporter.Report(qint64(i) * 2048);
    reporter.Flush();
    ASSERT_FALSE(view.shown.empty());
    EXPECT_LT(view.shown.size(), std::size_t(kEvents / 100)) << "throttle let too many repaints through";
    EXPECT_EQ(view.shown.front().first, 2048) << "the first event is shown at once";
    EXPECT_EQ(view.shown.back().first, qint64(kEvents) * 2048);
    EXPECT_EQ(view.shown.back().second.rfind(std::to_string(qint64(kEvents) * 2048) + " (", 0), 0u);

    const std::size_t before = view.shown.size();
    reporter.Flush();
    EXPECT_EQ(view.shown.size(), before) << "nothing new to show";
}

TEST(ProgressReporterTest, batchLineCountsFilesAndListedBytesAndEstimatesTheRest)
{
    const std::tuple<qint64, double, const char *> remaining[] = {
        {1000, 0, ""},                 // no rate yet: no estimate
        {1000, -1, ""},
        {0, 1, "0:00"},
        {1, 1000, "0:01"},             // rounded up: never "0:00" while bytes remain
        {65000, 1, "1:05"},
        {3600000, 1, "1:00:00"},
        {7387000, 1, "2:03:07"},
        {qint64(1) << 62, 1e-9, "277777777:46:40"}, // held at a trillion seconds
    };
    for (const auto &[bytes, rate, text] : remaining) {
        SCOPED_TRACE(bytes);
        EXPECT_EQ(RemainingTimeText(bytes, rate), text);
    }
    EXPECT_EQ(BatchProgressText(2, 5, 1024, 4096, 0), "File 2 of 5, 1024 of 4096 bytes");
    EXPECT_EQ(BatchProgressText(2, 5, 1024, 4096, 1.5), "File 2 of 5, 1024 of 4096 bytes, 0:03 remaining");

    RecordingView view;
    TProgressReporter reporter(view);
    reporter.StartBatch(3, 300);
    reporter.NextFile(100);
    reporter.StartFile();
    reporter.Report(40);
    reporter.Report(500);  // grew since it was listed: the batch keeps to its own total
    reporter.Flush();
    reporter.NextFile(-1); // no size listed
    reporter.NextFile(200);
    EXPECT_EQ(view.batch, (std::vector<std::string>{"File 1 of 3, 0 of 300 bytes", "File 1 of 3, 40 of 300 bytes",
                                                   "File 1 of 3, 100 of 300 bytes", "File 2 of 3, 100 of 300 bytes",
                                                   "File 3 of 3, 100 of 300 bytes"}));
}

} // namespace
