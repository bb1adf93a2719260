// A TLS server peer for the socket tests: blocking OpenSSL on a thread, one scripted
// connection at a time, with the test certificates of support/TlsCerts.h.
#pragma once

#include "NetPeers.h"

#include <openssl/ssl.h>

#include <atomic>
#include <functional>
#include <vector>
#include <string>
#include <thread>

class TTlsPeerServer {
public:
    // Cert: a certificate name of TlsCerts.h ("server", "other", "expired", ...).
    explicit TTlsPeerServer(const std::string &Cert);
    ~TTlsPeerServer();
    int Port() const { return FListener.Port(); }
    std::string PortStr() const { return FListener.PortStr(); }
    // Accepts the next connection on a thread of its own, runs the server's handshake unless
    // Raw, then Script with the connection (Ssl is null when Raw). Join() waits for them all.
    void Serve(std::function<void(SSL *Ssl, int Fd)> Script, bool Raw = false);
    void Join();
    int Reused() const { return FReused; }   // handshakes that resumed a session

private:
    TPeerListener FListener;
    SSL_CTX *FCtx = nullptr;
    std::vector<std::thread> FThreads;
    std::atomic<int> FReused{0};
};

// Reads from Ssl until Want bytes or the end of the TLS stream.
std::string SslReadAll(SSL *Ssl, size_t Want);
