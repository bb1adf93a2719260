#include "session/MarkerFiles.h"

#include "session/LogSink.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::optional<std::string> MarkerPath(int direction, const MarkerOptions &options)
{
    if (direction < 0 && options.TouchDown)
        return options.TouchFileBase + ".down";
    if (direction > 0 && options.TouchUp)
        return options.TouchFileBase + ".up";
    return std::nullopt;
}

std::tm MarkerStamp(const std::tm &localTime)
{
    std::tm stamp = localTime;
    const int year = stamp.tm_year + 1900;
    if (year < 1980) {
        stamp = std::tm{};
        stamp.tm_year = 1980 - 1900;
        stamp.tm_mday = 1;
    } else if (year > 2107) {
        stamp = std::tm{};
        stamp.tm_year = 2107 - 1900;
        stamp.tm_mon = 11;
        stamp.tm_mday = 31;
        stamp.tm_hour = 23;
        stamp.tm_min = 59;
        stamp.tm_sec = 58;
    } else {
        stamp.tm_sec = 2 * std::min((std::clamp(stamp.tm_sec, 0, 60) + 1) / 2, 29);
    }
    stamp.tm_isdst = -1; // let the time zone decide, as a local wall-clock time must
    return stamp;
}

bool TouchMarkerFile(const std::string &path, const std::tm &localStamp, LogSink &log)
{
    auto fail = [&](int error) {
        log.Log(1, "Error touching " + path + ": " + std::strerror(error));
        return false;
    };

    // O_NONBLOCK: a FIFO at the marker's path must not hang the window until a reader comes.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0)
        return fail(errno);

    std::tm local = localStamp;
    local.tm_isdst = -1;
    errno = 0;
    const std::time_t when = std::mktime(&local);
    int error = 0;
    if (when == static_cast<std::time_t>(-1) && errno != 0) {
        error = errno;
    } else {
        const timespec times[2] = {{0, UTIME_OMIT}, {when, 0}};
        if (::futimens(fd, times) != 0)
            error = errno;
    }
    ::close(fd);
    return error == 0 || fail(error);
}

void TouchHwm(int direction, const MarkerOptions &options, LogSink &log)
{
    const std::optional<std::string> path = MarkerPath(direction, options);
    if (!path)
        return;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    TouchMarkerFile(*path, MarkerStamp(local), log);
}
