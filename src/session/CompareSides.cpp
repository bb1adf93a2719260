#include "session/CompareSides.h"

#include <QDateTime>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

std::int64_t THostClock::ToEpoch(const ListingTime &time)
{
    constexpr std::int64_t kEpochJulianDay = 2440588;
    const std::int64_t days = QDate(time.Year, time.Month, time.Day).toJulianDay() - kEpochJulianDay;
    const std::int64_t wall = days * 86400 + time.Hour * 3600 + time.Minute * 60 + time.Second;
    return wall - ZoneOffset(time, wall / 3600) - std::int64_t(offsetMinutes_) * 60;
}

std::int64_t THostClock::ZoneOffset(const ListingTime &time, std::int64_t wallHour)
{
    const auto known = zoneOffsets_.find(wallHour);
    if (known != zoneOffsets_.end())
        return known->second;
    const QDateTime local(QDate(time.Year, time.Month, time.Day), QTime(time.Hour, 0), Qt::LocalTime);
    return zoneOffsets_[wallHour] = local.offsetFromUtc();
}

HostFile HostFileFromLine(std::string_view line, THostClock &clock)
{
    HostFile file;
    file.Name = ListingLineName(line);
    file.Code = ListingLineFileCode(line);
    file.Size = ListingLineSize(line);
    if (const auto time = ListingLineTime(line))
        file.Modified = clock.ToEpoch(*time);
    return file;
}

bool ReadPcFolder(const std::string &folder, std::vector<PcFile> &files, std::string &error)
{
    // One readdir and one fstatat per file: a folder of ten thousand files is read in a blink.
    const std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(folder.c_str()), &::closedir);
    if (!dir) {
        error = folder + ": " + std::strerror(errno);
        return false;
    }
    files.clear();
    while (const dirent *entry = ::readdir(dir.get())) {
        if (entry->d_name[0] == '.')
            continue;
        struct stat status {};
        if (::fstatat(::dirfd(dir.get()), entry->d_name, &status, 0) != 0 || !S_ISREG(status.st_mode))
            continue;
        files.push_back({entry->d_name, std::int64_t(status.st_size), std::int64_t(status.st_mtim.tv_sec)});
    }
    std::sort(files.begin(), files.end(), [](const PcFile &a, const PcFile &b) { return a.Name < b.Name; });
    return true;
}

bool SetPcFileTime(const std::string &path, std::int64_t epochSeconds, std::string &error)
{
    const timespec times[2] = {{0, UTIME_OMIT}, {time_t(epochSeconds), 0}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0)
        return true;
    error = "Cannot set the time of " + path + ": " + std::strerror(errno);
    return false;
}
