// The main window as a user meets it: connected to the NonStop-style server, browsing
// subvolumes, filtering, disconnecting.
#include "ui/MainWindowFixture.h"
#include "ui/ListColumns.h"
#include "ui/LocalPCGroup.h"
#include "ui/TandemGroup.h"
#include "ui/LogWindow.h"
#include "ui/TransferGroup.h"

#include <QAccessible>
#include <QAction>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>
#include <algorithm>
#include <stdexcept>

namespace {

class MainWindowSession : public MainWindowFixture {};

QStringList SampleNames()
{
    QStringList names;
    for (const auto &file : MainWindowFixture::SampleFiles())
        names << QString::fromStdString(file.first);
    return names;
}

// What a screen reader hears: the name Qt's accessibility interface gives.
QString HeardName(QWidget *widget)
{
    QAccessibleInterface *face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(QAccessible::Name) : QString();
}

TEST_F(MainWindowSession, autoConnectShowsCaptionSubvolumeFilesAndEnablesTheSession)
{
    ASSERT_TRUE(Connect());
    // The port is not 21, so the caption names it.
    const QString caption = "Zarvel - 127.0.0.1:" + QString::fromStdString(server->PortText());
    EXPECT_EQ(form->windowTitle(), caption);
    // Texts that change are heard as they are, never behind a fixed name.
    EXPECT_EQ(HeardName(form.get()), caption);
    EXPECT_EQ(HeardName(form->StatusMessage), "Connected");
    EXPECT_EQ(HeardName(form->StatusCount), QString("%1 File(s)").arg(SampleFiles().size()));
    EXPECT_EQ(form->GroupBoxTandem->ComboBoxTanSubvol->currentText(), kHome);
    EXPECT_EQ(RemoteNames(), SampleNames()) << "the heading must not be listed";
    EXPECT_EQ(CountText(), QString("%1 File(s)").arg(SampleFiles().size()));
    EXPECT_EQ(StatusText(), "Connected");
    EXPECT_TRUE(form->GroupBoxMode->isEnabled());
    EXPECT_TRUE(form->GroupBoxMode->BtnDownload->isEnabled());
    EXPECT_TRUE(form->GroupBoxTandem->ListBoxTanFiles->isEnabled());
    EXPECT_TRUE(form->GroupBoxTandem->BtnRefreshTandem->isEnabled());
    EXPECT_TRUE(form->ConnectItem->isEnabled()) << "it offers to end the session first";
    EXPECT_TRUE(form->DisconnectItem->isEnabled());
    EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join("; ").toStdString();
}

// The heading sorts the lines by the column clicked, also those of the next listing; the
// lines themselves, and what a download reads of them, stay as the server sent them.
TEST_F(MainWindowSession, headingSortsTheRemoteLinesWithoutChangingThem)
{
    ASSERT_TRUE(Connect());
    QStringList serverOrder = RemoteLines();
    TListHeader *header = form->GroupBoxTandem->HeaderTanFiles;
    EXPECT_EQ(header->model()->headerData(1, Qt::Horizontal).toString(), "Code");
    header->SortBy(1, Qt::AscendingOrder);
    EXPECT_EQ(RemoteNames(), (QStringList{"CUSTDATA", "MYOBJ", "PROGC", "PROGH", "LOG01", "TOOLO"}));
    header->SortBy(1, Qt::DescendingOrder);
    EXPECT_EQ(RemoteNames(), (QStringList{"TOOLO", "LOG01", "PROGH", "PROGC", "MYOBJ", "CUSTDATA"}));
    QStringList sorted = RemoteLines();
    std::sort(sorted.begin(), sorted.end());
    std::sort(serverOrder.begin(), serverOrder.end());
    EXPECT_EQ(sorted, serverOrder) << "the same lines, in another order";

    PutRemoteFile(kHome, "ZEDC", 101, "z\n");
    Click(form->GroupBoxTandem->BtnRefreshTandem);
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(RemoteNames(), (QStringList{"TOOLO", "LOG01", "ZEDC", "PROGH", "PROGC", "MYOBJ", "CUSTDATA"}));
    SelectRemote({"ZEDC"});
    Click(form->GroupBoxMode->BtnDownload);
    ASSERT_TRUE(WaitUntil([this] { return StatusText() == "1 file(s) downloaded"; })) << StatusText().toStdString();
    EXPECT_TRUE(QFile::exists(PcPath("ZEDC"))) << "the name read from the sorted line";
}

TEST_F(MainWindowSession, disconnectRestoresCaptionAndSwitchesSessionControlsOff)
{
    ASSERT_TRUE(Connect());
    form->DisconnectItem->trigger();
    ASSERT_TRUE(WaitUntil([this] { return !form->Session().Connected; }));
    EXPECT_EQ(form->windowTitle(), "Zarvel");
    EXPECT_EQ(StatusText(), "Disconnected");
    EXPECT_FALSE(form->GroupBoxMode->isEnabled());
    EXPECT_FALSE(form->GroupBoxTandem->ListBoxTanFiles->isEnabled());
    EXPECT_TRUE(form->ConnectItem->isEnabled());
    EXPECT_FALSE(form->DisconnectItem->isEnabled()) << "nothing left to end";
}

// Chooses the filter box entry with this label as a user would.
void ChooseFilter(QComboBox *box, const QString &label)
{
    const int index = box->findText(label);
    ASSERT_GE(index, 0) << label.toStdString();
    box->setCurrentIndex(index);
    Q_EMIT box->activated(index);
}

int Count(const QString &text, const QString &what)
{
    return int(text.count(what));
}

TEST_F(MainWindowSession, eachBuiltInFilterShowsExactlyTheLinesOfItsCodes)
{
    ASSERT_TRUE(Connect());
    QComboBox *filter = form->GroupBoxTandem->ComboBoxTanFilter;
    QStringList labels;
    for (int i = 0; i < filter->count(); ++i)
        labels << filter->itemText(i);
    EXPECT_EQ(labels, (QStringList{"All files", "Edit files (Filecode 101)", "Object Files (Filecodes 100/700)"}));

    ChooseFilter(filter, "Edit files (Filecode 101)");
    EXPECT_EQ(RemoteNames(), (QStringList{"PROGC", "PROGH"}));
    EXPECT_EQ(CountText(), "2 File(s)");
    ChooseFilter(filter, "Object Files (Filecodes 100/700)");
    EXPECT_EQ(RemoteNames(), (QStringList{"MYOBJ", "TOOLO"}));
    ChooseFilter(filter, "All files");
    EXPECT_EQ(RemoteNames(), SampleNames());
}

TEST_F(MainWindowSession, refreshShowsWhatChangedOnTheHost)
{
    ASSERT_TRUE(Connect());
    PutRemoteFile(kHome, "NEWC", 101, "new\n");
    EXPECT_FALSE(RemoteNames().contains("NEWC"));
    Click(form->GroupBoxTandem->BtnRefreshTandem);
    EXPECT_TRUE(RemoteNames().contains("NEWC"));
    EXPECT_EQ(CountText(), QString("%1 File(s)").arg(SampleFiles().size() + 1));
}

class MainWindowSubvolume : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        DestroyWindow();
        CreateWindow("int LogLevel=2\n"); // the FTP dialogue shows which commands went out
        ASSERT_TRUE(Connect());
        box = form->GroupBoxTandem->ComboBoxTanSubvol;
        QApplication::setActiveWindow(form.get());
        box->setFocus();
    }
    void Type(const QString &text)
    {
        box->lineEdit()->selectAll();
        QTest::keyClicks(box, text);
    }
    TSubvolComboBox *box = nullptr;
};

