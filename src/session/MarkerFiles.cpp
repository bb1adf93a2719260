#include "session/MarkerFiles.h"

#include "session/LogSink.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::optional<std::string> MarkerPath(int direction, const GeneralSettings &settings)
{
    if (direction < 0 && settings.TouchDown)
        return settings.TouchFileBase + ".down";
    if (direction > 0 && settings.TouchUp)
        return settings.TouchFileBase + ".up";
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
        // Rounding stays inside the minute, so a known daylight-saving flag stays right and
        // keeps the repeated hour of an autumn change apart.
        stamp.tm_sec = 2 * std::min((std::clamp(stamp.tm_sec, 0, 60) + 1) / 2, 29);
        return stamp;
    }
    stamp.tm_isdst = -1;
    return stamp;
}

bool TouchMarkerFile(const std::string &path, const std::tm &localStamp, LogSink &log)
{
    auto fail = [&](int error) {
        log.Log(1, "Error touching " + path + ": " + std::strerror(error));
        return false;
    };

    // O_NONBLOCK: a FIFO at the marker's path must not hang the window until a reader comes.
    // O_NOFOLLOW: markers often sit in shared folders, where a link planted at the name would
    // make us create or touch another of the user's files.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW, 0666);
    if (fd < 0 && errno == ELOOP) {
        log.Log(0, "Not touching " + path + ": it is a symbolic link");
        return false;
    }
    if (fd < 0)
        return fail(errno);

    std::tm local = localStamp;
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

void TouchHwm(int direction, const GeneralSettings &settings, LogSink &log)
{
    const std::optional<std::string> path = MarkerPath(direction, settings);
    if (!path)
        return;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    TouchMarkerFile(*path, MarkerStamp(local), log);
}
