#include "TlsPeer.h"

#include "support/TlsCerts.h"

#include <csignal>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

TTlsPeerServer::TTlsPeerServer(const std::string &Cert)
{
    // The peer writes alerts with plain write(): a client gone first must fail it, not end the tests.
    std::signal(SIGPIPE, SIG_IGN);
    FCtx = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate_chain_file(FCtx, zarvel::test::TlsCertFile(Cert).c_str());
    SSL_CTX_use_PrivateKey_file(FCtx, zarvel::test::TlsKeyFile(Cert).c_str(), SSL_FILETYPE_PEM);
    static const unsigned char Id[] = "zarvel-test";
    SSL_CTX_set_session_id_context(FCtx, Id, sizeof Id - 1);
}

TTlsPeerServer::~TTlsPeerServer()
{
    Join();
    SSL_CTX_free(FCtx);
}

void TTlsPeerServer::Serve(std::function<void(SSL *Ssl, int Fd)> Script, bool Raw)
{
    const int ListenFd = FListener.Fd();
    FThreads.emplace_back([this, ListenFd, Script = std::move(Script), Raw] {
        pollfd P{ListenFd, POLLIN, 0};
        if (poll(&P, 1, 10000) <= 0)
            return;
        const int Fd = ::accept(ListenFd, nullptr, nullptr);
        if (Fd < 0)
            return;
        timeval Tv{10, 0};
        setsockopt(Fd, SOL_SOCKET, SO_RCVTIMEO, &Tv, sizeof Tv);
        if (Raw) {
            Script(nullptr, Fd);
            ::close(Fd);
            return;
        }
        SSL *Ssl = SSL_new(FCtx);
        SSL_set_fd(Ssl, Fd);
        if (SSL_accept(Ssl) == 1) {
            FReused += SSL_session_reused(Ssl) == 1 ? 1 : 0;
            Script(Ssl, Fd);
        }
        SSL_free(Ssl);
        ::close(Fd);
    });
}

void TTlsPeerServer::Join()
{
    for (std::thread &T : FThreads)
        if (T.joinable())
            T.join();
    FThreads.clear();
}

std::string SslReadAll(SSL *Ssl, size_t Want)
{
    std::string Data;
    char Buf[16384];
    while (Data.size() < Want) {
        const int n = SSL_read(Ssl, Buf, sizeof Buf);
        if (n <= 0)
            break;
        Data.append(Buf, size_t(n));
    }
    return Data;
}
