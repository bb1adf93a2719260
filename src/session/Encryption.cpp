#include "session/Encryption.h"

#include <QByteArray>

namespace {

// Value names hold printable ASCII without '=' or blanks; host names never need more.
std::string HostValueName(const std::string &prefix, const std::string &host, std::int32_t port)
{
    std::string name = prefix + host + ":" + std::to_string(port);
    for (char &c : name)
        if (c <= ' ' || c > '~' || c == '=')
            c = '_';
    return name;
}

bool ReadFlag(TSettingsStore *store, const std::string &name)
{
    try {
        const auto value = store ? store->ReadInteger(name) : std::nullopt;
        return value && *value != 0;
    } catch (const ESettingsStoreError &) {
        return false; // a value of the wrong type remembers nothing
    }
}

} // namespace

std::optional<TFtpEncryption> ParseEncryption(std::string_view text)
{
    const QByteArray word = QByteArray(text.data(), qsizetype(text.size())).toLower();
    if (word == "require")
        return ftpEncryptRequire;
    if (word == "ifavailable")
        return ftpEncryptIfAvailable;
    if (word == "none")
        return ftpEncryptNone;
    return std::nullopt;
}

const char *EncryptionName(TFtpEncryption mode)
{
    switch (mode) {
    case ftpEncryptRequire: return "Require";
    case ftpEncryptNone: return "None";
    case ftpEncryptIfAvailable: break;
    }
    return "IfAvailable";
}

TFtpEncryption EncryptionOrDefault(std::string_view text)
{
    return ParseEncryption(text).value_or(ftpEncryptIfAvailable);
}

std::string TrustedCertificateName(const std::string &host, std::int32_t port)
{
    return HostValueName("TrustedCertificate.", host, port);
}

std::string LockText(const TTlsPeerInfo &peer)
{
    return peer.Protocol + ", " + peer.Cipher;
}

bool DecideCertificate(TSettingsStore *store, TCertificatePrompt &prompt, const std::string &host,
                       std::int32_t port, const TTlsPeerInfo &peer)
{
    const std::string name = TrustedCertificateName(host, port);
    std::string remembered;
    try {
        remembered = store ? store->ReadString(name) : std::string();
    } catch (const ESettingsStoreError &) {
        remembered.clear(); // a value of the wrong type remembers nothing
    }
    if (!peer.Fingerprint.empty() && remembered == peer.Fingerprint)
        return true;
    const TTrustAnswer answer = prompt.AskTrust({host, port, peer, !remembered.empty()});
    if (answer == trustRemember && store) {
        try {
            store->WriteString(name, peer.Fingerprint);
        } catch (const ESettingsStoreError &) {
            // Trusted for this connection all the same; the next one asks again.
        }
    }
    return answer != trustCancel;
}

std::string TlsSeenName(const std::string &host, std::int32_t port) { return HostValueName("TlsSeen.", host, port); }

std::string PlainAllowedName(const std::string &host, std::int32_t port)
{
    return HostValueName("PlainAllowed.", host, port);
}

void RememberTls(TSettingsStore *store, const std::string &host, std::int32_t port)
{
    if (store && !ReadFlag(store, TlsSeenName(host, port)))
        store->WriteInteger(TlsSeenName(host, port), 1);
}

bool ForgetEncryptionAnswers(TSettingsStore *store, const std::string &host, std::int32_t port)
{
    bool ok = store != nullptr;
    for (const std::string &name : {TlsSeenName(host, port), PlainAllowedName(host, port)})
        if (ReadFlag(store, name))
            ok = store->WriteInteger(name, 0) && ok;
    return ok;
}

TPlainDecision DecidePlainLogin(TSettingsStore *store, TPlainLoginPrompt *prompt, const std::string &host,
                                std::int32_t port)
{
    if (ReadFlag(store, TlsSeenName(host, port)))
        return {false, false,
                "534 " + host + " spoke FTP over TLS before and now refuses it: someone on the network may be "
                "removing the encryption. The password was not sent. If the server really dropped TLS, forget "
                "its remembered answers in the connect dialog"};
    if (ReadFlag(store, PlainAllowedName(host, port)))
        return {true, false, {}};
    const TPlainAnswer answer = prompt ? prompt->AskPlainLogin(host) : plainNoAnswer;
    switch (answer) {
    case plainAlways:
        // A failed write only means the next connection asks again.
        if (store)
            store->WriteInteger(PlainAllowedName(host, port), 1);
        break;
    case plainOnce:
        break;
    case plainNo:
        return {false, true, "534 " + host + " does not offer encryption: the password was not sent"};
    case plainNoAnswer:
        return {false, false,
                "534 " + host + " does not offer encryption and nobody could be asked whether to log in "
                "without it: the password was not sent"};
    }
    return {true, false, {}};
}
