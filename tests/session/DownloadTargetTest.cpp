// The temporary file a download is written to: it lives beside the PC name, vanishes unless
// committed, and a commit replaces the old file whole, keeping its permissions.
#include "session/DownloadTarget.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace {

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

TEST_F(DownloadTargetTest, uncommittedTargetLeavesExistingFileAndNoTemporary)
{
    Write("PROG.C", "precious");
    {
        TDownloadTarget target("PROG.C");
        std::string error;
        ASSERT_TRUE(target.Create(error)) << error;
        EXPECT_EQ(target.TemporaryName().front(), '.') << "hidden from the PC list";
        EXPECT_NE(target.TemporaryName().find("PROG.C"), std::string::npos) << "recognisable if left over";
        EXPECT_EQ(Entries().size(), 2);
        Write(target.TemporaryName().c_str(), "half a down");
    }
    EXPECT_EQ(Read("PROG.C"), "precious");
    EXPECT_EQ(Entries(), QStringList{"PROG.C"});
}

TEST_F(DownloadTargetTest, commitReplacesOldFileWholeAndKeepsItsPermissions)
{
    Write("MYOBJ,100", "old contents that are longer");
    ::chmod("MYOBJ,100", 0640);
    TDownloadTarget target("MYOBJ,100");
    std::string error;
    ASSERT_TRUE(target.Create(error)) << error;
    Write(target.TemporaryName().c_str(), "new");
    ASSERT_TRUE(target.Commit(error)) << error;
    EXPECT_EQ(Read("MYOBJ,100"), "new");
    struct stat status {};
    ASSERT_EQ(::stat("MYOBJ,100", &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
    EXPECT_EQ(Entries(), QStringList{"MYOBJ,100"});
}

TEST_F(DownloadTargetTest, newFileGetsTheUsualPermissionsNotTemporaryOnes)
{
    const mode_t mask = ::umask(022);
    TDownloadTarget target("NEW");
    std::string error;
    ASSERT_TRUE(target.Create(error)) << error;
    ASSERT_TRUE(target.Commit(error)) << error;
    ::umask(mask);
    struct stat status {};
    ASSERT_EQ(::stat("NEW", &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644u);
}

TEST_F(DownloadTargetTest, commitOntoAFolderFailsWithTheSystemsReason)
{
    ASSERT_TRUE(QDir().mkdir("SUB"));
    TDownloadTarget target("SUB");
    std::string error;
    ASSERT_TRUE(target.Create(error)) << error;
    EXPECT_FALSE(target.Commit(error));
    EXPECT_EQ(error.rfind("Unable to save SUB: ", 0), 0u) << error;
}

TEST_F(DownloadTargetTest, folderThatTakesNoFileIsReportedBeforeAnyTransfer)
{
    QDir::setCurrent("/proc");
    TDownloadTarget target("X");
    std::string error;
    EXPECT_FALSE(target.Create(error));
    EXPECT_EQ(error.rfind("Unable to create a file for X in this folder", 0), 0u) << error;
}

} // namespace
