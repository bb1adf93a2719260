// The partial file a download is written to: it lives beside the PC name, vanishes unless
// committed or kept for a resume, is the owner's alone while it fills, is never anything but
// a file of the user's own, and a commit replaces the old file whole, keeping its permissions,
// only once the file is safely on disk. Complete downloads held for a group commit reach
// their names only when the group is full or has waited long enough, each with its outcome.
#include "session/DownloadCommits.h"
#include "session/DownloadTarget.h"
#include "session/FileSystemSync.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// A finisher whose file met a write error it reports only at the end.
int FailAtClose(int handle, bool)
{
    ::close(handle);
    errno = EIO;
    return -1;
}

class DownloadTargetTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
    }
    void TearDown() override { QDir::setCurrent(previous); }

    static void Write(const char *name, const QByteArray &bytes)
    {
        QFile f(name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    static QByteArray Read(const char *name)
    {
        QFile f(name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    QStringList Entries() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden); }

    QTemporaryDir dir;
    QString previous;
};

TEST_F(DownloadTargetTest, uncommittedTargetLeavesExistingFileAndNoPartial)
{
    Write("PROG.C", "precious");
    {
        TDownloadTarget target("PROG.C");
        std::string error;
        ASSERT_TRUE(target.Open(error)) << error;
        EXPECT_EQ(target.PartialName(), ".PROG.C.zarvel-part") << "hidden, and found again from the PC name";
        EXPECT_EQ(Entries().size(), 2);
        ASSERT_EQ(::write(target.Handle(), "half a down", 11), 11);
    }
    EXPECT_EQ(Read("PROG.C"), "precious");
    EXPECT_EQ(Entries(), QStringList{"PROG.C"});
}

TEST_F(DownloadTargetTest, partialFileIsTheOwnersAloneUntilCommitGivesItTheOldFilesMode)
{
    Write("MYOBJ,100", "old contents that are longer");
    ::chmod("MYOBJ,100", 0644);
    TDownloadTarget target("MYOBJ,100");
    std::string error;
    ASSERT_TRUE(target.Open(error)) << error;
    struct stat status {};
    ASSERT_EQ(::fstat(target.Handle(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u) << "before the first byte is written";
    ASSERT_EQ(::write(target.Handle(), "new", 3), 3);
    ASSERT_TRUE(target.Commit(error)) << error;
    EXPECT_EQ(Read("MYOBJ,100"), "new");
    ASSERT_EQ(::stat("MYOBJ,100", &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644u);
    EXPECT_EQ(Entries(), QStringList{"MYOBJ,100"});
}

TEST_F(DownloadTargetTest, newFileGetsTheUsualPermissionsNotTemporaryOnes)
{
    // The program reads its umask once and never sets it: so the test does not either.
    const mode_t mask = ::umask(022);
    ::umask(mask);
    ASSERT_NE(mask & 0077, 0077u) << "a umask this strict gives the temporary mode too";
    TDownloadTarget target("NEW");
    std::string error;
    ASSERT_TRUE(target.Open(error)) << error;
    ASSERT_TRUE(target.Commit(error)) << error;
    struct stat status {};
    ASSERT_EQ(::stat("NEW", &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0666u & ~mask);
}

// The mode a replacing download takes from the old file: from a regular file of the user's
// own only, and never the bits that let others run it as the user or write it.
TEST(ReplacementModeTest, oldModeOnlyFromTheUsersOwnRegularFileAndNeverItsDangerousBits)
{
    struct Row {
        const char *what;
        mode_t type;
        unsigned owner, mode, umask, expected;
    };
    const unsigned me = 1000, other = 1001;
    const Row rows[] = {
        {"own, kept", S_IFREG, me, 0640, 022, 0640},
        {"own setuid, world-writable", S_IFREG, me, 04777, 022, 0755},
        {"own setgid, group-writable, umask allows it", S_IFREG, me, 02775, 002, 0775},
        {"own sticky", S_IFREG, me, 01666, 077, 0644},
        {"another user's", S_IFREG, other, 0600, 022, 0644},
        {"another user's setuid", S_IFREG, other, 04777, 022, 0644},
        {"a link", S_IFLNK, me, 0777, 022, 0644},
        {"a folder", S_IFDIR, me, 0700, 022, 0644},
    };
    for (const Row &row : rows) {
        struct stat old {};
        old.st_mode = row.type | row.mode;
        old.st_uid = row.owner;
        EXPECT_EQ(TDownloadTarget::ReplacementMode(&old, me, row.umask), row.expected) << row.what;
    }
    EXPECT_EQ(TDownloadTarget::ReplacementMode(nullptr, me, 027), 0640u) << "no old file";
}

// In a shared folder: another user's setuid, world-writable file, and a link to it, are
// replaced by files of the umask's mode.
TEST_F(DownloadTargetTest, replacingAnotherUsersSetuidFileOrALinkToItTakesNoneOfItsBits)
{
    Write("SHARED", "theirs");
    ASSERT_EQ(::chmod("SHARED", 04777), 0);
    if (::chown("SHARED", 65534, 65534) != 0)
        GTEST_SKIP() << "the test cannot give a file to another user";
    ASSERT_EQ(::symlink("SHARED", "LINKED"), 0);
    const mode_t mask = ::umask(022);
    ::umask(mask);
    for (const char *name : {"LINKED", "SHARED"}) {
        TDownloadTarget target(name);
        std::string error;
        ASSERT_TRUE(target.Open(error)) << error;
        ASSERT_TRUE(target.Commit(error)) << error;
        struct stat status {};
        ASSERT_EQ(::lstat(name, &status), 0);
        EXPECT_TRUE(S_ISREG(status.st_mode)) << name;
        EXPECT_EQ(status.st_uid, ::geteuid()) << name;
        EXPECT_EQ(status.st_mode & 07777, 0666u & ~mask) << name;
    }
}

// The origin beside a kept part comes back field for field, whatever bytes the names hold;
// a damaged, foreign or other user's file at its name vouches for nothing.
TEST_F(DownloadTargetTest, keptPartsOriginComesBackWholeAndNothingElseCountsAsOne)
{
    const TPartOrigin origin{"tandem1", "2121", "$DATA01.ZDEMO", std::string("P\n%\0R", 5), qint64(5) << 30,
                             "18-Mar-08 15:09:12"};
    {
        TDownloadTarget target("PROG");
        std::string error;
        ASSERT_TRUE(target.Open(error)) << error;
        ASSERT_EQ(::write(target.Handle(), "part", 4), 4);
        target.KeepPartial(origin);
    }
    TDownloadTarget again("PROG");
    EXPECT_EQ(again.PartOrigin(), origin);

    const std::string text = PartOriginText(origin);
    for (const std::string &damaged : {text.substr(0, text.size() - 1), text + "more\n", std::string("PROG\n"),
                                       text.substr(0, text.find("5368709120")) + "big" + text.substr(text.find("5368709120") + 10)})
        EXPECT_FALSE(ParsePartOrigin(damaged).has_value()) << damaged;

    if (::chown(".PROG.zarvel-origin", 65534, 65534) == 0) {
        EXPECT_FALSE(again.PartOrigin().has_value()) << "another user's origin file";
    }
}

TEST_F(DownloadTargetTest, commitOntoAFolderFailsWithTheSystemsReason)
{
    ASSERT_TRUE(QDir().mkdir("SUB"));
    TDownloadTarget target("SUB");
    std::string error;
    ASSERT_TRUE(target.Open(error)) << error;
    EXPECT_FALSE(target.Commit(error));
    EXPECT_EQ(error.rfind("Unable to save SUB: ", 0), 0u) << error;
    EXPECT_EQ(Entries(), QStringList{}) << "no partial file left";
}

// A write error that shows only when the file is synced or closed (NFS, quota) must not
// put a short file in place of the user's.
TEST_F(DownloadTargetTest, failureAtCloseKeepsTheOldFileAndSaysWhy)
{
    Write("LIB,700", "the good build");
    TDownloadTarget target("LIB,700", &FailAtClose);
    std::string error;
    ASSERT_TRUE(target.Open(error)) << error;
    ASSERT_EQ(::write(target.Handle(), "short", 5), 5);
    EXPECT_FALSE(target.Commit(error));
    EXPECT_EQ(error, "Unable to save LIB,700: " + std::string(std::strerror(EIO)));
    EXPECT_EQ(Read("LIB,700"), "the good build");
    EXPECT_EQ(Entries(), QStringList{"LIB,700"});
}

// A group made durable by one sync of its file system: each file is then only checked for
// the write errors that sync met and closed, and lands whole.
TEST_F(DownloadTargetTest, groupSyncedTogetherLandsWhole)
{
    std::vector<std::unique_ptr<TDownloadTarget>> group;
    for (const char *name : {"A,101", "B,101", "C,101"}) {
        group.push_back(std::make_unique<TDownloadTarget>(name));
        std::string error;
        ASSERT_TRUE(group.back()->Open(error)) << error;
        ASSERT_EQ(::write(group.back()->Handle(), name, 5), 5);
        group.back()->StartWriteback();
    }
    std::string error;
    FileSystemSync::SyncGroup(group.front()->Handle(), group.size()); // not every file system takes it
    for (auto &target : group) {
        ASSERT_TRUE(target->Settle(error, true)) << error;
        ASSERT_TRUE(target->Rename(error)) << error;
    }
    EXPECT_EQ(Read("A,101"), "A,101");
    EXPECT_EQ(Read("C,101"), "C,101");
    EXPECT_EQ(Entries(), (QStringList{"A,101", "B,101", "C,101"}));
}

TEST_F(DownloadTargetTest, keptPartialIsTakenUpByTheNextDownloadButNotByASecondAtOnce)
{
    {
        TDownloadTarget first("BIG,0");
        std::string error;
        ASSERT_TRUE(first.Open(error)) << error;
        ASSERT_EQ(::write(first.Handle(), "12345", 5), 5);
        TDownloadTarget rival("BIG,0");
        EXPECT_FALSE(rival.Open(error));
        EXPECT_EQ(error, "Unable to download BIG,0: another download is writing .BIG,0.zarvel-part");
        first.KeepPartial({});
    }
    EXPECT_EQ(Read(".BIG,0.zarvel-part"), "12345");
    TDownloadTarget next("BIG,0");
    std::string error;
    ASSERT_TRUE(next.Open(error)) << error;
    EXPECT_EQ(next.Size(), 5);
    ASSERT_TRUE(next.StartOver(error)) << error;
    EXPECT_EQ(next.Size(), 0);
}

// Another user of a shared folder plants something at the partial name before the download:
// it is refused, and nothing behind it is created, written or truncated.
TEST_F(DownloadTargetTest, anythingButAFileOfOurOwnAtThePartialNameIsRefused)
{
    struct Row {
        const char *what;
        std::function<void()> plant;
        const char *error; // how the refusal starts
    };
    const std::string victim = (dir.path() + "/victim").toStdString();
    const std::string absent = (dir.path() + "/absent").toStdString();
    const Row rows[] = {
        {"link to a file", [&] { ASSERT_EQ(::symlink(victim.c_str(), ".X.zarvel-part"), 0); },
         "Unable to create a file for X in this folder: "},
        {"dangling link", [&] { ASSERT_EQ(::symlink(absent.c_str(), ".X.zarvel-part"), 0); },
         "Unable to create a file for X in this folder: "},
        {"hard link to a file", [&] { ASSERT_EQ(::link(victim.c_str(), ".X.zarvel-part"), 0); },
         "Unable to download X: .X.zarvel-part is not a file of yours"},
        {"pipe", [] { ::mkfifo(".X.zarvel-part", 0600); }, "Unable to create a file for X in this folder: "},
        {"folder", [] { QDir().mkdir(".X.zarvel-part"); }, "Unable to create a file for X in this folder: "},
    };
    for (const Row &row : rows) {
        Write("victim", "the user's own file");
        row.plant();
        {
            TDownloadTarget target("X");
            std::string error;
            EXPECT_FALSE(target.Open(error)) << row.what;
            EXPECT_EQ(error.rfind(row.error, 0), 0u) << row.what << ": " << error;
        }
        EXPECT_EQ(Read("victim"), "the user's own file") << row.what;
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(absent))) << row.what;
        EXPECT_TRUE(QFileInfo(".X.zarvel-part").exists() || QFileInfo(".X.zarvel-part").isSymLink())
            << row.what << ": what was planted stays";
        QDir(".X.zarvel-part").removeRecursively();
        QFile::remove(".X.zarvel-part");
    }
}

TEST_F(DownloadTargetTest, folderThatTakesNoFileIsReportedBeforeAnyTransfer)
{
    QDir::setCurrent("/proc");
    TDownloadTarget target("X");
    std::string error;
    EXPECT_FALSE(target.Open(error));
    EXPECT_EQ(error.rfind("Unable to create a file for X in this folder", 0), 0u) << error;
}

// --- Commits on the worker ---------------------------------------------------------------------

class DownloadCommitsTest : public DownloadTargetTest {
protected:
    static std::unique_ptr<TDownloadTarget> Complete(const std::string &name, const std::string &bytes)
    {
        auto target = std::make_unique<TDownloadTarget>(name);
        std::string error;
        EXPECT_TRUE(target->Open(error)) << error;
        EXPECT_EQ(::write(target->Handle(), bytes.data(), bytes.size()), ssize_t(bytes.size()));
        return target;
    }
    void Record(TDownloadCommits &commits)
    {
        commits.SetOutcome([this](const std::string &name, const std::string &error) {
            outcomes.push_back(name + ":" + error);
        });
    }
    std::vector<std::string> outcomes;
};

TEST_F(DownloadCommitsTest, everyHeldFileArrivesReportedInOrderOnTheCallersThread)
{
    TDownloadCommits commits;
    const auto caller = std::this_thread::get_id();
    commits.SetOutcome([&](const std::string &name, const std::string &error) {
        EXPECT_EQ(std::this_thread::get_id(), caller) << name;
        EXPECT_TRUE(QFile::exists(dir.filePath(QString::fromStdString(name)))) << "reported before its rename";
        outcomes.push_back(name + ":" + error);
    });
    // The folder changes on the caller's thread only: no name is taken before it collects.
    commits.Hold(Complete("EARLY", "early"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(QFile::exists(dir.filePath("EARLY")));
    commits.CommitAll();
    EXPECT_EQ(outcomes, std::vector<std::string>{"EARLY:"});
    outcomes.clear();
    // More than may be held at once: the holder waits for the worker, nothing is lost.
    std::vector<std::string> expected;
    for (std::size_t i = 0; i < TDownloadCommits::MaxHeld + 5; ++i) {
        const std::string name = "F" + std::to_string(i);
        commits.Hold(Complete(name, name));
        expected.push_back(name + ":");
        commits.Collect();
    }
    commits.CommitAll();
    EXPECT_EQ(outcomes, expected);
    EXPECT_FALSE(commits.Holds("F0"));
    EXPECT_EQ(Read("F3"), "F3");
    EXPECT_EQ(Entries().filter("zarvel-part"), QStringList{});
}

TEST_F(DownloadCommitsTest, failedCommitIsReportedAndTheRestStillArriveWhenTheBatchEnds)
{
    QDir(dir.path()).mkdir("DIR");
    {
        TDownloadCommits commits;
        Record(commits);
        commits.Hold(Complete("DIR", "lost"));
        commits.Hold(Complete("KEPT", "kept"));
    } // the batch ends: what is held is committed and reported, not dropped
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[0].rfind("DIR:Unable to save DIR: ", 0), 0u) << outcomes[0];
    EXPECT_EQ(outcomes[1], "KEPT:");
    EXPECT_EQ(Read("KEPT"), "kept");
    EXPECT_EQ(Entries().filter("zarvel-part"), QStringList{}) << "the failed one's part is removed";
}

} // namespace
