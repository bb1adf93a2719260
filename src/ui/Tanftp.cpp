#include "ui/Tanftp.h"
#include "ui/AboutBox.h"
#include "ui/Configure.h"
#include "ui/Tancnct.h"
#include "ui/Tanstat.h"
#include "ui/Tanxfer.h"
#include "ui/UserMessages.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <stdexcept>

TFormMain::TFormMain(TUserMessages &messages, const QString &storePath, QWidget *parent)
    : QMainWindow(parent), Messages(messages)
{
    setObjectName("FormMain");
    setWindowTitle("Zarvel");
    CreateMenus();
    CreateGroups();
    CreateStatusBar();
    setMinimumSize(594, 405);
    resize(594, 434);

    std::string problem;
    Store = OpenSettingsStore(std::make_unique<TFileSettingsStore>(storePath), problem);
    if (!Store)
        Messages.Warning(nullptr, TextForDisplay(problem)
            + "\n\nZarvel runs with default settings and saves none until this is put right.");
    const StartupFilters filters = LoadStartupFilters(Store.get());
    FilterPC = filters.FilterPC;
    TandemFilterDefinition = filters.FilterTandem;
}

TFormMain::~TFormMain()
{
    if (Store)
        Store->Close();
}

void TFormMain::CreateMenus()
{
    QMenu *file = menuBar()->addMenu("&File");
    ConnectItem = file->addAction("&Connect...");
    DisconnectItem = file->addAction("&Disconnect");
    file->addSeparator();
    LogWindowItem = file->addAction("&Log Window");
    file->addSeparator();
    ConfigureItem = file->addAction("&Configure...");
    file->addSeparator();
    ExitItem = file->addAction("E&xit");
    QMenu *help = menuBar()->addMenu("&Help");
    HelpItem = help->addAction("&Help");
    AboutItem = help->addAction("&About...");

    connect(LogWindowItem, &QAction::triggered, this, &TFormMain::LogWindowClick);
    connect(ExitItem, &QAction::triggered, this, &TFormMain::ExitClick);
    connect(AboutItem, &QAction::triggered, this, &TFormMain::AboutClick);
}

void TFormMain::CreateGroups()
{
    auto *central = new QWidget;
    GroupBoxPC = new QGroupBox("Local PC");
    GroupBoxPC->setObjectName("GroupBoxPC");
    GroupBoxPC->setFixedWidth(209);
    GroupBoxPC->setMinimumHeight(361);
    GroupBoxMode = new QGroupBox("Transfer");
    GroupBoxMode->setObjectName("GroupBoxMode");
    GroupBoxMode->setFixedSize(121, 313);
    GroupBoxTandem = new QGroupBox("Tandem");
    GroupBoxTandem->setObjectName("GroupBoxTandem");
    GroupBoxTandem->setMinimumSize(209, 361);
    // No session is open yet.
    GroupBoxMode->setEnabled(false);
    GroupBoxTandem->setEnabled(false);

    auto *layout = new QHBoxLayout(central);
    layout->addWidget(GroupBoxPC);
    layout->addWidget(GroupBoxMode, 0, Qt::AlignTop);
    layout->addWidget(GroupBoxTandem, 1);
    setCentralWidget(central);
}

void TFormMain::CreateStatusBar()
{
    StatusMessage = new QLabel;
    StatusMessage->setFixedWidth(450);
    StatusCount = new QLabel;
    StatusCount->setFixedWidth(50);
    StatusCount->setAlignment(Qt::AlignCenter);
    statusBar()->addWidget(StatusMessage);
    statusBar()->addWidget(StatusCount);
    statusBar()->setSizeGripEnabled(true);
    for (QObject *watched : {static_cast<QObject *>(statusBar()), static_cast<QObject *>(StatusMessage),
                             static_cast<QObject *>(StatusCount)})
        watched->installEventFilter(this);
}

void TFormMain::AttachWindows(const Windows &windows)
{
    Forms_ = windows;
}

bool TFormMain::LoadStartupSettings(const std::string &commandLine)
{
    if (!Forms_.FormConnect || !Forms_.FormConfig)
        throw std::logic_error("LoadStartupSettings needs the connect and configure dialogs");
    Forms_.FormConnect->SetStore(Store.get());
    return ::LoadStartupSettings(Store.get(), commandLine, *this);
}

void TFormMain::ConnectToHost()
{
}

void TFormMain::Log(int level, const std::string &text)
{
    if (level == 1)
        StatusMessage->setText(TextForDisplay(text));
    if (Forms_.FormStatus && Forms_.FormConfig && level <= Forms_.FormConfig->Settings.LogLevel)
        Forms_.FormStatus->AddLine(TextForDisplay(text));
}

void TFormMain::ExitClick()
{
    close();
}

void TFormMain::AboutClick()
{
    if (Forms_.AboutBox)
        Forms_.AboutBox->exec();
}

void TFormMain::LogWindowClick()
{
    if (!Forms_.FormStatus)
        return;
    Forms_.FormStatus->show();
    Forms_.FormStatus->raise();
    Forms_.FormStatus->activateWindow();
}

void TFormMain::FormPaint()
{
    if (!AutoConnectPending)
        return;
    AutoConnectPending = false;
    // Connecting runs the event loop while it waits; started from inside a paint it would
    // repaint recursively, so it starts right after this paint instead.
    QMetaObject::invokeMethod(this, &TFormMain::ConnectToHost, Qt::QueuedConnection);
}

void TFormMain::paintEvent(QPaintEvent *event)
{
    QMainWindow::paintEvent(event);
    FormPaint();
}

void TFormMain::closeEvent(QCloseEvent *event)
{
    event->accept();
    // The log window or a progress dialog may still be open; the program ends anyway.
    QCoreApplication::quit();
}

bool TFormMain::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonDblClick) {
        LogWindowClick();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

ConnectionSettings &TFormMain::HeldConnectionSettings()
{
    return Forms_.FormConnect->Settings;
}

GeneralSettings &TFormMain::HeldGeneralSettings()
{
    return Forms_.FormConfig->Settings;
}

void TFormMain::SetProxyControls(bool on)
{
    Forms_.FormConnect->SetProxyControls(on);
}

void TFormMain::ShowCommandLineError(const std::string &message)
{
    Messages.CommandLineError(nullptr, TextForDisplay(message));
}

void TFormMain::SetAutoConnectPending(bool on)
{
    AutoConnectPending = on;
}

void TFormMain::CloseMainWindow()
{
    close();
}
