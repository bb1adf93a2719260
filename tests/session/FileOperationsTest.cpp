// File operations on both sides: what each walk asks, sends, counts, logs and sounds, told
// as one transcript of everything the operation did to the window, the host and the user.
#include "session/FileOperationsView.h"
#include "session/HostFileOperations.h"
#include "session/HostFiles.h"
#include "session/LogSink.h"
#include "session/PCFileOperations.h"
#include "session/SessionViews.h"
#include "session/UserPrompt.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using Transcript = std::vector<std::string>;

// The window, the user and the host in one: every call lands in the transcript.
class ScriptedSession : public TRemoteView, public THostSessionView, public TLocalView,
                        public TPCFolderView, public TMessageBoxes, public TSounds,
                        public TUserPrompt, public TConfirmation, public LogSink, public THostFiles {
public:
    Transcript said;
    std::vector<std::string> tandemLines;                   // selected remote lines
    std::vector<std::string> pcNames;                       // selected PC names
    std::string highlightedFolder;
    bool connected = true;
    int logLevel = 0;
    std::deque<std::optional<std::string>> answers;         // nullopt: Cancel
    std::map<std::string, std::string> refusals;            // host name -> error text
    std::string dropsOn;                                    // the request that loses the session
    bool confirmDelete = false;                             // the ConfirmDelete setting
    std::string subvol = "$DATA01.ZDEMO";                   // the subvolume box's text

    TFileOperationViews Views()
    {
        return {this, this, this, this, this, this, this, this, this, confirmDelete};
    }

    std::vector<std::string> SelectedLines() const override { return tandemLines; }
    bool IsConnected() const override { return connected; }
    bool ListTandemFiles() override { said.push_back("list"); return connected; }
    int LogLevel() const override { return logLevel; }
    void ClearLog() override { said.push_back("clear log"); }

    std::vector<std::string> SelectedNames() const override { return pcNames; }
    void RefreshFiles() override { said.push_back("refresh files"); }
    std::string HighlightedFolder() const override { return highlightedFolder; }
    void RefreshFolders() override { said.push_back("refresh folders"); }
    bool EnterFolder(const std::string &path) override
    {
        said.push_back("enter " + path);
        return true;
    }

    void ErrorDialog(const std::string &text) override { said.push_back("box: " + text); }
    void ExclamationSound() override { said.push_back("sound"); }
    void Log(int level, const std::string &text) override
    {
        said.push_back("log" + std::to_string(level) + ": " + text);
    }

    // Nothing else of the window may be touched by a file operation.
    void ClearFiles() override { said.push_back("unexpected ClearFiles"); }
    void AddFile(const std::string &) override { said.push_back("unexpected AddFile"); }
    std::string SubvolText() const override { return subvol; }
    void SetSubvolText(const std::string &) override { said.push_back("unexpected SetSubvolText"); }
    void AddSubvolHistory(const std::string &) override { said.push_back("unexpected AddSubvolHistory"); }
    void SetFilterItems(const std::vector<FilterItem> &) override { said.push_back("unexpected SetFilterItems"); }
    int SelectedFilterIndex() const override { return -1; }
    std::string CurrentFolder() const override { return QDir::currentPath().toStdString(); }
    void SetFilterPC(const std::string &) override { said.push_back("unexpected SetFilterPC"); }
    void Simple(const std::string &text) override { said.push_back("unexpected simple box: " + text); }
    void DefaultSound() override { said.push_back("unexpected default sound"); }

    bool PromptUser(const std::string &caption, const std::string &prompt, std::string *value) override
    {
        said.push_back("ask " + caption + " | " + prompt + (value ? " | " + *value : ""));
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question: " << prompt;
            return false;
        }
        std::optional<std::string> answer = answers.front();
        answers.pop_front();
        if (answer && value)
            *value = *answer;
        return answer.has_value();
    }

    // Answered from `answers` as well: any text is Yes, nullopt No.
    bool AskYesNo(const std::string &caption, const std::string &text) override
    {
        std::string *none = nullptr;
        return PromptUser(caption, text, none);
    }

    bool Dele(const std::string &name) override { return Request("DELE " + name, name); }
    bool Ren(const std::string &from, const std::string &to) override
    {
        return Request("RNFR " + from + " RNTO " + to, from);
    }
    std::string ErrorMessage() const override { return error; }

private:
    std::string error;

    bool Request(const std::string &command, const std::string &name)
    {
        said.push_back(command);
        if (name == dropsOn) {
            connected = false;
            error = "Connection closed by the host";
            return false;
        }
        const auto refused = refusals.find(name);
        if (refused == refusals.end())
            return true;
        error = refused->second;
        return false;
    }
};

