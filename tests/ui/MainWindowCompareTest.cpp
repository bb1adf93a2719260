// Compare and Synchronize from the main window: the marks as a screen reader hears them, and
// the preview dialog whose unticked rows do not run.
#include "ui/MainWindowFixture.h"
#include "ui/LocalPCGroup.h"
#include "ui/SyncPreviewDialog.h"
#include "ui/TandemGroup.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

#include <utime.h>

namespace {

constexpr time_t T = 1'760'000'000;

class MainWindowCompare : public MainWindowFixture {
protected:
    static void Stamp(const QString &path, time_t time)
    {
        const utimbuf times{time, time};
        ASSERT_EQ(::utime(path.toLocal8Bit().constData(), &times), 0);
    }

    // The sample subvolume at one time, and beside it: PROGC the same, MYOBJ,100 newer on the
    // PC, PROGH older on the PC, EXTRA.TXT only on the PC.
    void PutBothSides()
    {
        for (const auto &[name, code] : SampleFiles())
            Stamp(QString::fromStdString(RemotePath(kHome, name)), T);
        PutPcFile("PROGC", "edit file text\n");
        Stamp(PcPath("PROGC"), T);
        PutPcFile("MYOBJ,100", "new object");
        Stamp(PcPath("MYOBJ,100"), T + 3600);
        PutPcFile("PROGH", "old header\n");
        Stamp(PcPath("PROGH"), T - 3600);
        PutPcFile("EXTRA.TXT", "extra\n");
        Stamp(PcPath("EXTRA.TXT"), T);
    }

    // What a screen reader hears for each item of the list, by the item's first word.
    static std::map<QString, QString> Heard(QListWidget *list)
    {
        std::map<QString, QString> heard;
        QAccessibleInterface *face = QAccessible::queryAccessibleInterface(list);
        for (int i = 0; face && i < face->childCount(); ++i) {
            const QString name = face->child(i)->text(QAccessible::Name);
            heard[name.section(' ', 0, 0).section(':', 0, 0)] = name.section(": ", -1);
        }
        return heard;
    }
};

TEST_F(MainWindowCompare, compareMarksBothListsForScreenReaderAndEye)
{
    ASSERT_TRUE(Connect());
    PutBothSides();
    form->CompareItem->trigger();
    ASSERT_TRUE(WaitUntil([&] { return StatusText().startsWith("Compared"); })) << StatusText().toStdString();

    const auto pc = Heard(form->GroupBoxPC->FileListBoxPC);
    EXPECT_EQ(pc.at("PROGC"), "same");
    EXPECT_EQ(pc.at("MYOBJ,100"), "newer on the PC");
    EXPECT_EQ(pc.at("PROGH"), "newer on the host");
    EXPECT_EQ(pc.at("EXTRA.TXT"), "only on the PC");
    const auto host = Heard(form->GroupBoxTandem->ListBoxTanFiles);
    EXPECT_EQ(host.at("PROGC"), "same");
    EXPECT_EQ(host.at("MYOBJ"), "newer on the PC");
    EXPECT_EQ(host.at("TOOLO"), "only on the host");
    // The eye gets a colour for each state, the same on both sides of a pair.
    const QListWidget *pcList = form->GroupBoxPC->FileListBoxPC;
    const auto pcItem = [&](const QString &name) { return pcList->findItems(name, Qt::MatchExactly).value(0); };
    ASSERT_TRUE(pcItem("PROGC") && pcItem("EXTRA.TXT"));
    EXPECT_NE(pcItem("PROGC")->background(), pcItem("EXTRA.TXT")->background());
    EXPECT_EQ(pcItem("EXTRA.TXT")->toolTip(), "only on the PC");
}

TEST_F(MainWindowCompare, synchronizeRunsOnlyTheTickedStepsAndDeletesOnlyWhenChosen)
{
    ASSERT_TRUE(Connect());
    PutBothSides();
    form->SynchronizeItem->trigger();
    TSyncPreviewDialog *preview = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (preview = form->findChild<TSyncPreviewDialog *>()) && preview->isVisible(); }));
    // Both ways by default, where deleting has no meaning; one way it is offered, unticked.
    EXPECT_TRUE(preview->RadioBoth->isChecked());
    EXPECT_FALSE(preview->CheckDelete->isEnabled());
    preview->RadioUp->setChecked(true);
    EXPECT_TRUE(preview->CheckDelete->isEnabled());
    EXPECT_FALSE(preview->CheckDelete->isChecked());
    const int withoutDeletes = preview->ListActions->count();
    preview->CheckDelete->setChecked(true);
    EXPECT_GT(preview->ListActions->count(), withoutDeletes);
    preview->CheckDelete->setChecked(false);

    // Untick the upload of EXTRA.TXT; the rest runs.
    const auto rows = preview->ListActions->findItems("EXTRA.TXT", Qt::MatchContains);
    ASSERT_EQ(rows.size(), 1);
    rows[0]->setCheckState(Qt::Unchecked);
    Click(preview->Buttons->button(QDialogButtonBox::Ok));
    ASSERT_TRUE(WaitUntil([&] { return StatusText().contains("file(s) uploaded"); })) << StatusText().toStdString();
    EXPECT_TRUE(form->isEnabled());
    EXPECT_EQ(StatusText(), QString("%1 file(s) uploaded, 0 file(s) downloaded, 0 file(s) deleted").arg(withoutDeletes - 1));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(RemotePath(kHome, "EXTRATXT"))));
    QFile object(QString::fromStdString(RemotePath(kHome, "MYOBJ")));
    ASSERT_TRUE(object.open(QIODevice::ReadOnly));
    EXPECT_EQ(object.readAll(), "new object");
    EXPECT_TRUE(QFile::exists(QString::fromStdString(RemotePath(kHome, "TOOLO")))); // only on the host, kept
}

} // namespace
