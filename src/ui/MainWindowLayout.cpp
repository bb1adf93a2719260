// The main window's frame: its menus, the three groups side by side with a splitter between
// them, the status bar, the order Tab walks the controls in, F6 between the two lists, and
// where the windows were in the last run.
#include "session/WindowPlacement.h"
#include "ui/LocalPCGroup.h"
#include "ui/LogWindow.h"
#include "ui/MainWindow.h"
#include "ui/PadlockPicture.h"
#include "ui/TandemGroup.h"
#include "ui/TransferGroup.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QLabel>
#include <QMenuBar>
#include <QShortcut>
#include <QSizeGrip>
#include <QSplitter>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr const char *kMainWindowValue = "MainWindow"; // stored placements
constexpr const char *kLogWindowValue = "LogWindow";

void ChainTabs(const QList<QWidget *> &chain)
{
    for (qsizetype i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
}

bool Holds(const QWidget *group, const QWidget *widget)
{
    return widget && (widget == group || group->isAncestorOf(widget));
}

} // namespace

void TFormMain::CreateMenus()
{
    QMenu *file = menuBar()->addMenu("&File");
    ConnectItem = file->addAction("&Connect...");
    DisconnectItem = file->addAction("&Disconnect");
    DisconnectItem->setEnabled(false); // nothing to end yet
    file->addSeparator();
    LogWindowItem = file->addAction("&Log Window");
    SendCommandItem = file->addAction("&Send Command...");
    SendCommandItem->setEnabled(false);
    EditsItem = file->addAction("&Edited Files");
    file->addSeparator();
    // In the File menu: a menu of their own would find no letter free in the main window.
    CompareItem = file->addAction("Co&mpare");
    SynchronizeItem = file->addAction("S&ynchronize...");
    file->addSeparator();
    ConfigureItem = file->addAction("Con&figure...");
    file->addSeparator();
    ExitItem = file->addAction("E&xit");
    QMenu *help = menuBar()->addMenu("&Help");
    HelpItem = help->addAction("&Help");
    AboutItem = help->addAction("&About...");

    connect(ConnectItem, &QAction::triggered, this, GuardedSlot(&TFormMain::ConnectClick));
    connect(DisconnectItem, &QAction::triggered, this, GuardedSlot(&TFormMain::DisconnectClick));
    connect(LogWindowItem, &QAction::triggered, this, GuardedSlot(&TFormMain::LogWindowClick));
    connect(SendCommandItem, &QAction::triggered, this, GuardedSlot(&TFormMain::SendCommandClick));
    connect(ExitItem, &QAction::triggered, this, GuardedSlot(&TFormMain::ExitClick));
    connect(AboutItem, &QAction::triggered, this, GuardedSlot(&TFormMain::AboutClick));
}

void TFormMain::CreateGroups()
{
    GroupBoxPC = new TLocalPCGroup;
    GroupBoxMode = new TTransferGroup;
    GroupBoxTandem = new TTandemGroup;

    // The transfer group keeps its size at the top of its column; the splitter moves the
    // share of the width between the two sides, which both grow with the window.
    auto *middle = new QWidget;
    middle->setObjectName("TransferColumn");
    auto *column = new QVBoxLayout(middle);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(GroupBoxMode);
    column->addStretch();
    middle->setFixedWidth(GroupBoxMode->width());

    SplitterGroups = new QSplitter(Qt::Horizontal);
    SplitterGroups->setObjectName("SplitterGroups");
    SplitterGroups->setAccessibleName("Divider between Local PC and Tandem");
    SplitterGroups->setChildrenCollapsible(false);
    SplitterGroups->addWidget(GroupBoxPC);
    SplitterGroups->addWidget(middle);
    SplitterGroups->addWidget(GroupBoxTandem);
    SplitterGroups->setStretchFactor(0, 2);
    SplitterGroups->setStretchFactor(1, 0);
    SplitterGroups->setStretchFactor(2, 3);

    auto *central = new QWidget;
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 0);
    layout->addWidget(SplitterGroups);
    setCentralWidget(central);
}

