// Receiving over loopback with TWSocket in line mode (one OnDataAvailable per line, read
// with ReceiveStr) against the same socket with LineMode off (reads of 64 KiB, no
// splitting). A child process sends the lines with plain blocking sends. Prints MB/s,
// lines per second and the receiver's processor seconds, for short and long lines.
//
//   bench_line_mode [MiB=256] [rounds=3]
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
#include <string>
#include <vector>

namespace {

double CpuSeconds()
{
    rusage R{};
    getrusage(RUSAGE_SELF, &R);
    return static_cast<double>(R.ru_utime.tv_sec + R.ru_stime.tv_sec) +
           static_cast<double>(R.ru_utime.tv_usec + R.ru_stime.tv_usec) / 1e6;
}

struct TRound {
    double Seconds, Cpu;
    long long Bytes, Lines;
};

void SendLines(int Port, long long Volume, size_t LineLen)
{
    const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_port = htons(static_cast<uint16_t>(Port));
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(Fd, reinterpret_cast<sockaddr *>(&A), sizeof A) != 0)
        _exit(1);
    std::string Line(LineLen - 2, 'x');
    Line += "\r\n";
    std::string Block;
    while (Block.size() < 64 * 1024)
        Block += Line;
    for (long long Sent = 0; Sent < Volume;) {
        const ssize_t n = ::send(Fd, Block.data(), Block.size(), MSG_NOSIGNAL);
        if (n <= 0)
            break;
        Sent += n;
    }
    ::close(Fd);
}

TRound Receive(bool LineMode, long long Volume, size_t LineLen)
{
    const int L = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t Len = sizeof A;
    if (::bind(L, reinterpret_cast<sockaddr *>(&A), sizeof A) != 0 || ::listen(L, 1) != 0)
        std::exit(1);
    getsockname(L, reinterpret_cast<sockaddr *>(&A), &Len);
    const pid_t Child = fork();
    if (Child == 0) {
        SendLines(ntohs(A.sin_port), Volume, LineLen);
        _exit(0);
    }
    const int Fd = ::accept(L, nullptr, nullptr);
    ::close(L);

    TRound R{0, 0, 0, 0};
    std::vector<char> Buf(64 * 1024);
    bool Done = false;
    TWSocket S;
    S.SetLineMode(LineMode);
    S.OnDataAvailable = [&](TCustomWSocket *, int) {
        if (LineMode) {
            R.Bytes += static_cast<long long>(S.ReceiveStr().size());
            ++R.Lines;
            return;
        }
        int n;
        while ((n = S.Receive(Buf.data(), static_cast<int>(Buf.size()))) > 0)
            R.Bytes += n;
    };
    S.OnSessionClosed = [&](TCustomWSocket *, int) { Done = true; };
    const double Cpu0 = CpuSeconds();
    const auto Start = std::chrono::steady_clock::now();
    S.Dup(Fd);
    while (!Done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    R.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
    R.Cpu = CpuSeconds() - Cpu0;
    if (!LineMode)
        R.Lines = R.Bytes / static_cast<long long>(LineLen);
    waitpid(Child, nullptr, 0);
    return R;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication App(argc, argv);
    const long long Volume = (argc > 1 ? std::atoll(argv[1]) : 256) << 20;
    const int Rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    for (const size_t LineLen : {80u, 4096u}) {
        for (const bool LineMode : {true, false}) {
            std::vector<double> Rates;
            for (int i = 0; i < Rounds; ++i) {
                const TRound R = Receive(LineMode, Volume, LineLen);
                const double Mbs = static_cast<double>(R.Bytes) / 1e6 / R.Seconds;
                Rates.push_back(Mbs);
                std::printf("lines of %4zu  %-13s round %d  %7.1f MB/s  %10.0f lines/s  cpu %.2f s  (%lld bytes)\n",
                            LineLen, LineMode ? "LineMode on" : "LineMode off", i + 1, Mbs,
                            static_cast<double>(R.Lines) / R.Seconds, R.Cpu, R.Bytes);
            }
            std::sort(Rates.begin(), Rates.end());
            std::printf("lines of %4zu  %-13s median  %7.1f MB/s\n", LineLen, LineMode ? "LineMode on" : "LineMode off",
                        Rates[Rates.size() / 2]);
        }
    }
    return 0;
}
