// Keys and drags through the real main window against the NonStop-style server: each key
// acts on the list holding the focus through the button that does the same, and a drag copies
// between the PC and remote lists in both directions without moving anything.
#include "ui/ConfigureDialog.h"
#include "ui/ConnectDialog.h"
#include "ui/FileDragList.h"
#include "ui/LocalPCGroup.h"
#include "ui/MainWindowFixture.h"
#include "ui/TandemGroup.h"
#include "ui/TransferGroup.h"
#include "ui/TransferProgressDialog.h"

#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTest>

#include <map>
#include <memory>

namespace {

class KeysAndDrags : public MainWindowFixture {
protected:
    // Drops the data on the list as a desktop would; returns whether the list took it.
    static bool Drop(QAbstractItemView *list, QMimeData *data)
    {
        QWidget *viewport = list->viewport();
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &drop);
        return drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
    }
    int ListCommands() const { return int(LogText().count("> LIST")); }
    void Key(QWidget *list, Qt::Key key)
    {
        list->setFocus();
        QTest::keyClick(list, key);
    }
};

TEST_F(KeysAndDrags, dragsCopyRemoteFilesToThePcAndPcFilesToTheHost)
{
    ASSERT_TRUE(Connect());
    PutRemoteFile(kHome, "DRAGME", 0, QByteArray(5000, 'd'));
    Click(form->GroupBoxTandem->BtnRefreshTandem);
    ASSERT_TRUE(WaitUntilIdle());
    SelectRemote({"DRAGME"});
    std::unique_ptr<QMimeData> remote(form->GroupBoxTandem->ListBoxTanFiles->DragData());
    ASSERT_TRUE(remote);
    EXPECT_FALSE(Drop(form->GroupBoxTandem->ListBoxTanFiles, remote.get())) << "not onto its own list";
    ASSERT_TRUE(Drop(form->GroupBoxPC->FileListBoxPC, remote.get()));
    ASSERT_TRUE(WaitUntil([this] { return StatusText() == "1 file(s) downloaded"; })) << StatusText().toStdString();
    EXPECT_EQ(PcNames(), QStringList{"DRAGME,0"});
    QFile pcCopy(PcPath("DRAGME,0"));
    ASSERT_TRUE(pcCopy.open(QIODevice::ReadOnly));
    EXPECT_EQ(pcCopy.readAll(), QByteArray(5000, 'd'));
    EXPECT_TRUE(RemoteNames().contains("DRAGME")) << "a drag never moves";
    EXPECT_EQ(windows.FormTransfer->LBatch->text(), "File 1 of 1, 5000 of 5000 bytes");

    PutPcFile("NEW.C", "int n;\n");
    Click(form->GroupBoxPC->BtnRefreshPC);
    SelectPc({"NEW.C"});
    std::unique_ptr<QMimeData> pc(form->GroupBoxPC->FileListBoxPC->DragData());
    ASSERT_TRUE(pc);
    EXPECT_FALSE(Drop(form->GroupBoxPC->FileListBoxPC, pc.get())) << "not onto its own list";
    ASSERT_TRUE(Drop(form->GroupBoxTandem->ListBoxTanFiles, pc.get()));
    ASSERT_TRUE(WaitUntil([this] { return RemoteNames().contains("NEWC"); })) << StatusText().toStdString();
    EXPECT_TRUE(QFile::exists(PcPath("NEW.C")));

    // Lines dragged from another running copy name files of another session: refused.
    QMimeData foreign;
    foreign.setData(kHostLinesMimeType, "1\n" + remote->data(kHostLinesMimeType).split('\n').at(1));
    EXPECT_FALSE(Drop(form->GroupBoxPC->FileListBoxPC, &foreign));
}

