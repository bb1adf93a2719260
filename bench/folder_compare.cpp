// Comparing a PC folder with a large subvolume against listing that subvolume alone: both
// connect, enter the subvolume and list it; the comparison also reads the folder and pairs
// every file. Rounds alternate, so both meet the same machine.
// Usage: folder_compare HOST PORT USER PASSWORD SUBVOL PC_FOLDER ROUNDS
#include "session/FolderSync.h"
#include "session/LogSink.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

class QuietLog : public LogSink {
public:
    void Log(int level, const std::string &text) override
    {
        if (level == 0)
            std::fprintf(stderr, "%s\n", text.c_str());
    }
};

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Connect, CWD, LIST with the bare engine; the lines are counted, nothing else.
double ListOnce(const ConnectionSettings &settings, const std::string &subvol, std::size_t &lines)
{
    QElapsedTimer clock;
    clock.start();
    TFtpClient client;
    client.SetHostName(settings.HostName);
    client.SetPort(std::to_string(settings.HostPort));
    client.SetUserName(settings.UserID);
    client.SetPassWord(settings.Password);
    lines = 0;
    client.OnDisplayFile = [&lines](TCustomFtpCli *, std::string &) { ++lines; };
    client.SetHostDirName(subvol);
    if (!client.Connect() || !client.Cwd())
        std::fprintf(stderr, "list: %s\n", client.ErrorMessage().c_str());
    client.SetDisplayFileFlag(true);
    if (!client.Dir())
        std::fprintf(stderr, "list: %s\n", client.ErrorMessage().c_str());
    client.Quit();
    return double(clock.nsecsElapsed()) / 1e6;
}

double CompareOnce(const FolderSyncSetup &setup, std::size_t &rows)
{
    QElapsedTimer clock;
    clock.start();
    QuietLog log;
    TFolderSync sync(setup, log);
    QEventLoop loop;
    QObject::connect(&sync, &TFolderSync::Compared, [&] { sync.Close(); });
    QObject::connect(&sync, &TFolderSync::CompareFailed, [&] { sync.Close(); });
    QObject::connect(&sync, &TFolderSync::Closed, &loop, &QEventLoop::quit);
    sync.Compare();
    loop.exec();
    rows = sync.Rows().size();
    return double(clock.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 8) {
        std::fprintf(stderr, "usage: folder_compare HOST PORT USER PASSWORD SUBVOL PC_FOLDER ROUNDS\n");
        return 2;
    }
    FolderSyncSetup setup;
    setup.Connection.HostName = argv[1];
    setup.Connection.HostPort = std::atoi(argv[2]);
    setup.Connection.UserID = argv[3];
    setup.Connection.Password = argv[4];
    setup.Connection.Encryption = "None";
    setup.Subvolume = argv[5];
    QDir::setCurrent(argv[6]);
    const int rounds = std::max(1, std::atoi(argv[7]));
    std::vector<double> listed, compared;
    std::size_t lines = 0, rows = 0;
    for (int round = 0; round < rounds; ++round) {
        listed.push_back(ListOnce(setup.Connection, setup.Subvolume, lines));
        compared.push_back(CompareOnce(setup, rows));
    }
    const double list = Median(listed), compare = Median(compared);
    std::printf("listing alone: median %.1f ms (%zu lines)\n", list, lines);
    std::printf("compare:       median %.1f ms (%zu rows)\n", compare, rows);
    std::printf("compare / listing: %.2f (aim: at most 1.50)\n", compare / list);
    return 0;
}