std::string Line(const std::string &name, int code = 101)
{
    std::string line = name;
    line.resize(13, ' ');
    return line + std::to_string(code) + "    1200 18-Mar-08 15:09:12 244, 10 \"nnnn\"";
}

// --- Host files -------------------------------------------------------------------------

class HostFileOperationsTest : public testing::Test {
protected:
    ScriptedSession session;
    THostFileOperations operations{session, session.Views()};
};

TEST_F(HostFileOperationsTest, refusedDeleteIsCountedLoggedAndOthersGoOn)
{
    session.tandemLines = {Line("ALPHA"), Line("BETA"), Line("GAMMA")};
    session.refusals["BETA"] = "550 File $DATA01.ZDEMO.BETA does not exist.";
    operations.DeleteSelected();
    EXPECT_EQ(session.said, (Transcript{
        "clear log", "DELE ALPHA", "DELE BETA", "log0: 550 File $DATA01.ZDEMO.BETA does not exist.",
        "DELE GAMMA", "list", "sound",
        "log1: 2 file(s) deleted successfully. Failed to delete 1 file(s)"}));
}

TEST_F(HostFileOperationsTest, deleteWithNothingSelectedLogsZeroWithoutListing)
{
    session.logLevel = 2;  // the log window is cleared only at level 0
    operations.DeleteSelected();
    EXPECT_EQ(session.said, (Transcript{"log1: 0 file(s) deleted"}));
}

TEST_F(HostFileOperationsTest, deleteWhereEveryFileFailsSoundsWithoutListing)
{
    session.tandemLines = {Line("A"), Line("B")};
    session.refusals = {{"A", "550 no A"}, {"B", "550 no B"}};
    operations.DeleteSelected();
    EXPECT_EQ(session.said, (Transcript{
        "clear log", "DELE A", "log0: 550 no A", "DELE B", "log0: 550 no B", "sound",
        "log1: 0 file(s) deleted successfully. Failed to delete 2 file(s)"}));
}

TEST_F(HostFileOperationsTest, lostSessionStopsDeleteWalkAndListsWhatWasDeleted)
{
    session.tandemLines = {Line("A"), Line("B"), Line("C")};
    session.dropsOn = "B";
    operations.DeleteSelected();
    EXPECT_EQ(session.said, (Transcript{
        "clear log", "DELE A", "DELE B", "log0: B deletion aborted: Host Disconnected", "list", "sound",
        "log1: 1 file(s) deleted successfully. Failed to delete 1 file(s)"}));
}

TEST_F(HostFileOperationsTest, deleteAsksOnceNamingCountAndFirstFilesAndNoSendsNothing)
{
    session.confirmDelete = true;
    session.tandemLines = {Line("PROGC"), Line("PROGH"), Line("BUILDIT"), Line("MYOBJ"), Line("TOOLO")};
    session.answers = {std::nullopt, "yes"};
    THostFileOperations asking(session, session.Views());
    asking.DeleteSelected();
    const std::string question =
        "ask Delete | Delete 5 files on $DATA01.ZDEMO: PROGC, PROGH, BUILDIT and 2 more?";
    EXPECT_EQ(session.said, (Transcript{question}));

    session.tandemLines.resize(1);
    asking.DeleteSelected();
    EXPECT_EQ(session.said, (Transcript{question, "ask Delete | Delete 1 file on $DATA01.ZDEMO: PROGC?",
                                        "clear log", "DELE PROGC", "list", "log1: 1 file(s) deleted"}));
}

TEST_F(HostFileOperationsTest, renameAsksEachNameCancelSkipsRefusalBoxesAndGoesOn)
{
    session.tandemLines = {Line("A"), Line("B"), Line("C"), Line("D")};
    session.answers = {"A2", std::nullopt, "TAKEN", "D"};
    session.refusals["C"] = "550 File $DATA01.ZDEMO.TAKEN already exists.";
    operations.RenameSelected();
    EXPECT_EQ(session.said, (Transcript{
        "ask Rename | Enter new name for 'A' | A", "RNFR A RNTO A2",
        "ask Rename | Enter new name for 'B' | B",
        "ask Rename | Enter new name for 'C' | C", "RNFR C RNTO TAKEN",
        "box: Zarvel Error - 550 File $DATA01.ZDEMO.TAKEN already exists.",
        // An unchanged name is sent all the same: the host decides.
        "ask Rename | Enter new name for 'D' | D", "RNFR D RNTO D",
        "list", "log1: 2 file(s) renamed"}));
}

