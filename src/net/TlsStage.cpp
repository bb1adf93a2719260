// The TLS stage: OpenSSL 3 in non-blocking mode over the socket's handle.
#include "net/TlsStage.h"
#include "net/SocketAddress.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

std::string BioText(BIO *Out)
{
    char *Data = nullptr;
    const long Len = BIO_get_mem_data(Out, &Data);
    return Len > 0 ? std::string(Data, static_cast<size_t>(Len)) : std::string();
}

// "O = Example, CN = host", UTF-8 kept as it is.
std::string NameText(X509_NAME *Name)
{
    BIO *Out = BIO_new(BIO_s_mem());
    if (!Out || !Name) {
        BIO_free(Out);
        return {};
    }
    X509_NAME_print_ex(Out, Name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
    std::string Result = BioText(Out);
    BIO_free(Out);
    return Result;
}

std::string TimeText(const ASN1_TIME *Time)
{
    BIO *Out = BIO_new(BIO_s_mem());
    if (!Out)
        return {};
    std::string Result;
    if (Time && ASN1_TIME_print(Out, Time) == 1)
        Result = BioText(Out);
    BIO_free(Out);
    return Result;
}

std::string FingerprintText(X509 *Cert)
{
    unsigned char Digest[EVP_MAX_MD_SIZE];
    unsigned int Len = 0;
    if (X509_digest(Cert, EVP_sha256(), Digest, &Len) != 1)
        return {};
    std::string Result;
    char Hex[4];
    for (unsigned int i = 0; i < Len; ++i) {
        std::snprintf(Hex, sizeof Hex, i + 1 < Len ? "%02X:" : "%02X", Digest[i]);
        Result += Hex;
    }
    return Result;
}

// "TLSv1.3" as people write it: "TLS 1.3".
std::string ProtocolText(const char *Version)
{
    std::string Text = Version ? Version : "";
    if (Text.rfind("TLSv", 0) == 0)
        Text = "TLS " + Text.substr(4);
    return Text;
}

} // namespace

