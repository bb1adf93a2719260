#pragma once
#include "session/ConnectionSettings.h"
#include "session/SettingsStore.h"
#include <memory>
#include <string>
#include <string_view>

// Loading the settings at start-up. A null store stands for a program that runs without
// one (it could not be opened or created): every value then takes its default. Text reads
// of a value stored with the wrong type throw ESettingsStoreError, which ends start-up.

// Where LoadConnectionSettings puts what it reads: the held settings at start-up, the connect
// dialog's fields at Reload. Calls come in the order the values are read.
class TConnectionFields {
public:
    virtual ~TConnectionFields() = default;
    virtual void SetHostName(const std::string &value) = 0;
    virtual void SetUserID(const std::string &value) = 0;
    virtual void SetProxyName(const std::string &value) = 0;
    virtual void SetInitialSubvol(const std::string &value) = 0;
    virtual void SetHostPort(std::int32_t value) = 0;
    virtual void SetAutoConnect(std::int32_t value) = 0;
    // "Require", "IfAvailable" or "None"; an unknown or missing stored value reads as "IfAvailable".
    virtual void SetEncryption(const std::string &value) = 0;
    // The stored password, unscrambled with the user ID just read; empty when none is stored.
    virtual void SetStoredPassword(const std::string &value) = 0;
    // DataConnection: true for "Passive" (any letter case), false for anything else.
    virtual void SetPassive(bool value) = 0;
    // AcceptMissingCloseNotify: any non-zero integer is on; off when missing.
    virtual void SetAcceptMissingCloseNotify(bool value) = 0;
};

// TConnectionFields over the held settings: an empty stored password leaves Password alone.
class THeldConnectionFields : public TConnectionFields {
public:
    explicit THeldConnectionFields(ConnectionSettings &settings) : settings_(settings) {}
    void SetHostName(const std::string &value) override { settings_.HostName = value; }
    void SetUserID(const std::string &value) override { settings_.UserID = value; }
    void SetProxyName(const std::string &value) override { settings_.ProxyName = value; }
    void SetInitialSubvol(const std::string &value) override { settings_.InitialSubvol = value; }
    void SetHostPort(std::int32_t value) override { settings_.HostPort = value; }
    void SetAutoConnect(std::int32_t value) override { settings_.AutoConnect = value; }
    void SetEncryption(const std::string &value) override { settings_.Encryption = value; }
    void SetStoredPassword(const std::string &value) override;
    void SetPassive(bool value) override { settings_.Passive = value; }
    void SetAcceptMissingCloseNotify(bool value) override { settings_.AcceptMissingCloseNotify = value; }

private:
    ConnectionSettings &settings_;
};

// Reads HostName, UserID, ProxyName, InitialSubvol, HostPort (21 when unreadable),
// AutoConnect (0 when unreadable), Password, DataConnection and AcceptMissingCloseNotify into the target.
void LoadConnectionSettings(TSettingsStore *store, TConnectionFields &target);
// Reads LogLevel, SoundConfirmations, TouchFileBase (".zarvel.xfer" when empty), TouchDown,
// TouchUp, KeepAlive (0 when unreadable, held within 0..kMaxKeepAlive), ConfirmDelete (on
// unless stored as 0), WhenFileExists (Ask unless another rule is stored) and HostTimeOffset
// (0 when unreadable, held within a day either way).
void LoadGeneralSettings(TSettingsStore *store, GeneralSettings &general);

// The two list filters as the main window starts with them: the stored ones, or the
// built-in ones where nothing (or an empty text) is stored.
struct StartupFilters {
    std::string FilterPC;
    std::string FilterTandem;
};
StartupFilters LoadStartupFilters(TSettingsStore *store);

// Opens the store or, when it can be neither opened nor created, releases it, sets
// `problem` and returns null: the program then runs without a store.
std::unique_ptr<TSettingsStore> OpenSettingsStore(std::unique_ptr<TSettingsStore> store,
                                                  std::string &problem);

// What LoadStartupSettings needs from the windows.
class TStartupWindows {
public:
    virtual ~TStartupWindows() = default;
    virtual ConnectionSettings &HeldConnectionSettings() = 0; // the connect dialog's
    virtual GeneralSettings &HeldGeneralSettings() = 0;       // the configure dialog's
    virtual void SetProxyControls(bool on) = 0;               // the connect dialog's proxy controls
    // Modal box with the error icon, one OK button and an empty title.
    virtual void ShowCommandLineError(const std::string &message) = 0;
    virtual void SetAutoConnectPending(bool on) = 0;
    virtual void CloseMainWindow() = 0;                       // ends the program
};

// Loads the stored settings (those of the site chosen last, when one is), lets the command
// line override them (an error is shown at once), switches the proxy controls on for a proxy
// name, arms the automatic connection, and closes the main window after a command-line
// error. Writes nothing to the store.
// Returns false after a command-line error.
bool LoadStartupSettings(TSettingsStore *store, std::string_view commandLine,
                         TStartupWindows &windows);
