#pragma once
#include "session/ConnectFields.h"
#include "session/ConnectionSettings.h"
#include "session/Keyring.h"
#include "session/SettingsStore.h"

#include <functional>
#include <string>
#include <vector>

// Where a saved password lives: in the desktop keyring, and the settings file's `Password`
// stays empty. Without a keyring (or with one the user keeps locked) the password is stored
// scrambled in the file as before, and the connect dialog says so. A password given on the
// command line is never stored.

// The note beside "Include Password" when passwords go to the file.
std::string ScrambledOnlyNote(const std::string &settingsPath);
// The note when the keyring stayed locked and the saved password could not be read.
inline constexpr const char *kKeyringLockedNote =
    "The keyring stayed locked, so the saved password could not be read.";

// What the saved-password logic reaches in the connect dialog.
class TPasswordDialog {
public:
    virtual ~TPasswordDialog() = default;
    // Shows the text beside "Include Password"; the last one stays.
    virtual void SetKeyringNote(const std::string &text) = 0;
    // A warning box: the store refused a write made after the keyring answered.
    virtual void ShowStoreProblem(const std::string &text) = 0;
    // Start-up learnt whether a password is saved for the stored login; `password` is it.
    virtual void ShowStartupPassword(bool saved, const std::string &password) = 0;
    // Reload found the password of the login just loaded in the keyring.
    virtual void ShowReloadedPassword(const std::string &password) = 0;
};

class TSavedPassword {
public:
    explicit TSavedPassword(TPasswordDialog &dialog) : dialog_(dialog) {}

    // The store (null without one); kept for the program's life.
    void SetStore(TSettingsStore *store) { store_ = store; }
    // The keyring (null without one) and the settings file's path for the note; kept for
    // the program's life.
    void SetKeyring(TKeyring *keyring, std::string settingsPath);

    // Start-up, once the stored settings and the command line are in `held` (which must
    // outlive this object): a password stored the old way moves into the keyring, and the
    // file loses it only once the keyring holds it; otherwise the stored login's password
    // is read from the keyring into `held`, unless `held` already has one.
    void LoadAtStartup(ConnectionSettings &held);
    // Runs `then` once the start-up read has answered, or at once when no answer is due.
    void WhenPasswordKnown(std::function<void()> then);

    // Save's password step, after the other values were written: with "Include Password"
    // and a password, the keyring item of the typed login is written and the file's
    // password emptied once it holds it (scrambled into the file when it cannot); otherwise
    // the file's password is emptied and the item removed. A store write made at once
    // throws ESettingsStoreError; one made after the keyring answered is shown.
    void Save(const ConnectFields &fields);
    // Reload's step: without a password in the file, the keyring's for the loaded login.
    void Reload(const std::string &storedPassword, const KeyringItem &item);

private:
    void Migrate(const KeyringItem &item, const std::string &password);
    void ReadAtStartup(const KeyringItem &item, ConnectionSettings &held);
    void StartupAnswered();
    // The file's password, scrambled with the user ID, as before there were keyrings.
    void StoreScrambled(const std::string &userID, const std::string &password);
    // A keyring that failed or stayed locked: the note that says where passwords go.
    void NoteFallback();

    TPasswordDialog &dialog_;
    TSettingsStore *store_ = nullptr;
    TKeyring *keyring_ = nullptr;
    std::string settingsPath_;
    bool passwordDue_ = false;                 // start-up waits for the keyring's password
    std::vector<std::function<void()>> then_;  // what waits for it
    int saves_ = 0;                            // Saves made; only the last one writes the file
    int reloads_ = 0;                          // Reloads made; only the last one fills the field
};
