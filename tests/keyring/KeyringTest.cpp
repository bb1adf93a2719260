// Saved passwords against a real keyring: the private Secret Service of SecretService.h,
// reached through the program's own keyring class. Each test runs in a process of its own
// under ctest; run as one program, the test without a session bus must come first and the
// one that locks the keyring last, as they are in this file.
#include "session/PasswordScrambling.h"
#include "session/SystemKeyring.h"
#include "support/SecretService.h"
#include "ui/ConnectDialog.h"
#include "ui/MainWindowFixture.h"
#include "ui/RecordingSeams.h"

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

namespace {

// Runs the event loop until `done` holds or 20 s pass; returns `done()`.
bool WaitFor(const std::function<bool()> &done)
{
    const QDeadlineTimer deadline(20000);
    while (!done() && !deadline.hasExpired())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    return done();
}

std::string Scrambled(const std::string &user, const std::string &password)
{
    std::string out;
    ScramblePassword(user, password, out);
    return out;
}

// The connect dialog over a settings file and the program's keyring class.
class KeyringDialog : public testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath("Zarvel.conf");
    TFileSettingsStore store{path};
    TSystemKeyring keyring;
    RecordedMessages messages;
    TFormConnect form{messages};

    void SetUp() override
    {
        std::string problem;
        ASSERT_TRUE(store.OpenOrCreate(problem)) << problem;
        form.SetStore(&store);
        form.SetKeyring(&keyring, path.toStdString());
        form.Settings = {"tandem1", "s3cret", "ops1", 21, 0, "", ""};
    }
    QByteArray FileBytes() const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // The keyring's answer to one request.
    KeyringAnswer Ask(const std::function<void(TKeyring::Answer)> &request)
    {
        std::optional<KeyringAnswer> answer;
        request([&](const KeyringAnswer &a) { answer = a; });
        EXPECT_TRUE(WaitFor([&] { return answer.has_value(); })) << "the keyring never answered";
        return answer.value_or(KeyringAnswer{});
    }
};

TEST_F(KeyringDialog, withoutASessionBusSaveScramblesIntoTheFileAndTheDialogNamesIt)
{
    if (TSecretService::Started())
        GTEST_SKIP() << "this process already reaches the private keyring; run this test alone";
    form.open();
    form.chkSavePassword->click();
    form.btnSave->click();
    ASSERT_TRUE(WaitFor([&] { return !store.ReadString("Password").empty(); }));
    EXPECT_EQ(store.ReadString("Password"), Scrambled("ops1", "s3cret"));
    EXPECT_FALSE(FileBytes().contains("s3cret"));
    EXPECT_TRUE(form.LabelKeyringNote->isVisible());
    EXPECT_EQ(form.LabelKeyringNote->text().toStdString(), ScrambledOnlyNote(path.toStdString()));
    EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join("; ").toStdString();
}

// The tests from here on need the private keyring.
class RealKeyring : public KeyringDialog {
protected:
    TSecretService *service = nullptr;
    void SetUp() override
    {
        std::string reason;
        service = TSecretService::Get(&reason);
        if (!service)
            GTEST_SKIP() << reason;
        KeyringDialog::SetUp();
    }
};

TEST_F(RealKeyring, itemIsWrittenUnderItsLabelReadBackAndRemoved)
{
    const KeyringItem item{"DEV.MGR", "tandem1", 2121};
    EXPECT_EQ(Ask([&](auto a) { keyring.Write(item, "s3cret ü", a); }).Status, KeyringStatus::Done);
    EXPECT_EQ(service->Search("user", "DEV.MGR@tandem1:2121"),
              "label = Zarvel: DEV.MGR on tandem1:2121\nsecret = s3cret ü\n");
    const KeyringAnswer read = Ask([&](auto a) { keyring.Read(item, a); });
    EXPECT_EQ(read.Status, KeyringStatus::Done);
    EXPECT_EQ(read.Password, "s3cret ü");
    EXPECT_EQ(Ask([&](auto a) { keyring.Read({"DEV.MGR", "tandem1", 21}, a); }).Status, KeyringStatus::NotFound)
        << "the port is part of the login";
    EXPECT_EQ(Ask([&](auto a) { keyring.Remove(item, a); }).Status, KeyringStatus::Done);
    EXPECT_EQ(service->Search("user", "DEV.MGR@tandem1:2121"), "");
    EXPECT_EQ(Ask([&](auto a) { keyring.Read(item, a); }).Status, KeyringStatus::NotFound);
}

