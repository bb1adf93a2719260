// The batch a program did not finish is offered at the next connection to the same site: Yes
// goes to its folder and subvolume and moves only the files left; No forgets it.
#include "session/RememberedBatch.h"
#include "ui/MainWindowFixture.h"

#include <QDir>
#include <QFile>

namespace {

class UnfinishedBatchWindowTest : public MainWindowFixture {
protected:
    // What a program killed after the first of three downloads leaves, in another PC folder.
    void LeaveKilledDownload(const QString &folder)
    {
        std::vector<std::string> lines;
        for (const std::string &line : RemoteLinesOf({"PROGC", "MYOBJ", "CUSTDATA"}))
            lines.push_back(line);
        TBatchMemory memory(form->BatchMemoryPath());
        memory.Start({server->Host(), server->PortText(), server->User(), kHome, folder.toStdString(), true, lines});
        memory.Done(0);
    }
    std::vector<std::string> RemoteLinesOf(const QStringList &names) const
    {
        std::vector<std::string> lines;
        for (const QString &name : names)
            for (const QString &line : RemoteLines())
                if (line.section(' ', 0, 0) == name)
                    lines.push_back(line.toStdString());
        return lines;
    }
};

TEST_F(UnfinishedBatchWindowTest, killedBatchIsOfferedAtTheNextConnectionAndFinishedWithoutItsDoneFiles)
{
    ASSERT_TRUE(Connect());
    const QString folder = pcDir.filePath("build");
    ASSERT_TRUE(QDir().mkpath(folder));
    LeaveKilledDownload(folder);
    DestroyWindow();
    CreateWindow();
    messages.answers.push_back(QString("yes"));

    ASSERT_TRUE(Connect());

    EXPECT_TRUE(messages.shown.contains("confirm: Zarvel | 2 files of the last download were not transferred: Finish now?"))
        << messages.shown.join("\n").toStdString();
    EXPECT_EQ(QDir::currentPath(), folder);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), (QStringList{"CUSTDATA,0", "MYOBJ,100"}));
    const QString serverLog = QString::fromStdString(server->Log());
    EXPECT_TRUE(serverLog.contains("ZDEMO/MYOBJ completed=1")) << serverLog.toStdString();
    EXPECT_FALSE(serverLog.contains("ZDEMO/PROGC completed")) << "done before";
    EXPECT_FALSE(QFile::exists(QString::fromStdString(form->BatchMemoryPath()))) << "nothing left to offer";
}

TEST_F(UnfinishedBatchWindowTest, noForgetsTheBatch)
{
    ASSERT_TRUE(Connect());
    LeaveKilledDownload(pcDir.path());
    DestroyWindow();
    CreateWindow();
    messages.answers.push_back(std::nullopt);

    ASSERT_TRUE(Connect());

    EXPECT_TRUE(QDir(pcDir.path()).entryList(QDir::Files).isEmpty());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(form->BatchMemoryPath())));
}

} // namespace
