// Client side of TWSocket against small loopback peers: connect outcomes and their event
// order, the send queue, the receive loop, closing paths and error reports.
#include "NetPeers.h"
#include "net/SocketDrain.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <utility>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Connects S to 127.0.0.1:Port and returns the peer's accepted handle.
int ConnectPair(TWSocket &S, TPeerListener &L)
{
    S.SetProto("tcp");
    S.SetAddr("127.0.0.1");
    S.SetPort(L.PortStr());
    S.Connect();
    const int Peer = L.AcceptOne();
    EXPECT_TRUE(PumpUntil([&] { return S.State() == wsConnected; }));
    return Peer;
}

std::string Pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return s;
}

} // namespace

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

// ---- the send queue --------------------------------------------------------------------------

TEST(WsocketSend, queuedBlocksGoToThePlatformInOneWriteAndDrainOnce)
{
    TPeerListener L;
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    std::vector<int> Chunks;
    S.OnSendData = [&](TCustomWSocket *, int n) { Chunks.push_back(n); };
    int DataSent = 0;
    S.OnDataSent = [&](TCustomWSocket *, int) { ++DataSent; };
    PumpFor(20);
    DataSent = 0;
    const std::string Data = Pattern(5000);
    EXPECT_EQ(S.Send(Data.data(), 5000), 5000);
    // Four 1514-byte blocks, one platform write (one OnSendData, inside Send).
    EXPECT_EQ(Chunks, (std::vector<int>{5000}));
    EXPECT_EQ(DataSent, 0);                                        // never inside Send
    EXPECT_TRUE(PumpUntil([&] { return DataSent == 1; }));
    EXPECT_EQ(ReadAvailable(Peer, 5000), Data);
    PumpFor(20);
    EXPECT_EQ(DataSent, 1);
    ::close(Peer);
}

TEST(WsocketSend, sendOfNothingReturnsZeroAndStillReportsDrained)
{
    TPeerListener L;
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    int DataSent = 0;
    PumpFor(20);
    S.OnDataSent = [&](TCustomWSocket *, int) { ++DataSent; };
    EXPECT_EQ(S.Send("x", 0), 0);
    EXPECT_EQ(S.Send("x", -3), 0);
    EXPECT_TRUE(PumpUntil([&] { return DataSent >= 1; }));
    EXPECT_TRUE(S.AllSent());
    ::close(Peer);
}

// A peer that stops reading: the platform takes part of the data, the rest waits in the
// queue for the writable report, and everything arrives once, in order, when it reads again.
TEST(WsocketSend, partialSendsResumeOnWritableAndKeepOrder)
{
    TPeerListener L(4096);
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    int Sndbuf = 4096;
    setsockopt(S.HSocket(), SOL_SOCKET, SO_SNDBUF, &Sndbuf, sizeof Sndbuf);
    qint64 Accepted = 0;
    S.OnSendData = [&](TCustomWSocket *, int n) { Accepted += n; };
    int DataSent = 0;
    PumpFor(20);
    S.OnDataSent = [&](TCustomWSocket *, int) { ++DataSent; };
    const std::string Data = Pattern(4 << 20);
    EXPECT_EQ(S.Send(Data.data(), static_cast<int>(Data.size())), static_cast<int>(Data.size()));
    EXPECT_LT(Accepted, static_cast<qint64>(Data.size()));
    EXPECT_FALSE(S.AllSent());
    PumpFor(100);
    EXPECT_EQ(DataSent, 0);
    const std::string Got = ReadAvailable(Peer, Data.size(), 20000);
    EXPECT_EQ(Got.size(), Data.size());
    EXPECT_TRUE(Got == Data);
    EXPECT_TRUE(PumpUntil([&] { return DataSent == 1; }));
    EXPECT_EQ(Accepted, static_cast<qint64>(Data.size()));
    ::close(Peer);
}

// A handler that answers every OnDataSent with the next block, as an upload does, into a
// slow reader: it is never called inside its own Send, each report frees it for exactly one
// block, every byte arrives once and in order, and the Close after the last block still
// delivers what the platform had no room for yet.
TEST(WsocketSend, blockPerReportArrivesWholeInOrderAndNeverInsideSend)
{
    TPeerListener L(4096);
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    int Sndbuf = 4096;
    setsockopt(S.HSocket(), SOL_SOCKET, SO_SNDBUF, &Sndbuf, sizeof Sndbuf);
    PumpFor(20);
    const std::string Data = Pattern(3 << 20);
    size_t Offset = 0;
    bool InSend = false;
    int Inside = 0, Reports = 0, Blocks = 0;
    auto SendBlock = [&](TCustomWSocket &Sender) {
        const int n = static_cast<int>(std::min<size_t>(1514, Data.size() - Offset));
        InSend = true;
        Sender.Send(Data.data() + Offset, n);
        InSend = false;
        Offset += static_cast<size_t>(n);
        ++Blocks;
    };
    S.OnDataSent = [&](TCustomWSocket *Sender, int) {
        ++Reports;
        Inside += InSend ? 1 : 0;
        if (Offset < Data.size())
            SendBlock(*Sender);
        else if (Sender->State() == wsConnected)
            Sender->Close();
    };
    SendBlock(S);
    const std::string Got = ReadAvailable(Peer, Data.size(), 30000);
    EXPECT_EQ(Got.size(), Data.size());
    EXPECT_TRUE(Got == Data);
    EXPECT_TRUE(SeesEof(Peer));
    EXPECT_EQ(Inside, 0);
    EXPECT_EQ(Reports, Blocks); // one per block: the last one closed
    EXPECT_EQ(S.State(), wsClosed);
    ::close(Peer);
}

