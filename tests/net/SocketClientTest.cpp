// Client side of TWSocket against small loopback peers: connect outcomes and their event
// order, the receive loop, error reports and exceptions from handlers.
#include "NetPeers.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <cerrno>
#include <functional>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

TEST(WsocketConnect, refusedConnectClosesAfterError)
{
    TEventLog Log;
    TWSocket S;
    Log.Attach(S);
    S.SetAddr("127.0.0.1");
    S.SetPort(std::to_string(UnusedPort()));
    S.Connect();
    EXPECT_EQ(S.State(), wsConnecting);
    ASSERT_TRUE(PumpUntil([&] { return Log.Count("SessionClosed(0)") > 0; })) << Log.Joined();
    PumpFor(50);
    EXPECT_EQ(Log.Joined(),
              "ChangeState(wsClosed,wsOpened)\n"
              "ChangeState(wsOpened,wsConnecting)\n"
              "ChangeState(wsConnecting,wsConnected)\n"
              "SessionConnected(10061)\n"
              "ChangeState(wsConnected,wsClosed)\n"
              "SessionClosed(0)\n");
    EXPECT_EQ(S.State(), wsClosed);
    EXPECT_EQ(S.HSocket(), INVALID_SOCKET);
}

TEST(WsocketConnect, connectsSendsAndReceivesThenPeerAddressIsKnown)
{
    TPeerListener L;
    TEventLog Log;
    TWSocket S;
    Log.Attach(S);
    const int Peer = ConnectPair(S, L);
    ASSERT_GE(Peer, 0);
    ASSERT_TRUE(PumpUntil([&] { return Log.Count("DataSent(0)") == 1; })) << Log.Joined();
    EXPECT_EQ(Log.Items[3], "SessionConnected(0)");
    EXPECT_EQ(Log.Items[4], "DataSent(0)"); // the first writable report of a fresh connection
    EXPECT_EQ(S.PeerAddr(), "127.0.0.1");
    EXPECT_EQ(S.PeerPort(), L.PortStr());

    EXPECT_EQ(S.SendStr("hello"), 5);
    EXPECT_EQ(ReadAvailable(Peer, 5), "hello");
    WriteAll(Peer, "world");
    ASSERT_TRUE(PumpUntil([&] { return Log.Count("DataAvailable(0):world") == 1; })) << Log.Joined();
    EXPECT_EQ(S.ReadCount(), 5);
    ::close(Peer);
}

TEST(WsocketConnect, hostNameInAddrIsResolvedAtConnect)
{
    TPeerListener L;
    TWSocket S;
    S.SetAddr("localhost");
    S.SetPort(L.PortStr());
    S.Connect();
    const int Peer = L.AcceptOne();
    ASSERT_GE(Peer, 0);
    EXPECT_TRUE(PumpUntil([&] { return S.State() == wsConnected; }));
    ::close(Peer);
}

TEST(WsocketConnect, lookupThenConnectToTheDottedResult)
{
    TPeerListener L;
    TEventLog Log;
    TWSocket S;
    Log.Attach(S);
    S.DnsLookup("localhost");
    EXPECT_EQ(Log.Count("DnsLookupDone(0)"), 0); // a name is answered from the loop only
    ASSERT_TRUE(PumpUntil([&] { return Log.Count("DnsLookupDone(0)") == 1; }));
    EXPECT_EQ(S.DnsResult(), "127.0.0.1");
    ASSERT_FALSE(S.DnsResultList().empty());
    EXPECT_EQ(S.DnsResultList().front(), S.DnsResult());
    S.SetAddr(S.DnsResult());
    S.SetPort(L.PortStr());
    S.Connect();
    const int Peer = L.AcceptOne();
    ASSERT_GE(Peer, 0);
    EXPECT_TRUE(PumpUntil([&] { return S.State() == wsConnected; }));
    ::close(Peer);
}

TEST(WsocketConnect, localBindingReportsTheBoundPort)
{
    TPeerListener L;
    TWSocket S;
    S.SetLocalAddr("127.0.0.1");
    EXPECT_EQ(S.LocalAddr(), "127.0.0.1");
    const int Peer = ConnectPair(S, L);
    EXPECT_NE(S.LocalPort(), "0");
    sockaddr_in A{};
    socklen_t Len = sizeof A;
    getpeername(Peer, reinterpret_cast<sockaddr *>(&A), &Len);
    EXPECT_EQ(S.LocalPort(), std::to_string(ntohs(A.sin_port)));
    ::close(Peer);
}

