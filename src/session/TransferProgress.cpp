#include "session/TransferProgress.h"

#include <charconv>
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
}
