#include "support/MemoryKeyring.h"
#include "ui/RecordingSeams.h"
#include "ui/ConnectDialog.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

namespace {

// The real connect dialog over a settings file in a temporary folder and a keyring in memory.
class ConnectDialog : public testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath("Ondrik/Zarvel.conf");
    RecordedMessages messages;
    TMemoryKeyring keyring;
    std::unique_ptr<TFileSettingsStore> store;
    std::unique_ptr<TFormConnect> form;

    void SetUp() override
    {
        store = std::make_unique<TFileSettingsStore>(path);
        std::string problem;
        ASSERT_TRUE(store->OpenOrCreate(problem)) << problem;
        form = std::make_unique<TFormConnect>(messages);
        form->SetStore(store.get());
        form->SetKeyring(&keyring, path.toStdString());
        form->Settings = {"tandem1", "pw", "ops1", 21, 0, "", "$DATA.SRC"};
    }
    // Lets the keyring answer.
    static void Answer() { QApplication::processEvents(); }
    // Shows the dialog as File > Connect does, without blocking the test.
    void Show()
    {
        form->open();
        QApplication::processEvents();
        messages.shown.clear();
    }
    void Type(QWidget *target, Qt::Key key, const QString &text = {})
    {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(target, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
        QApplication::sendEvent(target, &release);
    }
    QByteArray FileBytes() const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

TEST_F(ConnectDialog, emptyHostIsRefusedDialogStaysThenCancelCloses)
{
    Show();
    form->EditHost->clear();
    form->btnConnect->click();
    EXPECT_EQ(messages.shown, QStringList{"simple: Host and User ID are required fields"});
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->Settings.HostName, "tandem1");
    form->btnCancel->click();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->result(), QDialog::Rejected);
}

TEST_F(ConnectDialog, refusedConnectStillLetsEscapeAndCloseBoxClose)
{
    Show();
    form->EditUserID->clear();
    form->btnConnect->click();
    ASSERT_TRUE(form->isVisible());
    Type(form.get(), Qt::Key_Escape);
    EXPECT_FALSE(form->isVisible()) << "Esc must close the dialog after a refused Connect";

    Show();
    form->EditUserID->clear();
    form->btnConnect->click();
    form->close();
    EXPECT_FALSE(form->isVisible()) << "the close box must close the dialog after a refused Connect";
}

TEST_F(ConnectDialog, nonIntegerPortShowsConversionTextAndReplacesOnlyHostName)
{
    Show();
    form->EditHost->setText("tandem2");
    form->EditUserID->setText("ops2");
    form->EditPort->setText("2x");
    messages.shown.clear();
    form->btnConnect->click();
    EXPECT_EQ(messages.shown, QStringList{"simple: '2x' is not a valid integer value"});
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->Settings.HostName, "tandem2");
    EXPECT_EQ(form->Settings.UserID, "ops1");
    EXPECT_EQ(form->Settings.HostPort, 21);
}

TEST_F(ConnectDialog, uncheckedProxyConnectsDirectlyAndEnterPressesConnect)
{
    form->Settings.ProxyName = "gate";
    Show();
    EXPECT_TRUE(form->CheckBoxProxy->isChecked());
    EXPECT_TRUE(form->EditProxyHost->isEnabled());
    form->CheckBoxProxy->click();
    EXPECT_FALSE(form->EditProxyHost->isEnabled());
    EXPECT_FALSE(form->LabelProxyHost->isEnabled());
    EXPECT_EQ(form->EditProxyHost->text(), "gate");
    Type(form->EditHost, Qt::Key_Return, "\r");
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->result(), QDialog::Accepted);
    EXPECT_EQ(form->Settings.ProxyName, "");
    EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join("; ").toStdString();
}

TEST_F(ConnectDialog, showFillsFieldsFromSettingsAndCancelDiscardsEdits)
{
    form->Settings = {"tandem1", "pw", "ops1", 2121, 1, "gate", "$DATA.SRC"};
    Show();
    EXPECT_EQ(form->EditHost->text(), "tandem1");
    EXPECT_EQ(form->EditPort->text(), "2121");
    EXPECT_EQ(form->EditUserID->text(), "ops1");
    EXPECT_EQ(form->EditPassword->text(), "pw");
    EXPECT_EQ(form->EditPassword->echoMode(), QLineEdit::Password);
    EXPECT_EQ(form->EditSubvol->text(), "$DATA.SRC");
    EXPECT_EQ(form->EditProxyHost->text(), "gate");
    // Auto Connect is on in the settings, but "Include Password" is not checked yet.
    EXPECT_FALSE(form->chkAutoConnect->isEnabled());
    EXPECT_FALSE(form->chkAutoConnect->isChecked());

    EXPECT_EQ(form->focusWidget(), form->btnConnect) << "the dialog opens on Connect";

    form->EditHost->setFocus();
    form->EditHost->setText("typed");
    form->btnCancel->click();
    Show();
    EXPECT_EQ(form->EditHost->text(), "tandem1");
    EXPECT_EQ(form->focusWidget(), form->btnConnect) << "also where the last showing left the focus elsewhere";
}