// ---- receiving and peer close ------------------------------------------------------------------

TEST(WsocketReceive, dataBeforeCloseIsDeliveredFirst)
{
    TPeerListener L;
    TEventLog Log;
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    Log.Attach(S, true, false);
    WriteAll(Peer, "last words");
    ::close(Peer);
    ASSERT_TRUE(PumpUntil([&] { return S.State() == wsClosed; }));
    PumpFor(30);
    EXPECT_EQ(Log.Joined(), "DataAvailable(0):last words\n"
                            "DataAvailable(0)\n" // the last read sees the end of the stream
                            "SessionClosed(0)\n"
                            "ChangeState(wsConnected,wsClosed)\n");
}

TEST(WsocketReceive, unreadDataAtPeerCloseIsOfferedOnceMore)
{
    TPeerListener L;
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    std::vector<std::string> Seen;
    // A handler that ignores the first report still gets the data before the close.
    int Calls = 0;
    S.OnDataAvailable = [&](TCustomWSocket *Sender, int) {
        if (++Calls == 1)
            return;
        char Buf[64];
        const int n = Sender->Receive(Buf, sizeof Buf);
        if (n > 0)
            Seen.emplace_back(Buf, static_cast<size_t>(n));
    };
    int Closed = 0;
    S.OnSessionClosed = [&](TCustomWSocket *, int) {
        ++Closed;
        Seen.push_back("closed");
    };
    WriteAll(Peer, "abc");
    ::close(Peer);
    ASSERT_TRUE(PumpUntil([&] { return Closed > 0; }, 3000));
    PumpFor(30);
    EXPECT_EQ(Seen, (std::vector<std::string>{"abc", "closed"}));
    EXPECT_EQ(Closed, 1);
}

TEST(WsocketReceive, withoutHandlerDataIsDiscardedAndCloseStillSeen)
{
    TPeerListener L;
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    int Closed = 0;
    S.OnSessionClosed = [&](TCustomWSocket *, int E) { Closed += E == 0; };
    WriteAll(Peer, Pattern(100000));
    ::close(Peer);
    EXPECT_TRUE(PumpUntil([&] { return Closed == 1; }));
    EXPECT_EQ(S.State(), wsClosed);
}

TEST(WsocketReceive, resettingPeerClosesOnceWithConnectionReset)
{
    TPeerListener L;
    TEventLog Log;
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    Log.Attach(S, true, false);
    ResetAndClose(Peer);
    ASSERT_TRUE(PumpUntil([&] { return S.State() == wsClosed; }));
    PumpFor(30);
    EXPECT_EQ(Log.Count("SessionClosed(10054)"), 1) << Log.Joined();
    EXPECT_EQ(Log.Count("SessionClosed(0)"), 0);
}

TEST(WsocketReceive, pausedSocketReportsNothingUntilResumed)
{
    TPeerListener L;
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    std::string Got;
    S.OnDataAvailable = [&](TCustomWSocket *Sender, int) { Got += Sender->ReceiveStr(); };
    S.Pause();
    WriteAll(Peer, "held");
    PumpFor(50);
    EXPECT_EQ(Got, "");
    S.Resume();
    EXPECT_TRUE(PumpUntil([&] { return Got == "held"; }));
    ::close(Peer);
}

TEST(WsocketReceive, dataDeclinedBeforePauseIsOfferedAgainAfterResume)
{
    TPeerListener L;
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    bool Take = false;
    int Offers = 0;
    std::string Got;
    S.OnDataAvailable = [&](TCustomWSocket *Sender, int) {
        ++Offers;
        if (Take)
            Got += Sender->ReceiveStr();
    };
    WriteAll(Peer, "declined");
    ASSERT_TRUE(PumpUntil([&] { return Offers > 0; }));
    S.Pause();
    Take = true;
    S.Resume();
    EXPECT_TRUE(PumpUntil([&] { return Got == "declined"; })) << Offers << " offer(s)";
    ::close(Peer);
}

