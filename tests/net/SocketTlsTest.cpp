// The socket's TLS stage against an OpenSSL server peer on loopback.
#include "NetPeers.h"
#include "TlsPeer.h"

#include "net/Socket.h"
#include "support/TlsCerts.h"

#include <gtest/gtest.h>

#include <openssl/err.h>
#include <sys/socket.h>

#include <memory>

using zarvel::test::TrustTestAuthority;

namespace {

// A client socket that connects, starts TLS at once and gathers what it receives.
struct TTlsClient {
    TWSocket S;
    std::shared_ptr<TTlsClientContext> Ctx;
    int TlsResult = -1;            // OnTlsDone's error; -1 before it came
    bool DoneInsideStart = false;  // OnTlsDone ran inside StartTls
    bool Closed = false;
    std::string Received;

    void Open(int Port, const std::string &PeerName = "127.0.0.1", const TCustomWSocket *ReuseFrom = nullptr)
    {
        std::string Error;
        Ctx = TTlsClientContext::Create(Error);
        ASSERT_TRUE(Ctx) << Error;
        bool InStart = false;
        S.OnSessionConnected = [this, PeerName, ReuseFrom, &InStart](TCustomWSocket *, int E) {
            ASSERT_EQ(E, 0);
            InStart = true;
            S.StartTls(Ctx, PeerName, ReuseFrom);
            InStart = false;
        };
        S.OnTlsDone = [this, &InStart](TCustomWSocket *, int E) {
            TlsResult = E;
            DoneInsideStart = DoneInsideStart || InStart;
        };
        S.OnDataAvailable = [this](TCustomWSocket *, int) {
            char Buf[2048];
            const int n = S.Receive(Buf, sizeof Buf);
            if (n > 0)
                Received.append(Buf, size_t(n));
        };
        S.OnSessionClosed = [this](TCustomWSocket *, int) { Closed = true; };
        S.SetAddr("127.0.0.1");
        S.SetPort(std::to_string(Port));
        S.SetProto("tcp");
        S.Connect();
        ASSERT_TRUE(PumpUntil([this] { return TlsResult >= 0; }, 10000));
        EXPECT_FALSE(DoneInsideStart);
        S.OnSessionConnected = nullptr;
    }
};

// Every byte value, in an order that shows any byte out of place.
std::string BinaryPattern(size_t Size)
{
    std::string Data(Size, '\0');
    for (size_t i = 0; i < Size; ++i)
        Data[i] = char((i * 7 + i / 251) & 0xff);
    return Data;
}

} // namespace

TEST(WsocketTls, dataCrossesBothWaysAndEachSideEndsWithCloseNotify)
{
    TrustTestAuthority(true);
    TTlsPeerServer Server("server");
    const std::string Data = BinaryPattern(300000);
    bool ClientSentCloseNotify = false;
    Server.Serve([&](SSL *Ssl, int) {
        const std::string Got = SslReadAll(Ssl, Data.size());
        SSL_write(Ssl, Got.data(), int(Got.size()));
        SSL_shutdown(Ssl);
        char B;
        const int n = SSL_read(Ssl, &B, 1);
        ClientSentCloseNotify = n <= 0 && SSL_get_error(Ssl, n) == SSL_ERROR_ZERO_RETURN;
    });
    TTlsClient C;
    C.Open(Server.Port());
    ASSERT_EQ(C.TlsResult, 0) << C.S.TlsError();
    EXPECT_TRUE(C.S.TlsActive());
    EXPECT_EQ(C.S.TlsPeer().Protocol, "TLS 1.3");
    EXPECT_FALSE(C.S.TlsPeer().Cipher.empty());
    C.S.Send(Data.data(), int(Data.size()));
    ASSERT_TRUE(PumpUntil([&] { return C.Closed; }, 20000));
    Server.Join();
    EXPECT_TRUE(C.Received == Data) << "received " << C.Received.size() << " of " << Data.size();
    EXPECT_TRUE(C.S.TlsCloseNotifyReceived());
    EXPECT_TRUE(ClientSentCloseNotify);
}

TEST(WsocketTls, closeWithQueuedDataHandsCiphertextAndCloseNotifyToTheDrain)
{
    TrustTestAuthority(true);
    TTlsPeerServer Server("server");
    const std::string Data = BinaryPattern(8 << 20);
    std::string Got;
    bool CloseNotify = false;
    Server.Serve([&](SSL *Ssl, int) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200)); // let the client's buffers fill
        Got = SslReadAll(Ssl, Data.size());
        char B;
        const int n = SSL_read(Ssl, &B, 1);
        CloseNotify = n <= 0 && SSL_get_error(Ssl, n) == SSL_ERROR_ZERO_RETURN;
    });
    TTlsClient C;
    C.Open(Server.Port());
    ASSERT_EQ(C.TlsResult, 0);
    C.S.Send(Data.data(), int(Data.size()));
    EXPECT_FALSE(C.S.AllSent());
    C.S.Close();
    EXPECT_EQ(C.S.State(), wsClosed);
    // The drain sends on from the event loop.
    std::atomic<bool> Finished{false};
    std::thread Waiter([&] { Server.Join(); Finished = true; });
    PumpUntil([&] { return Finished.load(); }, 30000);
    Waiter.join();
    EXPECT_TRUE(Got == Data) << "got " << Got.size() << " of " << Data.size();
    EXPECT_TRUE(CloseNotify);
}

