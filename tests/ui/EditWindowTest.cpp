// Editing host files from the main window against the NonStop-style server, with a scripted
// editor set as Editor: it saves the file once when the test says go1, and again (by writing
// a new file and renaming it over the old one, as many editors do) when it says go2. It
// ends when the test's folder goes.
#include "session/RemoteEdits.h"
#include "ui/ConfigureDialog.h"
#include "ui/EditsWindow.h"
#include "ui/MainWindowFixture.h"
#include "ui/TandemGroup.h"
#include "ui/TransferGroup.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTest>
#include <QTreeWidget>

#include <csignal>
#include <sys/stat.h>

namespace {

class EditWindowTest : public MainWindowFixture {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(runtime.isValid() && editor.isValid());
        // The private folders go under the runtime folder; never the user's own.
        savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
        WriteScript();
        MainWindowFixture::SetUp();
    }
    void TearDown() override
    {
        MainWindowFixture::TearDown();
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
    }

    void WriteScript()
    {
        QFile script(editor.filePath("edit.sh"));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\n"
                     "d=" + editor.path().toLocal8Bit() + "\n"
                     "wait_for() { n=0; while [ ! -e \"$d/$1\" ]; do\n"
                     "  [ -d \"$d\" ] || exit 0; sleep 0.05; n=$((n+1)); [ $n -gt 600 ] && exit 1; done; }\n"
                     "wait_for go1\n"
                     "cat \"$d/save1\" >> \"$1\"\n"
                     "wait_for go2\n"
                     "cp \"$d/save2\" \"$1.new\" && mv \"$1.new\" \"$1\"\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        Say("save1", "edited line\n");
        Say("save2", "second save\n");
    }
    // Puts a file in the editor's folder: go1 and go2 release its saves.
    void Say(const QString &name, const QByteArray &content = {})
    {
        QFile file(editor.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }
    bool ConnectWithEditor() { return Connect("Editor " + editor.filePath("edit.sh").toStdString()); }

    const TEditEntry *Entry(const std::string &name) const
    {
        for (const auto &[id, entry] : form->Edits().Entries())
            if (entry.HostName == name)
                return &entry;
        return nullptr;
    }
    bool WaitForState(const std::string &name, EditState state)
    {
        const bool reached = WaitUntil([&] { return Entry(name) && Entry(name)->State == state; });
        if (!reached)
            ADD_FAILURE() << name << " is "
                          << (Entry(name) ? TRemoteEdits::StateText(*Entry(name)).toStdString() : "not edited")
                          << "\nlog:\n" << LogText().toStdString() << "\nserver:\n" << server->Log();
        return reached;
    }
    QByteArray Remote(const std::string &name) const
    {
        QFile file(QString::fromStdString(RemotePath(kHome, name)));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    int RemoteCode(const std::string &name) const
    {
        QFile catalog(QString::fromStdString(RemotePath(kHome, ".catalog.json")));
        if (!catalog.open(QIODevice::ReadOnly))
            return -1;
        return QJsonDocument::fromJson(catalog.readAll()).object()[QString::fromStdString(name)].toObject()["code"].toInt(-1);
    }
    QString Shown(const std::string &name) const // the edits window's row: file, subvolume, state
    {
        const QList<QTreeWidgetItem *> rows = form->FormEdits->ListEdits->findItems(QString::fromStdString(name), Qt::MatchExactly);
        return rows.isEmpty() ? QString() : rows.front()->text(1) + " | " + rows.front()->text(2);
    }
    void LogTheDialogue() { windows.FormConfig->Settings.LogLevel = 2; }

    QTemporaryDir runtime;     // stands in for $XDG_RUNTIME_DIR
    QTemporaryDir editor;      // the scripted editor and its go files
    QByteArray savedRuntime;
};

TEST_F(EditWindowTest, editFileKeepsCode101AndEverySaveGoesBack)
{
    ASSERT_TRUE(ConnectWithEditor());
    LogTheDialogue();
    form->GroupBoxMode->DLExtensionSize->setValue(1);
    Say("go1");
    SelectRemote({"PROGC"});
    Click(form->GroupBoxTandem->BtnEditTandem);
    ASSERT_TRUE(WaitForState("PROGC", EditState::Uploaded));

    // Named as a download would name it, in a folder of the user's alone.
    const QString copy = Entry("PROGC")->PcPath;
    EXPECT_TRUE(copy.startsWith(runtime.path() + "/zarvel-edits/")) << copy.toStdString();
    EXPECT_TRUE(copy.endsWith("/PROG.C")) << copy.toStdString();
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(QFileInfo(copy).path()).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    EXPECT_TRUE(form->FormEdits->isVisible());
    EXPECT_TRUE(Shown("PROGC").startsWith("$DATA01.ZDEMO | uploaded at ")) << Shown("PROGC").toStdString();

    // The edit file went up with the wire's CR LF, its PC copy having LF.
    EXPECT_EQ(Remote("PROGC"), "contents of PROGC\r\nedited line\r\n");
    EXPECT_EQ(RemoteCode("PROGC"), 101);
    EXPECT_TRUE(LogText().contains("Edit: > TYPE A")) << LogText().toStdString();
    EXPECT_TRUE(LogText().contains(QRegularExpression("Edit: > STOR ZZED[0-9A-Z]{4},101"))) << LogText().toStdString();
    // The demo server, like some hosts, renames over no file: the original goes first, and the log says so.
    EXPECT_TRUE(LogText().contains("deleting PROGC, then renaming")) << LogText().toStdString();

    // The second save replaces the file by a rename; it goes up as well.
    Say("go2");
    ASSERT_TRUE(WaitUntil([&] { return Remote("PROGC") == "second save\r\n"; })) << LogText().toStdString();
    ASSERT_TRUE(WaitForState("PROGC", EditState::Uploaded));
    EXPECT_EQ(RemoteCode("PROGC"), 101);
    EXPECT_EQ(QDir(QString::fromStdString(RemotePath(kHome, ""))).entryList({"ZZED*"}, QDir::Files), QStringList{});

    // Ending the edit removes the copy: everything is on the host.
    form->FormEdits->ListEdits->setCurrentItem(form->FormEdits->ListEdits->topLevelItem(0));
    Click(form->FormEdits->BtnEndEditing);
    EXPECT_FALSE(QFile::exists(copy));
    EXPECT_EQ(form->FormEdits->ListEdits->topLevelItemCount(), 0);
}

TEST_F(EditWindowTest, hostChangeAsksAndNothingIsOverwrittenUntilAnswered)
{
    ASSERT_TRUE(ConnectWithEditor());
    SelectRemote({"PROGC"});
    Click(form->GroupBoxTandem->BtnEditTandem);
    ASSERT_TRUE(WaitForState("PROGC", EditState::Opened));

    PutRemoteFile(kHome, "PROGC", 101, "another user's text\n");
    messages.answers = {QString("Cancel")};
    Say("go1");
    ASSERT_TRUE(WaitUntil([&] { return messages.answers.empty() && !Entry("PROGC")->AwaitingAnswer; }));
    EXPECT_TRUE(messages.shown.last().startsWith("choose: PROGC in $DATA01.ZDEMO: changed on the host"))
        << messages.shown.join("\n").toStdString();
    EXPECT_TRUE(messages.shown.last().endsWith("| Overwrite / Save as New Name... / Cancel"));
    EXPECT_EQ(Remote("PROGC"), "another user's text\n");
    EXPECT_EQ(Shown("PROGC"), "$DATA01.ZDEMO | changed on host");

    // Exit asks while the text is not on the host; declining keeps the window.
    messages.answers = {std::nullopt};
    form->close();
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(messages.shown.last().startsWith("confirm: Zarvel | 1 edited file(s) have changes that are not on the host"))
        << messages.shown.last().toStdString();

    // The next save asks again; Overwrite sends it.
    messages.answers = {QString("Overwrite")};
    Say("go2");
    ASSERT_TRUE(WaitUntil([&] { return Remote("PROGC") == "second save\r\n"; })) << LogText().toStdString();
    ASSERT_TRUE(WaitForState("PROGC", EditState::Uploaded));
    EXPECT_EQ(RemoteCode("PROGC"), 101);
}

TEST_F(EditWindowTest, cutConnectionLeavesHostOriginalAndPcCopyWithFailureShown)
{
    ASSERT_TRUE(ConnectWithEditor());
    LogTheDialogue();
    SelectRemote({"PROGC"});
    Click(form->GroupBoxTandem->BtnEditTandem);
    ASSERT_TRUE(WaitForState("PROGC", EditState::Opened));

    // A save large enough that the upload is still running when the server dies.
    const QByteArray big = QByteArray("a line of the edited source text\n").repeated(1 << 20);
    Say("save1", big);
    Say("go1");
    ASSERT_TRUE(WaitUntil([&] { return LogText().contains("Edit: > STOR ZZED"); })) << LogText().toStdString();
    ::kill(-server->Pid(), SIGKILL);
    ASSERT_TRUE(WaitForState("PROGC", EditState::Failed));

    EXPECT_EQ(Remote("PROGC"), "contents of PROGC\n");
    QFile copy(Entry("PROGC")->PcPath);
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    const QByteArray kept = copy.readAll();
    EXPECT_TRUE(kept.startsWith("contents of PROGC") && kept.endsWith(big)) << kept.left(40).toStdString();
    EXPECT_TRUE(Shown("PROGC").startsWith("$DATA01.ZDEMO | failed: upload failed")) << Shown("PROGC").toStdString();
    EXPECT_TRUE(form->FormEdits->BtnUploadAgain->isEnabled());
}

TEST_F(EditWindowTest, code180And0FilesGoBackWithTheirCodeAndMode)
{
    ASSERT_TRUE(ConnectWithEditor());
    LogTheDialogue();
    Say("go1");
    SelectRemote({"CUSTDATA", "LOG01"});
    // F4 in the remote list edits, as the help window says.
    form->GroupBoxTandem->ListBoxTanFiles->setFocus();
    QTest::keyClick(form->GroupBoxTandem->ListBoxTanFiles, Qt::Key_F4);
    ASSERT_TRUE(WaitForState("CUSTDATA", EditState::Uploaded));
    ASSERT_TRUE(WaitForState("LOG01", EditState::Uploaded));

    EXPECT_EQ(Remote("CUSTDATA"), "contents of CUSTDATA\nedited line\n");
    EXPECT_EQ(Remote("LOG01"), "contents of LOG01\nedited line\n");
    EXPECT_EQ(RemoteCode("CUSTDATA"), 0);
    EXPECT_EQ(RemoteCode("LOG01"), 180);
    // Binary both ways; the PC names carry the code, as a binary download's do.
    EXPECT_FALSE(LogText().contains("Edit: > TYPE A")) << LogText().toStdString();
    EXPECT_TRUE(LogText().contains(QRegularExpression("Edit: > STOR ZZED[0-9A-Z]{4},180")));
    EXPECT_TRUE(LogText().contains(QRegularExpression("Edit: > STOR ZZED[0-9A-Z]{4},0$", QRegularExpression::MultilineOption)));
    EXPECT_TRUE(Entry("LOG01")->PcPath.endsWith("/LOG01,180")) << Entry("LOG01")->PcPath.toStdString();
}

} // namespace
