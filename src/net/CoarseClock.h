// The monotonic clock at the scheduler tick's resolution (a few milliseconds). Reading it
// costs a fifth of the precise clock, which counts when it is read for every 1514-byte block
// of a transfer; deadlines in seconds and repaint throttles need no finer.
#pragma once

#include <chrono>
#include <ctime>

struct TCoarseClock {
    using duration = std::chrono::nanoseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<TCoarseClock>;
    static constexpr bool is_steady = true;

    static time_point now() noexcept
    {
        timespec Now{};
        ::clock_gettime(CLOCK_MONOTONIC_COARSE, &Now);
        return time_point(std::chrono::seconds(Now.tv_sec) + std::chrono::nanoseconds(Now.tv_nsec));
    }
};
