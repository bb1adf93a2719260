// The main window without a session: its controls as a user and a screen reader meet them,
// resizing, the "Local PC" group over a real folder, and the log window.
#include "ui/ConfigureDialog.h"
#include "ui/ListColumns.h"
#include "ui/LocalPCGroup.h"
#include "ui/RecordingSeams.h"
#include "ui/ConnectDialog.h"
#include "ui/TandemGroup.h"
#include "ui/MainWindow.h"
#include "ui/LogWindow.h"
#include "ui/TransferGroup.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QSplitter>
#include <QCompleter>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class MainWindowLayout : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        saved = QDir::currentPath();
        for (const char *name : {"b.c", "a.h", "README", "notes.txt"})
            Put(name);
        QDir(folder.path()).mkdir("sub");
        QFile(folder.filePath("sub/inner.c")).open(QIODevice::WriteOnly);
        ASSERT_TRUE(QDir::setCurrent(folder.path()));
        Build();
    }
    // Builds the windows over the settings file, again for a second run.
    void Build()
    {
        form.reset();
        form = std::make_unique<TFormMain>(messages, sounds, config.filePath("Zarvel.conf"));
        windows.FormConnect = new TFormConnect(messages, form.get());
        windows.FormStatus = new TFormStatus(form.get());
        windows.FormConfig = new TFormConfig(form.get());
        form->AttachWindows(windows);
        pc = form->GroupBoxPC;
    }
    void TearDown() override
    {
        form.reset();
        QDir::setCurrent(saved);
    }
    void Put(const char *name) { QFile(folder.filePath(name)).open(QIODevice::WriteOnly); }
    QStringList Items(const QListWidget *list) const
    {
        QStringList items;
        for (int row = 0; row < list->count(); ++row)
            items << list->item(row)->text().trimmed();
        return items;
    }
    void ActivateFolder(const QString &name)
    {
        const auto found = pc->DirectoryListBoxPC->findItems(name, Qt::MatchEndsWith);
        ASSERT_EQ(found.size(), 1) << name.toStdString();
        Q_EMIT pc->DirectoryListBoxPC->itemActivated(found.first());
    }

    QTemporaryDir folder, config;
    QString saved;
    RecordedMessages messages;
    RecordedSounds sounds;
    std::unique_ptr<TFormMain> form;
    TFormMain::Windows windows;
    TLocalPCGroup *pc = nullptr;
};

TEST_F(MainWindowLayout, extensionSizeTextThatIsNotANumberCountsAsZeroWhenLeft)
{
    QSpinBox *size = form->GroupBoxMode->DLExtensionSize;
    size->setValue(3);
    size->findChild<QLineEdit *>()->clear();
    QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(size, &leave);
    EXPECT_EQ(size->value(), 0);
    EXPECT_EQ(size->text(), "0");
    EXPECT_EQ(form->GroupBoxMode->CurrentOptions().DLExtensionSize, 0);
}

TEST_F(MainWindowLayout, transferControlsStartWithTheirDefaultsCaptionsAndHints)
{
    TTransferGroup *mode = form->GroupBoxMode;
    EXPECT_EQ(mode->BtnUpload->text(), "U&pload");
    EXPECT_EQ(mode->BtnDownload->text(), "Do&wnload");
    EXPECT_TRUE(mode->ULAppendExtension->isChecked());
    EXPECT_TRUE(mode->DLAddFileCode->isChecked());
    EXPECT_EQ(mode->DLExtensionSize->value(), 0);
    EXPECT_EQ(mode->DLExtensionSize->minimum(), 0);
    EXPECT_EQ(mode->DLExtensionSize->maximum(), 8);
    EXPECT_TRUE(mode->RadioButtonAuto->isChecked());
    EXPECT_EQ(mode->DLAddFileCode->toolTip(), "Appends filecode");
    EXPECT_EQ(mode->RadioButtonBinary->toolTip(), "Set Binary transfer mode");
    const TransferOptions options = mode->CurrentOptions();
    EXPECT_EQ(options.Mode, ModeChoice::Auto);
    EXPECT_TRUE(options.DLAddFileCode);
    EXPECT_TRUE(options.ULAppendExtension);
    for (QWidget *off : {static_cast<QWidget *>(mode), static_cast<QWidget *>(mode->BtnUpload),
                         static_cast<QWidget *>(form->GroupBoxTandem->ComboBoxTanFilter),
                         static_cast<QWidget *>(form->GroupBoxTandem->BtnDeleteTandem)})
        EXPECT_FALSE(off->isEnabled()) << off->objectName().toStdString();
    EXPECT_TRUE(pc->BtnMkDirPC->isEnabled());
}

