// TWSocket's sending and closing against small loopback peers: the send queue, the send
// loop that feeds an upload, and every way a connection ends with data queued or not.
#include "NetPeers.h"
#include "net/SocketDrain.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include <sys/socket.h>
#include <unistd.h>

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
    const int Peer = ConnectPair(S, L, 4096);
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
    const int Peer = ConnectPair(S, L, 4096);
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
    const std::string Data = Pattern((16 << 20) + 1000);
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

// Shared sends queue the owner's memory, not a copy: they keep their place among copied
// sends, neighbouring pieces of one memory go out as one, and the owner is let go once sent.
TEST(WsocketSend, sharedSendsKeepTheirPlaceAndReleaseTheirOwnerOnceSent)
{
    TPeerListener L;
    TWSocket S;
    const int Peer = ConnectPair(S, L);
    PumpFor(20);
    const std::string Bytes = Pattern(300000);
    std::shared_ptr<const char[]> Owner(new char[Bytes.size()]);
    std::memcpy(const_cast<char *>(Owner.get()), Bytes.data(), Bytes.size());
    const char *p = Owner.get();
    EXPECT_EQ(S.Send("head|", 5), 5);
    EXPECT_EQ(S.SendShared(Owner, p, 100000), 100000);
    EXPECT_EQ(S.SendShared(Owner, p + 100000, 150000), 150000);
    EXPECT_EQ(S.Send("|mid|", 5), 5);
    EXPECT_EQ(S.SendShared(Owner, p + 250000, 50000), 50000);
    EXPECT_EQ(S.SendShared(nullptr, p, 10), 0);
    const std::string Expected = "head|" + Bytes.substr(0, 250000) + "|mid|" + Bytes.substr(250000);
    const std::string Got = ReadAvailable(Peer, Expected.size(), 10000);
    EXPECT_TRUE(Got == Expected) << Got.size() << " of " << Expected.size();
    EXPECT_TRUE(PumpUntil([&] { return S.AllSent(); }));
    EXPECT_EQ(Owner.use_count(), 1) << "still held by the sent queue";
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
    const int Peer = ConnectPair(S, L, 4096);
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
    const int Peer = ConnectPair(S, L, 65536);
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
