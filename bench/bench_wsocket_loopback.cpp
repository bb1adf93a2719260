// Moves a volume of bytes over loopback twice per round: through TWSocket (sender fed from
// OnDataSent, receiver draining with Receive into a 2048-byte buffer inside OnDataAvailable)
// and through a plain blocking send/recv pair with the same block sizes (1514-byte sends,
// 2048-byte reads). Sender and receiver run in separate processes. Prints MB/s, the ratio
// and the processor seconds of each side.
//
//   bench_wsocket_loopback [MiB=1024] [rounds=3] [only=w|p]   (only: run one side, for profiling)
#include "net/Socket.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int SendBlock = 1514;   // the socket layer's platform write size
constexpr int RecvBlock = 2048;   // the receiver's buffer
constexpr int FeedChunk = 256 * 1024; // what the TWSocket sender queues per OnDataSent

struct TResult {
    double Seconds = 0;
    double SenderCpu = 0;
    double ReceiverCpu = 0;
    long long Received = 0;
};

double CpuSeconds(const rusage &R)
{
    return static_cast<double>(R.ru_utime.tv_sec + R.ru_stime.tv_sec) +
           static_cast<double>(R.ru_utime.tv_usec + R.ru_stime.tv_usec) / 1e6;
}

int MakeListener(int &Port)
{
    const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(Fd, reinterpret_cast<sockaddr *>(&A), sizeof A) != 0 || ::listen(Fd, 1) != 0) {
        std::perror("listen");
        std::exit(1);
    }
    socklen_t Len = sizeof A;
    getsockname(Fd, reinterpret_cast<sockaddr *>(&A), &Len);
    Port = ntohs(A.sin_port);
    return Fd;
}

// Child side: receives until the peer closes; writes the byte count to the pipe.
void PlainReceiver(int Listener, int Report)
{
    const int Fd = ::accept(Listener, nullptr, nullptr);
    std::vector<char> Buf(RecvBlock);
    long long Total = 0;
    for (;;) {
        const ssize_t n = ::recv(Fd, Buf.data(), Buf.size(), 0);
        if (n <= 0)
            break;
        Total += n;
    }
    ::close(Fd);
    if (::write(Report, &Total, sizeof Total) != static_cast<ssize_t>(sizeof Total))
        std::perror("report");
}

void WsocketReceiver(int Listener, int Report)
{
    int Argc = 1;
    char Name[] = "receiver";
    char *Argv[] = {Name, nullptr};
    QCoreApplication App(Argc, Argv);
    const int Fd = ::accept(Listener, nullptr, nullptr);
    long long Total = 0;
    TWSocket S;
    std::vector<char> Buf(RecvBlock);
    S.OnDataAvailable = [&](TCustomWSocket *Sender, int) {
        int n;
        while ((n = Sender->Receive(Buf.data(), RecvBlock)) > 0)
            Total += n;
    };
    S.OnSessionClosed = [&](TCustomWSocket *, int) { QCoreApplication::quit(); };
    S.Dup(Fd);
    QCoreApplication::exec();
    if (::write(Report, &Total, sizeof Total) != static_cast<ssize_t>(sizeof Total))
        std::perror("report");
}

void PlainSender(int Port, long long Volume, const std::vector<char> &Data)
{
    const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_port = htons(static_cast<uint16_t>(Port));
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(Fd, reinterpret_cast<sockaddr *>(&A), sizeof A) != 0) {
        std::perror("connect");
        std::exit(1);
    }
    long long Sent = 0;
    size_t Offset = 0;
    while (Sent < Volume) {
        const size_t Want = static_cast<size_t>(std::min<long long>(SendBlock, Volume - Sent));
        if (Offset + Want > Data.size())
            Offset = 0;
        const ssize_t n = ::send(Fd, Data.data() + Offset, Want, MSG_NOSIGNAL);
        if (n <= 0) {
            std::perror("send");
            break;
        }
        Sent += n;
        Offset += static_cast<size_t>(n);
    }
    ::close(Fd);
}

void WsocketSender(int Port, long long Volume, const std::vector<char> &Data)
{
    long long Queued = 0;
    size_t Offset = 0;
    TWSocket S;
    auto Feed = [&](TCustomWSocket *Sender) {
        if (Queued >= Volume) {
            Sender->Close();
            QCoreApplication::quit();
            return;
        }
        const int Want = static_cast<int>(std::min<long long>(FeedChunk, Volume - Queued));
        if (Offset + static_cast<size_t>(Want) > Data.size())
            Offset = 0;
        Sender->Send(Data.data() + Offset, Want);
        Offset += static_cast<size_t>(Want);
        Queued += Want;
    };
    S.OnDataSent = [&](TCustomWSocket *Sender, int) { Feed(Sender); };
    S.OnSessionConnected = [&](TCustomWSocket *, int Error) {
        if (Error != 0) {
            std::fprintf(stderr, "connect failed: %d\n", Error);
            QCoreApplication::quit();
        }
    };
    S.SetAddr("127.0.0.1");
    S.SetPort(std::to_string(Port));
    S.Connect();
    QCoreApplication::exec();
}