// One platform read serves many small Receive calls; the bytes it holds back are still
// pending: counted by RcvdCount, seen by PeekData, and offered again after a Resume even
// though the platform has nothing left to report.
TEST(WsocketReceive, bytesReadAheadStayPendingAndAreOfferedAfterResume)
{
    TPeerListener L;
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    const std::string Data = Pattern(50000);
    std::string Got;
    S.OnDataAvailable = [&](TCustomWSocket *Sender, int) {
        char Buf[10];
        const int n = Sender->Receive(Buf, sizeof Buf);
        if (n > 0)
            Got.append(Buf, static_cast<size_t>(n));
        if (Got.size() == 10)
            Sender->Pause();
    };
    WriteAll(Peer, Data);
    ASSERT_TRUE(PumpUntil([&] { return Got.size() == 10 && S.RcvdCount() == 49990; }));
    PumpFor(50);
    EXPECT_EQ(Got.size(), 10u);
    char Peek[5];
    EXPECT_EQ(S.PeekData(Peek, sizeof Peek), 5);
    EXPECT_EQ(std::string(Peek, 5), Data.substr(10, 5));
    EXPECT_EQ(S.RcvdCount(), 49990);
    S.Resume();
    EXPECT_TRUE(PumpUntil([&] { return Got.size() == Data.size(); })) << Got.size();
    EXPECT_TRUE(Got == Data);
    ::close(Peer);
}

// A peer that sends and closes at once: what was read ahead is all handed out, in reads
// of at most the size asked for, before OnSessionClosed.
TEST(WsocketReceive, bytesReadAheadAllComeBeforeThePeerClose)
{
    TPeerListener L;
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    const std::string Data = Pattern(300000);
    std::string Got;
    int Closed = 0, AfterClose = 0, Oversized = 0;
    S.OnDataAvailable = [&](TCustomWSocket *Sender, int) {
        AfterClose += Closed;
        char Buf[2048];
        const int n = Sender->Receive(Buf, sizeof Buf);
        Oversized += n > 2048 ? 1 : 0;
        if (n > 0)
            Got.append(Buf, static_cast<size_t>(n));
    };
    S.OnSessionClosed = [&](TCustomWSocket *, int) { ++Closed; };
    WriteAll(Peer, Data);
    ::close(Peer);
    ASSERT_TRUE(PumpUntil([&] { return Closed == 1; }));
    EXPECT_EQ(Got.size(), Data.size());
    EXPECT_TRUE(Got == Data);
    EXPECT_EQ(AfterClose, 0);
    EXPECT_EQ(Oversized, 0);
}

TEST(WsocketReceive, handlerReadingSmallPiecesIsCalledUntilDrained)
{
    TPeerListener L;
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    std::string Got;
    S.OnDataAvailable = [&](TCustomWSocket *Sender, int) {
        char Buf[3];
        const int n = Sender->Receive(Buf, sizeof Buf);
        if (n > 0)
            Got.append(Buf, static_cast<size_t>(n));
    };
    WriteAll(Peer, "0123456789abcdef");
    EXPECT_TRUE(PumpUntil([&] { return Got.size() == 16; }));
    EXPECT_EQ(Got, "0123456789abcdef");
    EXPECT_EQ(S.ReadCount(), 16);
    ::close(Peer);
}

// The receive loop asks a handler again only while bytes are pending, whichever way the
// handler reads them: a report with nothing to read would show up as a failed read.
struct TReadWay {
    const char *Name;
    std::function<int(TCustomWSocket &, std::string &)> Read; // appends, returns the read's result
};

static void PrintTo(const TReadWay &W, std::ostream *Os) { *Os << W.Name; }

class WsocketReceiveWays : public ::testing::TestWithParam<TReadWay> {};

TEST_P(WsocketReceiveWays, everyReportFindsDataAndTheCloseComesLast)
{
    TPeerListener L;
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    std::string Got;
    int Calls = 0, Empty = 0, Closed = 0;
    S.OnDataAvailable = [&](TCustomWSocket *Sender, int) {
        ++Calls;
        if (Closed == 0 && GetParam().Read(*Sender, Got) <= 0)
            ++Empty;
    };
    S.OnSessionClosed = [&](TCustomWSocket *, int) { ++Closed; };
    // Several readiness reports' worth for the small readers, in two bursts.
    const std::string Data = Pattern(150000);
    WriteAll(Peer, Data.substr(0, 70000));
    ASSERT_TRUE(PumpUntil([&] { return Got.size() == 70000; })) << Got.size();
    WriteAll(Peer, Data.substr(70000));
    ASSERT_TRUE(PumpUntil([&] { return Got.size() == Data.size(); })) << Got.size();
    PumpFor(30);
    EXPECT_EQ(Empty, 0) << "of " << Calls << " calls";
    EXPECT_TRUE(Got == Data);
    ::close(Peer);
    ASSERT_TRUE(PumpUntil([&] { return Closed == 1; }));
    EXPECT_EQ(S.State(), wsClosed);
}