// What a screen reader hears: the name Qt's accessibility interface gives.
QString HeardName(QWidget *widget)
{
    QAccessibleInterface *face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(QAccessible::Name) : QString();
}

TEST_F(MainWindowLayout, everyNamedControlHasAnAccessibleName)
{
    const QRegularExpression named("^(Btn|ComboBox|ListBox|FileListBox|DirectoryListBox|DriveComboBox|"
                                   "FilterComboBox|RadioButton|UL|DL|GroupBox|StatusBar)");
    int checked = 0;
    for (QWidget *widget : form->findChildren<QWidget *>()) {
        if (widget->window() != form.get() || !named.match(widget->objectName()).hasMatch())
            continue;
        ++checked;
        EXPECT_FALSE(HeardName(widget).isEmpty()) << widget->objectName().toStdString();
    }
    EXPECT_GE(checked, 27) << "the three groups' controls were not found by name";
    EXPECT_EQ(HeardName(form->GroupBoxMode->DLAddFileCode), "Add binary Filecode");
    EXPECT_EQ(HeardName(windows.FormStatus->MemoStatus), "Log");
    EXPECT_EQ(HeardName(windows.FormConfig->chkTouchDown), "High Water Marker .down");
    EXPECT_EQ(HeardName(windows.FormConfig->chkTouchUp), "High Water Marker .up");
}

TEST_F(MainWindowLayout, resizingGrowsBothSidesKeepsTransferAndStopsAtTheMinimum)
{
    form->show();
    QApplication::processEvents();
    const QSize pcBefore = form->GroupBoxPC->size();
    const QSize modeBefore = form->GroupBoxMode->size();
    const QSize tandemBefore = form->GroupBoxTandem->size();
    const QSize listBefore = form->GroupBoxTandem->ListBoxTanFiles->size();
    form->resize(form->width() + 200, form->height() + 150);
    QApplication::processEvents();
    EXPECT_GT(form->GroupBoxPC->width(), pcBefore.width());
    EXPECT_GT(form->GroupBoxPC->FileListBoxPC->height(), 0);
    EXPECT_GT(form->GroupBoxPC->height(), pcBefore.height());
    EXPECT_EQ(form->GroupBoxMode->size(), modeBefore);
    EXPECT_GT(form->GroupBoxTandem->width(), tandemBefore.width());
    EXPECT_GT(form->GroupBoxTandem->height(), tandemBefore.height());
    EXPECT_GT(form->GroupBoxTandem->ListBoxTanFiles->width(), listBefore.width());
    EXPECT_GT(form->GroupBoxTandem->ListBoxTanFiles->height(), listBefore.height());
    // The heading rows keep the height of one line of text.
    for (const QHeaderView *header : {static_cast<QHeaderView *>(form->GroupBoxPC->HeaderPCFiles),
                                      static_cast<QHeaderView *>(form->GroupBoxTandem->HeaderTanFiles)})
        EXPECT_EQ(header->height(), header->sizeHint().height()) << header->objectName().toStdString();
    form->resize(100, 100);
    QApplication::processEvents();
    EXPECT_GE(form->width(), 594);
    EXPECT_GE(form->height(), 405);
}

