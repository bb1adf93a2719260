#include "session/FolderCommandRun.h"

#include "session/CommandLine.h"
#include "session/Encryption.h"
#include "session/FolderCommandLine.h"
#include "session/FolderSync.h"
#include "session/LogSink.h"
#include "session/Sites.h"
#include "session/StartupSettings.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

void PrintLine(std::FILE *stream, const std::string &text)
{
    std::fprintf(stream, "%s\n", text.c_str());
    std::fflush(stream);
}

// Errors on standard error; the dialogue and status messages are for the window's log.
class TErrorLog : public LogSink {
public:
    void Log(int level, const std::string &text) override
    {
        if (level == 0)
            PrintLine(stderr, "zarvel: " + text);
    }
};

// No one to ask: only a certificate the user once chose to remember is trusted.
class TRefusingPrompt : public TCertificatePrompt {
public:
    TTrustAnswer AskTrust(const TCertificateQuestion &question) override
    {
        PrintLine(stderr, "zarvel: the certificate of " + question.Host + " is not trusted: " + question.Peer.Reason);
        return trustCancel;
    }
};

// The stored settings (the site chosen last), then the keywords; the usage error or empty.
std::string LoadSettings(TSettingsStore *store, const std::string &keywords, ConnectionSettings &connection,
                         GeneralSettings &general)
{
    THeldConnectionFields held(connection);
    LoadConnectionSettings(store, held);
    if (const std::string site = store ? store->ReadString(kChosenSiteValue) : std::string(); !site.empty())
        LoadSiteSettings(store, site, connection);
    LoadGeneralSettings(store, general);
    const SiteLoader loadSite = [store](const std::string &site, ConnectionSettings &settings) {
        return LoadSiteSettings(store, site, settings);
    };
    std::string error = ApplyCommandLine(keywords, connection, general, loadSite);
    if (const char *password = std::getenv("ZARVEL_PASSWORD"); password && !CommandLineGivesPassword(keywords))
        connection.Password = password;
    if (error.empty() && connection.HostName.empty())
        error = "No host to connect to: give HostName or Site";
    return error;
}

} // namespace

int RunFolderCommand(std::string_view commandLine)
{
    FolderCommand command;
    std::string problem;
    std::unique_ptr<TSettingsStore> store =
        OpenSettingsStore(std::make_unique<TFileSettingsStore>(TFileSettingsStore::DefaultPath()), problem);
    FolderSyncSetup setup;
    std::string error = ParseFolderCommand(commandLine, command);
    if (error.empty())
        error = LoadSettings(store.get(), command.Keywords, setup.Connection, setup.General);
    if (!error.empty()) {
        PrintLine(stderr, "zarvel: " + error);
        return kFolderCommandUsage;
    }
    setup.Subvolume = setup.Connection.InitialSubvol;
    setup.HostTimeOffset = setup.General.HostTimeOffset;
    TRefusingPrompt prompt;
    const bool proxy = !setup.Connection.ProxyName.empty();
    const std::string host = proxy ? setup.Connection.ProxyName : setup.Connection.HostName;
    const std::int32_t port = setup.Connection.HostPort;
    TSettingsStore *trust = store.get();
    setup.AcceptCertificate = [&prompt, host, port, trust](const TTlsPeerInfo &peer) {
        return DecideCertificate(trust, prompt, host, port, peer);
    };

    TErrorLog log;
    TFolderSync sync(setup, log);
    int status = kFolderCommandOk;
    QObject::connect(&sync, &TFolderSync::CompareFailed, [&](const std::string &why) {
        PrintLine(stderr, "zarvel: " + why);
        status = kFolderCommandFailed;
        sync.Close();
    });
    QObject::connect(&sync, &TFolderSync::Compared, [&] {
        if (!command.Sync) {
            for (const ComparedFile &row : sync.Rows())
                PrintLine(stdout, ComparedFileText(row));
            return sync.Close();
        }
        std::vector<SyncAction> plan = sync.Plan(command.Direction, command.Delete);
        for (const SyncAction &action : plan)
            PrintLine(stdout, SyncActionText(action));
        if (command.DryRun || plan.empty())
            return sync.Close();
        sync.Run(std::move(plan));
    });
    QObject::connect(&sync, &TFolderSync::Finished, [&] {
        PrintLine(stdout, SyncSummaryText(sync.Result()));
        if (sync.Result().Failed > 0 || sync.Result().Stopped)
            status = kFolderCommandFailed;
        sync.Close();
    });
    QObject::connect(&sync, &TFolderSync::Closed, [] { QCoreApplication::exit(0); });
    sync.Compare();
    QCoreApplication::exec();
    return status;
}