std::shared_ptr<TTlsClientContext> TTlsClientContext::Create(std::string &Error)
{
    SSL_CTX *Ctx = SSL_CTX_new(TLS_client_method());
    if (!Ctx) {
        Error = "cannot create the TLS context";
        return {};
    }
    SSL_CTX_set_min_proto_version(Ctx, TLS1_2_VERSION);
    // Verification runs in every handshake; the socket's user decides what a failure means
    // (the trust dialog), so the handshake itself never stops on it.
    SSL_CTX_set_verify(Ctx, SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_default_verify_paths(Ctx);
    // Sessions are kept by the control connection's stage for its data connections.
    SSL_CTX_set_session_cache_mode(Ctx, SSL_SESS_CACHE_OFF);
    return std::shared_ptr<TTlsClientContext>(new TTlsClientContext(Ctx));
}

TTlsClientContext::~TTlsClientContext() { SSL_CTX_free(FCtx); }

TTlsStage::TTlsStage(std::shared_ptr<TTlsClientContext> Context, int Handle, const std::string &PeerName,
                     SSL_SESSION *Reuse)
    : FContext(std::move(Context)), FHandle(Handle)
{
    ERR_clear_error();
    SSL *Ssl = SSL_new(FContext->Handle());
    BIO *ReadBio = BIO_new_socket(Handle, BIO_NOCLOSE);
    BIO *WriteBio = BIO_new(BIO_s_mem());
    if (!Ssl || !ReadBio || !WriteBio) {
        SSL_free(Ssl);
        BIO_free(ReadBio);
        BIO_free(WriteBio);
        FError = "cannot create the TLS connection";
        return;
    }
    SSL_set_bio(Ssl, ReadBio, WriteBio);
    in_addr Ip{};
    // An IPv6 literal is matched against the certificate's IP entries, as an IPv4 one is.
    const std::string Literal = WSocketStripBrackets(PeerName);
    const bool IsAddress = inet_pton(AF_INET, PeerName.c_str(), &Ip) == 1 || WSocketIsIPv6Literal(Literal);
    X509_VERIFY_PARAM *Param = SSL_get0_param(Ssl);
    if (IsAddress) {
        X509_VERIFY_PARAM_set1_ip_asc(Param, Literal.c_str());
    } else if (!PeerName.empty()) {
        SSL_set_tlsext_host_name(Ssl, PeerName.c_str());
        X509_VERIFY_PARAM_set_hostflags(Param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        SSL_set1_host(Ssl, PeerName.c_str());
    }
    if (Reuse)
        SSL_set_session(Ssl, Reuse);
    SSL_set_connect_state(Ssl);
    FSsl = Ssl;
    FWriteBio = WriteBio;
}

TTlsStage::~TTlsStage() { SSL_free(FSsl); }

void TTlsStage::TakeFromWriteBio()
{
    char *Data = nullptr;
    const long Len = BIO_get_mem_data(FWriteBio, &Data);
    if (Len <= 0)
        return;
    if (FPendingHead == FPending.size()) {
        FPending.clear();
        FPendingHead = 0;
    }
    FPending.append(Data, static_cast<size_t>(Len));
    (void)BIO_reset(FWriteBio);
}

void TTlsStage::NoteFailure(int Result)
{
    FFailed = true;
    const unsigned long Code = ERR_get_error();
    if (Code != 0) {
        char Text[256];
        ERR_error_string_n(Code, Text, sizeof Text);
        FError = Text;
    } else if (Result == 0 || errno == 0) {
        FError = "the connection ended during the TLS exchange";
    } else {
        FError = std::string("TLS: ") + std::strerror(errno);
    }
    ERR_clear_error();
}

TTlsStage::TResult TTlsStage::Handshake()
{
    if (!FSsl)
        return tlsFailed;
    ERR_clear_error();
    errno = 0;
    const int r = SSL_do_handshake(FSsl);
    TakeFromWriteBio();
    if (Flush() < 0) {
        FFailed = true;
        FError = std::string("TLS: ") + std::strerror(errno);
        return tlsFailed;
    }
    if (r == 1) {
        ReadPeer();
        return tlsDone;
    }
    const int Reason = SSL_get_error(FSsl, r);
    if (Reason == SSL_ERROR_WANT_READ || Reason == SSL_ERROR_WANT_WRITE)
        return tlsWantMore;
    NoteFailure(r);
    return tlsFailed;
}

int TTlsStage::Read(char *Buffer, int Size)
{
    if (!FSsl || FEnded || FFailed || Size <= 0)
        return FEnded ? 0 : -1;
    ERR_clear_error();
    errno = 0;
    const int n = SSL_read(FSsl, Buffer, Size);
    TakeFromWriteBio(); // key updates and alerts the read answered
    if (n > 0)
        return n;
    switch (SSL_get_error(FSsl, n)) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
        return -1;
    case SSL_ERROR_ZERO_RETURN:
        FEnded = FCloseNotifyIn = true;
        return 0;
    case SSL_ERROR_SYSCALL:
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return -1;
        if (errno == 0) { // the TCP stream ended without close_notify
            ERR_clear_error();
            FEnded = true;
            return 0;
        }
        NoteFailure(n);
        return -1;
    default:
        // OpenSSL 3 reports an end of stream without close_notify as a protocol error.
        if (ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
            ERR_clear_error();
            FEnded = true;
            return 0;
        }
        NoteFailure(n);
        return -1;
    }
}

void TTlsStage::Write(const char *Data, int Len)
{
    if (!FSsl || Len <= 0 || FFailed)
        return;
    ERR_clear_error();
    // A memory sink takes every record at once.
    if (SSL_write(FSsl, Data, Len) <= 0)
        NoteFailure(-1);
    TakeFromWriteBio();
}

void TTlsStage::CloseNotify()
{
    if (!FSsl || FCloseNotifyOut || FFailed)
        return;
    FCloseNotifyOut = true;
    ERR_clear_error();
    SSL_shutdown(FSsl);
    ERR_clear_error();
    TakeFromWriteBio();
}

int TTlsStage::Flush()
{
    while (HasPending()) {
        const ssize_t n = ::send(FHandle, FPending.data() + FPendingHead, FPending.size() - FPendingHead, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return 0;
            if (errno == EINTR)
                continue;
            return -1;
        }
        FPendingHead += static_cast<size_t>(n);
    }
    FPending.clear();
    FPendingHead = 0;
    return 1;
}

std::string TTlsStage::TakePending()
{
    std::string Rest = FPending.substr(FPendingHead);
    FPending.clear();
    FPendingHead = 0;
    return Rest;
}

bool TTlsStage::SessionReused() const { return FSsl && SSL_session_reused(FSsl) == 1; }

SSL_SESSION *TTlsStage::Session() const { return FSsl ? SSL_get1_session(FSsl) : nullptr; }

void TTlsStage::ReadPeer()
{
    FPeer = TTlsPeerInfo{};
    FPeer.Protocol = ProtocolText(SSL_get_version(FSsl));
    if (const char *Cipher = SSL_get_cipher_name(FSsl))
        FPeer.Cipher = Cipher;
    X509 *Cert = SSL_get1_peer_certificate(FSsl);
    if (!Cert) {
        FPeer.Reason = "the server sent no certificate";
        return;
    }
    FPeer.Subject = NameText(X509_get_subject_name(Cert));
    FPeer.Issuer = NameText(X509_get_issuer_name(Cert));
    FPeer.NotBefore = TimeText(X509_get0_notBefore(Cert));
    FPeer.NotAfter = TimeText(X509_get0_notAfter(Cert));
    FPeer.Fingerprint = FingerprintText(Cert);
    X509_free(Cert);
    const long Verify = SSL_get_verify_result(FSsl);
    FPeer.Trusted = Verify == X509_V_OK;
    if (!FPeer.Trusted)
        FPeer.Reason = X509_verify_cert_error_string(Verify);
}
