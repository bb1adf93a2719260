// Listing a large subvolume: the bare engine's Dir against the main window's listing into
// its remote list (offscreen), and the processor time of a connected, idle window.
// Usage: window_listing engine|window HOST PORT USER PASSWORD SUBVOL ROUNDS [IDLE_SECONDS]
// Prints one line of figures; bench/window_listing.sh runs both modes and the ratio.
#include "ui/ConfigureDialog.h"
#include "ui/ConnectDialog.h"
#include "ui/TandemGroup.h"
#include "ui/MainWindow.h"
#include "ui/LogWindow.h"
#include "ui/UserMessages.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

double ProcessorSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double PeakMiB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_maxrss) / 1024.0;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Boxes go to the terminal: a benchmark has nobody to click them away.
class PrintedMessages : public TUserMessages {
public:
    void Simple(QWidget *, const QString &text) override { Print(text); }
    void ErrorDialog(QWidget *, const QString &text) override { Print(text); }
    void CommandLineError(QWidget *, const QString &text) override { Print(text); }
    void Warning(QWidget *, const QString &text) override { Print(text); }
    void ShowException(QWidget *, const QString &text) override { Print(text); }
    static void Print(const QString &text) { std::fprintf(stderr, "box: %s\n", qPrintable(text)); }
};

class SilentSounds : public TSounds {
public:
    void DefaultSound() override {}
    void ExclamationSound() override {}
};

struct Args {
    std::string host, port, user, password, subvol;
    int rounds = 5;
    int idleSeconds = 10;
};

int Engine(const Args &a)
{
    TFtpClient cli;
    cli.SetHostName(a.host);
    cli.SetPort(a.port);
    cli.SetUserName(a.user);
    cli.SetPassWord(a.password);
    cli.SetHostDirName(a.subvol);
    long lines = 0;
    cli.OnDisplayFile = [&](TCustomFtpCli *, std::string &) { ++lines; };
    if (!cli.Connect() || !cli.Cwd()) {
        std::fprintf(stderr, "engine: %s\n", cli.ErrorMessage().c_str());
        return 1;
    }
    std::vector<double> ms;
    for (int i = 0; i < a.rounds; ++i) {
        lines = 0;
        cli.SetHostFileName("");
        cli.SetDisplayFileFlag(true);
        QElapsedTimer t;
        t.start();
        if (!cli.Dir()) {
            std::fprintf(stderr, "engine: %s\n", cli.ErrorMessage().c_str());
            return 1;
        }
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::printf("engine: %ld lines, median %.1f ms over %d rounds, peak RSS %.1f MiB\n", lines, Median(ms),
                a.rounds, PeakMiB());
    return 0;
}

int Window(const Args &a)
{
    PrintedMessages messages;
    SilentSounds sounds;
    QTemporaryDir config;
    TFormMain form(messages, sounds, config.filePath("Zarvel.conf"));
    TFormMain::Windows windows;
    windows.FormConnect = new TFormConnect(messages, &form);
    windows.FormStatus = new TFormStatus(&form);
    windows.FormConfig = new TFormConfig(&form);
    form.AttachWindows(windows);
    ConnectionSettings &c = windows.FormConnect->Settings;
    c.HostName = a.host;
    c.HostPort = std::atoi(a.port.c_str());
    c.UserID = a.user;
    c.Password = a.password;
    c.InitialSubvol = a.subvol;
    form.show();
    if (!form.Session().ConnectToHost())
        return 1;
    QListWidget *list = form.GroupBoxTandem->ListBoxTanFiles;
    std::vector<double> ms;
    for (int i = 0; i < a.rounds; ++i) {
        QElapsedTimer t;
        t.start();
        if (!form.Session().ListTandemFiles())
            return 1;
        QApplication::processEvents(); // what the user waits for includes the list's layout
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::printf("window: %d lines, median %.1f ms over %d rounds, peak RSS %.1f MiB\n", list->count(), Median(ms),
                a.rounds, PeakMiB());

    const double before = ProcessorSeconds();
    QTimer::singleShot(a.idleSeconds * 1000, &QApplication::quit);
    QApplication::exec();
    std::printf("idle: %.3f s of processor time in %d s connected and idle\n", ProcessorSeconds() - before,
                a.idleSeconds);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 8) {
        std::fprintf(stderr, "usage: %s engine|window HOST PORT USER PASSWORD SUBVOL ROUNDS [IDLE_SECONDS]\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    Args a{argv[2], argv[3], argv[4], argv[5], argv[6], std::atoi(argv[7]), argc > 8 ? std::atoi(argv[8]) : 10};
    if (mode == "engine") {
        QCoreApplication app(argc, argv);
        return Engine(a);
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return Window(a);
}