TEST_F(RealKeyring, saveWithAndWithoutIncludePasswordKeepsThePasswordOutOfTheFile)
{
    form.open();
    form.chkSavePassword->click();
    form.btnSave->click();
    ASSERT_TRUE(WaitFor([&] { return service->Search("user", "ops1@tandem1:21").find("secret = s3cret\n") != std::string::npos; }));
    EXPECT_FALSE(FileBytes().contains("text Password=\\")) << FileBytes().toStdString();

    form.chkSavePassword->click();
    form.btnSave->click();
    ASSERT_TRUE(WaitFor([&] { return service->Search("user", "ops1@tandem1:21").empty(); }));
    EXPECT_TRUE(FileBytes().contains("text Password=\n"));
    EXPECT_TRUE(form.LabelKeyringNote->isHidden());
    EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join("; ").toStdString();
}

// The real main window against the NonStop-style server and the private keyring.
class KeyringSession : public MainWindowFixture {
protected:
    TSecretService *service = nullptr;
    void SetUp() override
    {
        std::string reason;
        service = TSecretService::Get(&reason);
        if (!service)
            GTEST_SKIP() << reason;
        MainWindowFixture::SetUp();
        useSystemKeyring = true;
    }
    QByteArray StoreBytes() const
    {
        QFile file(configDir.filePath("Ondrik/Zarvel.conf"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

TEST_F(KeyringSession, oldScrambledPasswordMovesIntoTheKeyringAndAutoConnectLogsInWithIt)
{
    const std::string user = server->User();
    const SettingsValues old{{"HostName", server->Host()}, {"HostPort", std::int32_t(server->Port())},
                             {"UserID", user}, {"InitialSubvol", std::string(kHome)},
                             {"Password", Scrambled(user, server->Password())},
                             {"AutoConnect", 1}, {"Encryption", std::string("None")}};
    DestroyWindow();
    CreateWindow(QByteArray::fromStdString(FormatSettingsText(old)));
    ASSERT_TRUE(form->LoadStartupSettings(""));
    form->show();
    // The server refuses any other password, so an open session shows the right one was sent.
    ASSERT_TRUE(WaitUntil([this] { return form->Session().Connected; }) && WaitUntilIdle())
        << messages.shown.join("; ").toStdString() << LogText().toStdString();

    const std::string login = user + "@" + server->Host() + ":" + server->PortText();
    ASSERT_TRUE(WaitUntil([&] { return StoreBytes().contains("text Password=\n"); })) << StoreBytes().toStdString();
    EXPECT_EQ(service->Search("user", login), "label = Zarvel: " + user + " on " + server->Host() + ":"
                                                  + server->PortText() + "\nsecret = " + server->Password() + "\n");

    // The next start finds the password in the keyring alone.
    form->DisconnectItem->trigger();
    DestroyWindow();
    CreateWindow();
    ASSERT_TRUE(form->LoadStartupSettings(""));
    form->show();
    ASSERT_TRUE(WaitUntil([this] { return form->Session().Connected; }) && WaitUntilIdle());
    EXPECT_TRUE(windows.FormConnect->chkSavePassword->isChecked());
    EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join("; ").toStdString();
}

// Locks the keyring for good: the last suite in this file.
class LockedKeyring : public RealKeyring {};

TEST_F(LockedKeyring, unlockRefusedLeavesThePasswordEmptySaysWhyAndKeepsTheOldPasswordFile)
{
    ASSERT_EQ(Ask([&](auto a) { keyring.Write({"ops1", "tandem1", 21}, "s3cret", a); }).Status, KeyringStatus::Done);
    ASSERT_TRUE(service->Lock());
    store.WriteString("HostName", "tandem1");
    store.WriteString("UserID", "ops1");
    form.Settings.Password.clear();

    // No display here, so the keyring's unlock prompt cannot be answered: as refused.
    form.LoadSavedPassword();
    bool known = false;
    form.WhenPasswordKnown([&] { known = true; });
    ASSERT_TRUE(WaitFor([&] { return known; }));
    form.open();
    EXPECT_EQ(form.EditPassword->text(), "");
    EXPECT_FALSE(form.chkSavePassword->isChecked());
    EXPECT_TRUE(form.LabelKeyringNote->isVisible());
    EXPECT_EQ(form.LabelKeyringNote->text(), kKeyringLockedNote);

    // A password stored the old way cannot move into the locked keyring: the file keeps it.
    store.WriteString("Password", Scrambled("ops1", "old"));
    const QByteArray before = FileBytes();
    form.LoadSavedPassword();
    ASSERT_TRUE(WaitFor([&] { return form.LabelKeyringNote->text().toStdString() != kKeyringLockedNote; }));
    EXPECT_EQ(form.LabelKeyringNote->text().toStdString(), ScrambledOnlyNote(path.toStdString()));
    EXPECT_EQ(FileBytes(), before);
}

} // namespace
