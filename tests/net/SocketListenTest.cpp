// Listening, accepting and adopting a handle, including the active data-connection sequence.
#include "NetPeers.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void StartListener(TWSocket &S)
{
    S.SetProto("tcp");
    S.SetAddr("0.0.0.0");
    S.SetPort("0");
    S.Listen();
}

int ListenerPort(TWSocket &S)
{
    sockaddr_in A{};
    int Len = sizeof A;
    EXPECT_EQ(S.GetSockName(A, Len), 0);
    return ntohs(A.sin_port);
}

template <typename F>
std::string ReportOf(F &&Act)
{
    try {
        Act();
    } catch (const ESocketException &E) {
        return E.what();
    }
    return "no report";
}

} // namespace

TEST(WsocketListen, portZeroPicksAFreePortReadBackByBothQueries)
{
    TEventLog Log;
    TWSocket S;
    Log.Attach(S);
    StartListener(S);
    EXPECT_EQ(S.State(), wsListening);
    EXPECT_EQ(Log.Joined(), "ChangeState(wsClosed,wsBound)\nChangeState(wsBound,wsListening)\n");
    const int Port = ListenerPort(S);
    EXPECT_GT(Port, 0);
    EXPECT_EQ(S.GetXPort(), std::to_string(Port));
    EXPECT_EQ(S.LocalPort(), "0");
}

// The active data connection: listen, accept, close the listener, adopt the accepted handle.
TEST(WsocketListen, acceptCloseDupGivesAConnectedSocketWithoutConnectedEvent)
{
    TWSocket S;
    StartListener(S);
    S.SetLingerOnOff(wsLingerOn);
    S.SetLingerTimeout(10);
    TEventLog Log;
    Log.Attach(S, true, true);
    TSocket Accepted = INVALID_SOCKET;
    S.OnSessionAvailable = [&](TCustomWSocket *Sender, int Error) {
        Log.Items.push_back("SessionAvailable(" + std::to_string(Error) + ")");
        Accepted = Sender->Accept();
        Sender->Close();
        Sender->Dup(Accepted);
    };
    const int Peer = ConnectTo(ListenerPort(S));
    ASSERT_GE(Peer, 0);
    ASSERT_TRUE(PumpUntil([&] { return Log.Count("DataSent(0)") == 1; })) << Log.Joined();
    EXPECT_EQ(Log.Joined(), "SessionAvailable(0)\n"
                            "ChangeState(wsListening,wsClosed)\n"
                            "SessionClosed(0)\n"
                            "ChangeState(wsClosed,wsConnected)\n"
                            "DataSent(0)\n");
    EXPECT_EQ(S.State(), wsConnected);
    EXPECT_EQ(S.HSocket(), Accepted);
    EXPECT_EQ(S.LingerTimeout(), 0); // Close restored the default
    sockaddr_in Mine{};
    socklen_t Len = sizeof Mine;
    getsockname(Peer, reinterpret_cast<sockaddr *>(&Mine), &Len);
    EXPECT_EQ(S.PeerAddr(), "127.0.0.1");
    EXPECT_EQ(S.PeerPort(), std::to_string(ntohs(Mine.sin_port)));

    WriteAll(Peer, "payload");
    EXPECT_TRUE(PumpUntil([&] { return Log.Count("DataAvailable(0):payload") == 1; }));
    S.SendStr("reply");
    EXPECT_EQ(ReadAvailable(Peer, 5), "reply");
    ::close(Peer);
    EXPECT_TRUE(PumpUntil([&] { return S.State() == wsClosed; }));
    EXPECT_EQ(Log.Count("SessionClosed(0)"), 2);
}

TEST(WsocketListen, eachWaitingConnectionIsReportedAgainAfterAccept)
{
    TWSocket S;
    StartListener(S);
    std::vector<TSocket> Accepted;
    int Reports = 0;
    S.OnSessionAvailable = [&](TCustomWSocket *Sender, int) {
        ++Reports;
        Accepted.push_back(Sender->Accept());
    };
    const int A = ConnectTo(ListenerPort(S));
    const int B = ConnectTo(ListenerPort(S));
    EXPECT_TRUE(PumpUntil([&] { return Accepted.size() == 2; }));
    PumpFor(30);
    EXPECT_EQ(Reports, 2);
    EXPECT_EQ(S.State(), wsListening);
    const TSockAddr Peer = S.Sin(); // Accept stored the last peer's address
    EXPECT_EQ(Peer.IPv4(), htonl(INADDR_LOOPBACK));
    for (TSocket H : Accepted)
        ::close(H);
    ::close(A);
    ::close(B);
}

TEST(WsocketListen, unacceptedConnectionIsNotReportedInALoop)
{
    TWSocket S;
    StartListener(S);
    int Reports = 0;
    S.OnSessionAvailable = [&](TCustomWSocket *, int) { ++Reports; };
    const int A = ConnectTo(ListenerPort(S));
    PumpFor(100);
    EXPECT_EQ(Reports, 1);
    ::close(A);
}

