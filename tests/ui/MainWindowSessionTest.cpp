// The main window as a user meets it: connected to the NonStop-style server, browsing
// subvolumes, filtering, disconnecting.
#include "ui/MainWindowFixture.h"
#include "ui/LocalPCGroup.h"
#include "ui/TandemGroup.h"
#include "ui/Tanstat.h"
#include "ui/TransferGroup.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>

namespace {

class MainWindowSession : public MainWindowFixture {};

QStringList SampleNames()
{
    QStringList names;
    for (const auto &file : MainWindowFixture::SampleFiles())
        names << QString::fromStdString(file.first);
    return names;
}

TEST_F(MainWindowSession, autoConnectShowsCaptionSubvolumeFilesAndEnablesTheSession)
{
    ASSERT_TRUE(Connect());
    EXPECT_EQ(form->windowTitle(), "Zarvel - 127.0.0.1");
    EXPECT_EQ(form->GroupBoxTandem->ComboBoxTanSubvol->currentText(), kHome);
    EXPECT_EQ(RemoteNames(), SampleNames()) << "the heading must not be listed";
    EXPECT_EQ(CountText(), QString("%1 File(s)").arg(SampleFiles().size()));
    EXPECT_EQ(StatusText(), "Connected");
    EXPECT_TRUE(form->GroupBoxMode->isEnabled());
    EXPECT_TRUE(form->GroupBoxMode->BtnDownload->isEnabled());
    EXPECT_TRUE(form->GroupBoxTandem->ListBoxTanFiles->isEnabled());
    EXPECT_TRUE(form->GroupBoxTandem->BtnRefreshTandem->isEnabled());
    EXPECT_FALSE(form->ConnectItem->isEnabled());
    EXPECT_TRUE(form->DisconnectItem->isEnabled());
    EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join("; ").toStdString();
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
}

} // namespace