TEST_F(KeysAndDrags, keysActOnTheListWithTheFocusThroughItsButtons)
{
    DestroyWindow();
    CreateWindow("int LogLevel=2\n");
    ASSERT_TRUE(Connect());
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    EXPECT_EQ(form->HelpItem->shortcut(), QKeySequence(Qt::Key_F1)) << "shown in the Help menu";
    EXPECT_EQ(form->ExitItem->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));

    // Enter on a remote file downloads it, on a PC file uploads it.
    SelectRemote({"CUSTDATA"});
    Key(form->GroupBoxTandem->ListBoxTanFiles, Qt::Key_Return);
    ASSERT_TRUE(WaitUntil([this] { return StatusText() == "1 file(s) downloaded"; })) << StatusText().toStdString();
    PutPcFile("KEYUP", "k");
    Click(form->GroupBoxPC->BtnRefreshPC);
    SelectPc({"KEYUP"});
    Key(form->GroupBoxPC->FileListBoxPC, Qt::Key_Enter);
    ASSERT_TRUE(WaitUntil([this] { return RemoteNames().contains("KEYUP"); })) << StatusText().toStdString();

    // F5 lists again the side with the focus; both when neither has it.
    ASSERT_TRUE(WaitUntilIdle());
    const int lists = ListCommands();
    const auto writeBehindTheList = [this](const char *name) {
        QFile file(PcPath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    };
    writeBehindTheList("LATE1");
    Key(form->GroupBoxPC->FileListBoxPC, Qt::Key_F5);
    EXPECT_TRUE(PcNames().contains("LATE1"));
    EXPECT_EQ(ListCommands(), lists);
    writeBehindTheList("LATE2");
    Key(form->GroupBoxTandem->ListBoxTanFiles, Qt::Key_F5);
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(ListCommands(), lists + 1);
    EXPECT_FALSE(PcNames().contains("LATE2"));
    Key(form->GroupBoxMode->BtnDownload, Qt::Key_F5);
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(ListCommands(), lists + 2);
    EXPECT_TRUE(PcNames().contains("LATE2"));

    // F2 renames and Delete deletes as their buttons do.
    messages.shown.clear();
    messages.answers = {QString("KEYED"), QString("yes"), QString("yes")};
    SelectRemote({"KEYUP"});
    Key(form->GroupBoxTandem->ListBoxTanFiles, Qt::Key_F2);
    ASSERT_TRUE(WaitUntil([this] { return RemoteNames().contains("KEYED"); })) << messages.shown.join("; ").toStdString();
    SelectRemote({"KEYED"});
    Key(form->GroupBoxTandem->ListBoxTanFiles, Qt::Key_Delete);
    ASSERT_TRUE(WaitUntil([this] { return !RemoteNames().contains("KEYED"); }));
    SelectPc({"LATE1"});
    Key(form->GroupBoxPC->FileListBoxPC, Qt::Key_Delete);
    EXPECT_FALSE(QFile::exists(PcPath("LATE1")));
    EXPECT_TRUE(messages.answers.empty());

    // Without a session the remote keys do nothing, as the buttons are off.
    form->DisconnectItem->trigger();
    ASSERT_TRUE(WaitUntil([this] { return !form->Session().Connected; }));
    messages.shown.clear();
    Key(form->GroupBoxTandem->ListBoxTanFiles, Qt::Key_Delete);
    EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join("; ").toStdString();
}

// Alt+letter reaches every button and field of a dialog, and no letter does two things.
TEST(DialogMnemonics, everyButtonAndFieldHasALetterOfItsOwnInItsWindow)
{
    RecordedMessages messages;
    TFormConnect connect(messages);
    TFormConfig config;
    for (QDialog *dialog : {static_cast<QDialog *>(&connect), static_cast<QDialog *>(&config)}) {
        SCOPED_TRACE(dialog->windowTitle().toStdString());
        std::map<QKeySequence, QString> letters;
        QList<const QWidget *> reached;
        const auto take = [&](const QString &text, const QWidget *target) {
            const QKeySequence letter = QKeySequence::mnemonic(text);
            EXPECT_FALSE(letter.isEmpty()) << "no mnemonic in " << text.toStdString();
            const auto [it, fresh] = letters.emplace(letter, text);
            EXPECT_TRUE(fresh) << text.toStdString() << " clashes with " << it->second.toStdString();
            reached << target;
        };
        for (const QAbstractButton *button : dialog->findChildren<QAbstractButton *>())
            if (!button->text().isEmpty())
                take(button->text(), button);
        for (const QLabel *label : dialog->findChildren<QLabel *>())
            if (label->buddy())
                take(label->text(), label->buddy());
        for (const QWidget *field : dialog->findChildren<QWidget *>()) {
            const bool isField = field->inherits("QLineEdit") || field->inherits("QAbstractSpinBox") ||
                                 field->inherits("QComboBox") || field->inherits("QAbstractButton");
            // Line edits inside spin and combo boxes belong to them, scroll buttons to the tabs.
            const QWidget *owner = field->parentWidget();
            if (isField && !owner->inherits("QAbstractSpinBox") && !owner->inherits("QComboBox") &&
                !owner->inherits("QTabBar")) {
                EXPECT_TRUE(reached.contains(field)) << field->accessibleName().toStdString();
            }
        }
    }
}

} // namespace
