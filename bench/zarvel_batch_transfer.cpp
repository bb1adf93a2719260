// A download or upload batch the way the main window runs it: TTransferBatch with the real
// "File Transfer" dialog on screen (offscreen is fine), progress through the throttled
// reporter, for bench/batch_transfer.sh:
//   zarvel-batch-transfer --port P --user U --password W [--no-progress] [--passive] [--connections N]
//                         get NAME:SIZE... | put PATH...
//   (a single argument @FILE reads the names or paths from FILE, one a line)
// --no-progress leaves the client's progress event unset: the same program without the
// dialog's updates, to tell their cost from that of a windowed application. --passive
// opens the data connections passively (EPSV), as the window's Passive mode does.
// --connections: the Connections setting (1 by default here, as before the setting came).
// Downloads land in the current folder. Exits 0 when every file moved; prints the summary.
#include "ftp/FtpClient.h"
#include "session/BatchConnections.h"
#include "session/TransferBatch.h"
#include "session/TransferProgress.h"
#include "ui/TransferProgressDialog.h"

#include <QApplication>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The main window as far as a batch sees it: no lists to refresh, messages to stderr.
struct BenchWindow : TransferBatchWindow {
    // Every round replaces the files of the one before, as the peers measured against do.
    BenchWindow() { settings.WhenFileExists = FileExistsRule::Overwrite; }
    bool connected = true;
    GeneralSettings settings;
    bool IsConnected() const override { return connected; }
    TransferOptions CurrentTransferOptions() override
    {
        TransferOptions options;
        options.Mode = ModeChoice::Binary;
        options.DLAddFileCode = false; // PC names equal the server's, for the comparison
        return options;
    }
    const GeneralSettings &CurrentGeneralSettings() override { return settings; }
    void ClearLogWindow() override {}
    void SetMainWindowEnabled(bool) override {}
    void RefreshPcFiles() override {}
    bool ListTandemFiles() override { return true; }
    void ShowErrorBox(const std::string &text) override { std::fprintf(stderr, "error box: %s\n", text.c_str()); }
    void PlaySound(BatchSound) override {}
    void Log(int level, const std::string &text) override
    {
        if (level <= 1)
            std::fprintf(stderr, "%s\n", text.c_str());
    }
    FileExistsReply AskFileExists(const FileExistsQuestion &) override { return {FileExistsAnswer::Overwrite, true}; }
    void ShowFailures(const FailureReport &) override {} // each failure is logged already
    bool Cancelled() const override { return false; }
    bool ReconnectSession() override { return false; } // a lost session ends the measured run
};

struct Aborter : TransferAborter {
    TFtpClient &cli;
    explicit Aborter(TFtpClient &c) : cli(c) {}
    bool AbortTransfer() override { return cli.Abort(); }
};

std::vector<std::string> Items(const std::vector<std::string> &args)
{
    if (args.size() != 1 || args[0].empty() || args[0][0] != '@')
        return args;
    std::vector<std::string> items;
    QFile f(QString::fromStdString(args[0].substr(1)));
    if (f.open(QIODevice::ReadOnly))
        while (!f.atEnd())
            if (const QByteArray line = f.readLine().trimmed(); !line.isEmpty())
                items.push_back(line.toStdString());
    return items;
}

// "NAME:SIZE" as a remote list line of the NonStop host: name, file code 0, size.
std::string ListingLine(const std::string &item)
{
    const std::size_t colon = item.rfind(':');
    std::string line = item.substr(0, colon);
    line.resize(std::max<std::size_t>(line.size() + 1, 14), ' ');
    return line + "0  " + (colon == std::string::npos ? "0" : item.substr(colon + 1));
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    std::string port, user, password, verb;
    bool showProgress = true;
    bool passive = false;
    int connections = 1;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
        if (a == "--port") port = value();
        else if (a == "--user") user = value();
        else if (a == "--password") password = value();
        else if (a == "--no-progress") showProgress = false;
        else if (a == "--passive") passive = true;
        else if (a == "--connections") connections = std::atoi(value().c_str());
        else if (verb.empty()) verb = a;
        else args.push_back(a);
    }
    const std::vector<std::string> items = Items(args);
    if ((verb != "get" && verb != "put") || port.empty() || items.empty()) {
        std::fprintf(stderr, "usage: %s --port P --user U --password W [--no-progress] [--passive] [--connections N] get NAME:SIZE... | put PATH...\n", argv[0]);
        return 2;
    }

    TFtpClient cli;
    cli.SetHostName("127.0.0.1");
    cli.SetPort(port);
    cli.SetUserName(user);
    cli.SetPassWord(password);
    cli.SetPassive(passive);
    BenchWindow window;
    window.settings.Connections = std::clamp(connections, 1, kMaxConnections);
    TFormTransfer dialog;
    Aborter aborter(cli);
    dialog.SetAborter(&aborter);
    TProgressReporter progress(dialog);
    if (showProgress)
        cli.OnProgress = [&progress](TCustomFtpCli *, qint64 count, bool &) { progress.Report(count); };
    cli.OnSessionClosed = [&window](TCustomFtpCli *, int) { window.connected = false; };
    if (!cli.Connect()) {
        std::fprintf(stderr, "Connect failed: %s\n", cli.ErrorMessage().c_str());
        return 1;
    }
    TBatchConnections extras(cli, window);
    TTransferBatch batch(cli, window, dialog, progress, &extras);
    BatchResult result;
    if (verb == "get") {
        std::vector<std::string> lines;
        for (const std::string &item : items)
            lines.push_back(ListingLine(item));
        result = batch.Download(lines);
    } else {
        result = batch.Upload(items);
    }
    extras.CloseAll();
    cli.Quit();
    return result.Failed == 0 && !result.Stopped && result.Ok == int(items.size()) ? 0 : 1;
}