static int AppendRead(int n, const char *Buf, std::string &Got)
{
    if (n > 0)
        Got.append(Buf, static_cast<size_t>(n));
    return n;
}

INSTANTIATE_TEST_SUITE_P(Table, WsocketReceiveWays, ::testing::Values(
    TReadWay{"smallPieces", [](TCustomWSocket &S, std::string &Got) {
                 char Buf[1000];
                 return AppendRead(S.Receive(Buf, sizeof Buf), Buf, Got);
             }},
    TReadWay{"chunksOf2048", [](TCustomWSocket &S, std::string &Got) {
                 char Buf[2048];
                 return AppendRead(S.Receive(Buf, sizeof Buf), Buf, Got);
             }},
    TReadWay{"receiveFrom", [](TCustomWSocket &S, std::string &Got) {
                 char Buf[1500];
                 sockaddr_in From{};
                 int FromLen = sizeof From;
                 return AppendRead(S.ReceiveFrom(Buf, sizeof Buf, From, FromLen), Buf, Got);
             }},
    TReadWay{"peekThenReceive", [](TCustomWSocket &S, std::string &Got) {
                 char Buf[700];
                 const int Peeked = S.PeekData(Buf, sizeof Buf);
                 if (Peeked <= 0)
                     return Peeked;
                 return AppendRead(S.Receive(Buf, Peeked), Buf, Got);
             }},
    TReadWay{"everythingPending", [](TCustomWSocket &S, std::string &Got) {
                 const std::string Str = S.ReceiveStr();
                 Got += Str;
                 return static_cast<int>(Str.size());
             }}),
    [](const ::testing::TestParamInfo<TReadWay> &I) { return std::string(I.param.Name); });

TEST(WsocketReceive, waitForCloseDeliversDataThenReturnsAtPeerClose)
{
    TPeerListener L;
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    std::string Got;
    S.OnDataAvailable = [&](TCustomWSocket *Sender, int) { Got += Sender->ReceiveStr(); };
    QTimer::singleShot(50, [&] { WriteAll(Peer, "bye"); });
    QTimer::singleShot(100, [&] { ::close(Peer); });
    S.WaitForClose();
    EXPECT_EQ(Got, "bye");
    EXPECT_EQ(S.State(), wsClosed);
}

// ---- reports ------------------------------------------------------------------------------------

TEST(WsocketReports, sendWhileClosedReports10057)
{
    TWSocket S;
    try {
        S.SendStr("x");
        FAIL();
    } catch (const ESocketException &E) {
        EXPECT_STREQ(E.what(), "Error 10057 in function Send\r\nSocket is not connected");
    }
    EXPECT_EQ(S.LastError(), 10057);
    TEventLog Log;
    Log.Attach(S);
    int Errors = 0;
    S.OnError = [&](TCustomWSocket *) { ++Errors; };
    EXPECT_EQ(S.SendStr("x"), -1);
    EXPECT_EQ(Errors, 1);
    EXPECT_EQ(Log.Joined(), "ChangeState(wsClosed,wsClosed)\n");
}

TEST(WsocketReports, sendWhileConnectingClosesTheHandle)
{
    // A non-routable connect would leave the socket connecting; a refused one too, for a moment.
    TEventLog Log;
    TWSocket S;
    Log.Attach(S);
    S.OnError = [](TCustomWSocket *) {};
    S.SetAddr("127.0.0.1");
    S.SetPort(std::to_string(UnusedPort()));
    S.Connect();
    ASSERT_EQ(S.State(), wsConnecting);
    EXPECT_EQ(S.SendStr("x"), -1);
    EXPECT_EQ(S.State(), wsClosed);
    EXPECT_EQ(S.HSocket(), INVALID_SOCKET);
    EXPECT_EQ(Log.Items.back(), "ChangeState(wsConnecting,wsClosed)");
    PumpFor(50); // the stale connect outcome is dropped
    EXPECT_EQ(Log.Count("SessionConnected(10061)"), 0) << Log.Joined();
}

