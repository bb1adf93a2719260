// Line mode and ReadLine against a loopback POSIX peer: line splitting across reads,
// partial readers, the last line at close, editing and echo, mode switches, and the waits.
#include "NetPeers.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <functional>
#include <tuple>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;
const std::string Closed = "<closed>";

// A connected loopback TCP pair: {first, second}.
std::pair<int, int> TcpPair()
{
    const int L = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t Len = sizeof A;
    ::bind(L, reinterpret_cast<sockaddr *>(&A), sizeof A);
    ::listen(L, 1);
    ::getsockname(L, reinterpret_cast<sockaddr *>(&A), &Len);
    const int C = ::socket(AF_INET, SOCK_STREAM, 0);
    const int Rc = ::connect(C, reinterpret_cast<sockaddr *>(&A), sizeof A);
    const int Accepted = Rc == 0 ? ::accept(L, nullptr, nullptr) : -1;
    ::close(L);
    return {C, Accepted};
}

// Reaches the wait time ReadLine computed.
struct TProbeSocket : TWSocket {
    using TCustomSyncWSocket::FTimeout;
};

class LineSocket : public testing::Test {
protected:
    void SetUp() override
    {
        int Mine;
        std::tie(Peer, Mine) = TcpPair();
        ASSERT_GE(Mine, 0);
        S.Dup(Mine);
        ASSERT_EQ(S.State(), wsConnected);
        S.SetLineMode(true);
        S.OnSessionClosed = [this](TCustomWSocket *, int) { Calls.push_back(Closed); };
    }
    void TearDown() override
    {
        if (Peer >= 0)
            ::close(Peer);
    }

    // Sends one chunk and waits until the socket has read it, so every chunk is one read.
    void PeerSend(const std::string &Chunk)
    {
        ASSERT_EQ(::send(Peer, Chunk.data(), Chunk.size(), MSG_NOSIGNAL), static_cast<ssize_t>(Chunk.size()));
        ASSERT_TRUE(PumpUntil([&] {
            int n = 0;
            return S.HSocket() == INVALID_SOCKET || (::ioctl(S.HSocket(), FIONREAD, &n) == 0 && n == 0);
        }));
    }
    void PeerClose()
    {
        ::close(Peer);
        Peer = -1;
        ASSERT_TRUE(PumpUntil([&] { return S.State() == wsClosed; }));
    }
    // Whatever the peer receives within TimeoutMs, up to Want bytes.
    std::string PeerRead(size_t Want, int TimeoutMs = 3000)
    {
        std::string Got;
        const auto End = Clock::now() + std::chrono::milliseconds(TimeoutMs);
        while (Got.size() < Want && Clock::now() < End) {
            QCoreApplication::processEvents();
            pollfd P{Peer, POLLIN, 0};
            if (::poll(&P, 1, 10) == 1) {
                char B[4096];
                const ssize_t n = ::recv(Peer, B, sizeof B, 0);
                if (n <= 0)
                    break;
                Got.append(B, static_cast<size_t>(n));
            }
        }
        return Got;
    }
    // Every OnDataAvailable call reads with a buffer of Size bytes and records what it got.
    void ReadWith(int Size)
    {
        S.OnDataAvailable = [this, Size](TCustomWSocket *, int) {
            std::string B(static_cast<size_t>(Size), '\0');
            const int n = S.Receive(B.data(), Size);
            if (n > 0)
                Calls.push_back(B.substr(0, static_cast<size_t>(n)));
        };
    }

    TProbeSocket S;
    int Peer = -1;
    std::vector<std::string> Calls; // one entry per read in OnDataAvailable, then Closed
};

// ---- delivery line by line ------------------------------------------------------------------

struct TDeliveryCase {
    const char *Name;
    std::string LineEnd;
    std::vector<std::string> Chunks; // each arrives as one read
    int ReadSize;
    bool PeerClosesAfter;
    std::vector<std::string> Expected;
};

class LineDelivery : public LineSocket, public testing::WithParamInterface<TDeliveryCase> {};

