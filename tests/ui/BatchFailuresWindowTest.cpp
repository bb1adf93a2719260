// Where a user finds what went wrong and where the keyboard is afterwards: a name the host
// cannot take fails before anything is sent, the failed files are listed in a dialog a screen
// reader reads, and the list that started a transfer, delete or rename has the focus again.
#include "ui/FailuresDialog.h"
#include "ui/LocalPCGroup.h"
#include "ui/LogWindow.h"
#include "ui/MainWindowFixture.h"
#include "ui/TandemGroup.h"
#include "ui/TransferGroup.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

namespace {

class BatchFailuresWindowTest : public MainWindowFixture {
protected:
    QStringList Failures() const { return messages.shown.filter("failures: "); }
    // What a screen reader hears of the focus: the focused widget and its accessible state.
    // The window system gives the main window back its activation after the dialogs close.
    bool FocusedForReader(QWidget *widget) const
    {
        WaitUntil([widget] { return QApplication::focusWidget() == widget; });
        QAccessibleInterface *face = QAccessible::queryAccessibleInterface(widget);
        return QApplication::focusWidget() == widget && face && face->state().focused;
    }
    QStringList Selected(QListWidget *list) const
    {
        QStringList texts;
        for (const QListWidgetItem *item : list->selectedItems())
            texts << item->text().section(' ', 0, 0);
        return texts;
    }
};

TEST_F(BatchFailuresWindowTest, badHostNameFailsWithItsRuleBeforeAnyStorAndTheOthersArrive)
{
    PutPcFile("verylongname.txt", "long\n");
    PutPcFile("1st.c", "digit\n");
    PutPcFile("goodone.c", "good\n");
    ASSERT_TRUE(Connect());
    SelectPc({"1st.c", "goodone.c", "verylongname.txt"});
    Click(form->GroupBoxMode->BtnUpload);

    const QString summary = "1 file(s) uploaded successfully. Failed to upload 2 file(s)";
    EXPECT_EQ(StatusText(), summary + " - the failed files are listed in File > Log Window");
    const QStringList failures = Failures();
    ASSERT_EQ(failures.size(), 1) << messages.shown.join("\n").toStdString();
    EXPECT_TRUE(failures[0].startsWith("failures: Failed uploads | " + summary + " | 1st.c not uploaded: the host "
                                       "name \"1stc\" does not begin with a letter"))
        << failures[0].toStdString();
    EXPECT_TRUE(failures[0].contains("; verylongname.txt not uploaded: the host name \"verylongnametxt\" is longer "
                                     "than 8 characters: a Guardian file name has 1 to 8 letters and digits"))
        << failures[0].toStdString();
    const QString serverLog = QString::fromStdString(server->Log());
    EXPECT_TRUE(serverLog.contains("GOODONEC", Qt::CaseInsensitive)) << "the server logs what it stores";
    EXPECT_FALSE(serverLog.contains("verylong", Qt::CaseInsensitive)) << serverLog.toStdString();
    EXPECT_FALSE(serverLog.contains("1stc", Qt::CaseInsensitive));
    // The default log level shows each failure and the summary.
    EXPECT_TRUE(LogText().contains("verylongname.txt not uploaded")) << LogText().toStdString();
    EXPECT_TRUE(LogText().contains(summary)) << LogText().toStdString();
}

TEST(FailuresDialogTest, screenReaderReadsEveryFailedFileAndStartsOnTheList)
{
    TFailuresDialog dialog(nullptr, "0 file(s) downloaded successfully. Failed to download 2 file(s)",
                           {"PROGC: 550 File $DATA01.ZDEMO.PROGC does not exist.", "MYOBJ: 426 Timeout"});
    QAccessibleInterface *list = QAccessible::queryAccessibleInterface(dialog.MemoFailures);
    ASSERT_TRUE(list && list->textInterface());
    const QString heard = list->textInterface()->text(0, list->textInterface()->characterCount());
    EXPECT_TRUE(heard.contains("PROGC: 550")) << heard.toStdString();
    EXPECT_TRUE(heard.contains("MYOBJ: 426 Timeout")) << heard.toStdString();
    EXPECT_EQ(list->text(QAccessible::Name), "Failed files");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(dialog.LabelSummary)->text(QAccessible::Name),
              "0 file(s) downloaded successfully. Failed to download 2 file(s)");
}

TEST_F(BatchFailuresWindowTest, theListThatStartedATransferDeleteOrRenameHasTheFocusAgain)
{
    PutPcFile("up.c", "x\n");
    PutPcFile("ren.c", "y\n");
    ASSERT_TRUE(Connect());
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    QListWidget *remote = form->GroupBoxTandem->ListBoxTanFiles;
    QListWidget *pc = form->GroupBoxPC->FileListBoxPC;

    SelectRemote({"PROGC", "PROGH"});
    remote->setFocus();
    QTest::keyClick(remote, Qt::Key_Return);
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(StatusText(), "2 file(s) downloaded");
    EXPECT_TRUE(FocusedForReader(remote));
    EXPECT_EQ(Selected(remote), (QStringList{"PROGC", "PROGH"}));

    SelectPc({"up.c"});
    pc->setFocus();
    QTest::keyClick(pc, Qt::Key_Return);
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(StatusText(), "1 file(s) uploaded");
    EXPECT_TRUE(FocusedForReader(pc));
    EXPECT_EQ(Selected(pc), QStringList{"up.c"});

    SelectRemote({"LOG01"});
    remote->setFocus();
    messages.answers = {QString("yes")};
    QTest::keyClick(remote, Qt::Key_Delete);
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_FALSE(RemoteNames().contains("LOG01"));
    EXPECT_TRUE(FocusedForReader(remote));

    SelectPc({"ren.c"});
    pc->setFocus();
    messages.answers = {QString("renamed.c")};
    QTest::keyClick(pc, Qt::Key_F2);
    EXPECT_TRUE(PcNames().contains("renamed.c"));
    EXPECT_TRUE(FocusedForReader(pc));
}

} // namespace
