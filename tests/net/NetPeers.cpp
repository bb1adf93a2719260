#include "NetPeers.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

bool PumpUntil(const std::function<bool()> &Done, int TimeoutMs)
{
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (!Done()) {
        if (std::chrono::steady_clock::now() >= Deadline)
            return false;
        QTimer Wake;
        Wake.setSingleShot(true);
        Wake.start(10);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void PumpFor(int Ms)
{
    PumpUntil([] { return false; }, Ms);
}

TPeerListener::TPeerListener(int RcvBuf)
{
    FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (RcvBuf > 0) // inherited by accepted sockets; must be set before listen
        setsockopt(FFd, SOL_SOCKET, SO_RCVBUF, &RcvBuf, sizeof RcvBuf);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(FFd, reinterpret_cast<sockaddr *>(&A), sizeof A);
    ::listen(FFd, 8);
    socklen_t Len = sizeof A;
    getsockname(FFd, reinterpret_cast<sockaddr *>(&A), &Len);
    FPort = ntohs(A.sin_port);
}

TPeerListener::~TPeerListener()
{
    if (FFd >= 0)
        ::close(FFd);
}

int TPeerListener::AcceptOne(int TimeoutMs)
{
    int Fd = -1;
    PumpUntil([&] {
        pollfd P{FFd, POLLIN, 0};
        if (poll(&P, 1, 0) > 0)
            Fd = ::accept4(FFd, nullptr, nullptr, SOCK_CLOEXEC);
        return Fd >= 0;
    }, TimeoutMs);
    return Fd;
}

int UnusedPort()
{
    TPeerListener L;
    return L.Port();
}

int ConnectTo(int Port)
{
    const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_port = htons(static_cast<uint16_t>(Port));
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(Fd, reinterpret_cast<sockaddr *>(&A), sizeof A) != 0) {
        ::close(Fd);
        return -1;
    }
    return Fd;
}

std::string ReadAvailable(int Fd, size_t Want, int TimeoutMs)
{
    std::string Out;
    PumpUntil([&] {
        pollfd P{Fd, POLLIN, 0};
        while (Out.size() < Want && poll(&P, 1, 0) > 0) {
            char Buf[65536];
            const ssize_t n = ::recv(Fd, Buf, sizeof Buf, MSG_DONTWAIT);
            if (n <= 0)
                return true;
            Out.append(Buf, static_cast<size_t>(n));
        }
        return Out.size() >= Want;
    }, TimeoutMs);
    return Out;
}

bool SeesEof(int Fd, int TimeoutMs)
{
    bool Eof = false;
    PumpUntil([&] {
        char Buf[4096];
        const ssize_t n = ::recv(Fd, Buf, sizeof Buf, MSG_DONTWAIT);
        Eof = n == 0 || (n < 0 && errno != EAGAIN);
        return Eof;
    }, TimeoutMs);
    return Eof;
}

int StreamEnd(int Fd, int TimeoutMs)
{
    int End = -1;
    PumpUntil([&] {
        char Buf[65536];
        ssize_t n;
        while ((n = ::recv(Fd, Buf, sizeof Buf, MSG_DONTWAIT)) > 0) {
        }
        if (n == 0 || errno != EAGAIN)
            End = n == 0 ? 0 : errno;
        return End >= 0;
    }, TimeoutMs);
    return End;
}

void WriteAll(int Fd, const std::string &Data)
{
    size_t Done = 0;
    while (Done < Data.size()) {
        const ssize_t n = ::send(Fd, Data.data() + Done, Data.size() - Done, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        Done += static_cast<size_t>(n);
    }
}

void ResetAndClose(int Fd)
{
    const linger L{1, 0};
    setsockopt(Fd, SOL_SOCKET, SO_LINGER, &L, sizeof L);
    ::close(Fd);
}

void TEventLog::Attach(TCustomWSocket &S, bool WithDataAvailable, bool WithDataSent)
{
    S.OnChangeState = [this](TCustomWSocket *, TSocketState O, TSocketState N) {
        Items.push_back(std::string("ChangeState(") + SocketStateName(O) + "," + SocketStateName(N) + ")");
    };
    S.OnSessionConnected = [this](TCustomWSocket *, int E) { Items.push_back("SessionConnected(" + std::to_string(E) + ")"); };
    S.OnSessionClosed = [this](TCustomWSocket *, int E) { Items.push_back("SessionClosed(" + std::to_string(E) + ")"); };
    S.OnSessionAvailable = [this](TCustomWSocket *, int E) { Items.push_back("SessionAvailable(" + std::to_string(E) + ")"); };
    S.OnDnsLookupDone = [this](TCustomWSocket *, int E) { Items.push_back("DnsLookupDone(" + std::to_string(E) + ")"); };
    if (WithDataSent)
        S.OnDataSent = [this](TCustomWSocket *, int E) { Items.push_back("DataSent(" + std::to_string(E) + ")"); };
    if (WithDataAvailable)
        S.OnDataAvailable = [this](TCustomWSocket *Sender, int E) {
            char Buf[4096];
            const int n = Sender->Receive(Buf, sizeof Buf);
            Items.push_back("DataAvailable(" + std::to_string(E) + ")" + (n > 0 ? ":" + std::string(Buf, static_cast<size_t>(n)) : ""));
        };
}

int TEventLog::Count(const std::string &Item) const
{
    int n = 0;
    for (const auto &I : Items)
        n += I == Item;
    return n;
}

std::string TEventLog::Joined() const
{
    std::string Out;
    for (const auto &I : Items)
        Out += I + "\n";
    return Out;
}

int ConnectPair(TWSocket &S, TPeerListener &L, int SendBuffer)
{
    S.SetProto("tcp");
    S.SetAddr("127.0.0.1");
    S.SetPort(L.PortStr());
    S.Connect();
    const int Peer = L.AcceptOne();
    EXPECT_TRUE(PumpUntil([&] { return S.State() == wsConnected; }));
    if (SendBuffer > 0) {
        EXPECT_EQ(setsockopt(S.HSocket(), SOL_SOCKET, SO_SNDBUF, &SendBuffer, sizeof SendBuffer), 0);
    }
    return Peer;
}

std::string Pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return s;
}
