// The "File Transfer" dialog and the dropped-files target, as a user meets them: every way of
// closing the dialog aborts the transfer once and only a batch may hide it quietly; on screen
// it draws a flood of reports a few times and ends on the last one; drops of local files
// arrive whole and in order, anything else is refused.
#include "ui/TransferProgressDialog.h"
#include "ui/FileDropTarget.h"

#include <gtest/gtest.h>
#include <QAccessible>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QProgressBar>
#include <QTextDocument>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include <functional>
#include <memory>

namespace {

struct CountingAborter : TransferAborter {
    int aborts = 0;
    bool AbortTransfer() override { ++aborts; return true; }
};

class TransferDialogTest : public testing::Test {
protected:
    void SetUp() override
    {
        dialog.SetAborter(&aborter);
        dialog.SetFileInfo("Downloading binary file MYOBJ (30000000 bytes)", 30000000);
        dialog.ShowDialog();
        QApplication::processEvents();
    }
    // The reported values reach the controls: at the next repaint time while shown.
    void Drawn(const char *percent)
    {
        EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.LPercent->text() == percent; })) << percent;
    }
    TFormTransfer dialog;
    CountingAborter aborter;
};

struct ProgressRow {
    qint64 count, total;
    const char *percent;
    int bar;
};

TEST_F(TransferDialogTest, percentTextAndBarFollowTheCountOver32Bits)
{
    const ProgressRow rows[] = {
        {15000000, 30000000, "50%", 50},
        {0, 0, "100%", 100},                          // an empty file
        {150, 100, "150%", 100},                      // more than announced: the bar stays full
        {qint64(5) << 30, qint64(6) << 30, "83%", 83}, // 5 of 6 GiB
    };
    for (const ProgressRow &row : rows) {
        dialog.SetFileInfo("line", row.total);
        dialog.ShowProgress(row.count, "17920 (12.35 kbps)");
        Drawn(row.percent);
        EXPECT_EQ(dialog.LPercent->text().toStdString(), row.percent) << row.count << "/" << row.total;
        EXPECT_EQ(dialog.ProgressBar->value(), row.bar) << row.count << "/" << row.total;
        EXPECT_EQ(dialog.LStatus->text(), "17920 (12.35 kbps)");
    }
    dialog.SetFileInfo("Uploading ascii file PROG.C (1234 bytes)", 1234);
    Drawn("0%");
    EXPECT_EQ(dialog.LFileinfo->text(), "Uploading ascii file PROG.C (1234 bytes)");
    EXPECT_EQ(dialog.LPercent->text(), "0%") << "a new file starts at 0";
    EXPECT_EQ(dialog.LStatus->text(), "");
}

TEST_F(TransferDialogTest, longFileLineKeepsItsStartAndSizeInViewAndWholeInTheTip)
{
    const std::string line = "Uploading binary file " + std::string(200, 'n') + ".o (12345 bytes)";
    dialog.SetFileInfo(line, 12345);
    dialog.HideDialog(); // hidden, the controls take every report at once
    const QString shown = dialog.LFileinfo->text();
    EXPECT_TRUE(shown.startsWith("Uploading binary file n")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("(12345 bytes)")) << shown.toStdString();
    EXPECT_LT(shown.size(), qsizetype(line.size()));
    QTextDocument tip;
    tip.setHtml(dialog.LFileinfo->toolTip());
    EXPECT_EQ(tip.toPlainText().toStdString(), line);
    EXPECT_LE(dialog.width(), 700) << "the dialog does not grow with the name";
}

TEST_F(TransferDialogTest, floodOfReportsIsDrawnAFewTimesAndEndsOnTheLastOne)
{
    // The bar repaints itself at once on every new value: drawn per report, a batch of small
    // files spent most of its time here.
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject *, QEvent *e) override
        {
            paints += e->type() == QEvent::Paint;
            return false;
        }
    } counter;
    dialog.ProgressBar->installEventFilter(&counter);
    constexpr int files = 2000;
    for (int i = 1; i <= files; ++i) {
        const std::string name = "F" + std::to_string(i);
        dialog.SetFileInfo("Downloading binary file " + name + " (4096 bytes)", 4096);
        dialog.ShowProgress(i % 2 ? 2048 : 4096, std::to_string(i));
        dialog.ShowBatchProgress("File " + std::to_string(i) + " of 2000");
    }
    EXPECT_LT(counter.paints, files / 10);
    Drawn("100%");
    EXPECT_EQ(dialog.LFileinfo->text(), "Downloading binary file F2000 (4096 bytes)");
    EXPECT_EQ(dialog.LStatus->text(), "2000");
    EXPECT_EQ(dialog.LBatch->text(), "File 2000 of 2000");
    // A screen reader hears what is drawn, not an older report.
    const auto spoken = [](QWidget *label) { return QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name); };
    EXPECT_EQ(spoken(dialog.LBatch), "File 2000 of 2000");
    EXPECT_EQ(spoken(dialog.LStatus), "2000");
    EXPECT_EQ(spoken(dialog.LPercent), "100%");

    // Hidden by the batch between two repaints, the controls still end on the last report.
    dialog.ShowProgress(1024, "last");
    dialog.ShowBatchProgress("File 2000 of 2000, done");
    dialog.HideDialog();
    EXPECT_EQ(dialog.LPercent->text(), "25%");
    EXPECT_EQ(dialog.LBatch->text(), "File 2000 of 2000, done");
}