TEST_F(HostFileOperationsTest, renameCancelledForEveryFileSendsAndLogsNothing)
{
    session.tandemLines = {Line("A"), Line("B")};
    session.answers = {std::nullopt, std::nullopt};
    operations.RenameSelected();
    EXPECT_EQ(session.said, (Transcript{"ask Rename | Enter new name for 'A' | A",
                                        "ask Rename | Enter new name for 'B' | B"}));
}

TEST_F(HostFileOperationsTest, lostSessionStopsRenameWalkWithDisconnectedBox)
{
    session.tandemLines = {Line("A"), Line("B")};
    session.answers = {"X"};
    session.dropsOn = "A";
    operations.RenameSelected();
    EXPECT_EQ(session.said, (Transcript{"ask Rename | Enter new name for 'A' | A", "RNFR A RNTO X",
                                        "box: Zarvel Error - Host disconnected"}));
}

// --- PC files ---------------------------------------------------------------------------

// Each test stands in a fresh temporary folder, as the PC lists do in the current folder.
class PCFileOperationsTest : public testing::Test {
protected:
    QTemporaryDir dir;
    QString before = QDir::currentPath();
    ScriptedSession session;
    TPCFileOperations operations{session.Views()};

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir::setCurrent(dir.path()));
    }
    void TearDown() override { QDir::setCurrent(before); }

    static void Put(const QString &name, const QByteArray &content)
    {
        QFile file(name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << name.toStdString();
        file.write(content);
    }
    static QByteArray Content(const QString &name)
    {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    std::string Path(const QString &name) const { return dir.filePath(name).toStdString(); }
};

TEST_F(PCFileOperationsTest, deleteBoxesEachFileThatStaysAndCountsOnlyDeletedOnes)
{
    Put("a.c", "a");
    Put("c.c", "c");
    ASSERT_TRUE(QDir().mkdir("d"));
    // "gone.c" was listed but removed meanwhile; "d" is a folder: neither can be deleted.
    session.pcNames = {"a.c", "gone.c", "d", "c.c"};
    operations.DeleteSelected();
    EXPECT_EQ(session.said, (Transcript{"box: Unable to delete 'gone.c'", "box: Unable to delete 'd'",
                                        "log1: 2 file(s) deleted", "refresh files"}));
    EXPECT_FALSE(QFile::exists("a.c"));
    EXPECT_FALSE(QFile::exists("c.c"));
    EXPECT_TRUE(QDir("d").exists());
}

TEST_F(PCFileOperationsTest, deleteWithoutSuccessNeitherLogsNorRereads)
{
    session.pcNames = {"gone.c"};
    operations.DeleteSelected();
    EXPECT_EQ(session.said, (Transcript{"box: Unable to delete 'gone.c'"}));
}

TEST_F(PCFileOperationsTest, deleteAsksThenMovesFilesToTheTrashOfTheDataFolder)
{
    QTemporaryDir data;
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    Put("a.c", "a");
    Put("b.c", "b");
    session.confirmDelete = true;
    session.pcNames = {"a.c", "b.c"};
    session.answers = {std::nullopt, "yes"};
    TPCFileOperations asking(session.Views());
    asking.DeleteSelected();
    asking.DeleteSelected();
    qputenv("XDG_DATA_HOME", saved);

    const std::string question = "ask Delete | Delete 2 files in " + QDir::currentPath().toStdString() +
                                 ": a.c, b.c?\n\nDeleted files go to the trash.";
    EXPECT_EQ(session.said, (Transcript{question, question, "log1: 2 file(s) deleted", "refresh files"}));
    EXPECT_FALSE(QFile::exists("a.c"));
    EXPECT_EQ(Content(data.filePath("Trash/files/a.c")), "a");
    EXPECT_EQ(Content(data.filePath("Trash/files/b.c")), "b");
}

TEST_F(PCFileOperationsTest, renameNeverReplacesAnExistingFileFolderOrLink)
{
    Put("a.c", "first");
    Put("b.c", "second");
    ASSERT_TRUE(QDir().mkdir("sub"));
    ASSERT_TRUE(QFile::link("nowhere", "dangling"));
    session.pcNames = {"a.c"};
    for (const char *taken : {"b.c", "sub", "dangling", "a.c"}) {
        session.said.clear();
        session.answers = {std::string(taken)};
        operations.RenameSelected();
        EXPECT_EQ(session.said, (Transcript{"ask Rename | Enter new name for 'a.c' | a.c"})) << taken;
    }
    EXPECT_EQ(Content("a.c"), "first");
    EXPECT_EQ(Content("b.c"), "second");
    EXPECT_FALSE(QFile::exists("nowhere"));
}

TEST_F(PCFileOperationsTest, renameMovesIntoSubfolderAndPassesOverCancelAndFailure)
{
    Put("a.c", "A");
    Put("b.c", "B");
    Put("c.c", "C");
    ASSERT_TRUE(QDir().mkdir("sub"));
    session.pcNames = {"a.c", "b.c", "c.c", "gone.c"};
    session.answers = {"sub/a.c", std::nullopt, "c.h", "new.c"};
    operations.RenameSelected();
    EXPECT_EQ(session.said, (Transcript{
        "ask Rename | Enter new name for 'a.c' | a.c", "ask Rename | Enter new name for 'b.c' | b.c",
        "ask Rename | Enter new name for 'c.c' | c.c", "ask Rename | Enter new name for 'gone.c' | gone.c",
        "refresh files", "log1: 2 file(s) renamed"}));
    EXPECT_EQ(Content("sub/a.c"), "A");
    EXPECT_EQ(Content("b.c"), "B");
    EXPECT_EQ(Content("c.h"), "C");
    EXPECT_FALSE(QFile::exists("new.c"));
}

TEST_F(PCFileOperationsTest, mkDirWithEmptyOrExistingNameOnlySounds)
{
    ASSERT_TRUE(QDir().mkdir("old"));
    const std::string question = "ask Create Directory | Create in " + QDir::currentPath().toStdString() + " | ";
    session.answers = {"", "old", "missing/deeper"};
    for (int i = 0; i < 3; ++i)
        operations.MakeFolder();
    EXPECT_EQ(session.said, (Transcript{question, "sound", question, "sound", question, "sound"}));
}

TEST_F(PCFileOperationsTest, mkDirCreatesRelativeOrFullPathAndEntersIt)
{
    session.answers = {"made", Path("full"), std::nullopt};
    for (int i = 0; i < 3; ++i)
        operations.MakeFolder();
    const std::string question = "ask Create Directory | Create in " + QDir::currentPath().toStdString() + " | ";
    EXPECT_EQ(session.said, (Transcript{question, "enter made", question, "enter " + Path("full"), question}));
    EXPECT_TRUE(QDir("made").exists());
    EXPECT_TRUE(QDir("full").exists());
}

TEST_F(PCFileOperationsTest, rmDirOfNonEmptyFolderOnlySoundsAndKeepsIt)
{
    ASSERT_TRUE(QDir().mkdir("full"));
    Put("full/keep.c", "k");
    session.highlightedFolder = Path("full");
    session.answers = {std::string()};
    operations.RemoveHighlightedFolder();
    EXPECT_EQ(session.said, (Transcript{"ask Remove Directory | Remove " + Path("full") + "?", "sound"}));
    EXPECT_EQ(Content("full/keep.c"), "k");
}

TEST_F(PCFileOperationsTest, rmDirAsksWithoutInputFieldAndCancelKeepsFolder)
{
    ASSERT_TRUE(QDir().mkdir("empty"));
    session.highlightedFolder = Path("empty");
    session.answers = {std::nullopt, std::string()};
    operations.RemoveHighlightedFolder();
    EXPECT_TRUE(QDir("empty").exists());
    operations.RemoveHighlightedFolder();
    EXPECT_FALSE(QDir("empty").exists());
    const std::string question = "ask Remove Directory | Remove " + Path("empty") + "?";
    EXPECT_EQ(session.said, (Transcript{question, question, "refresh folders"}));
}

TEST_F(PCFileOperationsTest, rmDirOfCurrentFolderStepsToParentFirstAndBackOnFailure)
{
    ASSERT_TRUE(QDir().mkdir("here"));
    ASSERT_TRUE(QDir::setCurrent("here"));
    Put("stay.c", "s");
    session.highlightedFolder = Path("here");
    session.answers = {std::string(), std::string()};
    operations.RemoveHighlightedFolder();
    EXPECT_EQ(QFileInfo(QDir::currentPath()).canonicalFilePath(),
              QFileInfo(dir.filePath("here")).canonicalFilePath()) << "a failed removal must not move";
    ASSERT_TRUE(QFile::remove("stay.c"));
    operations.RemoveHighlightedFolder();
    EXPECT_FALSE(QDir(dir.filePath("here")).exists());
    EXPECT_EQ(QFileInfo(QDir::currentPath()).canonicalFilePath(), QFileInfo(dir.path()).canonicalFilePath());
    EXPECT_EQ(session.said.back(), "refresh folders");
}

} // namespace