TEST_F(MainWindowSubvolume, typedSubvolumeChangesOnEnterAndJoinsTheHistory)
{
    Type(kOther);
    EXPECT_EQ(RemoteNames(), SampleNames()) << "typing alone changes nothing";
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(RemoteNames(), QStringList{"OTHERC"});
    EXPECT_EQ(box->currentText(), kOther);
    EXPECT_EQ(box->count(), 2);
    EXPECT_EQ(CountText(), "1 File(s)");
}

TEST_F(MainWindowSubvolume, typedSubvolumeChangesWhenFocusLeavesTheBox)
{
    Type(kOther);
    form->GroupBoxTandem->ListBoxTanFiles->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(RemoteNames(), QStringList{"OTHERC"});
}

TEST_F(MainWindowSubvolume, anotherWindowBecomingActiveDoesNotEnterTheHalfTypedSubvolume)
{
    const int cwds = Count(LogText(), "> CWD ");
    Type("$DATA01.ZOT");
    form->LogWindowItem->trigger(); // the log window comes to the front
    QApplication::setActiveWindow(windows.FormStatus);
    QApplication::processEvents();
    EXPECT_EQ(Count(LogText(), "> CWD "), cwds);
    EXPECT_EQ(box->currentText(), "$DATA01.ZOT");
    // Back in the main window, moving on to another control leaves the box as designed.
    QApplication::setActiveWindow(form.get());
    box->setFocus();
    Type(kOther);
    form->GroupBoxTandem->ListBoxTanFiles->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(RemoteNames(), QStringList{"OTHERC"});
}