TEST_F(TransferDialogTest, everyWayOfClosingAbortsOnce)
{
    const std::vector<std::pair<const char *, std::function<void()>>> ways = {
        {"Cancel button", [this] { dialog.btnCancel->click(); }},
        {"Esc key", [this] {
             QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
             QApplication::sendEvent(&dialog, &esc);
         }},
        {"close box", [this] { dialog.close(); }},
    };
    for (const auto &[name, close] : ways) {
        aborter.aborts = 0;
        dialog.ShowDialog();
        close();
        QApplication::processEvents();
        EXPECT_EQ(aborter.aborts, 1) << name;
        EXPECT_FALSE(dialog.IsShown()) << name;
    }
}

TEST_F(TransferDialogTest, batchHidingTheDialogAbortsNothing)
{
    dialog.HideDialog();
    QApplication::processEvents();
    EXPECT_FALSE(dialog.IsShown());
    EXPECT_EQ(aborter.aborts, 0);
    EXPECT_EQ(dialog.windowTitle(), "File Transfer");
}

// --- Dropped files --------------------------------------------------------------------------

std::unique_ptr<QMimeData> Urls(const QList<QUrl> &urls)
{
    auto data = std::make_unique<QMimeData>();
    data->setUrls(urls);
    return data;
}

// Drags over and drops on a widget as the desktop would; true when the drop was accepted.
bool DragAndDrop(QWidget *receiver, const QMimeData *data)
{
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(receiver, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(receiver, &drop);
    QApplication::processEvents();
    return drop.isAccepted();
}

class DragFilesTrgTest : public testing::Test {
protected:
    void SetUp() override
    {
        target.SetTarget(&list);
        target.SetEnabled(true);
        target.OnDrop = [this](TDragFilesTrg *sender) {
            EXPECT_EQ(sender, &target);
            drops.push_back(sender->Files);
        };
    }
    QListWidget list;
    QListWidget other;
    TDragFilesTrg target;
    std::vector<QStringList> drops;
};

TEST_F(DragFilesTrgTest, localFilesArriveWholeInOrderAndASecondDropReplacesThem)
{
    const QString longPath = "/tmp/" + QString(300, 'x') + "/PROG.C"; // cut at 259 it would name another file
    const auto first = Urls({QUrl::fromLocalFile("/tmp/b/PROG.C"), QUrl::fromLocalFile("/tmp/a folder"),
                             QUrl::fromLocalFile(longPath)});
    ASSERT_TRUE(DragAndDrop(list.viewport(), first.get()));
    ASSERT_EQ(drops.size(), 1u);
    EXPECT_EQ(drops[0], (QStringList{"/tmp/b/PROG.C", "/tmp/a folder", longPath}));
    EXPECT_EQ(target.FileCount(), 3);
    EXPECT_EQ(target.DropPoint(), list.viewport()->mapTo(&list, QPoint(5, 5))) << "in the list's own coordinates";

    const auto second = Urls({QUrl::fromLocalFile("/tmp/MYOBJ,100")});
    ASSERT_TRUE(DragAndDrop(list.viewport(), second.get()));
    EXPECT_EQ(target.Files, QStringList{"/tmp/MYOBJ,100"});
    EXPECT_EQ(drops.size(), 2u);
}

TEST_F(DragFilesTrgTest, dropsOfAnythingButLocalFilesAreRefused)
{
    const auto web = Urls({QUrl("https://example.invalid/x.c")});
    const auto mixed = Urls({QUrl::fromLocalFile("/tmp/A"), QUrl("ftp://127.0.0.1/B")});
    auto text = std::make_unique<QMimeData>();
    text->setText("/tmp/A");
    EXPECT_FALSE(DragAndDrop(list.viewport(), web.get()));
    EXPECT_FALSE(DragAndDrop(list.viewport(), mixed.get()));
    EXPECT_FALSE(DragAndDrop(list.viewport(), text.get()));
    EXPECT_TRUE(drops.empty());
}

TEST_F(DragFilesTrgTest, disabledTargetRefusesUntilEnabledAgain)
{
    const auto files = Urls({QUrl::fromLocalFile("/tmp/A")});
    target.SetEnabled(false);
    EXPECT_FALSE(list.viewport()->acceptDrops());
    EXPECT_FALSE(DragAndDrop(list.viewport(), files.get()));
    EXPECT_TRUE(drops.empty());
    target.SetEnabled(true);
    EXPECT_TRUE(list.viewport()->acceptDrops());
    EXPECT_TRUE(DragAndDrop(list.viewport(), files.get()));
    EXPECT_EQ(drops.size(), 1u);
}

TEST_F(DragFilesTrgTest, movingTheTargetGivesTheOldControlItsOwnBehaviourBack)
{
    const bool ownSetting = other.viewport()->acceptDrops();
    target.SetTarget(&other);
    EXPECT_EQ(list.viewport()->acceptDrops(), false);
    EXPECT_TRUE(other.viewport()->acceptDrops());
    const auto files = Urls({QUrl::fromLocalFile("/tmp/A")});
    DragAndDrop(list.viewport(), files.get());
    EXPECT_TRUE(drops.empty()) << "the old control no longer feeds us";
    EXPECT_TRUE(DragAndDrop(other.viewport(), files.get()));
    EXPECT_EQ(drops.size(), 1u);
    target.SetTarget(nullptr);
    EXPECT_EQ(other.viewport()->acceptDrops(), ownSetting);
}

TEST_F(DragFilesTrgTest, destroyedTargetIsForgotten)
{
    auto doomed = std::make_unique<QListWidget>();
    target.SetTarget(doomed.get());
    doomed.reset();
    EXPECT_EQ(target.Target(), nullptr);
    target.SetEnabled(true); // must not touch the dead control
    target.SetTarget(&list);
    EXPECT_EQ(target.Target(), &list);
}

} // namespace