struct TRefusal {
    const char *Name;
    std::function<void(TWSocket &)> Act;
    const char *Message;
};

class WsocketRefusals : public ::testing::TestWithParam<TRefusal> {};

TEST_P(WsocketRefusals, connectedSocketRefusesAndKeepsItsValue)
{
    TPeerListener L;
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    const std::string Addr = S.Addr(), Port = S.Port(), Proto = S.Proto();
    try {
        GetParam().Act(S);
        FAIL() << "no report";
    } catch (const ESocketException &E) {
        EXPECT_STREQ(E.what(), GetParam().Message);
    }
    EXPECT_EQ(S.State(), wsConnected);
    EXPECT_EQ(S.Addr(), Addr);
    EXPECT_EQ(S.Port(), Port);
    EXPECT_EQ(S.Proto(), Proto);
    ::close(Peer);
}

INSTANTIATE_TEST_SUITE_P(Table, WsocketRefusals, ::testing::Values(
    TRefusal{"Addr", [](TWSocket &S) { S.SetAddr("10.0.0.1"); }, "Cannot change Addr if not closed"},
    TRefusal{"Port", [](TWSocket &S) { S.SetPort("21"); }, "Cannot change Port if not closed"},
    TRefusal{"Proto", [](TWSocket &S) { S.SetProto("udp"); }, "Cannot change Proto if not closed"},
    TRefusal{"LocalPort", [](TWSocket &S) { S.SetLocalPort("0"); }, "Cannot change LocalPort if not closed"},
    TRefusal{"LocalAddr", [](TWSocket &S) { S.SetLocalAddr("0.0.0.0"); }, "Cannot change LocalAddr if not closed"},
    TRefusal{"Connect", [](TWSocket &S) { S.Connect(); }, "Connect: Socket already in use"}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(WsocketReports, sameTextWhileConnectedIsAccepted)
{
    TPeerListener L;
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    EXPECT_NO_THROW(S.SetPort(L.PortStr()));
    EXPECT_NO_THROW(S.SetAddr("127.0.0.1"));
    EXPECT_NO_THROW(S.SetProto("tcp"));
    ::close(Peer);
}

TEST(WsocketReports, propertyChecksWhileClosed)
{
    TWSocket S;
    S.SetAddr("  10.1.2.3 ");
    EXPECT_EQ(S.Addr(), "10.1.2.3");
    S.SetLocalAddr("");
    EXPECT_EQ(S.LocalAddr(), "0.0.0.0");
    S.SetLocalAddr(" 127.000.0.1");
    EXPECT_EQ(S.LocalAddr(), "127.0.0.1");
    for (const char *Bad : {"localhost", "1.2.3", "1.2.3.256"}) {
        try {
            S.SetLocalAddr(Bad);
            ADD_FAILURE() << Bad;
        } catch (const ESocketException &E) {
            EXPECT_STREQ(E.what(), "SetLocalAddr(): Invalid IP address") << Bad;
        }
    }
    EXPECT_EQ(S.LocalAddr(), "127.0.0.1");
    try {
        S.SetSendFlags(static_cast<TSocketSendFlags>(7));
        ADD_FAILURE();
    } catch (const ESocketException &E) {
        EXPECT_STREQ(E.what(), "Invalid SendFlags");
    }
    EXPECT_EQ(S.SendFlags(), wsSendNormal);
    try {
        S.SetLingerOption();
        ADD_FAILURE();
    } catch (const ESocketException &E) {
        EXPECT_STREQ(E.what(), "Cannot set linger option at this time");
    }
    S.SetProto("");
    S.SetPort("21");
    try {
        S.Connect();
        ADD_FAILURE();
    } catch (const ESocketException &E) {
        EXPECT_STREQ(E.what(), "Connect: No Protocol Specified");
    }
    EXPECT_EQ(S.PeerAddr(), "error");
    EXPECT_EQ(S.PeerPort(), "error");
    EXPECT_EQ(S.GetXPort(), "error");
}

TEST(WsocketReports, resolutionFailureInConnectLeavesSocketClosed)
{
    TWSocket S;
    S.SetAddr("10.0.0.1");
    S.SetPort("no-such-service-here");
    try {
        S.Connect();
        FAIL();
    } catch (const ESocketException &E) {
        EXPECT_EQ(std::string(E.what()).rfind("connect: WSocketResolvePort: Cannot convert port 'no-such-service-here', Error #", 0), 0u) << E.what();
    }
    EXPECT_EQ(S.State(), wsClosed);
    EXPECT_EQ(S.HSocket(), INVALID_SOCKET);
}

// ---- exceptions from handlers -----------------------------------------------------------------

TEST(WsocketExceptions, dataHandlerExceptionDisappears)
{
    TPeerListener L;
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    int Calls = 0, Bg = 0;
    S.OnBgException = [&](TCustomWSocket *, const std::exception &, bool &) { ++Bg; };
    S.OnDataAvailable = [&](TCustomWSocket *Sender, int) {
        ++Calls;
        Sender->ReceiveStr();
        throw ESocketException("handler failed");
    };
    WriteAll(Peer, "x");
    EXPECT_TRUE(PumpUntil([&] { return Calls == 1; }));
    PumpFor(20);
    EXPECT_EQ(Bg, 0);
    EXPECT_EQ(S.State(), wsConnected);
    ::close(Peer);
}

TEST(WsocketExceptions, connectedHandlerExceptionAbortsUnlessKept)
{
    for (const bool Keep : {false, true}) {
        TPeerListener L;
        TWSocket S;
        std::string Seen;
        S.OnSessionConnected = [](TCustomWSocket *, int) { throw std::runtime_error("boom"); };
        S.OnBgException = [&](TCustomWSocket *, const std::exception &E, bool &CanClose) {
            Seen = E.what();
            if (Keep)
                CanClose = false;
        };
        S.SetAddr("127.0.0.1");
        S.SetPort(L.PortStr());
        S.Connect();
        const int Peer = L.AcceptOne();
        EXPECT_TRUE(PumpUntil([&] { return !Seen.empty(); }));
        EXPECT_EQ(Seen, "boom");
        EXPECT_EQ(S.State(), Keep ? wsConnected : wsClosed) << Keep;
        ::close(Peer);
    }
}

TEST(WsocketConnect, datagramSocketIsConnectedInsideConnectAndSendsToItsPeer)
{
    const int U = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(U, reinterpret_cast<sockaddr *>(&A), sizeof A);
    socklen_t Len = sizeof A;
    getsockname(U, reinterpret_cast<sockaddr *>(&A), &Len);

    TEventLog Log;
    TWSocket S;
    Log.Attach(S, false, false);
    S.SetProto("udp");
    S.SetAddr("127.0.0.1");
    S.SetPort(std::to_string(ntohs(A.sin_port)));
    S.Connect();
    EXPECT_EQ(Log.Joined(), "ChangeState(wsClosed,wsOpened)\n"
                            "ChangeState(wsOpened,wsConnected)\n"
                            "SessionConnected(0)\n");
    EXPECT_NE(S.LocalPort(), "0"); // a datagram socket is always bound
    EXPECT_EQ(S.SendStr("ping"), 4);
    EXPECT_EQ(ReadAvailable(U, 4), "ping");
    ::close(U);
}

// A handler that leaves data unread gets no more readable reports, but the peer's close
// must still arrive, after the data are offered once more.
TEST(WsocketReceive, peerCloseArrivesWhileAHandlerLeavesDataUnread)
{
    TPeerListener L;
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    int Calls = 0, Closed = 0;
    S.OnDataAvailable = [&](TCustomWSocket *, int) { ++Calls; };
    S.OnSessionClosed = [&](TCustomWSocket *, int) { ++Closed; };
    WriteAll(Peer, "ignored");
    ASSERT_TRUE(PumpUntil([&] { return Calls >= 1; }));
    PumpFor(50);
    const int CallsBeforeClose = Calls;
    EXPECT_LE(CallsBeforeClose, 2); // no storm of reports
    ::close(Peer);
    EXPECT_TRUE(PumpUntil([&] { return Closed == 1; }, 3000));
    EXPECT_GT(Calls, CallsBeforeClose);
    EXPECT_EQ(S.State(), wsClosed);
}
