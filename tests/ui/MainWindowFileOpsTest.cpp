// File operations from the main window as a user meets them: host files on the
// NonStop-style server, PC files in the temporary PC folder, answers typed into the prompt.
#include "ui/MainWindowFixture.h"
#include "ui/LocalPCGroup.h"
#include "ui/TandemGroup.h"
#include "ui/HelpWindow.h"
#include "ui/LogWindow.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

class MainWindowFileOps : public MainWindowFixture {
protected:
    bool RemoteExists(const std::string &name) const
    {
        return QFile::exists(QString::fromStdString(RemotePath(kHome, name)));
    }
    QByteArray PcContent(const QString &name) const
    {
        QFile file(PcPath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    QStringList Folders() const
    {
        QStringList names;
        const QListWidget *list = form->GroupBoxPC->DirectoryListBoxPC;
        for (int row = 0; row < list->count(); ++row)
            names << list->item(row)->text().trimmed();
        return names;
    }
    // Highlights the folder list's line of this name, as a single click does.
    void HighlightFolder(const QString &name)
    {
        QListWidget *list = form->GroupBoxPC->DirectoryListBoxPC;
        const qsizetype row = Folders().indexOf(name);
        ASSERT_GE(row, 0) << name.toStdString();
        list->setCurrentRow(int(row));
    }
};

// --- Host files -------------------------------------------------------------------------

TEST_F(MainWindowFileOps, deleteOfTwoOfThreeWithOneRefusedCountsSoundsAndRelists)
{
    DestroyWindow();
    CreateWindow("int LogLevel=0\n");
    ASSERT_TRUE(Connect());
    SelectRemote({"LOG01", "MYOBJ", "TOOLO"});
    // Purged by someone else after the listing: the host refuses its DELE.
    ASSERT_TRUE(QFile::remove(QString::fromStdString(RemotePath(kHome, "MYOBJ"))));
    messages.answers = {QString("yes")};
    Click(form->GroupBoxTandem->BtnDeleteTandem);

    EXPECT_EQ(StatusText(), "2 file(s) deleted successfully. Failed to delete 1 file(s)");
    EXPECT_EQ(sounds.played, QStringList{"exclamation"});
    // LogLevel 0: the log was cleared first and keeps only the error.
    EXPECT_EQ(LogText(), "550 File $DATA01.ZDEMO.MYOBJ does not exist.");
    EXPECT_EQ(RemoteNames(), (QStringList{"CUSTDATA", "PROGC", "PROGH"}));
    EXPECT_EQ(CountText(), "3 File(s)");
    EXPECT_FALSE(RemoteExists("LOG01"));
    EXPECT_FALSE(RemoteExists("TOOLO"));
    EXPECT_EQ(messages.shown, QStringList{"confirm: Delete | Delete 3 files on $DATA01.ZDEMO: LOG01, MYOBJ, TOOLO?"});
}

// Ctrl+A then Delete once: one question, and No (the default answer) keeps every file.
TEST_F(MainWindowFileOps, deleteKeyOn300HostFilesAsksOnceNoKeepsAllYesDeletesAll)
{
    for (int i = 0; i < 300; ++i)
        PutRemoteFile(kHome, "F" + std::to_string(i), 0, "x");
    ASSERT_TRUE(Connect());
    QListWidget *list = form->GroupBoxTandem->ListBoxTanFiles;
    ASSERT_EQ(list->count(), 306);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
    messages.answers = {std::nullopt};
    QTest::keyClick(list, Qt::Key_Delete);
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(messages.shown[0].startsWith("confirm: Delete | Delete 306 files on $DATA01.ZDEMO: "));
    EXPECT_TRUE(messages.shown[0].endsWith(" and 303 more?")) << messages.shown[0].toStdString();
    EXPECT_EQ(list->count(), 306);
    EXPECT_TRUE(RemoteExists("F299"));

    messages.answers = {QString("yes")};
    QTest::keyClick(list, Qt::Key_Delete);
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(StatusText(), "306 file(s) deleted");
    EXPECT_EQ(list->count(), 0);
    EXPECT_FALSE(RemoteExists("F0"));
}

// A PC delete goes to the desktop trash, here the trash of a private data folder.
TEST_F(MainWindowFileOps, pcDeleteMovesTheFileToTheTrashAfterTheQuestion)
{
    QTemporaryDir data;
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    PutPcFile("keep.c", "kept");
    SelectPc({"keep.c"});
    messages.answers = {QString("yes")};
    Click(form->GroupBoxPC->BtnDeletePC);
    qputenv("XDG_DATA_HOME", saved);

    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(messages.shown[0].endsWith(": keep.c?\n\nDeleted files go to the trash.")) << messages.shown[0].toStdString();
    EXPECT_FALSE(QFile::exists(PcPath("keep.c")));
    QFile trashed(data.filePath("Trash/files/keep.c"));
    ASSERT_TRUE(trashed.open(QIODevice::ReadOnly));
    EXPECT_EQ(trashed.readAll(), "kept");
    EXPECT_TRUE(QFile::exists(data.filePath("Trash/info/keep.c.trashinfo")));
}

TEST_F(MainWindowFileOps, lostConnectionStopsDeleteWalkAtTheFileItFailedOn)
{
    DestroyWindow();
    CreateWindow("int LogLevel=2\n");
    ASSERT_TRUE(Connect());
    SelectRemote({"CUSTDATA", "LOG01", "MYOBJ"});
    // The host goes down right after confirming the first delete.
    QObject::connect(windows.FormStatus->MemoStatus, &QPlainTextEdit::textChanged, form.get(), [this] {
        if (server && server->Pid() > 0 && LogText().contains("< 250 DELE"))
            server->Stop();
    });
    messages.answers = {QString("yes")};
    Click(form->GroupBoxTandem->BtnDeleteTandem);
    ASSERT_TRUE(WaitUntil([this] { return !form->Session().Connected; }));

    EXPECT_FALSE(RemoteExists("CUSTDATA"));
    EXPECT_TRUE(RemoteExists("LOG01"));
    EXPECT_TRUE(RemoteExists("MYOBJ"));
    EXPECT_TRUE(LogText().contains("LOG01 deletion aborted: Host Disconnected")) << LogText().toStdString();
    EXPECT_FALSE(LogText().contains("DELE MYOBJ")) << "the walk must stop at the lost session";
    EXPECT_TRUE(LogText().contains("1 file(s) deleted successfully. Failed to delete 1 file(s)"))
        << LogText().toStdString();
    EXPECT_EQ(sounds.played, QStringList{"exclamation"});
    EXPECT_FALSE(form->GroupBoxTandem->BtnDeleteTandem->isEnabled());
}

TEST_F(MainWindowFileOps, renameWithOkCancelAndRefusedNameShowsHostErrorAndRelists)
{
    ASSERT_TRUE(Connect());
    SelectRemote({"MYOBJ", "PROGC", "PROGH", "TOOLO"});
    messages.answers = {"NEWOBJ", std::nullopt, "TOOLO", "NEW\r\nDELE PROGC"};
    Click(form->GroupBoxTandem->BtnRenameTandem);

    ASSERT_EQ(messages.shown.size(), 6) << messages.shown.join("; ").toStdString();
    EXPECT_EQ(messages.shown[0], "prompt: Rename | Enter new name for 'MYOBJ' | MYOBJ");
    EXPECT_EQ(messages.shown[1], "prompt: Rename | Enter new name for 'PROGC' | PROGC");
    EXPECT_EQ(messages.shown[2], "prompt: Rename | Enter new name for 'PROGH' | PROGH");
    EXPECT_EQ(messages.shown[3], "error: Zarvel Error - 550 File $DATA01.ZDEMO.TOOLO already exists.");
    EXPECT_EQ(messages.shown[4], "prompt: Rename | Enter new name for 'TOOLO' | TOOLO");
    // A line break in a typed name never reaches the host as a second command.
    EXPECT_TRUE(messages.shown[5].startsWith("error: Zarvel Error - ")) << messages.shown[5].toStdString();
    EXPECT_TRUE(messages.shown[5].contains("CR or LF")) << messages.shown[5].toStdString();

    EXPECT_EQ(StatusText(), "1 file(s) renamed");
    EXPECT_EQ(RemoteNames(), (QStringList{"CUSTDATA", "LOG01", "NEWOBJ", "PROGC", "PROGH", "TOOLO"}));
    EXPECT_TRUE(RemoteExists("PROGC"));
    EXPECT_TRUE(RemoteExists("PROGH"));
    EXPECT_TRUE(RemoteExists("TOOLO"));
    EXPECT_TRUE(sounds.played.isEmpty());
}

// --- PC files ---------------------------------------------------------------------------

TEST_F(MainWindowFileOps, pcDeleteBoxesEachFileThatCannotGoAndRereadsTheList)
{
    PutPcFile("a.c", "a");
    PutPcFile("b.c", "b");
    PutPcFile("c.h", "c");
    PutPcFile("d.h", "d");
    SelectPc({"a.c", "b.c", "c.h", "d.h"});
    // Removed by another program after the list was read.
    ASSERT_TRUE(QFile::remove(PcPath("b.c")));
    ASSERT_TRUE(QFile::remove(PcPath("d.h")));
    messages.answers = {QString("yes")};
    Click(form->GroupBoxPC->BtnDeletePC);

    EXPECT_EQ(messages.shown.mid(1), (QStringList{"error: Unable to delete 'b.c'", "error: Unable to delete 'd.h'"}));
    EXPECT_EQ(StatusText(), "2 file(s) deleted");
    EXPECT_TRUE(PcNames().isEmpty()) << PcNames().join(",").toStdString();
}

TEST_F(MainWindowFileOps, pcRenameOntoTakenNameIsRefusedAndIntoSubfolderMoves)
{
    ASSERT_TRUE(QDir(pcDir.path()).mkdir("sub"));
    PutPcFile("a.c", "first");
    PutPcFile("b.c", "second");
    SelectPc({"a.c", "b.c"});
    messages.answers = {"b.c", "sub/b.c"};
    Click(form->GroupBoxPC->BtnRenamePC);

    EXPECT_EQ(messages.shown, (QStringList{"prompt: Rename | Enter new name for 'a.c' | a.c",
                                           "prompt: Rename | Enter new name for 'b.c' | b.c"}));
    EXPECT_EQ(PcContent("a.c"), "first");
    EXPECT_EQ(PcContent("sub/b.c"), "second");
    EXPECT_EQ(PcNames(), QStringList{"a.c"});
    EXPECT_EQ(StatusText(), "1 file(s) renamed");
}

TEST_F(MainWindowFileOps, mkDirEmptyOrExistingOnlySoundsAndNewOneIsEntered)
{
    ASSERT_TRUE(QDir(pcDir.path()).mkdir("old"));
    form->GroupBoxPC->RefreshFolders();
    const QString question = "prompt: Create Directory | Create in " + QDir::currentPath() + " | ";
    messages.answers = {"", "old", "new"};
    for (int i = 0; i < 3; ++i)
        Click(form->GroupBoxPC->BtnMkDirPC);

    EXPECT_EQ(messages.shown, (QStringList{question, question, question}));
    EXPECT_EQ(sounds.played, (QStringList{"exclamation", "exclamation"}));
    EXPECT_EQ(QDir::currentPath(), QDir(PcPath("new")).canonicalPath());
    EXPECT_EQ(form->GroupBoxPC->DriveComboBoxPC->currentText(), QDir::currentPath()) << "the folder box shows it";
}

TEST_F(MainWindowFileOps, rmDirOfNonEmptyFolderOnlySoundsAndEmptyOneGoes)
{
    ASSERT_TRUE(QDir(pcDir.path()).mkdir("full"));
    ASSERT_TRUE(QDir(pcDir.path()).mkdir("empty"));
    PutPcFile("full/keep.c", "k");
    form->GroupBoxPC->RefreshFolders();
    messages.answers = {"", ""};
    HighlightFolder("full");
    Click(form->GroupBoxPC->BtnRmDirPC);
    HighlightFolder("empty");
    Click(form->GroupBoxPC->BtnRmDirPC);

    EXPECT_EQ(messages.shown, (QStringList{"prompt: Remove Directory | Remove " + PcPath("full") + "?",
                                           "prompt: Remove Directory | Remove " + PcPath("empty") + "?"}));
    EXPECT_EQ(sounds.played, QStringList{"exclamation"});
    EXPECT_EQ(PcContent("full/keep.c"), "k");
    EXPECT_FALSE(QDir(PcPath("empty")).exists());
    EXPECT_FALSE(Folders().contains("empty"));
    EXPECT_TRUE(Folders().contains("full"));
}

TEST_F(MainWindowFileOps, rmDirOfTheFolderShownRemovesItAndShowsItsParent)
{
    ASSERT_TRUE(QDir(pcDir.path()).mkdir("here"));
    ASSERT_TRUE(form->GroupBoxPC->SetFolder(PcPath("here")));
    const std::string here = QDir::currentPath().toStdString();
    // The folder shown is the highlighted line until the user picks another.
    messages.answers = {""};
    Click(form->GroupBoxPC->BtnRmDirPC);

    EXPECT_EQ(messages.shown.join("\n").toStdString(), "prompt: Remove Directory | Remove " + here + "?");
    EXPECT_TRUE(sounds.played.isEmpty());
    EXPECT_FALSE(QDir(PcPath("here")).exists());
    EXPECT_EQ(QDir::currentPath(), QDir(pcDir.path()).canonicalPath());
    EXPECT_EQ(form->GroupBoxPC->DirectoryListBoxPC->currentItem()->text().trimmed(), QDir(pcDir.path()).dirName());
}

// --- Help -------------------------------------------------------------------------------

TEST_F(MainWindowFileOps, helpMenuShowsHelpWindowModallyAndDestroysItAfter)
{
    form->show();
    QString text;
    bool modal = false;
    QTimer::singleShot(0, [&] {
        auto *help = form->findChild<TFormHelp *>();
        if (!help) {
            ADD_FAILURE() << "no help window";
            return;
        }
        modal = QApplication::activeModalWidget() == help;
        text = help->Memo1->toPlainText();
        help->close();
    });
    form->HelpItem->trigger();
    EXPECT_TRUE(modal);
    EXPECT_EQ(text, TFormHelp::HelpText());
    EXPECT_EQ(form->findChild<TFormHelp *>(), nullptr);
}

} // namespace
