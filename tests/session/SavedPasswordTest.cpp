#include "session/SavedPassword.h"
#include "session/PasswordScrambling.h"
#include "session/StartupSettings.h"
#include "support/MemoryKeyring.h"
#include "support/MemorySettingsStore.h"

#include <gtest/gtest.h>
#include <QCoreApplication>

namespace {

using Calls = std::vector<std::string>;

// The connect dialog as the saved-password logic sees it, recording what it was told.
class RecordingDialog : public TPasswordDialog {
public:
    Calls calls;
    void SetKeyringNote(const std::string &text) override { calls.push_back("note: " + text); }
    void ShowStoreProblem(const std::string &text) override { calls.push_back("problem: " + text); }
    void ShowStartupPassword(bool saved, const std::string &password) override
    {
        calls.push_back(std::string(saved ? "saved: " : "none: ") + password);
    }
    void ShowReloadedPassword(const std::string &password) override { calls.push_back("reloaded: " + password); }
};

class SavedPassword : public testing::Test {
protected:
    static constexpr const char *kKey = "DEV.MGR@tandem1:2121";
    TMemorySettingsStore store;
    TMemoryKeyring keyring;
    RecordingDialog dialog;
    TSavedPassword saved{dialog};
    ConnectionSettings held;
    ConnectFields fields{"tandem1", "2121", "DEV.MGR", "s3cret", "", false, "", true, false};
    const std::string note = ScrambledOnlyNote("/home/u/.config/Ondrik/Zarvel.conf");

