#include "session/PasswordScrambling.h"
#include "ui/AboutBox.h"
#include "ui/ConfigureDialog.h"
#include "ui/LocalPCGroup.h"
#include "ui/RecordingSeams.h"
#include "ui/ConnectDialog.h"
#include "ui/TandemGroup.h"
#include "ui/MainWindow.h"
#include "ui/LogWindow.h"
#include "ui/TransferGroup.h"
#include "ui/TransferProgressDialog.h"
#include "ui/UserMessages.h"
#include "ui/WindowAssembly.h"

#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>

namespace {

// The main window with the connection counted instead of made.
class CountingFormMain : public TFormMain {
public:
    using TFormMain::TFormMain;
    int connects = 0;
    void ConnectToHost() override { ++connects; }
};

class StartupWindows : public testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath("Ondrik/Zarvel.conf");
    RecordedMessages messages;
    RecordedSounds sounds;
    std::unique_ptr<CountingFormMain> form;
    TFormMain::Windows windows;

    void Put(const QByteArray &text)
    {
        QDir().mkpath(dir.filePath("Ondrik"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    // The start-up sequence up to the event loop, in the program's order.
    void Create()
    {
        form = std::make_unique<CountingFormMain>(messages, sounds, path);
        windows = AttachNewWindows(*form, messages);
    }
    // Lets the window paint a few times and any queued calls run.
    void PaintRepeatedly()
    {
        for (int i = 0; i < 3; ++i) {
            form->repaint();
            QApplication::processEvents();
        }
    }
};

TEST_F(StartupWindows, mainWindowHasCaptionMenusAndTwoStatusPanels)
{
    Create();
    EXPECT_EQ(form->windowTitle(), "Zarvel");
    QStringList menus;
    for (QAction *menu : form->menuBar()->actions()) {
        menus << menu->text();
        for (QAction *item : menu->menu()->actions())
            menus << (item->isSeparator() ? QString("-") : item->text());
    }
    EXPECT_EQ(menus.join("|").toStdString(),
              "&File|&Connect...|&Disconnect|-|&Log Window|&Send Command...|&Edited Files|-|Co&mpare|S&ynchronize...|-|"
              "Con&figure...|-|E&xit|"
              "&Help|&Help|&About...");
    EXPECT_EQ(form->StatusMessage->width(), 450);
    EXPECT_GE(form->StatusCount->width(), form->StatusCount->fontMetrics().horizontalAdvance("99999 File(s)"));
    EXPECT_EQ(form->StatusCount->alignment(), Qt::AlignCenter);
    // Only the local side takes input before a session is open.
    EXPECT_TRUE(form->GroupBoxPC->isEnabled());
    EXPECT_FALSE(form->GroupBoxMode->isEnabled());
    EXPECT_FALSE(form->GroupBoxTandem->ListBoxTanFiles->isEnabled());
    EXPECT_FALSE(form->GroupBoxTandem->ComboBoxTanSubvol->isEnabled());
    EXPECT_FALSE(form->GroupBoxMode->BtnDownload->isEnabled());
    EXPECT_TRUE(form->ConnectItem->isEnabled());
}

TEST_F(StartupWindows, exitClosesTheMainWindow)
{
    Create();
    ASSERT_TRUE(form->LoadStartupSettings(""));
    form->show();
    ASSERT_TRUE(form->isVisible());
    form->ExitItem->trigger();
    EXPECT_FALSE(form->isVisible());
}

TEST_F(StartupWindows, autoConnectFromCommandLineConnectsOnceAfterFirstPaint)
{
    Create();
    ASSERT_TRUE(form->LoadStartupSettings("hostname localhost autoconnect"));
    EXPECT_TRUE(form->AutoConnectPending);
    EXPECT_EQ(form->connects, 0) << "nothing may connect before the window paints";
    form->show();
    PaintRepeatedly();
    EXPECT_EQ(form->connects, 1);
    EXPECT_FALSE(form->AutoConnectPending);
}

TEST_F(StartupWindows, autoConnectFromStoreConnectsOnceAndNoneWithoutIt)
{
    Put("int AutoConnect=1\n");
    Create();
    ASSERT_TRUE(form->LoadStartupSettings(""));
    form->show();
    PaintRepeatedly();
    EXPECT_EQ(form->connects, 1);

    Put("int AutoConnect=0\n");
    Create();
    ASSERT_TRUE(form->LoadStartupSettings(""));
    form->show();
    PaintRepeatedly();
    EXPECT_EQ(form->connects, 0);
}

TEST_F(StartupWindows, proxyNameSwitchesConnectDialogProxyControlsOn)
{
    Create();
    EXPECT_FALSE(windows.FormConnect->CheckBoxProxy->isChecked());
    EXPECT_FALSE(windows.FormConnect->EditProxyHost->isEnabled());
    ASSERT_TRUE(form->LoadStartupSettings("proxyname gate"));
    EXPECT_EQ(windows.FormConnect->Settings.ProxyName, "gate");
    EXPECT_TRUE(windows.FormConnect->CheckBoxProxy->isChecked());
    EXPECT_TRUE(windows.FormConnect->LabelProxyHost->isEnabled());
    EXPECT_TRUE(windows.FormConnect->EditProxyHost->isEnabled());
    // The dialog's own check box switches them back.
    windows.FormConnect->CheckBoxProxy->click();
    EXPECT_FALSE(windows.FormConnect->EditProxyHost->isEnabled());
}

TEST_F(StartupWindows, commandLineErrorIsShownAndClosesTheWindowWithoutConnecting)
{
    Create();
    form->show();
    EXPECT_FALSE(form->LoadStartupSettings("autoconnect UserID ops1 Host a"));
    EXPECT_EQ(messages.shown, QStringList{"command line: Invalid parameter: Host"});
    EXPECT_EQ(windows.FormConnect->Settings.UserID, "ops1");
    EXPECT_FALSE(form->isVisible());
    QApplication::processEvents();
    EXPECT_EQ(form->connects, 0);
}

TEST_F(StartupWindows, storeAndCommandLineReachTheDialogsAndStoreIsHandedOver)
{
    std::string scrambled;
    ScramblePassword("OPS", "pw", scrambled);
    // The stored password is the stored login's: the command line names the same port.
    Put("text HostName=tandem1\nint HostPort=2121\ntext UserID=OPS\nint LogLevel=2\ntext Password=" +
        QByteArray::fromStdString(scrambled) + "\n");
    Create();
    ASSERT_TRUE(form->LoadStartupSettings("hostp 2121 touchdown"));
    const ConnectionSettings &c = windows.FormConnect->Settings;
    EXPECT_EQ(c.HostName, "tandem1");
    EXPECT_EQ(c.Password, "pw");
    EXPECT_EQ(c.HostPort, 2121);
    EXPECT_EQ(windows.FormConfig->Settings.LogLevel, 2);
    EXPECT_TRUE(windows.FormConfig->Settings.TouchDown);
    EXPECT_EQ(windows.FormConnect->GetStore(), form->SettingsStore());
    EXPECT_NE(form->SettingsStore(), nullptr);
    EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join("; ").toStdString();
}

TEST_F(StartupWindows, unreadableStoreIsShownLeftAloneAndProgramRunsOnDefaults)
{
    const QByteArray bad = "text HostName=tandem1\nint HostPort=twenty-one\n";
    Put(bad);
    Create();
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(messages.shown[0].startsWith("warning: " + path + ":2: ")) << messages.shown[0].toStdString();
    EXPECT_EQ(form->SettingsStore(), nullptr);
    ASSERT_TRUE(form->LoadStartupSettings("u ops1"));
    EXPECT_EQ(windows.FormConnect->Settings.HostName, "");
    EXPECT_EQ(windows.FormConnect->Settings.HostPort, 21);
    EXPECT_EQ(windows.FormConnect->GetStore(), nullptr);
    form.reset();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), bad);
}

TEST_F(StartupWindows, filtersComeFromStoreAndWrongTypeEndsStartUp)
{
    Put("text FilterPC=Text (*.txt)|*.txt\n");
    Create();
    EXPECT_EQ(form->FilterPC, "Text (*.txt)|*.txt");
    EXPECT_EQ(form->Session().TandemFilters.Definition(),
              "All files||Edit files (Filecode 101)|101|Object Files (Filecodes 100/700)|100;700");
    form.reset();

    Put("int FilterTandem=3\n");
    try {
        Create();
        FAIL() << "no error";
    } catch (const ESettingsStoreError &e) {
        EXPECT_STREQ(e.what(), "Invalid data type for 'FilterTandem'");
    }
}

TEST_F(StartupWindows, splashIsBorderlessOnTopThenBecomesAnOrdinaryDialog)
{
    Create();
    TAboutBox *about = windows.AboutBox;
    about->Splash();
    EXPECT_TRUE(about->isVisible());
    EXPECT_TRUE(about->tmrSplash->isActive());
    EXPECT_EQ(about->tmrSplash->interval(), 3000);
    EXPECT_TRUE(about->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(about->windowFlags() & Qt::WindowStaysOnTopHint);
    ASSERT_TRUE(QMetaObject::invokeMethod(about->tmrSplash, "timeout"));
    EXPECT_FALSE(about->isVisible());
    EXPECT_FALSE(about->tmrSplash->isActive());
    EXPECT_FALSE(about->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_FALSE(about->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(about->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(about->lblVersion->text(), QString("v" ZARVEL_VERSION));
}

TEST_F(StartupWindows, logGoesToStatusBarAtLevelOneAndToLogWindowUpToLogLevel)
{
    Put("int LogLevel=1\n");
    Create();
    ASSERT_TRUE(form->LoadStartupSettings(""));
    form->Log(1, "Connected");
    form->Log(2, "> USER ops1");
    form->Log(0, "bad \xff byte");
    EXPECT_EQ(form->StatusMessage->text(), "Connected");
    EXPECT_EQ(windows.FormStatus->MemoStatus->toPlainText(), QString("Connected\nbad \u00ff byte"));
    // A double click on the status bar opens the log window.
    EXPECT_FALSE(windows.FormStatus->isVisible());
    form->show();
    QMouseEvent click(QEvent::MouseButtonDblClick, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form->statusBar(), &click);
    EXPECT_TRUE(windows.FormStatus->isVisible());
}

} // namespace
