#pragma once
#include "session/FileExists.h"

#include <cstdint>
#include <string>

// The connection values, held by the connect dialog for the program's life.
struct ConnectionSettings {
    std::string HostName;        // host name or address of the FTP server
    std::string Password;        // the user's password, plain in memory
    std::string UserID;          // the user name for the login
    std::int32_t HostPort = 0;   // TCP port of the FTP server
    std::int32_t AutoConnect = 0; // non-zero: connect automatically at start-up
    std::string ProxyName;       // FTP proxy; empty connects directly
    std::string InitialSubvol;   // subvolume to enter after the login; empty stays put
    bool Passive = false;        // data connections by PASV (stored as DataConnection "Passive")
    std::string Encryption = "IfAvailable"; // FTP over TLS: "Require", "IfAvailable" or "None"
    // A protected data connection may end without close_notify (a server known never to
    // send it); otherwise such a transfer fails, since it may have been cut.
    bool AcceptMissingCloseNotify = false;
    std::string Site = {};       // the saved site these came from; empty when typed (never stored)
};

// Line ends of ASCII files on the PC: LF (the wire's CR LF turned into LF and back) or CRLF
// (the wire's bytes kept as they are).
enum class LineEnds { LF, CRLF };

// Log level when none is stored: failures and the status lines, batch summaries among them.
inline constexpr std::int32_t kDefaultLogLevel = 1;

// The main window's caption while connected: "Zarvel - " and the site's name, or the host,
// with ":port" when the port is not 21 and no proxy is used (an IPv6 address then in brackets).
std::string SessionCaption(const ConnectionSettings &settings);

// Most connections a batch may use; the host's limit per user is often not much higher.
inline constexpr std::int32_t kMaxConnections = 8;
inline constexpr std::int32_t kDefaultConnections = 2;
// Times a connection lost during a batch is opened again, at most and by default.
inline constexpr std::int32_t kMaxRetries = 10;
inline constexpr std::int32_t kDefaultRetries = 3;

// The general values, held by the configure dialog for the program's life.
struct GeneralSettings {
    std::int32_t LogLevel = kDefaultLogLevel; // highest log level shown in the log window (0 to 3)
    bool SoundConfirmations = false; // sound after successful operations
    std::string TouchFileBase;       // base name of the transfer marker files
    bool TouchUp = false;            // maintain the upload marker file
    bool TouchDown = false;          // maintain the download marker file
    std::int32_t KeepAlive = 0;      // seconds between NOOPs of an idle session; 0: never
    bool ConfirmDelete = true;       // ask before deleting files, on either side
    FileExistsRule WhenFileExists = FileExistsRule::Ask; // a transfer's target exists: ask, overwrite or skip
    LineEnds AsciiLineEnds = LineEnds::LF; // line ends of ASCII files on the PC
    std::int32_t Connections = kDefaultConnections; // logged-in sessions a batch moves its files over (1 to 8)
    std::string Editor{};            // program that edits host files (Edit); empty: the desktop's
    std::int32_t HostTimeOffset = 0; // minutes the host's clock runs ahead of the PC's local clock
    std::int32_t Retries = kDefaultRetries;         // times a batch opens a lost connection again (0 to 10)
};

// The stored texts of DataConnection.
inline constexpr const char *kDataConnectionActive = "Active";
inline constexpr const char *kDataConnectionPassive = "Passive";
// Longest keep-alive interval the configure dialog offers (one day).
inline constexpr std::int32_t kMaxKeepAlive = 86400;

// Furthest the host's clock may be set from the PC's (a day, in minutes).
inline constexpr std::int32_t kMaxHostTimeOffset = 1440;

// Default base name of the marker files, used when none (or an empty one) is stored.
inline constexpr const char *kDefaultTouchFileBase = ".zarvel.xfer";
// Filters used when the store holds none (or an empty one).
inline constexpr const char *kDefaultFilterPC =
    "All files (*.*)|*.*|Source files (*.c;*.h;*.t;*.x)|*.c;*.h;*.t;*.x";
inline constexpr const char *kDefaultFilterTandem =
    "All files||Edit files (Filecode 101)|101|Object Files (Filecodes 100/700)|100;700";
// Encryption when none (or an unknown one) is stored, also for settings saved before it existed.
inline constexpr const char *kDefaultEncryption = "IfAvailable";
// Port used when none is stored.
inline constexpr std::int32_t kDefaultHostPort = 21;