    void SetUp() override
    {
        saved.SetStore(&store);
        saved.SetKeyring(&keyring, "/home/u/.config/Ondrik/Zarvel.conf");
        store.values = {{"HostName", "tandem1"}, {"UserID", "DEV.MGR"}, {"HostPort", 2121}};
        // The stored login, as LoadConnectionSettings reads it into the held settings.
        held.UserID = "DEV.MGR";
        held.HostName = "tandem1";
        held.HostPort = 2121;
    }
    static std::string Scrambled(const std::string &password)
    {
        std::string out;
        ScramblePassword("DEV.MGR", password, out);
        return out;
    }
    // Lets the keyring answer what was asked so far.
    static void Answer() { QCoreApplication::processEvents(); }
};

TEST_F(SavedPassword, oldStoredPasswordMovesIntoKeyringAndLeavesFileOnlyAfterwards)
{
    store.values["Password"] = Scrambled("s3cret");
    held.Password = "s3cret"; // as LoadConnectionSettings unscrambled it
    saved.LoadAtStartup(held);
    EXPECT_EQ(store.ReadString("Password"), Scrambled("s3cret")) << "emptied before the keyring confirmed";
    bool connected = false;
    saved.WhenPasswordKnown([&] { connected = true; });
    EXPECT_TRUE(connected) << "the password is known already; AutoConnect need not wait";

    Answer();
    EXPECT_EQ(keyring.items[kKey], "s3cret");
    EXPECT_EQ(keyring.labels[kKey], "Zarvel: DEV.MGR on tandem1:2121");
    EXPECT_EQ(store.writes, Calls{"Password="});
    EXPECT_EQ(dialog.calls, Calls{"saved: s3cret"});
}

TEST_F(SavedPassword, migrationTheKeyringRefusesLeavesTheFileAsItWasAndSaysSo)
{
    for (KeyringStatus failure : {KeyringStatus::Unavailable, KeyringStatus::Refused}) {
        SCOPED_TRACE(int(failure));
        keyring.failWith = failure;
        store.values["Password"] = Scrambled("s3cret");
        store.writes.clear();
        dialog.calls.clear();
        saved.LoadAtStartup(held);
        Answer();
        EXPECT_TRUE(store.writes.empty());
        EXPECT_EQ(dialog.calls, (Calls{"saved: s3cret", "note: " + note}));
    }
}

TEST_F(SavedPassword, autoConnectWaitsForTheKeyringsPasswordOfTheStoredLogin)
{
    keyring.items[kKey] = "s3cret";
    saved.LoadAtStartup(held);
    bool connected = false;
    saved.WhenPasswordKnown([&] { connected = true; });
    EXPECT_FALSE(connected);
    Answer();
    EXPECT_TRUE(connected);
    EXPECT_EQ(held.Password, "s3cret");
    EXPECT_EQ(dialog.calls, Calls{"saved: s3cret"});
    EXPECT_TRUE(store.writes.empty());

    // A password from the command line wins and does not wait for the keyring.
    held.Password = "typed";
    dialog.calls.clear();
    saved.LoadAtStartup(held);
    connected = false;
    saved.WhenPasswordKnown([&] { connected = true; });
    EXPECT_TRUE(connected);
    Answer();
    EXPECT_EQ(held.Password, "typed");
    EXPECT_EQ(dialog.calls, Calls{"saved: s3cret"});
}

TEST_F(SavedPassword, startupReadThatFindsNothingOrFailsLeavesThePasswordEmptyAndSaysWhy)
{
    const struct {
        KeyringStatus failure;
        Calls calls;
    } rows[] = {
        {KeyringStatus::Done, {"none: "}}, // no item
        {KeyringStatus::Refused, {std::string("note: ") + kKeyringLockedNote, "none: "}},
        {KeyringStatus::Unavailable, {"note: " + note, "none: "}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(int(row.failure));
        keyring.failWith = row.failure;
        dialog.calls.clear();
        saved.LoadAtStartup(held);
        bool connected = false;
        saved.WhenPasswordKnown([&] { connected = true; });
        Answer();
        EXPECT_TRUE(connected) << "AutoConnect goes on and fails at the login instead of hanging";
        EXPECT_EQ(held.Password, "");
        EXPECT_EQ(dialog.calls, row.calls);
    }
}

TEST_F(SavedPassword, saveWithIncludePasswordGoesToKeyringAndFileFallsBackOnlyWithoutOne)
{
    const struct {
        KeyringStatus failure;
        std::string filePassword;
        Calls calls;
    } rows[] = {
        {KeyringStatus::Done, "", {}},
        {KeyringStatus::Unavailable, Scrambled("s3cret"), {"note: " + note}},
        {KeyringStatus::Refused, Scrambled("s3cret"), {"note: " + note}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(int(row.failure));
        keyring.failWith = row.failure;
        store.values["Password"] = "stale";
        dialog.calls.clear();
        saved.Save(fields);
        Answer();
        EXPECT_EQ(store.ReadString("Password"), row.filePassword);
        EXPECT_EQ(dialog.calls, row.calls);
    }
    EXPECT_EQ(keyring.items[kKey], "s3cret");
}

TEST_F(SavedPassword, saveWithoutIncludePasswordEmptiesTheFileAndRemovesTheItem)
{
    keyring.items[kKey] = "s3cret";
    store.values["Password"] = Scrambled("old");
    fields.SavePassword = false;
    saved.Save(fields);
    EXPECT_EQ(store.ReadString("Password"), "") << "erased at once";
    Answer();
    EXPECT_EQ(keyring.items.count(kKey), 0u);

    // An empty password field saves no password either.
    fields.SavePassword = true;
    fields.Password.clear();
    keyring.requests.clear();
    saved.Save(fields);
    Answer();
    EXPECT_EQ(keyring.requests, Calls{std::string("remove ") + kKey});
}

TEST_F(SavedPassword, onlyTheLastSaveDecidesWhatTheFileHolds)
{
    keyring.failWith = KeyringStatus::Unavailable;
    saved.Save(fields);              // would fall back to the file...
    fields.SavePassword = false;
    saved.Save(fields);              // ...but the user unchecked Include Password since
    Answer();
    EXPECT_EQ(store.ReadString("Password"), "");
}

TEST_F(SavedPassword, fileWriteRefusedAfterTheKeyringAnsweredIsShown)
{
    store.failing = {"Password"};
    saved.Save(fields);
    Answer();
    EXPECT_EQ(dialog.calls, Calls{"problem: Failed to set data for 'Password'"});
}

TEST_F(SavedPassword, withoutAKeyringEveryPasswordBytesRoundTripsScrambledThroughTheFile)
{
    saved.SetKeyring(nullptr, "/home/u/.config/Ondrik/Zarvel.conf");
    for (const std::string &password : {std::string("a"), std::string("\x7f\x80\xff p", 5), std::string(40, 'x')}) {
        fields.Password = password;
        saved.Save(fields);
        ConnectionSettings loaded;
        THeldConnectionFields target(loaded);
        LoadConnectionSettings(&store, target);
        EXPECT_EQ(loaded.Password, password);
        EXPECT_NE(store.ReadString("Password"), password);
    }
    EXPECT_EQ(dialog.calls.back(), "note: " + note);
}

// Without a keyring the user learns where a saved password goes before saving one.
TEST_F(SavedPassword, noKeyringNoteComesBeforeTheFirstSave)
{
    saved.SetKeyring(nullptr, "/home/u/.config/Ondrik/Zarvel.conf");
    EXPECT_EQ(dialog.calls, Calls{"note: " + note});
}

// A password stored the old way is shown only for its own login; the command line may have
// named another host for this run.
TEST_F(SavedPassword, oldStoredPasswordIsNotShownForAnotherHost)
{
    store.values["Password"] = Scrambled("s3cret");
    held.HostName = "evil";
    saved.LoadAtStartup(held);
    EXPECT_EQ(dialog.calls.front(), "none: ");
}

TEST_F(SavedPassword, reloadReadsTheKeyringOnlyWhenTheFileHoldsNoPassword)
{
    keyring.items[kKey] = "s3cret";
    const KeyringItem item{"DEV.MGR", "tandem1", 2121};
    saved.Reload("from file", item);
    saved.Reload("", {"DEV.MGR", "", 21}); // no login to look up
    Answer();
    EXPECT_TRUE(keyring.requests.empty());

    saved.Reload("", item);
    saved.Reload("", item);
    Answer();
    EXPECT_EQ(dialog.calls, Calls{"reloaded: s3cret"}) << "only the last Reload fills the field";
}

} // namespace
