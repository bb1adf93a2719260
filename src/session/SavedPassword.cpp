#include "session/SavedPassword.h"
#include "session/PasswordScrambling.h"

std::string ScrambledOnlyNote(const std::string &settingsPath)
{
    return "No keyring: a saved password is only scrambled, not encrypted, in " + settingsPath;
}

void TSavedPassword::SetKeyring(TKeyring *keyring, std::string settingsPath)
{
    keyring_ = keyring;
    settingsPath_ = std::move(settingsPath);
    // Said before the user saves a password, not after it went to the file.
    if (!keyring_)
        NoteFallback();
}

void TSavedPassword::LoadAtStartup(ConnectionSettings &held)
{
    if (!store_)
        return;
    const std::string userID = store_->ReadString("UserID");
    const KeyringItem item{userID, store_->ReadString("HostName"),
                           store_->ReadInteger("HostPort").value_or(kDefaultHostPort)};
    std::string oldPassword;
    ScramblePassword(userID, store_->ReadString("Password"), oldPassword);
    if (!oldPassword.empty()) {
        // Bound to its login: the command line may have named another host for this run.
        const bool ours = KeyringKey({held.UserID, held.HostName, held.HostPort}) == KeyringKey(item);
        dialog_.ShowStartupPassword(ours, ours ? oldPassword : std::string());
        Migrate(item, oldPassword);
    } else {
        // The login start-up settled on (a chosen site's or the command line's) when it has one.
        const KeyringItem settled{held.UserID, held.HostName, held.HostPort};
        const KeyringItem &login = settled.UserID.empty() || settled.Host.empty() ? item : settled;
        if (!login.UserID.empty() && !login.Host.empty())
            ReadAtStartup(login, held);
    }
}

void TSavedPassword::Migrate(const KeyringItem &item, const std::string &password)
{
    // An item needs its login; without one the password stays where it is.
    if (item.UserID.empty() || item.Host.empty())
        return;
    if (!keyring_) {
        NoteFallback();
        return;
    }
    keyring_->Write(item, password, [this, password](const KeyringAnswer &answer) {
        if (answer.Status != KeyringStatus::Done) {
            NoteFallback();
            return;
        }
        // Only now that the keyring holds it; a later Save has written the file already.
        if (saves_ > 0)
            return;
        try {
            store_->WriteString("Password", {});
        } catch (const ESettingsStoreError &e) {
            dialog_.ShowStoreProblem(e.what());
        }
    });
}

void TSavedPassword::ReadAtStartup(const KeyringItem &item, ConnectionSettings &held)
{
    if (!keyring_) {
        dialog_.ShowStartupPassword(false, {});
        return;
    }
    // A password from the command line is used as it is; the read only tells the dialog.
    passwordDue_ = held.Password.empty();
    keyring_->Read(item, [this, &held](const KeyringAnswer &answer) {
        const bool found = answer.Status == KeyringStatus::Done && !answer.Password.empty();
        // The user may have connected with a typed password meanwhile.
        if (found && held.Password.empty())
            held.Password = answer.Password;
        if (answer.Status == KeyringStatus::Refused)
            dialog_.SetKeyringNote(kKeyringLockedNote);
        else if (answer.Status == KeyringStatus::Unavailable)
            NoteFallback();
        dialog_.ShowStartupPassword(found, found ? answer.Password : std::string());
        StartupAnswered();
    });
}

void TSavedPassword::StartupAnswered()
{
    passwordDue_ = false;
    std::vector<std::function<void()>> waiting;
    waiting.swap(then_);
    for (const auto &then : waiting)
        then();
}

void TSavedPassword::WhenPasswordKnown(std::function<void()> then)
{
    if (passwordDue_)
        then_.push_back(std::move(then));
    else
        then();
}

void TSavedPassword::Save(const ConnectFields &fields)
{
    const int save = ++saves_;
    const KeyringItem item{fields.UserID, fields.Host, StrToInt(fields.Port)};
    if (!fields.SavePassword || fields.Password.empty()) {
        // The empty text erases a password stored the old way.
        StoreText(store_, "Password", {});
        if (keyring_)
            keyring_->Remove(item, [](const KeyringAnswer &) {});
        return;
    }
    if (!keyring_) {
        NoteFallback();
        StoreScrambled(fields.UserID, fields.Password);
        return;
    }
    keyring_->Write(item, fields.Password, [this, save, fields](const KeyringAnswer &answer) {
        if (save != saves_)
            return; // a later Save decides what the file holds
        try {
            if (answer.Status == KeyringStatus::Done) {
                StoreText(store_, "Password", {});
            } else {
                NoteFallback();
                StoreScrambled(fields.UserID, fields.Password);
            }
        } catch (const ESettingsStoreError &e) {
            dialog_.ShowStoreProblem(e.what());
        }
    });
}

void TSavedPassword::Reload(const std::string &storedPassword, const KeyringItem &item)
{
    const int reload = ++reloads_;
    if (!storedPassword.empty() || !keyring_ || item.UserID.empty() || item.Host.empty())
        return;
    keyring_->Read(item, [this, reload](const KeyringAnswer &answer) {
        if (reload != reloads_)
            return;
        if (answer.Status == KeyringStatus::Done && !answer.Password.empty())
            dialog_.ShowReloadedPassword(answer.Password);
        else if (answer.Status == KeyringStatus::Refused)
            dialog_.SetKeyringNote(kKeyringLockedNote);
        else if (answer.Status == KeyringStatus::Unavailable)
            NoteFallback();
    });
}

void TSavedPassword::StoreScrambled(const std::string &userID, const std::string &password)
{
    std::string scrambled;
    ScramblePassword(userID, password, scrambled);
    StoreText(store_, "Password", scrambled);
}

void TSavedPassword::NoteFallback()
{
    dialog_.SetKeyringNote(ScrambledOnlyNote(settingsPath_));
}
