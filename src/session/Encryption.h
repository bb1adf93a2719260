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

// ---- Plain FTP under IfAvailable ----
// A host that spoke TLS once is remembered (per host and port), and so is the user's "Always
// allow" of plain FTP for it; the connect dialog forgets both.
std::string TlsSeenName(const std::string &host, std::int32_t port);
std::string PlainAllowedName(const std::string &host, std::int32_t port);
void RememberTls(TSettingsStore *store, const std::string &host, std::int32_t port);
// Forgets both answers for host and port; false when the store refused.
bool ForgetEncryptionAnswers(TSettingsStore *store, const std::string &host, std::int32_t port);

enum TPlainAnswer { plainNo, plainOnce, plainAlways, plainNoAnswer };

class TPlainLoginPrompt {
public:
    virtual ~TPlainLoginPrompt() = default;
    // "<host> does not offer encryption: send the password and files in clear?", No by
    // default, with "Always allow for this site"; plainNoAnswer when nobody can be asked.
    virtual TPlainAnswer AskPlainLogin(const std::string &host) = 0;
};

// Whether the login may go in clear to a server that does not offer TLS. Refusal, when not:
// the "534 ..." reason; UserDeclined tells the user's own No from a refusal made for them.
struct TPlainDecision {
    bool Allow = false;
    bool UserDeclined = false;
    std::string Refusal;
};
TPlainDecision DecidePlainLogin(TSettingsStore *store, TPlainLoginPrompt *prompt, const std::string &host,
                                std::int32_t port);