TEST_F(MainWindowSubvolume, choosingFromTheHistoryChangesAtOnceAndTheSameOneIsNotEnteredAgain)
{
    Type(kOther);
    QTest::keyClick(box, Qt::Key_Return);
    ASSERT_EQ(RemoteNames(), QStringList{"OTHERC"});
    const int cwds = Count(LogText(), "> CWD ");

    box->showPopup();
    EXPECT_TRUE(form->Session().SubvolDroppedDown);
    const int home = box->findText(kHome);
    ASSERT_GE(home, 0);
    box->setCurrentIndex(home);
    Q_EMIT box->activated(home);
    box->hidePopup();
    EXPECT_EQ(RemoteNames(), SampleNames());
    EXPECT_EQ(Count(LogText(), "> CWD "), cwds + 1);

    // The subvolume shown, typed again in the same case: no CWD at all.
    Type(kHome);
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(Count(LogText(), "> CWD "), cwds + 1);
}

TEST_F(MainWindowSubvolume, unknownSubvolumeLeavesTheListAsItWas)
{
    Type("$NOVOL.ZDEMO"); // the server refuses a volume it does not have
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(RemoteNames(), SampleNames());
    EXPECT_EQ(box->count(), 1) << "a subvolume never entered does not join the history";
    EXPECT_TRUE(form->Session().Connected);
    EXPECT_TRUE(LogText().contains("< 550")) << LogText().toStdString();
}

TEST_F(MainWindowSession, refusedLoginShowsTheErrorAndLeavesTheControlsOff)
{
    ASSERT_TRUE(form->LoadStartupSettings(ServerCommandLine() + " Password wrong"));
    form->show();
    form->ConnectToHost();
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(messages.shown[0].startsWith("error: Zarvel Error - 530")) << messages.shown[0].toStdString();
    EXPECT_EQ(StatusText(), "Disconnected");
    EXPECT_EQ(form->windowTitle(), "Zarvel");
    EXPECT_FALSE(form->GroupBoxMode->isEnabled());
    EXPECT_FALSE(form->GroupBoxTandem->ListBoxTanFiles->isEnabled());
    EXPECT_TRUE(form->ConnectItem->isEnabled());
    EXPECT_FALSE(form->DisconnectItem->isEnabled()) << "nothing left to end";
}

TEST_F(MainWindowSession, serverGoingAwayEndsTheSessionInTheWindow)
{
    ASSERT_TRUE(Connect());
    server->Stop();
    Click(form->GroupBoxTandem->BtnRefreshTandem);
    ASSERT_TRUE(WaitUntil([this] { return !form->Session().Connected; }));
    EXPECT_EQ(form->windowTitle(), "Zarvel");
    EXPECT_EQ(StatusText(), "Disconnected");
    EXPECT_FALSE(form->GroupBoxTandem->BtnRefreshTandem->isEnabled());
}

TEST_F(MainWindowSession, closingTheWindowDuringASessionTouchesNothingDestroyed)
{
    ASSERT_TRUE(Connect());
    form->close();
    DestroyWindow(); // the client closes its sockets while the window goes
    QApplication::processEvents();
    EXPECT_TRUE(messages.shown.isEmpty());
}

TEST_F(MainWindowSession, ctrlASelectsEveryRemoteLineAndScrollsToTheTop)
{
    for (int i = 0; i < 60; ++i)
        PutRemoteFile(kHome, "F" + std::to_string(i), 101, "x");
    ASSERT_TRUE(Connect());
    QListWidget *list = form->GroupBoxTandem->ListBoxTanFiles;
    list->scrollToBottom();
    QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(list->selectedItems().size(), list->count());
    EXPECT_EQ(list->verticalScrollBar()->value(), 0);
}

TEST_F(MainWindowSession, handlerExceptionReachesTheErrorBoxAndTheLoopGoesOn)
{
    bool ranAfter = false;
    QMetaObject::invokeMethod(form.get(), [this] { form->Guarded([] { throw std::runtime_error("disk on fire"); }); },
                              Qt::QueuedConnection);
    QMetaObject::invokeMethod(form.get(), [&] { ranAfter = true; }, Qt::QueuedConnection);
    ASSERT_TRUE(WaitUntil([&] { return ranAfter; }));
    EXPECT_EQ(messages.shown, QStringList{"exception: disk on fire"});
}

} // namespace