// An upload's blocks go to the platform in writes that end on the stream's 64 KiB boundaries,
// so a peer that writes each read to its file writes aligned pieces; the tail of a handler
// that stops sending without closing still goes out. A write the platform takes only in part
// may end anywhere, hence the allowance.
TEST(WsocketSend, streamedBlocksLeaveInWritesEndingOn64KiBBoundaries)
{
    TPeerListener L;
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    PumpFor(20);
    const std::string Data = Pattern((4 << 20) + 1000);
    size_t Offset = 0;
    std::vector<size_t> Ends;
    size_t Written = 0;
    S.OnSendData = [&](TCustomWSocket *, int n) { Ends.push_back(Written += size_t(n)); };
    auto SendBlock = [&](TCustomWSocket &Sender) {
        const int n = static_cast<int>(std::min<size_t>(1514, Data.size() - Offset));
        Sender.Send(Data.data() + Offset, n);
        Offset += static_cast<size_t>(n);
    };
    S.OnDataSent = [&](TCustomWSocket *Sender, int) {
        if (Offset < Data.size())
            SendBlock(*Sender);
    };
    SendBlock(S);
    const std::string Got = ReadAvailable(Peer, Data.size(), 30000);
    EXPECT_TRUE(Got == Data);
    ASSERT_GE(Ends.size(), 64u);
    const auto Aligned = std::count_if(Ends.begin(), Ends.end(), [](size_t End) { return End % 65536 == 0; });
    EXPECT_GE(Aligned * 10, static_cast<long>(Ends.size()) * 9) << Aligned << " of " << Ends.size();
    ::close(Peer);
}

// Close while the platform's buffer is full: the queued rest still reaches the peer, in
// order, followed by the end of the stream, while the socket is closed at once.
TEST(WsocketClose, closeWithAFullPlatformBufferStillDeliversTheQueue)
{
    TPeerListener L(4096);
    TEventLog Log;
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    Log.Attach(S, false, false);
    const std::string Data = Pattern(4 << 20);
    S.Send(Data.data(), static_cast<int>(Data.size()));
    ASSERT_FALSE(S.AllSent());
    S.Close();
    EXPECT_EQ(S.State(), wsClosed);
    EXPECT_EQ(Log.Joined(), "ChangeState(wsConnected,wsClosed)\nSessionClosed(0)\n");
    EXPECT_EQ(TSendDrain::Running(), 1);
    const std::string Got = ReadAvailable(Peer, Data.size() + 1, 30000);
    EXPECT_EQ(Got.size(), Data.size());
    EXPECT_TRUE(Got == Data);
    EXPECT_EQ(StreamEnd(Peer), 0) << "an orderly end, not a reset";
    EXPECT_TRUE(PumpUntil([] { return TSendDrain::Running() == 0; }));
    ::close(Peer);
}

// A drain whose peer takes nothing for the give-up time ends with a reset: an orderly end
// would tell the peer it has the whole stream when the rest never left.
TEST(WsocketClose, drainThatGivesUpResetsTheConnection)
{
    TPeerListener L(4096);
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    const std::string Data = Pattern(4 << 20);
    S.Send(Data.data(), static_cast<int>(Data.size()));
    ASSERT_FALSE(S.AllSent());
    const int Saved = std::exchange(TSendDrain::GiveUpMs, 100);
    S.Close();
    EXPECT_EQ(TSendDrain::Running(), 1);
    const bool GaveUp = PumpUntil([] { return TSendDrain::Running() == 0; });
    TSendDrain::GiveUpMs = Saved;
    EXPECT_TRUE(GaveUp);
    EXPECT_EQ(StreamEnd(Peer), ECONNRESET);
    ::close(Peer);
}

TEST(WsocketSend, sendFromOnSendDataIsNotDuplicated)
{
    TPeerListener L;
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    bool Once = false;
    S.OnSendData = [&](TCustomWSocket *Sender, int) {
        if (!Once) {
            Once = true;
            Sender->SendStr("-tail");
        }
    };
    S.SendStr("head");
    EXPECT_EQ(ReadAvailable(Peer, 9), "head-tail");
    PumpFor(30);
    EXPECT_EQ(ReadAvailable(Peer, 1, 100), "");
    ::close(Peer);
}

