// When one sync of the file system stands in for an fsync of each file of a group: only where
// it makes each as durable (the known local file systems) and only when little else waits to
// be written, so a batch never waits for another program's big copy.
#include "session/FileSystemSync.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct TSyncRow {
    const char *Name;
    std::size_t Files;
    long FsType;
    qint64 Dirty;
    bool OneSync;
};

void PrintTo(const TSyncRow &R, std::ostream *Os) { *Os << R.Name; }

constexpr long Ext4 = 0xEF53, Xfs = 0x58465342, Btrfs = 0x9123683E;
constexpr long Nfs = 0x6969, Fuse = 0x65735546, Tmpfs = 0x01021994;
constexpr qint64 Limit = FileSystemSync::MaxDirtyBytes;

} // namespace

class FileSystemSyncRule : public testing::TestWithParam<TSyncRow> {};

TEST_P(FileSystemSyncRule, oneSyncOnlyForAGroupOnAKnownFileSystemWithLittleElseToWrite)
{
    const TSyncRow &R = GetParam();
    EXPECT_EQ(FileSystemSync::Suits(R.Files, R.FsType, R.Dirty), R.OneSync);
}

INSTANTIATE_TEST_SUITE_P(Table, FileSystemSyncRule,
                         testing::Values(TSyncRow{"twoFilesOnExt4", 2, Ext4, 0, true},
                                         TSyncRow{"oneFileHasItsOwnFsync", 1, Ext4, 0, false},
                                         TSyncRow{"xfsAtTheDirtyLimit", 100, Xfs, Limit, true},
                                         TSyncRow{"btrfsJustOverIt", 100, Btrfs, Limit + 1, false},
                                         TSyncRow{"nfsSyncsNoFileOfOurs", 100, Nfs, 0, false},
                                         TSyncRow{"fuseMayKeepDataInItsDaemon", 100, Fuse, 0, false},
                                         TSyncRow{"tmpfs", 100, Tmpfs, 0, false},
                                         TSyncRow{"dirtyUnknown", 100, Ext4, -1, false}),
                         [](const testing::TestParamInfo<TSyncRow> &I) { return std::string(I.param.Name); });

TEST(FileSystemSyncDirty, readsTheDirtyLineOfMeminfoInBytes)
{
    EXPECT_EQ(FileSystemSync::DirtyBytes("MemTotal:       16318008 kB\nDirty:              48 kB\nWriteback:         0 kB\n"),
              48 * 1024);
    EXPECT_EQ(FileSystemSync::DirtyBytes("Dirty: 0 kB"), 0);
    EXPECT_EQ(FileSystemSync::DirtyBytes("MemTotal: 1 kB\nWriteback: 5 kB\n"), -1) << "no Dirty line";
    EXPECT_EQ(FileSystemSync::DirtyBytes("Dirty: lots kB\n"), -1);
    EXPECT_EQ(FileSystemSync::DirtyBytes("Dirty: 5 MB\n"), -1) << "an unknown unit";
    EXPECT_EQ(FileSystemSync::DirtyBytes("DirtyRatio: 5 kB\n"), -1) << "only the line named Dirty";
}
