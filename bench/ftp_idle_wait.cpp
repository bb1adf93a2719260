// Processor cost of a synchronous FTP wait for a server that stays silent: the client logs in
// to a loopback peer that then answers nothing, and Syst waits out its time limit. Prints wall
// and processor seconds of that wait. Usage: ftp_idle_wait [seconds]
#include "ftp/FtpClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

static double ProcessorSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;

    // The silent server: greets, accepts the login, then never answers again.
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        std::fprintf(stderr, "cannot listen\n");
        return 1;
    }
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        QTcpSocket *s = server.nextPendingConnection();
        s->write("220 quiet host\r\n");
        QObject::connect(s, &QTcpSocket::readyRead, [s] {
            while (s->canReadLine()) {
                QByteArray line = s->readLine();
                if (line.startsWith("USER"))
                    s->write("230 in\r\n");
            }
        });
    });

    TFtpClient cli;
    cli.SetHostName("127.0.0.1");
    cli.SetPort(std::to_string(server.serverPort()));
    cli.SetUserName("user");
    if (!cli.Connect()) {
        std::fprintf(stderr, "login failed: %s\n", cli.ErrorMessage().c_str());
        return 1;
    }

    cli.SetTimeout(seconds);
    QElapsedTimer wall;
    const double cpuBefore = ProcessorSeconds();
    wall.start();
    const bool ok = cli.Syst();
    const double wallSeconds = wall.elapsed() / 1000.0;
    const double cpu = ProcessorSeconds() - cpuBefore;

    std::printf("synchronous wait for a silent server (Timeout %d s)\n", seconds);
    std::printf("  result           %s (%s)\n", ok ? "true" : "false", cli.ErrorMessage().c_str());
    std::printf("  wall seconds     %.3f\n", wallSeconds);
    std::printf("  processor seconds %.4f\n", cpu);
    std::printf("  processor share  %.4f %%\n", wallSeconds > 0 ? 100.0 * cpu / wallSeconds : 0.0);
    return 0;
}
