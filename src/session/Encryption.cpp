#include "session/Encryption.h"

#include <QByteArray>

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
    // Value names hold printable ASCII without '=' or blanks; host names never need more.
    std::string name = "TrustedCertificate." + host + ":" + std::to_string(port);
    for (char &c : name)
        if (c <= ' ' || c > '~' || c == '=')
            c = '_';
    return name;
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
