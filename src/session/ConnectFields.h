#pragma once
#include "session/ConnectionSettings.h"
#include "session/SettingsStore.h"
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

// The connect dialog's rules that need no window: taking the typed fields into the held
// settings, checking the port, and saving the fields to the settings store.

// What the connect dialog's fields hold, as typed. Texts are bytes.
struct ConnectFields {
    std::string Host;           // "Host"
    std::string Port;           // "Port", as typed
    std::string UserID;         // "User ID"
    std::string Password;       // "Password"
    std::string Subvol;         // "Initial Subvolume"
    bool UseProxy = false;      // "Use Proxy Settings"
    std::string ProxyHost;      // "Proxy Host", kept while "Use Proxy Settings" is off
    bool SavePassword = false;  // "Include Password"
    bool AutoConnect = false;   // "Auto Connect"
    bool Passive = false;       // "Passive mode"
    std::string Encryption = kDefaultEncryption; // "Encryption": "Require", "IfAvailable" or "None"
    bool AcceptMissingCloseNotify = false; // "Accept TLS data without close_notify"
    std::string Site = {};      // the site chosen in "Site"; empty when none is
};

// A text that is not a whole decimal integer: "'<text>' is not a valid integer value".
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The port field's limits. Ports run to 65535; the demo server itself listens above 32767.
inline constexpr std::int32_t kLowestPort = 0;
inline constexpr std::int32_t kHighestPort = 65535;

// The whole text as a signed 32-bit decimal: leading blanks, an optional sign, then digits
// to the end. Anything else, an empty text or a value beyond 32 bits throws EConvertError.
std::int32_t StrToInt(std::string_view text);

// The port field's check, run on every change: "Missing port number" for an empty text,
// the conversion message for a text that is no integer, "Port number invalid" outside
// lowest..highest; empty when the port is fine. It only warns: the text stays as typed.
std::string CheckPort(std::string_view text, std::int32_t lowest = kLowestPort,
                      std::int32_t highest = kHighestPort);

// The required-fields rule of Connect.
inline constexpr const char *kRequiredFieldsMessage = "Host and User ID are required fields";

// Connect's checks and copy. Returns kRequiredFieldsMessage, changing nothing, when the host
// or the user ID is empty. Otherwise copies HostName, HostPort, UserID, Password,
// InitialSubvol, AutoConnect (1 or 0), ProxyName (empty without "Use Proxy Settings") and
// Passive, Encryption and AcceptMissingCloseNotify in this order and returns the empty text. A port that is no integer throws EConvertError
// after HostName was replaced and before anything else was.
std::string TakeConnectFields(const ConnectFields &fields, ConnectionSettings &settings);

// Save: writes HostName, UserID, ProxyName, InitialSubvol, HostPort, AutoConnect,
// DataConnection ("Active" or "Passive"), Encryption and AcceptMissingCloseNotify (1 or 0) from the fields as typed; the proxy host is written
// whatever "Use Proxy Settings" says. The password is TSavedPassword::Save's (SavedPassword.h).
// A text that cannot be written throws ESettingsStoreError and ends the save; a port that
// is no integer throws EConvertError after the four texts. A failed integer write is
// skipped. Without a store (null) the first write fails.
void SaveConnectionSettings(TSettingsStore *store, const ConnectFields &fields);