// Size, position and the splitter of one run are those of the next (same settings file);
// a window stored where no screen is now comes back onto one.
TEST_F(MainWindowLayout, sizePlaceAndSplitterComeBackAfterARestart)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    form->RestorePlacement();
    EXPECT_EQ(form->size(), TFormMain::kDefaultSize.boundedTo(screen.size())) << "first run";
    form->show();
    QApplication::processEvents();
    form->setGeometry(30, 40, 700, 500);
    QApplication::processEvents();
    QList<int> widths = form->SplitterGroups->sizes();
    const int moved = 60;
    form->SplitterGroups->setSizes({widths[0] + moved, widths[1], widths[2] - moved});
    widths = form->SplitterGroups->sizes();
    windows.FormStatus->setGeometry(50, 60, 500, 300);
    windows.FormStatus->show();
    form->SavePlacement(); // as closing the window does

    const QString store = config.filePath("Zarvel.conf");
    Build(); // the next run, on the same settings file
    form->RestorePlacement();
    form->show();
    QApplication::processEvents();
    EXPECT_EQ(form->geometry(), QRect(30, 40, 700, 500));
    EXPECT_EQ(form->SplitterGroups->sizes(), widths);
    EXPECT_EQ(windows.FormStatus->geometry(), QRect(50, 60, 500, 300));

    // A place off every screen: the window is put on the first one, at its stored size.
    form.reset();
    {
        TFileSettingsStore file(store);
        std::string problem;
        ASSERT_TRUE(file.OpenOrCreate(problem)) << problem;
        file.WriteString("MainWindow", "-5000 -5000 640 450 0");
    }
    Build();
    form->RestorePlacement();
    EXPECT_TRUE(screen.contains(form->geometry())) << form->geometry().x() << "," << form->geometry().y();
    EXPECT_EQ(form->size(), QSize(640, 450));
}

// Size and time beside each name, sorted by the heading clicked; the names read as before.
TEST_F(MainWindowLayout, pcFilesShowSizeAndTimeAndSortByTheHeadingChosen)
{
    for (const auto &[name, size] : {std::pair("b.c", 300), std::pair("a.h", 10), std::pair("notes.txt", 2000)}) {
        QFile file(folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(size, 'x'));
        file.flush();
        ASSERT_TRUE(file.setFileTime(QDateTime(QDate(2026, 1, 1), QTime(0, 0)).addSecs(size),
                                     QFileDevice::FileModificationTime));
    }
    pc->RefreshFiles();
    EXPECT_EQ(Items(pc->FileListBoxPC), (QStringList{"a.h", "b.c", "notes.txt", "README"}));
    QListWidgetItem *notes = pc->FileListBoxPC->item(2);
    EXPECT_EQ(notes->data(Qt::AccessibleTextRole).toString(), "notes.txt, 2000 bytes, 2026-01-01 00:33");

    pc->HeaderPCFiles->SortBy(1, Qt::DescendingOrder);
    EXPECT_EQ(Items(pc->FileListBoxPC), (QStringList{"notes.txt", "b.c", "a.h", "README"}));
    pc->HeaderPCFiles->SortBy(2, Qt::DescendingOrder);
    EXPECT_EQ(Items(pc->FileListBoxPC), (QStringList{"README", "notes.txt", "b.c", "a.h"})) << "newest first";
    pc->FileListBoxPC->item(0)->setSelected(true);
    EXPECT_EQ(pc->SelectedNames(), std::vector<std::string>{"README"});
    Put("zz.c");
    pc->RefreshFiles();
    EXPECT_EQ(pc->HeaderPCFiles->sortIndicatorSection(), 2) << "a refresh keeps the order chosen";
    EXPECT_EQ(Items(pc->FileListBoxPC).last(), "a.h");
}