TEST(WsocketSend, flushWaitsUntilTheQueueIsDrained)
{
    TPeerListener L(4096);
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    int Sndbuf = 4096;
    setsockopt(S.HSocket(), SOL_SOCKET, SO_SNDBUF, &Sndbuf, sizeof Sndbuf);
    const std::string Data = Pattern(4 << 20);
    S.Send(Data.data(), static_cast<int>(Data.size()));
    ASSERT_FALSE(S.AllSent());
    std::string Got;
    // The peer drains from a timer while Flush waits in the loop.
    QTimer Reader;
    QObject::connect(&Reader, &QTimer::timeout, [&] {
        char Buf[65536];
        ssize_t n;
        while ((n = ::recv(Peer, Buf, sizeof Buf, MSG_DONTWAIT)) > 0)
            Got.append(Buf, static_cast<size_t>(n));
    });
    Reader.start(5);
    S.Flush();
    EXPECT_TRUE(S.AllSent());
    Got += ReadAvailable(Peer, Data.size() - Got.size());
    EXPECT_TRUE(Got == Data);
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

// ---- closing -------------------------------------------------------------------------------------

TEST(WsocketClose, closeFiresClosedOnceEvenWhenPeerCloseFollows)
{
    TPeerListener L;
    TEventLog Log;
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    Log.Attach(S, true, false);
    S.Close();
    S.Close(); // nothing more
    EXPECT_TRUE(SeesEof(Peer));
    ::close(Peer);
    PumpFor(50);
    EXPECT_EQ(Log.Joined(), "ChangeState(wsConnected,wsClosed)\nSessionClosed(0)\n");
}

TEST(WsocketClose, closeDeliversEverythingSendAccepted)
{
    TPeerListener L(4096);
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    int Sndbuf = 65536;
    setsockopt(S.HSocket(), SOL_SOCKET, SO_SNDBUF, &Sndbuf, sizeof Sndbuf);
    const std::string Data = Pattern(60000);
    S.Send(Data.data(), static_cast<int>(Data.size()));
    S.Flush();
    S.Close(); // with the default linger setting: the tail still in the platform must arrive
    EXPECT_TRUE(ReadAvailable(Peer, Data.size() + 1) == Data);
    ::close(Peer);
}

TEST(WsocketClose, abortDiscardsQueueAndClosesWithoutHalfClose)
{
    TPeerListener L(4096);
    TEventLog Log;
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    Log.Attach(S, false, false);
    const std::string Data = Pattern(4 << 20);
    S.Send(Data.data(), static_cast<int>(Data.size()));
    ASSERT_FALSE(S.AllSent());
    S.Abort();
    EXPECT_EQ(S.State(), wsClosed);
    EXPECT_EQ(S.LingerOnOff(), wsLingerOn); // defaults are back
    EXPECT_EQ(Log.Joined(), "ChangeState(wsConnected,wsClosed)\nSessionClosed(0)\n");
    const std::string Got = ReadAvailable(Peer, Data.size(), 2000);
    EXPECT_LT(Got.size(), Data.size());
    ::close(Peer);
}

TEST(WsocketClose, closeDelayedClosesFromTheLoop)
{
    TPeerListener L;
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    S.CloseDelayed();
    EXPECT_EQ(S.State(), wsConnected);
    EXPECT_TRUE(PumpUntil([&] { return S.State() == wsClosed; }));
    ::close(Peer);
}

TEST(WsocketClose, handlerMayReleaseTheSocketThatCallsIt)
{
    TPeerListener L;
    auto *S = new TWSocket;
    const int Before = WSocketGCount;
    const int Peer = ConnectPair(*S, L);
    S->OnSessionClosed = [](TCustomWSocket *Sender, int) { Sender->Release(); };
    ::close(Peer);
    EXPECT_TRUE(PumpUntil([&] { return WSocketGCount == Before - 1; }));
}

TEST(WsocketClose, destroyingAConnectedSocketFiresNoClosedEvent)
{
    TPeerListener L;
    int Closed = 0;
    int Peer = -1;
    {
        TWSocket S;
        Peer = ConnectPair(S, L);
        S.OnSessionClosed = [&](TCustomWSocket *, int) { ++Closed; };
    }
    EXPECT_TRUE(SeesEof(Peer));
    EXPECT_EQ(Closed, 0);
    ::close(Peer);
}

TEST(WsocketClose, afterCloseAddrAndPortMustBeAssignedAgain)
{
    TPeerListener L;
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    S.Close();
    ::close(Peer);
    EXPECT_EQ(S.Addr(), "127.0.0.1");
    EXPECT_EQ(S.Port(), L.PortStr());
    try {
        S.Connect();
        FAIL();
    } catch (const ESocketException &E) {
        EXPECT_STREQ(E.what(), "Connect: No Port Specified");
    }
    S.SetPort(L.PortStr());
    try {
        S.Connect();
        FAIL();
    } catch (const ESocketException &E) {
        EXPECT_STREQ(E.what(), "Connect: No IP Address Specified");
    }
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
