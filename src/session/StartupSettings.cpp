#include "session/StartupSettings.h"
#include "session/AsciiLineEnds.h"
#include "session/CommandLine.h"
#include "session/Encryption.h"
#include "session/Keyring.h"
#include "session/PasswordScrambling.h"
#include "session/Sites.h"

#include <algorithm>

#include <cstdlib>

namespace {

std::string ReadText(TSettingsStore *store, const std::string &name)
{
    return store ? store->ReadString(name) : std::string();
}

std::optional<std::int32_t> ReadNumber(TSettingsStore *store, const std::string &name)
{
    return store ? store->ReadInteger(name) : std::nullopt;
}

// Flags are stored as 1 or 0; any non-zero integer reads as on.
bool ReadFlag(TSettingsStore *store, const std::string &name)
{
    const auto value = ReadNumber(store, name);
    return value && *value != 0;
}

bool IsPassiveText(const std::string &text)
{
    return QString::fromStdString(text).compare(kDataConnectionPassive, Qt::CaseInsensitive) == 0;
}

// The login a stored password belongs to, as its keyring item would name it.
std::string LoginKey(const ConnectionSettings &settings)
{
    return KeyringKey({settings.UserID, settings.HostName, settings.HostPort});
}

} // namespace

void THeldConnectionFields::SetStoredPassword(const std::string &value)
{
    // A password given before the store was read (none is, today) is kept over an empty one.
    if (!value.empty())
        settings_.Password = value;
}

void LoadConnectionSettings(TSettingsStore *store, TConnectionFields &target)
{
    target.SetHostName({});
    target.SetHostName(ReadText(store, "HostName"));
    target.SetUserID({});
    const std::string userID = ReadText(store, "UserID");
    target.SetUserID(userID);
    target.SetProxyName({});
    target.SetProxyName(ReadText(store, "ProxyName"));
    target.SetInitialSubvol({});
    target.SetInitialSubvol(ReadText(store, "InitialSubvol"));
    target.SetHostPort(ReadNumber(store, "HostPort").value_or(kDefaultHostPort));
    target.SetAutoConnect(ReadNumber(store, "AutoConnect").value_or(0));
    target.SetEncryption(EncryptionName(EncryptionOrDefault(ReadText(store, "Encryption"))));
    std::string password;
    ScramblePassword(userID, ReadText(store, "Password"), password);
    target.SetStoredPassword(password);
    target.SetPassive(IsPassiveText(ReadText(store, "DataConnection")));
    target.SetAcceptMissingCloseNotify(ReadFlag(store, "AcceptMissingCloseNotify"));
}

void LoadGeneralSettings(TSettingsStore *store, GeneralSettings &general)
{
    general.LogLevel = ReadNumber(store, "LogLevel").value_or(kDefaultLogLevel);
    general.SoundConfirmations = ReadFlag(store, "SoundConfirmations");
    general.TouchFileBase = ReadText(store, "TouchFileBase");
    if (general.TouchFileBase.empty())
        general.TouchFileBase = kDefaultTouchFileBase;
    general.TouchDown = ReadFlag(store, "TouchDown");
    general.TouchUp = ReadFlag(store, "TouchUp");
    general.KeepAlive = std::clamp(ReadNumber(store, "KeepAlive").value_or(0), 0, kMaxKeepAlive);
    // On unless turned off: settings saved before the question existed get it too.
    general.ConfirmDelete = ReadNumber(store, "ConfirmDelete").value_or(1) != 0;
    general.WhenFileExists = ParseFileExistsRule(ReadText(store, "WhenFileExists")).value_or(FileExistsRule::Ask);
    general.AsciiLineEnds = LineEndsOrDefault(ReadText(store, "AsciiLineEnds"));
    general.Connections = std::clamp(ReadNumber(store, "Connections").value_or(kDefaultConnections), 1, kMaxConnections);
    general.Editor = ReadText(store, "Editor");
    general.HostTimeOffset =
        std::clamp(ReadNumber(store, "HostTimeOffset").value_or(0), -kMaxHostTimeOffset, kMaxHostTimeOffset);
    general.Retries = std::clamp(ReadNumber(store, "Retries").value_or(kDefaultRetries), 0, kMaxRetries);
}

StartupFilters LoadStartupFilters(TSettingsStore *store)
{
    StartupFilters filters{ReadText(store, "FilterPC"), ReadText(store, "FilterTandem")};
    if (filters.FilterPC.empty())
        filters.FilterPC = kDefaultFilterPC;
    if (filters.FilterTandem.empty())
        filters.FilterTandem = kDefaultFilterTandem;
    return filters;
}

std::unique_ptr<TSettingsStore> OpenSettingsStore(std::unique_ptr<TSettingsStore> store,
                                                  std::string &problem)
{
    if (!store || !store->OpenOrCreate(problem))
        return nullptr;
    return store;
}

bool LoadStartupSettings(TSettingsStore *store, std::string_view commandLine,
                         TStartupWindows &windows)
{
    ConnectionSettings &connection = windows.HeldConnectionSettings();
    GeneralSettings &general = windows.HeldGeneralSettings();
    THeldConnectionFields held(connection);
    LoadConnectionSettings(store, held);
    const std::string chosenSite = ReadText(store, kChosenSiteValue);
    if (!chosenSite.empty())
        LoadSiteSettings(store, chosenSite, connection);
    LoadGeneralSettings(store, general);

    // The login the stored password was saved with: the file's, or a site's once one is loaded.
    std::string passwordLogin = LoginKey(connection);
    const SiteLoader loadSite = [store, &passwordLogin](const std::string &site, ConnectionSettings &settings) {
        const bool loaded = LoadSiteSettings(store, site, settings);
        if (loaded)
            passwordLogin = LoginKey(settings);
        return loaded;
    };
    const std::string error = ApplyCommandLine(commandLine, connection, general, loadSite);
    // A stored password opens only the login it was saved with, as a keyring item does: never
    // one the command line points elsewhere (another host, port or user).
    const bool typed = CommandLineGivesPassword(commandLine);
    if (!typed && LoginKey(connection) != passwordLogin)
        connection.Password.clear();
    // Scripts and the demo hand the password over this way: argv is visible in every process
    // list. Gone from the environment once read, so no program started from here inherits it.
    if (const char *password = std::getenv("ZARVEL_PASSWORD")) {
        if (!typed)
            connection.Password = password;
        ::unsetenv("ZARVEL_PASSWORD");
    }
    if (!error.empty())
        windows.ShowCommandLineError(error);

    if (!connection.ProxyName.empty())
        windows.SetProxyControls(true);
    windows.SetAutoConnectPending(connection.AutoConnect != 0);
    if (!error.empty()) {
        windows.CloseMainWindow();
        return false;
    }
    return true;
}