// A path typed in the folder box and Enter: that folder; a wrong one is said and changes nothing.
TEST_F(MainWindowLayout, typedFolderIsEnteredAndAWrongOneIsRefused)
{
    QStringList refused;
    pc->OnFolderRefused = [&](const QString &path) { refused << path; };
    QLineEdit *edit = pc->DriveComboBoxPC->lineEdit();
    ASSERT_TRUE(pc->DriveComboBoxPC->completer()) << "typed paths complete";
    edit->setText(folder.filePath("sub"));
    Q_EMIT edit->returnPressed();
    EXPECT_EQ(QDir::currentPath(), QDir(folder.filePath("sub")).canonicalPath());
    EXPECT_EQ(Items(pc->FileListBoxPC), QStringList{"inner.c"});
    EXPECT_EQ(pc->DriveComboBoxPC->currentText(), QDir::currentPath());

    edit->setText("..");
    Q_EMIT edit->returnPressed();
    EXPECT_EQ(QDir::currentPath(), QDir(folder.path()).canonicalPath()) << "relative to the folder shown";
    edit->setText(folder.filePath("missing"));
    Q_EMIT edit->returnPressed();
    EXPECT_EQ(refused, QStringList{folder.filePath("missing")});
    EXPECT_EQ(QDir::currentPath(), QDir(folder.path()).canonicalPath());
}

TEST_F(MainWindowLayout, pcFilesFollowTheFilterAndAllFilesIncludesNamesWithoutAPeriod)
{
    EXPECT_EQ(Items(pc->FileListBoxPC), (QStringList{"a.h", "b.c", "notes.txt", "README"}));
    ASSERT_EQ(pc->FilterComboBoxPC->count(), 2);
    EXPECT_EQ(pc->FilterComboBoxPC->itemText(1), "Source files (*.c;*.h;*.t;*.x)");
    pc->FilterComboBoxPC->setCurrentIndex(1);
    Q_EMIT pc->FilterComboBoxPC->activated(1);
    EXPECT_EQ(Items(pc->FileListBoxPC), (QStringList{"a.h", "b.c"}));

    form->SetFilterPC("Text|*.txt|Everything|*");
    EXPECT_EQ(pc->FilterComboBoxPC->itemText(0), "Text");
    EXPECT_EQ(Items(pc->FileListBoxPC), QStringList{"notes.txt"});
}

TEST_F(MainWindowLayout, choosingAFolderMakesItTheCurrentFolderAndListsItsFiles)
{
    EXPECT_TRUE(Items(pc->DirectoryListBoxPC).contains("sub"));
    ActivateFolder("sub");
    EXPECT_EQ(QDir::currentPath(), QDir(folder.filePath("sub")).canonicalPath());
    EXPECT_EQ(Items(pc->FileListBoxPC), QStringList{"inner.c"});
    EXPECT_EQ(pc->CurrentFolder(), QDir(folder.filePath("sub")).canonicalPath().toStdString());

    ActivateFolder(QDir(folder.path()).dirName());
    EXPECT_EQ(QDir::currentPath(), QDir(folder.path()).canonicalPath());
    EXPECT_FALSE(pc->DriveComboBoxPC->currentText().isEmpty()) << "the folder's volume is selected";
}

TEST_F(MainWindowLayout, selectedPcNamesComeInListOrder)
{
    QListWidget *files = pc->FileListBoxPC;
    files->item(3)->setSelected(true);
    files->item(0)->setSelected(true);
    EXPECT_EQ(pc->SelectedNames(), (std::vector<std::string>{"a.h", "README"}));
}

TEST_F(MainWindowLayout, logWindowKeepsLinesWhileHiddenClearsAndOnlyHidesOnClose)
{
    windows.FormConfig->Settings.LogLevel = 3;
    form->Log(2, "> PWD");
    TFormStatus *status = windows.FormStatus;
    EXPECT_FALSE(status->isVisible());
    form->LogWindowItem->trigger();
    EXPECT_TRUE(status->isVisible());
    EXPECT_EQ(status->windowTitle(), "Status");
    EXPECT_EQ(status->MemoStatus->toPlainText(), "> PWD");
    status->close();
    EXPECT_FALSE(status->isVisible());
    form->LogWindowItem->trigger();
    EXPECT_EQ(status->MemoStatus->toPlainText(), "> PWD");
    status->btnClear->click();
    EXPECT_TRUE(status->MemoStatus->toPlainText().isEmpty());
    form->Log(1, "Connected");
    EXPECT_EQ(status->MemoStatus->toPlainText(), "Connected");
    EXPECT_EQ(form->StatusMessage->text(), "Connected");
}

} // namespace
