// The connect and configure dialogs as a user meets them: opened from the File menu of the
// real main window, against the NonStop-style server, with the settings file on disk.
#include "ui/ConfigureDialog.h"
#include "ui/LocalPCGroup.h"
#include "ui/MainWindowFixture.h"
#include "ui/ConnectDialog.h"
#include "ui/TandemGroup.h"
#include "ui/TransferGroup.h"
#include "support/Ipv6Loopback.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

namespace {

class DialogsSession : public MainWindowFixture {
protected:
    QString StorePath() const { return configDir.filePath("Ondrik/Zarvel.conf"); }
    QByteArray StoreBytes() const
    {
        QFile file(StorePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // Chooses the menu command and runs `inside` once its modal dialog is up; a dialog the
    // steps leave open is cancelled, so a faulty button fails the test instead of hanging it.
    void RunModal(QAction *command, QDialog *dialog, const std::function<void()> &inside)
    {
        QTimer::singleShot(0, dialog, [&] {
            if (!dialog->isVisible()) {
                ADD_FAILURE() << "the dialog did not open";
                return;
            }
            inside();
            if (dialog->isVisible()) {
                ADD_FAILURE() << "the dialog stayed open";
                dialog->reject();
            }
        });
        command->trigger();
    }
    void Configure(const std::function<void(TFormConfig &)> &inside)
    {
        RunModal(form->ConfigureItem, windows.FormConfig, [&] { inside(*windows.FormConfig); });
    }
    // Types the test server's details into the connect dialog.
    void TypeServer(TFormConnect &dialog)
    {
        dialog.EditHost->setText(QString::fromStdString(server->Host()));
        dialog.EditPort->setText(QString::fromStdString(server->PortText()));
        dialog.EditUserID->setText(QString::fromStdString(server->User()));
        dialog.EditPassword->setText(QString::fromStdString(server->Password()));
        dialog.EditSubvol->setText(kHome);
        dialog.SetEncryptionChoice("None");
    }
    int ListCommands() const { return int(LogText().count("> LIST")); }
    QStringList FilterLabels() const
    {
        QStringList labels;
        for (int i = 0; i < form->GroupBoxTandem->ComboBoxTanFilter->count(); ++i)
            labels << form->GroupBoxTandem->ComboBoxTanFilter->itemText(i);
        return labels;
    }
};

TEST_F(DialogsSession, connectFromTheFileMenuOpensASessionOnAPortAbove32767)
{
    ASSERT_TRUE(form->LoadStartupSettings(""));
    form->show();
    ASSERT_GT(server->Port(), 0);
    RunModal(form->ConnectItem, windows.FormConnect, [&] {
        TypeServer(*windows.FormConnect);
        windows.FormConnect->btnConnect->click();
    });
    ASSERT_TRUE(WaitUntil([this] { return form->Session().Connected; }) && WaitUntilIdle());
    EXPECT_EQ(form->windowTitle(), "Zarvel - 127.0.0.1:" + QString::fromStdString(server->PortText()));
    EXPECT_EQ(RemoteNames().size(), qsizetype(SampleFiles().size()));
    EXPECT_EQ(form->GroupBoxTandem->ComboBoxTanSubvol->currentText(), kHome);
    EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join("; ").toStdString();
}

TEST_F(DialogsSession, bracketedIpv6LiteralConnectsListsAndDownloadsOverEprt)
{
    SKIP_WITHOUT_IPV6_LOOPBACK();
    MoveServerToIpv6();
    DestroyWindow();
    CreateWindow("int LogLevel=2\n");
    ASSERT_TRUE(form->LoadStartupSettings(""));
    form->show();
    RunModal(form->ConnectItem, windows.FormConnect, [&] {
        TypeServer(*windows.FormConnect);
        windows.FormConnect->EditHost->setText("[::1]");
        windows.FormConnect->btnConnect->click();
    });
    ASSERT_TRUE(WaitUntil([this] { return form->Session().Connected; }) && WaitUntilIdle())
        << messages.shown.join("; ").toStdString();
    // The host as typed, and its port.
    EXPECT_EQ(form->windowTitle(), "Zarvel - [::1]:" + QString::fromStdString(server->PortText()));
    EXPECT_EQ(RemoteNames().size(), qsizetype(SampleFiles().size()));
    EXPECT_TRUE(LogText().contains("> EPRT |2|::1|")) << LogText().toStdString();
    form->GroupBoxMode->DLExtensionSize->setValue(1);
    SelectRemote({"PROGC"});
    Click(form->GroupBoxMode->BtnDownload);
    EXPECT_EQ(StatusText(), "1 file(s) downloaded");
    QFile got(PcPath("PROG.C"));
    ASSERT_TRUE(got.open(QIODevice::ReadOnly));
    EXPECT_EQ(got.readAll().replace("\r\n", "\n"), "contents of PROGC\n");
    EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join("; ").toStdString();
}

TEST_F(DialogsSession, cancelledConnectDialogConnectsNowhere)
{
    ASSERT_TRUE(form->LoadStartupSettings(""));
    form->show();
    RunModal(form->ConnectItem, windows.FormConnect, [&] {
        TypeServer(*windows.FormConnect);
        windows.FormConnect->btnCancel->click();
    });
    QApplication::processEvents();
    EXPECT_FALSE(form->Session().Connected);
    EXPECT_EQ(form->windowTitle(), "Zarvel");
    EXPECT_EQ(windows.FormConnect->Settings.HostName, "");
}

TEST_F(DialogsSession, savedConnectionWithAutoConnectConnectsOnTheNextStart)
{
    ASSERT_TRUE(form->LoadStartupSettings(""));
    form->show();
    RunModal(form->ConnectItem, windows.FormConnect, [&] {
        TFormConnect &dialog = *windows.FormConnect;
        TypeServer(dialog);
        dialog.chkSavePassword->click();
        dialog.chkAutoConnect->click();
        dialog.btnSave->click();
        dialog.btnCancel->click();
    });
    EXPECT_FALSE(StoreBytes().contains(QByteArray::fromStdString(server->Password())));

    DestroyWindow();
    CreateWindow();
    ASSERT_TRUE(form->LoadStartupSettings(""));
    form->show();
    ASSERT_TRUE(WaitUntil([this] { return form->Session().Connected; }) && WaitUntilIdle());
    EXPECT_EQ(RemoteNames().size(), qsizetype(SampleFiles().size()));

    // The dialog shows the saved choice, so saving again keeps the password and Auto Connect.
    form->DisconnectItem->trigger();
    ASSERT_TRUE(WaitUntil([this] { return !form->Session().Connected; }));
    QByteArray saved;
    RunModal(form->ConnectItem, windows.FormConnect, [&] {
        // Shown the first time, the connection saved before sites became the first site.
        EXPECT_EQ(windows.FormConnect->ComboBoxSites->currentText().toStdString(), server->Host());
        saved = StoreBytes();
        EXPECT_TRUE(windows.FormConnect->chkSavePassword->isChecked());
        EXPECT_TRUE(windows.FormConnect->chkAutoConnect->isChecked());
        windows.FormConnect->btnSave->click();
        windows.FormConnect->btnCancel->click();
    });
    EXPECT_EQ(StoreBytes(), saved);
    EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join("; ").toStdString();
}

TEST_F(DialogsSession, configureOkWithoutChangesWritesNothingAndListsNothing)
{
    DestroyWindow();
    CreateWindow("int LogLevel=2\n");
    ASSERT_TRUE(Connect());
    const QByteArray before = StoreBytes();
    const int lists = ListCommands();
    ASSERT_GT(lists, 0) << "the log must show the listing commands";
    Configure([](TFormConfig &dialog) { dialog.OKBtn->click(); });
    EXPECT_EQ(StoreBytes(), before);
    EXPECT_EQ(ListCommands(), lists);
}

TEST_F(DialogsSession, newTandemFilterIsInForceListedAndStoredAndARefusedOneIsDropped)
{
    DestroyWindow();
    CreateWindow("int LogLevel=2\n");
    ASSERT_TRUE(Connect());
    const int lists = ListCommands();
    Configure([](TFormConfig &dialog) {
        dialog.txtFilterTandem->setText("Edit source|101|Objects|100;700");
        dialog.OKBtn->click();
    });
    EXPECT_EQ(FilterLabels(), (QStringList{"Edit source", "Objects"}));
    EXPECT_EQ(RemoteNames(), (QStringList{"PROGC", "PROGH"}));
    EXPECT_EQ(ListCommands(), lists + 1);
    EXPECT_TRUE(StoreBytes().contains("text FilterTandem=Edit source|101|Objects|100;700\n"));

    const QByteArray stored = StoreBytes();
    Configure([](TFormConfig &dialog) {
        EXPECT_EQ(dialog.txtFilterTandem->text(), "Edit source|101|Objects|100;700");
        dialog.txtFilterTandem->setText("All||Edit|101");
        dialog.OKBtn->click();
    });
    EXPECT_EQ(FilterLabels(), (QStringList{"Edit source", "Objects"}));
    EXPECT_EQ(StoreBytes(), stored);
    EXPECT_EQ(ListCommands(), lists + 1);
    EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join("; ").toStdString();
}

TEST_F(DialogsSession, newFiltersTakeEffectAtOnceAlsoWithoutASession)
{
    PutPcFile("prog.c", "c");
    PutPcFile("notes.txt", "t");
    form->GroupBoxPC->RefreshFiles();
    ASSERT_TRUE(form->LoadStartupSettings(""));
    ASSERT_EQ(PcNames(), (QStringList{"notes.txt", "prog.c"}));
    Configure([](TFormConfig &dialog) {
        dialog.txtFilterPC->setText("Text (*.txt)|*.txt|All|*");
        dialog.txtFilterTandem->setText("Edit source|101");
        dialog.OKBtn->click();
    });
    EXPECT_EQ(PcNames(), QStringList{"notes.txt"});
    EXPECT_EQ(form->GroupBoxPC->FilterComboBoxPC->currentText(), "Text (*.txt)");
    EXPECT_TRUE(StoreBytes().contains("text FilterPC=Text (*.txt)|*.txt|All|*\n"));
    EXPECT_EQ(FilterLabels(), QStringList{"Edit source"});
    EXPECT_TRUE(StoreBytes().contains("text FilterTandem=Edit source|101\n"));
    EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join("; ").toStdString();
}

TEST_F(DialogsSession, newLogLevelAppliesToTheNextLine)
{
    ASSERT_TRUE(form->LoadStartupSettings(""));
    form->Log(2, "> hidden at level 0");
    Configure([](TFormConfig &dialog) {
        dialog.CSpinEdit->setValue(2);
        dialog.OKBtn->click();
    });
    form->Log(2, "> shown at level 2");
    form->Log(3, "state not shown");
    EXPECT_EQ(LogText(), "> shown at level 2");
    EXPECT_TRUE(StoreBytes().contains("int LogLevel=2\n"));
}

TEST_F(DialogsSession, resetThenOkPutsBuiltInsBackAndWritesOnlyWhatChanged)
{
    DestroyWindow();
    CreateWindow("int LogLevel=2\nint TouchUp=1\ntext FilterTandem=Edit it|101\n");
    ASSERT_TRUE(Connect());
    ASSERT_EQ(FilterLabels(), QStringList{"Edit it"});
    ASSERT_EQ(RemoteNames(), (QStringList{"PROGC", "PROGH"}));
    Configure([](TFormConfig &dialog) {
        dialog.ResetBtn->click();
        dialog.OKBtn->click();
    });
    EXPECT_EQ(FilterLabels(), (QStringList{"All files", "Edit files (Filecode 101)",
                                           "Object Files (Filecodes 100/700)"}));
    EXPECT_EQ(RemoteNames().size(), qsizetype(SampleFiles().size())) << "the new filter lists again";
    const QByteArray stored = StoreBytes();
    EXPECT_TRUE(stored.contains("int LogLevel=1\n"));
    EXPECT_TRUE(stored.contains("int TouchUp=0\n"));
    EXPECT_FALSE(stored.contains("TouchDown")) << "an unchanged value must not be written";
    EXPECT_FALSE(stored.contains("SoundConfirmations"));
    EXPECT_FALSE(stored.contains("FilterPC")) << "the PC filter was the built-in one already";
    EXPECT_TRUE(stored.contains("FilterTandem=All files||Edit files"));
}

TEST_F(DialogsSession, storeThatCannotBeWrittenIsReportedAndTheFiltersStillApply)
{
    ASSERT_TRUE(Connect());
    QDir().mkpath(configDir.filePath("Ondrik"));
    QFile file(StorePath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("broken by hand\n");
    file.close();
    Configure([](TFormConfig &dialog) {
        dialog.editTouchFileBase->setText("marks");
        dialog.txtFilterTandem->setText("Edit source|101");
        dialog.OKBtn->click();
    });
    EXPECT_EQ(messages.shown, QStringList{"warning: Failed to set data for 'TouchFileBase'"});
    EXPECT_EQ(windows.FormConfig->Settings.TouchFileBase, "marks");
    EXPECT_EQ(FilterLabels(), QStringList{"Edit source"});
    EXPECT_EQ(RemoteNames(), (QStringList{"PROGC", "PROGH"}));
    EXPECT_EQ(StoreBytes(), "broken by hand\n");
}

TEST_F(DialogsSession, keepAliveFromTheConfigureDialogIsStoredAndPingsTheIdleServer)
{
    DestroyWindow();
    CreateWindow("int LogLevel=2\n");
    ASSERT_TRUE(Connect());
    EXPECT_FALSE(LogText().contains("> NOOP"));
    Configure([](TFormConfig &dialog) {
        dialog.spinKeepAlive->setValue(1);
        dialog.OKBtn->click();
    });
    EXPECT_TRUE(StoreBytes().contains("int KeepAlive=1\n")) << StoreBytes().toStdString();
    ASSERT_TRUE(WaitUntil([this] { return LogText().count("> NOOP") >= 2; })) << LogText().toStdString();
    EXPECT_TRUE(form->Session().Connected);
    EXPECT_FALSE(LogText().contains("Disconnected"));
}

// Each choice sends its own command, lists, and is kept by Save for the next start.
class DataConnectionSession : public DialogsSession, public testing::WithParamInterface<bool> {};

TEST_P(DataConnectionSession, choiceSendsItsCommandListsAndSurvivesSaveReloadAndARestart)
{
    const bool passive = GetParam();
    DestroyWindow();
    CreateWindow("int LogLevel=2\n");
    ASSERT_TRUE(form->LoadStartupSettings(""));
    form->show();
    RunModal(form->ConnectItem, windows.FormConnect, [&] {
        TFormConnect &dialog = *windows.FormConnect;
        TypeServer(dialog);
        dialog.chkPassive->setChecked(passive);
        dialog.chkSavePassword->click();
        dialog.btnSave->click();
        dialog.chkPassive->setChecked(!passive);
        dialog.btnReload->click();
        EXPECT_EQ(dialog.chkPassive->isChecked(), passive) << "Reload brings the saved choice back";
        dialog.btnCancel->click();
    });

    DestroyWindow();
    CreateWindow();
    ASSERT_TRUE(form->LoadStartupSettings(""));
    EXPECT_EQ(windows.FormConnect->Settings.Passive, passive);
    form->show();
    RunModal(form->ConnectItem, windows.FormConnect, [&] { windows.FormConnect->btnConnect->click(); });
    ASSERT_TRUE(WaitUntil([this] { return form->Session().Connected; }) && WaitUntilIdle());
    EXPECT_EQ(RemoteNames().size(), qsizetype(SampleFiles().size()));
    EXPECT_EQ(LogText().contains("> EPSV"), passive) << LogText().toStdString();
    EXPECT_EQ(LogText().contains("> PORT"), !passive);
    EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join("; ").toStdString();
}

INSTANTIATE_TEST_SUITE_P(ActiveAndPassive, DataConnectionSession, testing::Bool(),
                         [](const auto &info) { return info.param ? "Passive" : "Active"; });

TEST_F(DialogsSession, sitesAreSavedChosenDeletedAndPickedAtStartUp)
{
    DestroyWindow();
    CreateWindow("text HostName=oldhost\nint HostPort=21\ntext UserID=olduser\n");
    ASSERT_TRUE(form->LoadStartupSettings(""));
    form->show();
    messages.answers = {QString("demo"), QString("prod"), QString("yes")};
    RunModal(form->ConnectItem, windows.FormConnect, [&] {
        TFormConnect &dialog = *windows.FormConnect;
        EXPECT_EQ(dialog.ComboBoxSites->currentText(), "oldhost") << "the old settings are the first site";
        TypeServer(dialog);
        dialog.chkPassive->setChecked(true);
        dialog.chkSavePassword->click();
        dialog.btnSaveAs->click();                        // "demo": the test server
        EXPECT_EQ(dialog.ComboBoxSites->currentText(), "demo");
        dialog.EditHost->setText("prodhost");
        dialog.EditSubvol->setText("$PROD.SUB");
        dialog.btnSaveAs->click();                        // "prod"
        EXPECT_EQ(dialog.ComboBoxSites->count(), 3);

        dialog.ComboBoxSites->setCurrentText("oldhost");  // choosing fills every field
        dialog.ComboBoxSitesChoose(dialog.ComboBoxSites->currentIndex());
        EXPECT_EQ(dialog.EditHost->text(), "oldhost");
        EXPECT_EQ(dialog.EditUserID->text(), "olduser");
        EXPECT_FALSE(dialog.chkPassive->isChecked());
        dialog.btnDeleteSite->click();                    // "yes"
        EXPECT_EQ(dialog.ComboBoxSites->count(), 2);
        EXPECT_EQ(dialog.ComboBoxSites->findText("oldhost"), -1);

        dialog.ComboBoxSites->setCurrentText("demo");
        dialog.ComboBoxSitesChoose(dialog.ComboBoxSites->currentIndex());
        EXPECT_EQ(dialog.EditHost->text().toStdString(), server->Host());
        dialog.btnCancel->click();
    });
    EXPECT_TRUE(messages.answers.empty());
    EXPECT_EQ(StoreBytes().count("HostName="), 3) << "the current connection and two sites";

    // The site chosen last is what start-up loads; `Site` on the command line picks another.
    DestroyWindow();
    CreateWindow();
    ASSERT_TRUE(form->LoadStartupSettings("Site prod"));
    EXPECT_EQ(windows.FormConnect->Settings.HostName, "prodhost");
    EXPECT_EQ(windows.FormConnect->Settings.InitialSubvol, "$PROD.SUB");
    DestroyWindow();
    CreateWindow();
    ASSERT_TRUE(form->LoadStartupSettings("AutoConnect"));
    form->show();
    ASSERT_TRUE(WaitUntil([this] { return form->Session().Connected; }) && WaitUntilIdle());
    EXPECT_EQ(RemoteNames().size(), qsizetype(SampleFiles().size()));
    EXPECT_TRUE(form->Session().FTPCLI.Passive()) << "the site's data connection came along";

    DestroyWindow();
    CreateWindow();
    EXPECT_FALSE(form->LoadStartupSettings("s nosuch"));
    EXPECT_EQ(messages.shown.join("; ").toStdString().find("command line: Unknown site: nosuch") != std::string::npos, true)
        << messages.shown.join("; ").toStdString();
}

} // namespace
