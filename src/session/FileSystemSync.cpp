#include "session/FileSystemSync.h"

#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

// ext2/3/4, XFS and btrfs: syncfs writes out every dirty file, commits the journal or log
// with them, and flushes the disk.
constexpr long Ext4Magic = 0xEF53;
constexpr long XfsMagic = 0x58465342;
constexpr long BtrfsMagic = 0x9123683E;

qint64 SystemDirtyBytes()
{
    std::ifstream file("/proc/meminfo");
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return FileSystemSync::DirtyBytes(text);
}

} // namespace

namespace FileSystemSync {

bool Suits(std::size_t Files, long FsType, qint64 DirtyBytes)
{
    const bool known = FsType == Ext4Magic || FsType == XfsMagic || FsType == BtrfsMagic;
    return Files >= 2 && known && DirtyBytes >= 0 && DirtyBytes <= MaxDirtyBytes;
}

qint64 DirtyBytes(const std::string &MemInfo)
{
    std::istringstream lines(MemInfo);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("Dirty:", 0) != 0)
            continue;
        std::istringstream fields(line.substr(6));
        long long kib = -1;
        std::string unit;
        if (fields >> kib >> unit && kib >= 0 && unit == "kB")
            return qint64(kib) * 1024;
        return -1;
    }
    return -1;
}

bool SyncGroup(int Handle, std::size_t Files)
{
    struct statfs fs {};
    // A single file asks nothing of the system: Suits would refuse it anyway.
    if (Files < 2 || ::fstatfs(Handle, &fs) != 0)
        return false;
    return Suits(Files, long(fs.f_type), SystemDirtyBytes()) && ::syncfs(Handle) == 0;
}

} // namespace FileSystemSync