TResult RunOnce(bool Wsocket, long long Volume, const std::vector<char> &Data)
{
    int Port = 0;
    const int Listener = MakeListener(Port);
    int Pipe[2];
    if (pipe(Pipe) != 0)
        std::exit(1);
    rusage Before{};
    getrusage(RUSAGE_SELF, &Before);
    const auto Start = std::chrono::steady_clock::now();
    const pid_t Child = fork();
    if (Child == 0) {
        ::close(Pipe[0]);
        if (Wsocket)
            WsocketReceiver(Listener, Pipe[1]);
        else
            PlainReceiver(Listener, Pipe[1]);
        _exit(0);
    }
    ::close(Pipe[1]);
    if (Wsocket)
        WsocketSender(Port, Volume, Data);
    else
        PlainSender(Port, Volume, Data);
    TResult R;
    if (::read(Pipe[0], &R.Received, sizeof R.Received) != static_cast<ssize_t>(sizeof R.Received))
        R.Received = -1;
    int Status = 0;
    rusage ChildUsage{};
    wait4(Child, &Status, 0, &ChildUsage);
    R.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
    rusage After{};
    getrusage(RUSAGE_SELF, &After);
    R.SenderCpu = CpuSeconds(After) - CpuSeconds(Before);
    R.ReceiverCpu = CpuSeconds(ChildUsage);
    ::close(Pipe[0]);
    ::close(Listener);
    return R;
}

double Median(std::vector<double> V)
{
    std::sort(V.begin(), V.end());
    return V[V.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    const long long MiB = argc > 1 ? std::atoll(argv[1]) : 1024;
    const int Rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const long long Volume = MiB << 20;
    const char Only = argc > 3 ? argv[3][0] : '\0';
    std::vector<char> Data(4 << 20);
    for (size_t i = 0; i < Data.size(); ++i)
        Data[i] = static_cast<char>(i * 131 + 7);

    int Argc = 1;
    char Name[] = "bench_wsocket_loopback";
    char *Argv[] = {Name, nullptr};

    std::printf("loopback transfer of %lld MiB, %d round(s); sends of %d bytes, reads of %d bytes\n",
                MiB, Rounds, SendBlock, RecvBlock);
    // The first transfer pays for the kernel's first use of its buffer memory (these
    // virtual machines hand idle memory back to the host): warm up, not counted.
    RunOnce(false, std::min<long long>(Volume, 256LL << 20), Data);
    std::vector<double> RateW, RateP, Ratio, CpuRatios;
    for (int Round = 1; Round <= Rounds; ++Round) {
        TResult W, P;
        if (Only != 'p') {
            QCoreApplication App(Argc, Argv); // the sender's loop; the receiver builds its own after fork
            W = RunOnce(true, Volume, Data);
        }
        if (Only != 'w')
            P = RunOnce(false, Volume, Data);
        if (Only) {
            const TResult &R = Only == 'w' ? W : P;
            std::printf("%s %.1f MB/s (cpu sender %.2f s, receiver %.2f s)\n", Only == 'w' ? "TWSocket" : "plain",
                        static_cast<double>(Volume) / 1e6 / R.Seconds, R.SenderCpu, R.ReceiverCpu);
            continue;
        }
        if (W.Received != Volume || P.Received != Volume) {
            std::fprintf(stderr, "short transfer: TWSocket %lld, plain %lld of %lld bytes\n", W.Received,
                         P.Received, Volume);
            return 1;
        }
        const double MbW = static_cast<double>(Volume) / 1e6 / W.Seconds;
        const double MbP = static_cast<double>(Volume) / 1e6 / P.Seconds;
        RateW.push_back(MbW);
        RateP.push_back(MbP);
        Ratio.push_back(MbW / MbP);
        // On a shared machine the processor seconds are the steadier comparison.
        const double CpuRatio = (P.SenderCpu + P.ReceiverCpu) / (W.SenderCpu + W.ReceiverCpu);
        CpuRatios.push_back(CpuRatio);
        std::printf("round %d  TWSocket %8.1f MB/s (cpu sender %.2f s, receiver %.2f s)   "
                    "plain %8.1f MB/s (cpu sender %.2f s, receiver %.2f s)   ratio %.2f   cpu ratio %.2f\n",
                    Round, MbW, W.SenderCpu, W.ReceiverCpu, MbP, P.SenderCpu, P.ReceiverCpu, MbW / MbP, CpuRatio);
        std::fflush(stdout);
    }
    if (Only)
        return 0;
    std::printf("median   TWSocket %8.1f MB/s   plain %8.1f MB/s   ratio %.2f   cpu ratio (plain/TWSocket) %.2f\n",
                Median(RateW), Median(RateP), Median(Ratio), Median(CpuRatios));
    return 0;
}