TEST(WsocketListen, refusalsCarryTheirContextAndLeaveTheSocket)
{
    TWSocket S;
    EXPECT_EQ(ReportOf([&] { S.Listen(); }),
              "Error 10022 in function listen: port not assigned\r\nInvalid argument");
    EXPECT_EQ(S.LastError(), 10022);
    S.SetPort("0");
    EXPECT_EQ(ReportOf([&] { S.Listen(); }),
              "Error 10022 in function listen: address not assigned\r\nInvalid argument");
    S.SetProto("");
    EXPECT_EQ(ReportOf([&] { S.Listen(); }),
              "Error 10022 in function listen: protocol not assigned\r\nInvalid argument");
    S.SetProto("tcp");
    EXPECT_EQ(ReportOf([&] { S.Accept(); }),
              "Error 10022 in function not a listening socket\r\nInvalid argument");
    S.OnError = [](TCustomWSocket *) {};
    EXPECT_EQ(S.Accept(), INVALID_SOCKET);
    S.OnError = nullptr;
    EXPECT_EQ(ReportOf([&] { S.Dup(0); }), "Error 10022 in function Dup\r\nInvalid argument");
    EXPECT_EQ(ReportOf([&] { S.Dup(INVALID_SOCKET); }), "Error 10022 in function Dup\r\nInvalid argument");
    EXPECT_EQ(S.State(), wsClosed);
}

TEST(WsocketListen, listenAfterCloseNeedsPortAndAddrAgain)
{
    TWSocket S;
    StartListener(S);
    S.Close();
    EXPECT_EQ(ReportOf([&] { S.Listen(); }),
              "Error 10022 in function listen: port not assigned\r\nInvalid argument");
    S.SetPort("0");
    EXPECT_EQ(ReportOf([&] { S.Listen(); }),
              "Error 10022 in function listen: address not assigned\r\nInvalid argument");
}

TEST(WsocketListen, failedBindReleasesTheHandle)
{
    TWSocket First;
    StartListener(First);
    TWSocket S;
    S.SetAddr("127.0.0.1");
    S.SetPort(std::to_string(ListenerPort(First)));
    const std::string Msg = ReportOf([&] { S.Listen(); });
    EXPECT_EQ(Msg, "Error 10048 in function Bind\r\nAddress already in use");
    EXPECT_EQ(S.State(), wsClosed);
    EXPECT_EQ(S.HSocket(), INVALID_SOCKET);
}

TEST(WsocketListen, dupOfANonSocketIsRefusedAtRegistration)
{
    int Pipe[2];
    ASSERT_EQ(pipe(Pipe), 0);
    TWSocket S;
    S.SetLingerOnOff(wsLingerNoSet);
    const std::string Msg = ReportOf([&] { S.Dup(Pipe[0]); });
    EXPECT_EQ(Msg, "Error 10038 in function WSAAsyncSelect\r\nSocket operation on non-socket");
    EXPECT_NE(S.State(), wsConnected);
    ::close(Pipe[1]);
}

TEST(WsocketListen, dupWhoseOldHandleCannotBeClosedStillReleasesTheGivenOne)
{
    TWSocket S;
    StartListener(S);
    const int Given = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(Given, 0);
    ::close(S.HSocket()); // the old handle is gone behind the socket's back: its close fails
    S.OnError = [](TCustomWSocket *) {};
    S.Dup(Given);
    EXPECT_EQ(S.LastError(), WSAENOTSOCK);
    EXPECT_EQ(::fcntl(Given, F_GETFD), -1) << "the handle given to Dup leaked";
}

TEST(WsocketListen, datagramListenerIsConnectedAtOnce)
{
    TEventLog Log;
    TWSocket S;
    Log.Attach(S, false, false);
    S.SetProto("udp");
    S.SetAddr("127.0.0.1");
    S.SetPort("0");
    S.Listen();
    EXPECT_EQ(Log.Joined(), "ChangeState(wsClosed,wsBound)\n"
                            "ChangeState(wsBound,wsListening)\n"
                            "ChangeState(wsListening,wsConnected)\n"
                            "SessionConnected(0)\n");
    const int Port = std::stoi(S.GetXPort());
    std::string Got;
    S.OnDataAvailable = [&](TCustomWSocket *Sender, int) {
        char Buf[100];
        sockaddr_in From{};
        int Len = sizeof From;
        const int n = Sender->ReceiveFrom(Buf, sizeof Buf, From, Len);
        if (n > 0)
            Got.assign(Buf, static_cast<size_t>(n));
    };
    const int U = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in To{};
    To.sin_family = AF_INET;
    To.sin_port = htons(static_cast<uint16_t>(Port));
    To.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::sendto(U, "dgram", 5, 0, reinterpret_cast<sockaddr *>(&To), sizeof To);
    EXPECT_TRUE(PumpUntil([&] { return Got == "dgram"; }));
    ::close(U);
}