TEST_P(LineDelivery, deliversExactlyTheseReads)
{
    const TDeliveryCase &C = GetParam();
    S.SetLineEnd(C.LineEnd);
    ReadWith(C.ReadSize);
    for (const std::string &Chunk : C.Chunks)
        PeerSend(Chunk);
    if (C.PeerClosesAfter)
        PeerClose();
    EXPECT_EQ(Calls, C.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LineDelivery,
    testing::Values(
        TDeliveryCase{"lineEndSplitAcrossReads", "\r\n", {"abc\r", "\ndef\r\n"}, 4096, false, {"abc\r\n", "def\r\n"}},
        TDeliveryCase{"twoLinesInOneRead", "\r\n", {"one\r\ntwo\r\n"}, 4096, false, {"one\r\n", "two\r\n"}},
        TDeliveryCase{"twoByteReaderCalledUntilLineTaken", "\r\n", {"hello\r\nxy\r\n"}, 2, false,
                      {"he", "ll", "o\r", "\n", "xy", "\r\n"}},
        TDeliveryCase{"nulBytesStayInTheLine", "\r\n", {std::string("a\0b\r\n\0\r\n", 8)}, 4096, false,
                      {std::string("a\0b\r\n", 5), std::string("\0\r\n", 3)}},
        TDeliveryCase{"crAloneEndsNothing", "\r\n", {"a\rb\n", "\r\n"}, 4096, false, {"a\rb\n\r\n"}},
        TDeliveryCase{"longLineEndSplitOverThreeReads", "END", {"xxE", "N", "Dyy"}, 4096, true,
                      {"xxEND", "yy", Closed}},
        TDeliveryCase{"tailDeliveredBeforeSessionClosed", "\r\n", {"full\r\ntail"}, 4096, true,
                      {"full\r\n", "tail", Closed}},
        TDeliveryCase{"emptyLineEndPassesBytesThrough", "", {"ab\r\ncd"}, 4096, false, {"ab\r\ncd"}}),
    [](const testing::TestParamInfo<TDeliveryCase> &I) { return std::string(I.param.Name); });

TEST_F(LineSocket, bothReadsCountAndRcvdCountIsThePendingLine)
{
    std::vector<int> Counts;
    S.OnDataAvailable = [&](TCustomWSocket *, int) {
        Counts.push_back(S.RcvdCount());
        Calls.push_back(S.ReceiveStr());
    };
    PeerSend("abc\r\nxy");
    EXPECT_EQ(Calls, (std::vector<std::string>{"abc\r\n"}));
    EXPECT_EQ(Counts, (std::vector<int>{5}));
    EXPECT_EQ(S.RcvdCount(), 0); // between lines, whatever is held
    EXPECT_EQ(S.ReadCount(), 7 + 5);
}

TEST_F(LineSocket, bytesAtPlatformAreNoLineUntilRead)
{
    ReadWith(4096);
    S.Pause();
    ASSERT_EQ(::send(Peer, "abc\r\n", 5, 0), 5);
    ASSERT_TRUE(PumpUntil([&] {
        int n = 0;
        return ::ioctl(S.HSocket(), FIONREAD, &n) == 0 && n == 5;
    }));
    EXPECT_EQ(S.RcvdCount(), 0);
    EXPECT_EQ(S.ReceiveStr(), "");
    S.Resume();
    ASSERT_TRUE(PumpUntil([&] { return !Calls.empty(); }));
    EXPECT_EQ(Calls, (std::vector<std::string>{"abc\r\n"}));
}

TEST_F(LineSocket, megabyteLineWithoutEndHeldThenDeliveredWhole)
{
    std::string Line(6 << 20, 'x');
    for (size_t i = 0; i < Line.size(); i += 4099)
        Line[i] = '\0';
    ReadWith(8 << 20);
    ::fcntl(Peer, F_SETFL, O_NONBLOCK);
    for (size_t Off = 0; Off < Line.size();) {
        const ssize_t n = ::send(Peer, Line.data() + Off, Line.size() - Off, MSG_NOSIGNAL);
        if (n > 0)
            Off += static_cast<size_t>(n);
        QCoreApplication::processEvents();
    }
    ASSERT_TRUE(PumpUntil([&] { return S.RcvdHeld() == Line.size(); }));
    EXPECT_TRUE(Calls.empty());
    // Memory follows what is held: growth by half at most beyond it.
    EXPECT_LE(S.RcvdBufCapacity(), Line.size() * 3 / 2 + 4096);
    PeerSend("\r\n");
    ASSERT_EQ(Calls.size(), 1u);
    EXPECT_TRUE(Calls[0] == Line + "\r\n");
    EXPECT_EQ(S.RcvdHeld(), 0u);
}

TEST_F(LineSocket, localCloseDeliversHeldBytesOnceThenClosed)
{
    ReadWith(4096);
    PeerSend("partial");
    S.Close();
    S.Close();
    EXPECT_EQ(Calls, (std::vector<std::string>{"partial", Closed}));
    EXPECT_EQ(S.RcvdBufCapacity(), 0u); // freed with the session
}

TEST_F(LineSocket, handlerClosingMidDeliveryGetsTheRestAsLastLine)
{
    S.OnDataAvailable = [&](TCustomWSocket *, int) {
        Calls.push_back(S.ReceiveStr());
        if (Calls.size() == 1)
            S.Close();
    };
    PeerSend("a\r\nb\r\nc");
    EXPECT_EQ(Calls, (std::vector<std::string>{"a\r\n", "b\r\nc", Closed}));
}

TEST_F(LineSocket, handlerDestroyingSocketMidDeliveryStopsCleanly)
{
    // A second connection whose socket lives on the heap, adopted by Dup.
    TWSocket *D = new TWSocket;
    const auto [Other, Adopted] = TcpPair();
    D->SetLineMode(true);
    D->OnDataAvailable = [&](TCustomWSocket *, int) {
        // The closure dies with the socket: nothing captured is touched after the delete.
        Calls.push_back(D->ReceiveStr());
        TWSocket *Victim = D;
        D = nullptr;
        delete Victim;
    };
    D->Dup(Adopted);
    ASSERT_EQ(::send(Other, "a\r\nb\r\nc", 7, 0), 7);
    ASSERT_TRUE(PumpUntil([&] { return D == nullptr; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(Calls, (std::vector<std::string>{"a\r\n"}));
    ::close(Other);
}

TEST_F(LineSocket, withoutHandlerLinesAreDroppedAndTailKept)
{
    PeerSend("gone\r\nkept");
    EXPECT_EQ(S.RcvdHeld(), 4u);
    ReadWith(4096);
    PeerSend("\r\n");
    EXPECT_EQ(Calls, (std::vector<std::string>{"kept\r\n"}));
}

TEST_F(LineSocket, handlerTakingNothingIsNotCalledForeverAndLineWaits)
{
    int Offers = 0;
    S.OnDataAvailable = [&](TCustomWSocket *, int) { ++Offers; };
    PeerSend("first\r\nsecond\r\n");
    EXPECT_EQ(Offers, 1);
    EXPECT_EQ(S.RcvdCount(), 7);
    // Taking the line later lets the next one through.
    ReadWith(4096);
    EXPECT_EQ(S.ReceiveStr(), "first\r\n");
    ASSERT_TRUE(PumpUntil([&] { return !Calls.empty(); }));
    EXPECT_EQ(Calls, (std::vector<std::string>{"second\r\n"}));
}

// ---- switching LineMode -------------------------------------------------------------------------

TEST_F(LineSocket, switchedOffMidLineUntakenPartAndRestOfferedRaw)
{
    S.OnDataAvailable = [&](TCustomWSocket *, int) {
        char B[2];
        const int n = S.Receive(B, 2);
        Calls.push_back(std::string(B, static_cast<size_t>(n)));
        if (S.LineMode()) {
            S.SetLineMode(false);
            S.OnDataAvailable = [&](TCustomWSocket *, int) { Calls.push_back(S.ReceiveStr()); };
        }
    };
    PeerSend("abcd\r\nef\r\n");
    ASSERT_TRUE(PumpUntil([&] { return Calls.size() >= 2; }));
    EXPECT_EQ(Calls, (std::vector<std::string>{"ab", "cd\r\nef\r\n"}));
    PeerSend("raw");
    EXPECT_EQ(Calls.back(), "raw");
}

TEST_F(LineSocket, switchedOnAgainSplitsHeldBytesWithoutNewData)
{
    S.OnDataAvailable = [&](TCustomWSocket *, int) { S.SetLineMode(false); };
    PeerSend("x\r\ny\r\n");
    S.OnDataAvailable = nullptr;
    QCoreApplication::processEvents(); // the raw redelivery finds no handler and ends
    EXPECT_EQ(S.RcvdHeld(), 6u);
    ReadWith(4096);
    S.SetLineMode(true);
    ASSERT_TRUE(PumpUntil([&] { return Calls.size() == 2; }));
    EXPECT_EQ(Calls, (std::vector<std::string>{"x\r\n", "y\r\n"}));
}

// ---- editing and echo ---------------------------------------------------------------------------

struct TEditCase {
    const char *Name;
    bool Edit, Echo;
    std::vector<std::string> Chunks;
    std::string Line, PeerSees;
};

class LineEditing : public LineSocket, public testing::WithParamInterface<TEditCase> {};

TEST_P(LineEditing, editsLineAndEchoes)
{
    const TEditCase &C = GetParam();
    S.SetLineEdit(C.Edit);
    S.SetLineEcho(C.Echo);
    ReadWith(4096);
    for (const std::string &Chunk : C.Chunks)
        PeerSend(Chunk);
    EXPECT_EQ(Calls, (std::vector<std::string>{C.Line}));
    EXPECT_EQ(PeerRead(std::max<size_t>(C.PeerSees.size(), 1), C.PeerSees.empty() ? 200 : 3000), C.PeerSees);
}

INSTANTIATE_TEST_SUITE_P(
    Edit, LineEditing,
    testing::Values(
        TEditCase{"backspaceRemovesPreviousByte", true, true, {"ab\bc\r\n"}, "ac\r\n", "ab\b \bc\r\n"},
        TEditCase{"tabAtColumnThreeGivesFiveSpaces", true, true, {"abc\tx\r\n"}, "abc     x\r\n", "abc     x\r\n"},
        TEditCase{"tabOnTabStopGivesEight", true, false, {"\tz\r\n"}, "        z\r\n", ""},
        TEditCase{"backspaceAtStartIsIgnored", true, true, {"\bx\r\n"}, "x\r\n", "x\r\n"},
        TEditCase{"backspaceReachesIntoEarlierRead", true, true, {"abc", "\b\bd\r\n"}, "ad\r\n",
                  "abc\b \b\b \bd\r\n"},
        TEditCase{"tabColumnFollowsBackspace", true, false, {"abcdefgh\b\tZ\r\n"}, "abcdefg Z\r\n", ""},
        TEditCase{"echoWithoutEditSendsBytesUnchanged", false, true, {"a\bb\r\n"}, "a\bb\r\n", "a\bb\r\n"}),
    [](const testing::TestParamInfo<TEditCase> &I) { return std::string(I.param.Name); });

// ---- ReadLine -----------------------------------------------------------------------------------

struct TWaitCase {
    int Timeout;
    qint64 WaitMs;
};

class ReadLineWait : public LineSocket, public testing::WithParamInterface<TWaitCase> {};

TEST_P(ReadLineWait, timeoutKindGivesWaitTime)
{
    // The caller's handler leaves the line at the platform; ReadLine takes it from there.
    S.SetLineMode(false);
    S.OnDataAvailable = [](TCustomWSocket *, int) {};
    ASSERT_EQ(::send(Peer, "ready\r\n", 7, 0), 7);
    std::string Line;
    S.ReadLine(GetParam().Timeout, Line);
    EXPECT_EQ(Line, "ready\r\n");
    EXPECT_EQ(S.FTimeout, GetParam().WaitMs);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ReadLineWait,
                         testing::Values(TWaitCase{0, 60000}, TWaitCase{2, 2000}, TWaitCase{-500, 500}));

TEST_F(LineSocket, readLineGivesUpAfterMillisecondsWithPartialBytesWithoutSpinning)
{
    S.SetLineMode(false);
    bool OwnCalled = false;
    S.OnDataAvailable = [&](TCustomWSocket *, int) { OwnCalled = true; };
    ASSERT_EQ(::send(Peer, "part", 4, 0), 4);
    PumpUntil([&] { return OwnCalled; }, 500);
    OwnCalled = false;
    std::string Line;
    const auto Start = Clock::now();
    const std::clock_t Cpu = std::clock();
    S.ReadLine(-600, Line);
    const double CpuSeconds = double(std::clock() - Cpu) / CLOCKS_PER_SEC;
    EXPECT_GE(Clock::now() - Start, std::chrono::milliseconds(600));
    EXPECT_LT(CpuSeconds, 0.3); // the wait sleeps in the loop
    EXPECT_EQ(Line, "part");
    EXPECT_EQ(S.RcvdHeld(), 0u);
    EXPECT_FALSE(S.LineMode());
    EXPECT_FALSE(OwnCalled);
    ASSERT_TRUE(S.OnDataAvailable);
    S.OnDataAvailable(&S, 0);
    EXPECT_TRUE(OwnCalled); // the caller's handler is back
}

TEST_F(LineSocket, readLineReturnsLinesOneByOneAndTailAtClose)
{
    S.OnDataAvailable = nullptr;
    PeerSend("");
    ASSERT_EQ(::send(Peer, "l1\r\nl2\r\nend", 11, 0), 11);
    std::string A, B, C;
    S.ReadLine(2, A);
    S.ReadLine(2, B);
    ::close(Peer);
    Peer = -1;
    S.ReadLine(2, C);
    EXPECT_EQ(A, "l1\r\n");
    EXPECT_EQ(B, "l2\r\n");
    EXPECT_EQ(C, "end");
    EXPECT_TRUE(PumpUntil([&] { return S.State() == wsClosed; }));
}

TEST_F(LineSocket, handlerCallingReadLineKeepsItsClosureAndLineOrder)
{
    const std::string Tag = "from handler: "; // a capture the handler still uses after ReadLine
    S.OnDataAvailable = [&, Tag](TCustomWSocket *, int) {
        Calls.push_back(S.ReceiveStr());
        if (Calls.size() == 1) {
            std::string Next;
            S.ReadLine(2, Next);
            Calls.push_back(Tag + Next);
        }
    };
    // The next lines arrive while the handler waits in ReadLine.
    QTimer::singleShot(100, [&] { ::send(Peer, "b\r\nc\r\n", 6, 0); });
    PeerSend("a\r\n");
    ASSERT_TRUE(PumpUntil([&] { return Calls.size() >= 3; }));
    EXPECT_EQ(Calls, (std::vector<std::string>{"a\r\n", "from handler: b\r\n", "c\r\n"}));
}

TEST_F(LineSocket, readLineWaitsForALineThatComesLater)
{
    S.OnDataAvailable = nullptr;
    QTimer::singleShot(300, [&] { ::send(Peer, "late\r\n", 6, 0); });
    std::string Line;
    S.ReadLine(0, Line);
    EXPECT_EQ(Line, "late\r\n");
}

TEST_F(LineSocket, readLineOnClosedSocketReports)
{
    S.Close();
    std::string Line = "old";
    try {
        S.ReadLine(1, Line);
        FAIL() << "no report";
    } catch (const ESocketException &E) {
        EXPECT_STREQ(E.what(), "ReadLine failed: not connected");
    }
    EXPECT_EQ(Line, "");
}

} // namespace