TEST_F(ConnectDialog, portIsCheckedOnEveryChangeUpTo65535)
{
    // A port the demo server may well listen on is no reason for a warning.
    form->Settings.HostPort = 40000;
    form->open();
    QApplication::processEvents();
    EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join("; ").toStdString();
    form->close();

    // A port from the command line beyond the limit is warned about when the dialog shows.
    form->Settings.HostPort = 70000;
    form->open();
    EXPECT_EQ(messages.shown, QStringList{"simple: Port number invalid"});
    messages.shown.clear();

    form->EditPort->clear();
    EXPECT_EQ(messages.shown, QStringList{"simple: Missing port number"});
    messages.shown.clear();
    QStringList seen;
    for (const char *digit : {"7", "0", "0", "0", "0"}) {
        Type(form->EditPort, Qt::Key(Qt::Key_0 + digit[0] - '0'), digit);
        seen << QString::number(messages.shown.size());
    }
    EXPECT_EQ(seen.join(","), "0,0,0,0,1") << "the warning belongs to the fifth digit";
    EXPECT_EQ(messages.shown, QStringList{"simple: Port number invalid"});
    EXPECT_EQ(form->EditPort->text(), "70000") << "the check only warns";

    messages.shown.clear();
    form->EditPort->selectAll();
    Type(form->EditPort, Qt::Key_Backspace);
    EXPECT_EQ(messages.shown, QStringList{"simple: Missing port number"});
}

TEST_F(ConnectDialog, saveThenReloadRoundTripsEveryFieldThroughTheStore)
{
    Show();
    form->EditHost->setText("tandem2");
    form->EditPort->setText("2121");
    form->EditUserID->setText("ops2");
    form->EditPassword->setText("secret");
    form->EditSubvol->setText("$DATA.OBJ");
    form->CheckBoxProxy->click();
    form->EditProxyHost->setText("gate");
    form->chkSavePassword->click();
    EXPECT_TRUE(form->chkAutoConnect->isEnabled());
    form->chkAutoConnect->click();
    EXPECT_EQ(form->ComboEncryption->currentText(), "Use explicit FTP over TLS if available");
    form->ComboEncryption->setCurrentText("Require explicit FTP over TLS");
    form->btnSave->click();
    Answer();
    EXPECT_EQ(form->Settings.HostName, "tandem1") << "Save must not change the held settings";
    EXPECT_EQ(keyring.items["ops2@tandem2:2121"], "secret");
    EXPECT_EQ(store->ReadString("Encryption"), "Require");

    // Reload brings back what Save stored, over whatever was typed since.
    for (QLineEdit *edit : {form->EditHost, form->EditUserID, form->EditPassword, form->EditSubvol,
                            form->EditProxyHost})
        edit->setText("typed");
    form->EditPort->setText("1");
    form->chkSavePassword->setChecked(false);
    form->SetAutoConnectAllowed(false);
    form->SetProxyControls(false);
    form->ComboEncryption->setCurrentText("Only use plain FTP (insecure)");
    form->btnReload->click();
    Answer();
    EXPECT_EQ(form->ComboEncryption->currentText(), "Require explicit FTP over TLS");
    EXPECT_EQ(form->EditHost->text(), "tandem2");
    EXPECT_EQ(form->EditPort->text(), "2121");
    EXPECT_EQ(form->EditUserID->text(), "ops2");
    EXPECT_EQ(form->EditPassword->text(), "secret");
    EXPECT_EQ(form->EditSubvol->text(), "$DATA.OBJ");
    EXPECT_EQ(form->EditProxyHost->text(), "gate");
    EXPECT_TRUE(form->CheckBoxProxy->isChecked());
    EXPECT_TRUE(form->EditProxyHost->isEnabled());
    EXPECT_TRUE(form->chkSavePassword->isChecked());
    EXPECT_TRUE(form->chkAutoConnect->isEnabled());
    EXPECT_TRUE(form->chkAutoConnect->isChecked());
    EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join("; ").toStdString();
    EXPECT_EQ(store->ReadString("Password"), "") << "the password is the keyring's";
}

TEST_F(ConnectDialog, passwordIsSavedOnlyWithIncludePasswordAndReloadFollowsIt)
{
    Show();
    form->chkSavePassword->click();
    form->chkAutoConnect->click();
    form->btnSave->click();
    Answer();
    ASSERT_EQ(keyring.items["ops1@tandem1:21"], "pw");

    // Unchecking "Include Password" clears Auto Connect; Save then removes the password.
    form->chkSavePassword->click();
    EXPECT_FALSE(form->chkAutoConnect->isEnabled());
    EXPECT_FALSE(form->chkAutoConnect->isChecked());
    form->btnSave->click();
    Answer();
    EXPECT_EQ(keyring.items.count("ops1@tandem1:21"), 0u);
    EXPECT_EQ(store->ReadInteger("AutoConnect"), 0);

    form->btnReload->click();
    Answer();
    EXPECT_EQ(form->EditPassword->text(), "pw") << "no saved password: the one in the field stays";
    EXPECT_FALSE(form->chkSavePassword->isChecked());
    EXPECT_TRUE(form->LabelKeyringNote->isHidden());
}

