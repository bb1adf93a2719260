#include "session/TransferProgress.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

qint64 ProgressPercent(qint64 count, qint64 total)
{
    if (total <= 0)
        return 100;
    // count * 100 could overflow near the top of the range: whole totals and the remainder apart.
    const qint64 whole = count / total;
    const qint64 rest = count % total;
    const qint64 restPercent = rest <= std::numeric_limits<qint64>::max() / 100
                                   ? rest * 100 / total
                                   : static_cast<qint64>(static_cast<long double>(rest) * 100 / total);
    if (whole > (std::numeric_limits<qint64>::max() - restPercent) / 100)
        return std::numeric_limits<qint64>::max();
    return whole * 100 + restPercent;
}

std::string ProgressStatusText(qint64 count, double bytesPerMs)
{
    char rate[64];
    const auto end = std::to_chars(rate, rate + sizeof rate, bytesPerMs, std::chars_format::fixed, 2).ptr;
    return std::to_string(count) + " (" + std::string(rate, end) + " kbps)";
}

std::string RemainingTimeText(qint64 bytes, double bytesPerMs)
{
    if (bytesPerMs <= 0)
        return {};
    const double ms = static_cast<double>(std::max<qint64>(bytes, 0)) / bytesPerMs;
    const qint64 seconds = static_cast<qint64>(std::min(std::ceil(ms / 1000), 1e12));
    char text[64];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    return text;
}

std::string BatchProgressText(int fileNumber, int fileCount, qint64 done, qint64 total, double bytesPerMs)
{
    std::string text = "File " + std::to_string(fileNumber) + " of " + std::to_string(fileCount) + ", " +
                       std::to_string(done) + " of " + std::to_string(total) + " bytes";
    const std::string remaining = RemainingTimeText(total - done, bytesPerMs);
    if (!remaining.empty())
        text += ", " + remaining + " remaining";
    return text;
}

void TProgressMeter::StartFile(Clock::time_point now)
{
    sampleStart_ = now;
    sampleCount_ = 0;
    lastShown_ = Clock::time_point{};
    dirty_ = false;
}

bool TProgressMeter::Sample(qint64 count, Clock::time_point now)
{
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    const qint64 elapsed = duration_cast<milliseconds>(now - sampleStart_).count();
    if (elapsed > 1000) {
        sampleStart_ = now;
        rate_ = static_cast<double>(count - sampleCount_) / static_cast<double>(elapsed);
        sampleCount_ = count;
    }
    dirty_ = true;
    return now - lastShown_ >= RepaintInterval;
}

void TProgressReporter::StartBatch(int fileCount, qint64 totalBytes)
{
    meter_.ResetRate();
    fileCount_ = fileCount;
    fileNumber_ = 0;
    totalBytes_ = totalBytes;
    doneBytes_ = 0;
    fileSize_ = 0;
}

void TProgressReporter::NextFile(qint64 size)
{
    doneBytes_ += fileSize_;
    fileSize_ = std::max<qint64>(size, 0);
    ++fileNumber_;
    count_ = 0;
    ShowBatch();
}

void TProgressReporter::OtherFileTaken()
{
    ++fileNumber_;
    ShowBatch();
}

void TProgressReporter::OtherFileDone(qint64 size)
{
    doneBytes_ += std::max<qint64>(size, 0);
    ShowBatch();
}

void TProgressReporter::ShowBatch()
{
    if (fileCount_ <= 0)
        return;
    // A file that grew since it was listed cannot push the batch past its own total.
    const qint64 done = std::min(doneBytes_ + std::min(count_, fileSize_), totalBytes_);
    view_.ShowBatchProgress(BatchProgressText(fileNumber_, fileCount_, done, totalBytes_, meter_.Rate()));
}

void TProgressReporter::StartFile()
{
    meter_.StartFile(TProgressMeter::Clock::now());
    count_ = 0;
}

void TProgressReporter::Report(qint64 count)
{
    count_ = count;
    const auto now = TProgressMeter::Clock::now();
    if (meter_.Sample(count, now))
        Show(now);
}

void TProgressReporter::Flush()
{
    if (meter_.HasUnshownCount())
        Show(TProgressMeter::Clock::now());
}

void TProgressReporter::Show(TProgressMeter::Clock::time_point now)
{
    meter_.MarkShown(now);
    view_.ShowProgress(count_, ProgressStatusText(count_, meter_.Rate()));
    ShowBatch();
}
