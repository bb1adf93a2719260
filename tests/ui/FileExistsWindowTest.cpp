// The question about a file that exists on the other side, answered as a user would in the
// real main window against the NonStop-style server: each answer on both sides, once and
// "for all remaining files", and what each leaves on the PC and the host.
#include "ui/LocalPCGroup.h"
#include "ui/MainWindowFixture.h"
#include "ui/FileExistsDialog.h"
#include "ui/TransferGroup.h"

#include <QCheckBox>
#include <QFile>
#include <QPushButton>

namespace {

QByteArray Pattern(int size, int seed)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 13 + seed) & 0xff);
    return bytes;
}

QByteArray Read(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

class FileExistsWindowTest : public MainWindowFixture {
protected:
    QByteArray Pc(const QString &name) const { return Read(PcPath(name)); }
    QByteArray Host(const std::string &name) const { return Read(QString::fromStdString(RemotePath(kHome, name))); }
    QStringList Questions() const { return messages.shown.filter("exists: "); }
};

TEST_F(FileExistsWindowTest, downloadAnswersOverwriteRenameResumeSkipAndOverwriteForAll)
{
    const QStringList names = {"A1OVER", "A2RENM", "A3RESM", "A4SKIP", "A5ALL", "A6ALL"};
    for (int i = 0; i < names.size(); ++i) {
        PutRemoteFile(kHome, names[i].toStdString(), 0, Pattern(5000, i));
        PutPcFile(names[i], "old");
    }
    PutPcFile(".A3RESM.zarvel-part", Pattern(5000, 2).left(1000));
    ASSERT_TRUE(Connect("WhenFileExists Ask"));
    form->GroupBoxMode->DLAddFileCode->setChecked(false);
    messages.existsReplies = {{FileExistsAnswer::Overwrite, false}, {FileExistsAnswer::Rename, false},
                              {FileExistsAnswer::Resume, false}, {FileExistsAnswer::Skip, false},
                              {FileExistsAnswer::Overwrite, true}};
    SelectRemote(names);
    Click(form->GroupBoxMode->BtnDownload);

    const QStringList questions = Questions();
    ASSERT_EQ(questions.size(), 5) << messages.shown.join("\n").toStdString();
    EXPECT_EQ(questions[0], "exists: The PC file A1OVER exists (3 bytes); the host file A1OVER has 5000 bytes."
                            " | rename to A1OVER1");
    EXPECT_TRUE(questions[2].contains("1000 bytes of an earlier download of it are kept. | resume offered"))
        << questions[2].toStdString();
    EXPECT_EQ(Pc("A1OVER"), Pattern(5000, 0));
    EXPECT_EQ(Pc("A2RENM"), "old");
    EXPECT_EQ(Pc("A2RENM1"), Pattern(5000, 1));
    EXPECT_EQ(Pc("A3RESM"), Pattern(5000, 2));
    EXPECT_EQ(Pc("A4SKIP"), "old");
    EXPECT_EQ(Pc("A5ALL"), Pattern(5000, 4));
    EXPECT_EQ(Pc("A6ALL"), Pattern(5000, 5)) << "answered for all: no sixth question";
    EXPECT_EQ(StatusText(), "5 file(s) downloaded successfully, 1 skipped");

    // Skip for all: one question, nothing replaced.
    messages.shown.clear();
    messages.existsReplies = {{FileExistsAnswer::Skip, true}};
    SelectRemote({"A1OVER", "A4SKIP"});
    Click(form->GroupBoxMode->BtnDownload);
    EXPECT_EQ(Questions().size(), 1);
    EXPECT_EQ(Pc("A4SKIP"), "old");
    EXPECT_EQ(StatusText(), "0 file(s) downloaded successfully, 2 skipped");
}

TEST_F(FileExistsWindowTest, uploadAnswersOverwriteRenameSkipAndRenameForAll)
{
    const QStringList names = {"U1OVER", "U2RENM", "U3SKIP", "U4ALL", "U5ALL"};
    for (int i = 0; i < names.size(); ++i) {
        PutRemoteFile(kHome, names[i].toStdString(), 0, "old");
        PutPcFile(names[i] + ",0", Pattern(3000, i));
    }
    ASSERT_TRUE(Connect("WhenFileExists Ask"));
    messages.existsReplies = {{FileExistsAnswer::Overwrite, false}, {FileExistsAnswer::Rename, false},
                              {FileExistsAnswer::Skip, false}, {FileExistsAnswer::Rename, true}};
    SelectPc({"U1OVER,0", "U2RENM,0", "U3SKIP,0", "U4ALL,0", "U5ALL,0"});
    Click(form->GroupBoxMode->BtnUpload);

    const QStringList questions = Questions();
    ASSERT_EQ(questions.size(), 4) << messages.shown.join("\n").toStdString();
    EXPECT_EQ(questions[1], "exists: The host file U2RENM exists on $DATA01.ZDEMO; the PC file U2RENM,0 has 3000 bytes."
                            " | rename to U2RENM1,0");
    EXPECT_EQ(Host("U1OVER"), Pattern(3000, 0));
    EXPECT_EQ(Host("U2RENM"), "old");
    EXPECT_EQ(Host("U2RENM1"), Pattern(3000, 1));
    EXPECT_EQ(Host("U3SKIP"), "old");
    EXPECT_EQ(Host("U4ALL1"), Pattern(3000, 3));
    EXPECT_EQ(Host("U5ALL1"), Pattern(3000, 4)) << "renamed for all: no fifth question";
    EXPECT_EQ(Host("U5ALL"), "old");
    EXPECT_EQ(StatusText(), "4 file(s) uploaded successfully, 1 skipped");
}

// The dialog itself: the buttons a question offers, Skip the default, Esc skips this file only.
TEST(FileExistsDialogTest, offersResumeAndRenameOnlyWhenPossibleAndEscSkipsOnce)
{
    TFileExistsDialog plain(nullptr, {"exists", false, ""});
    EXPECT_TRUE(plain.BtnResume->isHidden());
    EXPECT_TRUE(plain.BtnRename->isHidden());
    EXPECT_TRUE(plain.BtnSkip->isDefault());
    plain.chkForAll->setChecked(true);
    plain.reject();
    EXPECT_EQ(plain.Reply().Answer, FileExistsAnswer::Skip);
    EXPECT_FALSE(plain.Reply().ForAll);

    TFileExistsDialog full(nullptr, {"exists", true, "PROG1.C"});
    EXPECT_FALSE(full.BtnResume->isHidden());
    EXPECT_EQ(full.BtnRename->text(), "&Rename to PROG1.C");
    full.chkForAll->setChecked(true);
    full.BtnRename->click();
    EXPECT_EQ(full.Reply().Answer, FileExistsAnswer::Rename);
    EXPECT_TRUE(full.Reply().ForAll);
}

} // namespace