// Values given on the command line are not replaced by empty saved ones, and Reload says
// what it filled in; a password typed for another account is not kept for the reloaded one.
TEST_F(ConnectDialog, reloadFillsOnlySavedValuesAndSaysWhich)
{
    store->WriteString("InitialSubvol", "$DATA.OBJ");
    Show();
    form->btnReload->click();
    Answer();
    EXPECT_EQ(form->EditHost->text(), "tandem1");
    EXPECT_EQ(form->EditUserID->text(), "ops1");
    EXPECT_EQ(form->EditPassword->text(), "pw");
    EXPECT_EQ(form->EditPort->text(), "21");
    EXPECT_EQ(form->EditSubvol->text(), "$DATA.OBJ");
    EXPECT_EQ(form->LabelReloaded->text(),
              "Reloaded Initial Subvolume from the saved connection; any other field stays as it was.");
    EXPECT_TRUE(form->LabelReloaded->isVisible());

    store->WriteString("HostName", "tandem9");
    store->WriteString("UserID", "ops9");
    form->btnReload->click();
    Answer();
    EXPECT_EQ(form->EditPassword->text(), "") << "the password was ops1's";
    EXPECT_EQ(form->LabelReloaded->text(),
              "Reloaded Host, User ID and Initial Subvolume from the saved connection; any other field stays as it was.");
    EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join("; ").toStdString();
}

TEST_F(ConnectDialog, saveAfterStartUpKeepsASavedPasswordAndAutoConnect)
{
    keyring.items["ops1@tandem1:21"] = "pw";
    store->WriteString("HostName", "tandem1");
    store->WriteString("UserID", "ops1");
    store->WriteInteger("AutoConnect", 1);
    form->Settings.AutoConnect = 1;
    form->LoadSavedPassword();
    Answer();
    Show();
    EXPECT_TRUE(form->chkSavePassword->isChecked());
    EXPECT_TRUE(form->chkAutoConnect->isEnabled());
    EXPECT_TRUE(form->chkAutoConnect->isChecked());
    form->EditSubvol->setText("$DATA.OBJ");
    form->btnSave->click();
    Answer();
    EXPECT_EQ(keyring.items["ops1@tandem1:21"], "pw") << "changing the subvolume must not remove the password";
    EXPECT_EQ(store->ReadInteger("AutoConnect"), 1);

    // Without a saved password the box starts unchecked.
    keyring.items.clear();
    form->LoadSavedPassword();
    Answer();
    EXPECT_FALSE(form->chkSavePassword->isChecked());
}

TEST_F(ConnectDialog, passwordReloadedUnderAnotherStoredUserIsNotTheFirstUsers)
{
    Show();
    form->chkSavePassword->click();
    form->btnSave->click();
    Answer();
    store->WriteString("UserID", "ops9");
    form->btnReload->click();
    Answer();
    EXPECT_EQ(form->EditUserID->text(), "ops9");
    EXPECT_EQ(form->EditPassword->text(), "");
    EXPECT_FALSE(form->chkSavePassword->isChecked());
    EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join("; ").toStdString();
}

TEST_F(ConnectDialog, storeFailuresAreShownAndTheDialogGoesOn)
{
    // A text stored as a number stops Reload with its name; the dialog stays usable.
    store->WriteInteger("UserID", 5);
    Show();
    form->btnReload->click();
    EXPECT_EQ(messages.shown, QStringList{"warning: Invalid data type for 'UserID'"});
    EXPECT_TRUE(form->isVisible());

    // A file broken by hand is never overwritten: Save reports the first text it could not write.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("broken\n");
    file.close();
    messages.shown.clear();
    form->btnSave->click();
    EXPECT_EQ(messages.shown, QStringList{"warning: Failed to set data for 'HostName'"});
    EXPECT_EQ(FileBytes(), "broken\n");

    // Without a store at all, Save says so the same way.
    form->SetStore(nullptr);
    messages.shown.clear();
    form->btnSave->click();
    EXPECT_EQ(messages.shown, QStringList{"warning: Failed to set data for 'HostName'"});
    EXPECT_TRUE(form->isVisible());
}

TEST_F(ConnectDialog, saveWithNonIntegerPortStoresOnlyTheFourTexts)
{
    Show();
    form->EditPort->setText("x");
    messages.shown.clear();
    form->btnSave->click();
    EXPECT_EQ(messages.shown, QStringList{"simple: 'x' is not a valid integer value"});
    EXPECT_EQ(store->ReadString("InitialSubvol"), "$DATA.SRC");
    EXPECT_EQ(store->ReadInteger("HostPort"), std::nullopt);
    EXPECT_EQ(store->ReadInteger("AutoConnect"), std::nullopt);
}

} // namespace
