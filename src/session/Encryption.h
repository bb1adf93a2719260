#pragma once
// FTP over TLS as the user sees it: the stored and command-line value "Encryption", the
// certificates the user chose to trust (kept in the settings store per host and port), and
// the text behind the status bar's lock.
#include "ftp/FtpClient.h"
#include "net/TlsStage.h"
#include "session/SettingsStore.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// "Require", "IfAvailable" or "None" in any letter case; nothing for anything else.
std::optional<TFtpEncryption> ParseEncryption(std::string_view text);
// The stored spelling: "Require", "IfAvailable", "None".
const char *EncryptionName(TFtpEncryption mode);
// The stored text read back: unknown or empty values give the default.
TFtpEncryption EncryptionOrDefault(std::string_view text);

// Name of the stored value that remembers the certificate trusted for host and port.
std::string TrustedCertificateName(const std::string &host, std::int32_t port);

// "TLS 1.3, TLS_AES_256_GCM_SHA384": the lock's tooltip and accessible text.
std::string LockText(const TTlsPeerInfo &peer);

// What the trust dialog shows, and what the user answered.
struct TCertificateQuestion {
    std::string Host;
    std::int32_t Port = 0;
    TTlsPeerInfo Peer;
    bool Changed = false;   // another certificate is remembered for this host and port
};
enum TTrustAnswer { trustCancel, trustOnce, trustRemember };

class TCertificatePrompt {
public:
    virtual ~TCertificatePrompt() = default;
    // The modal trust dialog: "Trust this certificate", "Trust once" or "Cancel".
    virtual TTrustAnswer AskTrust(const TCertificateQuestion &question) = 0;
};

// A certificate OpenSSL did not verify: accepted silently when it is the one remembered for
// host and port, else the user decides (a remembered answer is written to the store).
bool DecideCertificate(TSettingsStore *store, TCertificatePrompt &prompt, const std::string &host,
                       std::int32_t port, const TTlsPeerInfo &peer);