void TFormMain::CreateStatusBar()
{
    StatusMessage = new QLabel;
    StatusMessage->setTextFormat(Qt::PlainText); // server texts and file names, never markup
    StatusMessage->setObjectName("StatusMessage");
    // The panels' names are their changing texts (a fixed name would hide them from a
    // screen reader and stop its change notices); what each panel is goes in the description.
    StatusMessage->setAccessibleDescription("Status");
    StatusMessage->setMinimumWidth(450);
    StatusCount = new QLabel;
    StatusCount->setTextFormat(Qt::PlainText); // server texts and file names, never markup
    StatusCount->setObjectName("StatusCount");
    StatusCount->setAccessibleDescription("File count");
    // Wide enough for a five-digit count in the system font.
    StatusCount->setFixedWidth(std::max(50, StatusCount->fontMetrics().horizontalAdvance("99999 File(s)") + 8));
    StatusCount->setAlignment(Qt::AlignCenter);
    statusBar()->setObjectName("StatusBar");
    statusBar()->setAccessibleName("Status bar");
    statusBar()->addWidget(StatusMessage, 1);
    statusBar()->addWidget(StatusCount);
    StatusLock = new QLabel;
    StatusLock->setPixmap(PadlockPicture(*StatusLock));
    StatusLock->setFixedSize(StatusLock->pixmap().deviceIndependentSize().toSize());
    StatusLock->setObjectName("StatusLock");
    StatusLock->setAccessibleName("Not encrypted");
    StatusLock->hide();
    statusBar()->addPermanentWidget(StatusLock);
    statusBar()->setSizeGripEnabled(true);
    if (auto *grip = statusBar()->findChild<QSizeGrip *>())
        grip->setAccessibleName("Resize window");
    for (QObject *watched : {static_cast<QObject *>(statusBar()), static_cast<QObject *>(StatusMessage),
                             static_cast<QObject *>(StatusCount)})
        watched->installEventFilter(this);
}

void TFormMain::ChainTabOrder()
{
    TLocalPCGroup *pc = GroupBoxPC;
    TTransferGroup *mode = GroupBoxMode;
    TTandemGroup *tandem = GroupBoxTandem;
    // Group by group, the PC list first and the Tandem list last: Tab from the Tandem list
    // wraps round to the PC list, and Shift+Tab from the PC list goes back to it.
    ChainTabs({pc->FileListBoxPC, pc->FilterComboBoxPC, pc->BtnMkDirPC, pc->BtnRmDirPC, pc->BtnRefreshPC,
               pc->BtnRenamePC, pc->BtnDeletePC, pc->DriveComboBoxPC, pc->DirectoryListBoxPC,
               mode->BtnUpload, mode->ULAppendExtension, mode->BtnDownload, mode->DLExtensionSize,
               mode->DLAddFileCode, mode->RadioButtonASCII, mode->RadioButtonBinary, mode->RadioButtonAuto,
               tandem->ComboBoxTanSubvol, tandem->ComboBoxTanFilter, tandem->BtnRenameTandem,
               tandem->BtnDeleteTandem, tandem->BtnRefreshTandem, tandem->ListBoxTanFiles});
    for (const QKeySequence &key : {QKeySequence(Qt::Key_F6), QKeySequence(Qt::SHIFT | Qt::Key_F6)})
        connect(new QShortcut(key, this), &QShortcut::activated, this, [this] { Guarded([this] { SwitchList(); }); });
}

void TFormMain::SwitchList()
{
    QWidget *remote = GroupBoxTandem->ListBoxTanFiles;
    const bool toRemote = Holds(GroupBoxPC, focusWidget()) && remote->isEnabled();
    (toRemote ? remote : static_cast<QWidget *>(GroupBoxPC->FileListBoxPC))->setFocus(Qt::ShortcutFocusReason);
}

void TFormMain::RestorePlacement()
{
    QList<QRect> screens;
    for (const QScreen *screen : QGuiApplication::screens())
        screens << screen->availableGeometry();
    const auto stored = LoadPlacement(Store.get(), kMainWindowValue);
    QRect wanted(QPoint(), kDefaultSize);
    if (stored)
        wanted = stored->Normal;
    else if (!screens.isEmpty())
        wanted.moveCenter(screens.first().center()); // the primary screen comes first
    setGeometry(FitOnScreens(wanted, screens));
    if (stored && stored->Maximized)
        setWindowState(windowState() | Qt::WindowMaximized);
    if (const auto log = LoadPlacement(Store.get(), kLogWindowValue); log && Forms_.FormStatus)
        Forms_.FormStatus->setGeometry(FitOnScreens(log->Normal, screens));
    if (const auto split = LoadSplit(Store.get()))
        SplitterGroups->setSizes({split->first, SplitterGroups->sizes().value(1), split->second});
}

void TFormMain::SavePlacement()
{
    StorePlacement(Store.get(), kMainWindowValue, {normalGeometry(), isMaximized()});
    // A log window never shown has no place of the user's choosing.
    if (Forms_.FormStatus && Forms_.FormStatus->testAttribute(Qt::WA_WState_ExplicitShowHide))
        StorePlacement(Store.get(), kLogWindowValue, {Forms_.FormStatus->normalGeometry(), false});
    const QList<int> widths = SplitterGroups->sizes();
    StoreSplit(Store.get(), {widths.value(0), widths.value(2)});
}