TEST(WsocketTls, streamCutWithoutCloseNotifyDeliversTheDataAndSaysSo)
{
    TrustTestAuthority(true);
    TTlsPeerServer Server("server");
    Server.Serve([](SSL *Ssl, int Fd) {
        SSL_write(Ssl, "partial", 7);
        ::shutdown(Fd, SHUT_RDWR); // TCP ends, TLS never said so
    });
    TTlsClient C;
    C.Open(Server.Port());
    ASSERT_EQ(C.TlsResult, 0);
    ASSERT_TRUE(PumpUntil([&] { return C.Closed; }));
    EXPECT_EQ(C.Received, "partial");
    EXPECT_FALSE(C.S.TlsCloseNotifyReceived());
}

TEST(WsocketTls, garbageInsteadOfAHandshakeFailsIt)
{
    TTlsPeerServer Server("server");
    Server.Serve([](SSL *, int Fd) {
        WriteAll(Fd, "220 this is no TLS server\r\n");
        ReadAvailable(Fd, 1 << 16, 2000);
    }, true);
    TTlsClient C;
    C.Open(Server.Port());
    EXPECT_NE(C.TlsResult, 0);
    EXPECT_FALSE(C.S.TlsActive());
    EXPECT_FALSE(C.S.TlsError().empty());
    C.S.Close();
    Server.Join();
}

TEST(WsocketTls, secondConnectionResumesTheFirstOnesSession)
{
    TrustTestAuthority(true);
    TTlsPeerServer Server("server");
    // Like a control connection, the first stays open while the second resumes its session.
    Server.Serve([](SSL *Ssl, int) {
        SSL_write(Ssl, "x", 1); // after the session tickets
        SslReadAll(Ssl, 1);
    });
    TTlsClient First;
    First.Open(Server.Port());
    ASSERT_TRUE(PumpUntil([&] { return First.Received == "x"; }));
    EXPECT_FALSE(First.S.TlsSessionReused());
    Server.Serve([](SSL *Ssl, int) { SslReadAll(Ssl, 1); });
    TTlsClient Second;
    Second.Open(Server.Port(), "127.0.0.1", &First.S);
    ASSERT_EQ(Second.TlsResult, 0);
    Second.S.Close();
    First.S.Close();
    PumpUntil([&] { return First.Closed && Second.Closed; }, 1000);
    Server.Join();
    EXPECT_EQ(Server.Reused(), 1);
    EXPECT_TRUE(Second.S.TlsSessionReused());
}

// ---- verification: what OpenSSL finds, by certificate, name and trust ----

struct TVerifyCase {
    const char *Cert;
    bool TrustAuthority;
    const char *PeerName;
    bool Trusted;
    const char *Reason; // expected verification reason when not trusted
};

class WsocketTlsVerify : public testing::TestWithParam<TVerifyCase> {};

TEST_P(WsocketTlsVerify, verdictAndReason)
{
    const TVerifyCase &Case = GetParam();
    TrustTestAuthority(Case.TrustAuthority);
    TTlsPeerServer Server(Case.Cert);
    Server.Serve([](SSL *Ssl, int) { SslReadAll(Ssl, 1); });
    TTlsClient C;
    C.Open(Server.Port(), Case.PeerName);
    ASSERT_EQ(C.TlsResult, 0) << C.S.TlsError(); // verification never fails the handshake itself
    const TTlsPeerInfo &Peer = C.S.TlsPeer();
    EXPECT_EQ(Peer.Trusted, Case.Trusted);
    EXPECT_EQ(Peer.Reason, Case.Reason);
    EXPECT_EQ(Peer.Fingerprint.size(), 32u * 3 - 1);
    EXPECT_NE(Peer.Subject.find("CN = "), std::string::npos) << Peer.Subject;
    EXPECT_FALSE(Peer.NotAfter.empty());
    C.S.Close();
    Server.Join();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WsocketTlsVerify,
    testing::Values(TVerifyCase{"server", true, "127.0.0.1", true, ""},
                    TVerifyCase{"server", true, "localhost", true, ""},
                    // IPv6 literals are matched as addresses, brackets or not.
                    TVerifyCase{"server", true, "::1", true, ""},
                    TVerifyCase{"server", true, "[::1]", true, ""},
                    TVerifyCase{"other", true, "[::1]", false, "IP address mismatch"},
                    TVerifyCase{"other", true, "127.0.0.1", false, "IP address mismatch"},
                    TVerifyCase{"server", true, "other.invalid", false, "hostname mismatch"},
                    TVerifyCase{"expired", true, "127.0.0.1", false, "certificate has expired"},
                    TVerifyCase{"server", false, "127.0.0.1", false, "unable to get local issuer certificate"}));
