#include "session/FolderSync.h"

#include "net/TlsStage.h"
#include "session/CompareSides.h"
#include "session/DownloadTarget.h"
#include "session/Encryption.h"
#include "session/LogSink.h"

#include <QMetaObject>

std::string SyncSummaryText(const SyncResult &result)
{
    std::string text = std::to_string(result.Uploaded) + " file(s) uploaded, " + std::to_string(result.Downloaded) +
                       " file(s) downloaded, " + std::to_string(result.Deleted) + " file(s) deleted";
    if (result.Failed > 0 || result.Stopped)
        text += ". Failed to synchronize " + std::to_string(result.Failed) + " file(s)";
    return text;
}

TFolderSync::TFolderSync(FolderSyncSetup setup, LogSink &log, QObject *parent)
    : QObject(parent), setup_(std::move(setup)), log_(log), clock_(setup_.HostTimeOffset)
{
    watchdog_.setSingleShot(true);
    connect(&watchdog_, &QTimer::timeout, this, [this] {
        log_.Log(0, "No answer from the server for " + std::to_string(setup_.Timeout) + " seconds");
        client_.AbortAsync();
    });
    ConfigureClient();
}

TFolderSync::~TFolderSync()
{
    client_.DropHandlers();
}

void TFolderSync::ConfigureClient()
{
    const ConnectionSettings &settings = setup_.Connection;
    client_.SetHostName(settings.HostName);
    client_.SetPort(std::to_string(settings.HostPort));
    client_.SetUserName(settings.UserID);
    client_.SetPassWord(settings.Password);
    client_.SetConnectionType(settings.ProxyName.empty() ? ftpDirect : ftpProxy);
    client_.SetProxyServer(settings.ProxyName);
    client_.SetPassive(settings.Passive);
    client_.SetEncryption(EncryptionOrDefault(settings.Encryption));
    client_.SetShareMode(ftpShareExclusive);
    client_.OnRequestDone = [this](TCustomFtpCli *, TFtpRequest, int error) { RequestDone(error); };
    client_.OnDisplay = [this](TCustomFtpCli *, std::string &text) { log_.Log(2, text); };
    client_.OnDisplayFile = [this](TCustomFtpCli *, std::string &line) { ListingLine(line); };
    client_.OnResponse = [this](TCustomFtpCli *) { watchdog_.start(); };
    client_.OnProgress = [this](TCustomFtpCli *sender, qint64 count, bool &abort) {
        watchdog_.start();
        abort = cancelled_;
        Q_EMIT BytesMoved(count - sender->RestartOffset());
    };
    client_.OnError = [this](TCustomFtpCli *, std::string &text) { refusal_ = text; };
    client_.OnVerifyCertificate = [this](TCustomFtpCli *, const TTlsPeerInfo &peer, bool &accept) {
        accept = setup_.AcceptCertificate && setup_.AcceptCertificate(peer);
    };
    client_.OnTlsNote = [this](TCustomFtpCli *, int level, const std::string &text) { log_.Log(level, text); };
}

void TFolderSync::Start(void (TCustomFtpCli::*operation)(), Step then)
{
    then_ = then;
    const unsigned sequence = ++sequence_;
    refusal_.clear();
    watchdog_.start(setup_.Timeout * 1000);
    (client_.*operation)();
    // A refusal inside the starting call gets no request-done from the engine.
    if (!refusal_.empty()) {
        log_.Log(0, refusal_);
        Later([this, sequence] { Deliver(sequence, false); });
    }
}

void TFolderSync::RequestDone(int error)
{
    Deliver(sequence_, error == 0 && client_.RequestResult() == 0);
}

void TFolderSync::Deliver(unsigned sequence, bool ok)
{
    if (sequence != sequence_ || !then_)
        return;
    watchdog_.stop();
    (this->*std::exchange(then_, nullptr))(ok);
}

void TFolderSync::Later(std::function<void()> work)
{
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void TFolderSync::Compare()
{
    log_.Log(1, "Comparing with " + (setup_.Subvolume.empty() ? setup_.Connection.HostName : setup_.Subvolume) + "...");
    Start(&TCustomFtpCli::ConnectAsync, &TFolderSync::Connected);
}

void TFolderSync::Connected(bool ok)
{
    if (!ok)
        return FailCompare("Cannot connect: " + client_.ErrorMessage());
    if (setup_.Subvolume.empty())
        return Entered(true);
    client_.SetHostDirName(setup_.Subvolume);
    Start(&TCustomFtpCli::CwdAsync, &TFolderSync::Entered);
}

void TFolderSync::Entered(bool ok)
{
    if (!ok)
        return FailCompare(client_.ErrorMessage());
    listing_.clear();
    heading_ = true;
    client_.SetHostFileName({});
    client_.SetDisplayFileFlag(true);
    Start(&TCustomFtpCli::DirAsync, &TFolderSync::Listed);
}

void TFolderSync::ListingLine(std::string &line)
{
    if (std::exchange(heading_, false))
        return;
    listing_.push_back(line);
}

void TFolderSync::Listed(bool ok)
{
    client_.SetDisplayFileFlag(false);
    // A real host answers LIST of a subvolume without files with 550.
    if (!ok && !(client_.ReplyCode() == 550 && listing_.empty()))
        return FailCompare(client_.ErrorMessage());
    hostFiles_.clear();
    std::vector<std::string> fileLines;
    for (std::string &line : listing_) {
        HostFile file = HostFileFromLine(line, clock_);
        // A closing summary line is no file: files show their modification time.
        if (file.Name.empty() || !file.Modified)
            continue;
        hostFiles_.push_back(std::move(file));
        fileLines.push_back(std::move(line));
    }
    listing_ = std::move(fileLines);
    std::string error;
    if (!ReadPcFolder(".", pcFiles_, error))
        return FailCompare(error);
    codes_ = LoadFileCodes(".");
    rows_ = CompareFolders(pcFiles_, hostFiles_, {setup_.Options, setup_.PcFilter, setup_.TandemCodes, &codes_});
    RememberFileCodes(codes_, hostFiles_);
    Q_EMIT Compared();
}

void TFolderSync::FailCompare(const std::string &why)
{
    log_.Log(1, why);
    Q_EMIT CompareFailed(why);
}

std::vector<SyncAction> TFolderSync::Plan(SyncDirection direction, bool deletes) const
{
    return PlanSync(rows_, pcFiles_, hostFiles_, direction, deletes);
}

void TFolderSync::Cancel()
{
    cancelled_ = true;
    client_.AbortAsync();
}

void TFolderSync::Close()
{
    if (!client_.GetConnected() || client_.State() != ftpReady)
        return Later([this] {
            client_.AbortAsync();
            Q_EMIT Closed();
        });
    Start(&TCustomFtpCli::QuitAsync, &TFolderSync::QuitDone);
}

void TFolderSync::QuitDone(bool)
{
    Q_EMIT Closed();
}
