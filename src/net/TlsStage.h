// The optional TLS stage of a stream socket (client side, OpenSSL 3): reads decrypt straight
// from the handle; writes encrypt into a buffer of ciphertext that the socket sends as the
// platform takes it, so an orderly close can hand what is left (close_notify included) to a
// drain as plain bytes, and a failed write loses nothing.
#pragma once

#include <memory>
#include <string>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_session_st SSL_SESSION;
typedef struct bio_st BIO;

// What the peer's certificate says and what verifying it found.
struct TTlsPeerInfo {
    bool Trusted = false;       // chain to a trusted authority, in date, name matches
    std::string Reason;         // why not trusted ("certificate has expired", ...)
    std::string Subject;        // one-line distinguished names
    std::string Issuer;
    std::string NotBefore;      // validity, "Jan  1 00:00:00 2026 GMT"
    std::string NotAfter;
    std::string Fingerprint;    // SHA-256 of the certificate, "AB:CD:..."
    std::string Protocol;       // "TLS 1.3"
    std::string Cipher;         // "TLS_AES_256_GCM_SHA384"
};

// The client configuration shared by a control connection and its data connections: system
// trust store (OpenSSL's default paths, so SSL_CERT_FILE/SSL_CERT_DIR apply), TLS 1.2 or later.
class TTlsClientContext {
public:
    // Empty with Error set when OpenSSL cannot make one.
    static std::shared_ptr<TTlsClientContext> Create(std::string &Error);
    ~TTlsClientContext();
    SSL_CTX *Handle() const { return FCtx; }

private:
    explicit TTlsClientContext(SSL_CTX *Ctx) : FCtx(Ctx) {}
    SSL_CTX *FCtx;
};

class TTlsStage {
public:
    enum TResult { tlsDone, tlsWantMore, tlsFailed };

    // PeerName: the host name or dotted address the certificate must match. Reuse: a session
    // of the control connection to resume (servers refuse data connections that do not).
    TTlsStage(std::shared_ptr<TTlsClientContext> Context, int Handle, const std::string &PeerName,
              SSL_SESSION *Reuse);
    ~TTlsStage();
    TTlsStage(const TTlsStage &) = delete;
    TTlsStage &operator=(const TTlsStage &) = delete;

    bool Valid() const { return FSsl != nullptr; }   // set-up went well (else ErrorText says why)
    TResult Handshake();                     // one step; flushes what it wrote
    // Plaintext into Buffer: the count, 0 at the end of the stream (Ended), -1 when nothing
    // can be read now (Failed tells a fault from a wait).
    int Read(char *Buffer, int Size);
    void Write(const char *Data, int Len);   // encrypts all of it into the pending ciphertext
    void CloseNotify();                      // queues the close_notify alert, once
    // Sends pending ciphertext: 1 all sent, 0 the platform is full, -1 failed (errno set).
    int Flush();
    bool HasPending() const { return FPendingHead < FPending.size(); }
    std::string TakePending();               // the unsent ciphertext, for a drain
    bool Ended() const { return FEnded; }    // the peer's stream ended (close_notify or not)
    bool CloseNotifyReceived() const { return FCloseNotifyIn; }
    bool Failed() const { return FFailed; }
    bool SessionReused() const;              // the handshake resumed the given session
    SSL_SESSION *Session() const;            // a new reference to the session, for reuse; may be null
    const TTlsPeerInfo &Peer() const { return FPeer; }
    const std::string &ErrorText() const { return FError; }

private:
    void TakeFromWriteBio();                 // moves new ciphertext into FPending
    void NoteFailure(int Result);            // FError from OpenSSL's queue or errno
    void ReadPeer();                         // fills FPeer after the handshake

    std::shared_ptr<TTlsClientContext> FContext;
    SSL *FSsl = nullptr;
    BIO *FWriteBio = nullptr;                // memory: what SSL writes, owned by FSsl
    int FHandle;
    std::string FPending;                    // ciphertext not yet taken by the platform
    size_t FPendingHead = 0;
    bool FEnded = false, FCloseNotifyIn = false, FCloseNotifyOut = false, FFailed = false;
    TTlsPeerInfo FPeer;
    std::string FError;
};
