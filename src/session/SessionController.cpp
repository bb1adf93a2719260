// The connection's lifecycle and the log of the main window's session.
#include "session/SessionController.h"
#include "session/HostFiles.h"

std::string StateChangeText(TFtpState state)
{
    const char *name = "Unknown";
    switch (state) {
    case ftpNotConnected: name = "Not Connected"; break;
    case ftpReady: name = "Ready"; break;
    case ftpInternalReady: name = "Internal Ready"; break;
    case ftpDnsLookup: name = "DnsLookup"; break;
    case ftpConnected: name = "Connected"; break;
    case ftpAbort: name = "Abort"; break;
    case ftpInternalAbort: name = "Internal Abort"; break;
    case ftpWaitingBanner: name = "Waiting Banner"; break;
    case ftpWaitingResponse: name = "Waiting Response"; break;
    }
    return std::string("State -> ") + name;
}

TSessionController::TSessionController(const Views &views) : views_(views)
{
    FTPCLI.SetTimeout(15);
    FTPCLI.SetMultiThreaded(false);
    FTPCLI.SetPort("ftp");
    FTPCLI.SetDisplayFileFlag(false);
    FTPCLI.SetBinary(true);
    FTPCLI.SetShareMode(ftpShareExclusive);
    FTPCLI.SetOptions(OptBit(ftpAcceptLF));
    FTPCLI.SetConnectionType(ftpDirect);
    FTPCLI.OnDisplay = [this](TCustomFtpCli *sender, std::string &text) { FTPMessage(sender, text); };
    FTPCLI.OnSessionClosed = [this](TCustomFtpCli *sender, int error) { FTPCLISessionClosed(sender, error); };
    FTPCLI.OnStateChange = [this](TCustomFtpCli *sender) { FTPCLIStateChange(sender); };
    ListingNotice.setInterval(ListingNoticeMs);
    QObject::connect(&ListingNotice, &QTimer::timeout, [this] {
        views_.Status->SetStatusMessage("Listing " + FTPCLI.ReplyDirectory() + ": " + std::to_string(ListedLines) +
                                        " lines so far. Esc or File > Disconnect cancels");
    });
    KeepAliveTimer.setSingleShot(true);
    QObject::connect(&KeepAliveTimer, &QTimer::timeout, [this] { KeepAliveTick(); });
    // The command and its reply are shown whatever the log level: the user asked to see them.
    QObject::connect(&HostCommand, &THostCommand::Line, [this](const QByteArray &line) {
        if (!views_.Window->IsClosing())
            views_.Window->AddLogLine(line.toStdString());
    });
    QObject::connect(&HostCommand, &THostCommand::Finished, [this](bool) {
        if (!views_.Window->IsClosing())
            views_.Status->SetStatusMessage(FTPCLI.LastReply());
        RestartKeepAlive();
    });
    FTPCLI.OnVerifyCertificate = [this](TCustomFtpCli *sender, const TTlsPeerInfo &peer, bool &accept) {
        FTPCLIVerifyCertificate(sender, peer, accept);
    };
    FTPCLI.OnTlsNote = [this](TCustomFtpCli *, int level, const std::string &text) { Log(level, text); };
    FTPCLI.OnPlainLogin = [this](TCustomFtpCli *sender, bool &allow, std::string &refusal) {
        FTPCLIPlainLogin(sender, allow, refusal);
    };
}

TSessionController::~TSessionController()
{
    FTPCLI.DropHandlers();
}

void TSessionController::SetSettings(const ConnectionSettings *connection, const GeneralSettings *general)
{
    connection_ = connection;
    general_ = general;
}

bool TSessionController::ConnectToHost()
{
    if (!connection_)
        return false;
    if (Connecting) {
        Log(1, "Already connecting to " + FTPCLI.HostName() + "; wait for it or choose Disconnect");
        return false;
    }
    // A copy: the connect dialog may change its settings while this connection is made.
    const ConnectionSettings settings = *connection_;
    SetConnecting(true);
    FTPCLI.SetHostName(settings.HostName);
    FTPCLI.SetPort(std::to_string(settings.HostPort));
    FTPCLI.SetUserName(settings.UserID);
    FTPCLI.SetPassWord(settings.Password);
    if (!settings.ProxyName.empty()) {
        FTPCLI.SetProxyServer(settings.ProxyName);
        FTPCLI.SetConnectionType(ftpProxy);
    } else {
        FTPCLI.SetConnectionType(ftpDirect);
        FTPCLI.SetProxyServer("");
    }
    FTPCLI.SetPassive(settings.Passive);
    FTPCLI.SetEncryption(EncryptionOrDefault(settings.Encryption));
    FTPCLI.SetAcceptMissingCloseNotify(settings.AcceptMissingCloseNotify);
    Log(1, "Connecting to " + settings.HostName + "...");

    userDeclined_ = false;
    if (!FTPCLI.Connect()) {
        // After the user's own Cancel or No the status line says enough: no box follows.
        if (!userDeclined_)
            views_.Messages->ErrorDialog("Zarvel Error - " + FTPCLI.ErrorMessage());
        Log(1, "Error - " + FTPCLI.ErrorMessage());
        FTPCLI.Quit();
        SetConnecting(false);
        return false;
    }
    SessionEnded = false;
    // From now on a plain answer to AUTH from this host is refused as a possible attack.
    if (FTPCLI.Encrypted())
        RememberTls(trustStore_, TlsHost(), settings.HostPort);
    GuardianRefused = false;
    SessionCaptionText = SessionCaption(settings);
    SessionFingerprint = FTPCLI.Encrypted() ? FTPCLI.TlsPeer().Fingerprint : std::string();
    views_.Window->SetCaptions(SessionCaptionText);
    views_.Status->SetEncryptionLock(FTPCLI.Encrypted() ? LockText(FTPCLI.TlsPeer()) : std::string());
    Log(1, "Connected");
    ChangeSubvol(settings.InitialSubvol, true);
    // The server may have gone during the first subvolume change; its close already
    // switched everything off, and nothing may switch it on again.
    if (!SessionEnded) {
        SetConnectedControls(true);
        SubvolEdited = false;
        SubvolDroppedDown = false;
    }
    SetConnecting(false);
    return !SessionEnded;
}

bool TSessionController::Reconnect()
{
    if (Connected || Connecting)
        return Connected;
    const std::string subvol = FTPCLI.ReplyDirectory();
    SetConnecting(true);
    Reconnecting = true;
    bool open = FTPCLI.Connect();
    Reconnecting = false;
    if (open) {
        SessionEnded = false;
        open = EnterSubvol(subvol);
        if (open && FTPCLI.ReplyDirectory().starts_with('/'))
            open = LeaveOss() && EnterSubvol(subvol);
    }
    SetConnecting(false);
    if (!open) {
        Log(1, "Error - " + FTPCLI.ErrorMessage());
        if (FTPCLI.GetConnected())
            FTPCLI.Abort();
        return false;
    }
    views_.Window->SetCaptions(SessionCaptionText);
    views_.Status->SetEncryptionLock(FTPCLI.Encrypted() ? LockText(FTPCLI.TlsPeer()) : std::string());
    SetConnectedControls(true);
    Log(1, "Connected");
    return true;
}

void TSessionController::DisconnectClick()
{
    // QUIT would wait behind the running request, which a server can keep alive for ever.
    if (ClientBusy())
        FTPCLI.Abort();
    else
        FTPCLI.Quit();
}

void TSessionController::SetConnectedControls(bool on)
{
    Connected = on;
    views_.Window->SetSessionControlsEnabled(on);
    SetSessionCommands();
    RestartKeepAlive();
}

void TSessionController::SetConnecting(bool on)
{
    Connecting = on;
    SetSessionCommands();
}

void TSessionController::SetSessionCommands()
{
    // Connect stays on with a session open: the window offers to end it first.
    views_.Window->SetConnectCommandEnabled(!Connecting);
    views_.Window->SetDisconnectCommandEnabled(Connected && !Connecting);
}

bool TSessionController::ClientBusy() const
{
    return FtpClientBusy(FTPCLI);
}

bool TSessionController::RefuseWhileBusy()
{
    if (!ClientBusy())
        return false;
    Log(1, ClientBusyText);
    return true;
}

bool TSessionController::AbortTransfer()
{
    return FTPCLI.Abort();
}

void TSessionController::FTPCLISessionClosed(TCustomFtpCli *, int)
{
    if (views_.Window->IsClosing())
        return;
    SessionEnded = true;
    views_.Window->SetCaptions("Zarvel");
    views_.Status->SetEncryptionLock({});
    SetConnectedControls(false);
    Log(1, "Disconnected");
}

void TSessionController::FTPCLIVerifyCertificate(TCustomFtpCli *, const TTlsPeerInfo &peer, bool &accept)
{
    accept = false;
    // A session opened again in the middle of a batch asks nothing: the same certificate or none.
    if (Reconnecting) {
        accept = !SessionFingerprint.empty() && peer.Fingerprint == SessionFingerprint;
        Log(1, accept ? "Certificate accepted as before" : "Certificate changed since the session began: not accepted");
        return;
    }
    if (!connection_ || !views_.Certificates || views_.Window->IsClosing())
        return;
    const std::string host = TlsHost();
    accept = DecideCertificate(trustStore_, *views_.Certificates, host, connection_->HostPort, peer);
    userDeclined_ = !accept;
    Log(1, accept ? "Certificate of " + host + " accepted: " + peer.Reason
                  : "Certificate of " + host + " not accepted: " + peer.Reason);
}

std::string TSessionController::TlsHost() const
{
    // With a proxy the TLS peer is the proxy: its certificate and its answers are remembered.
    return connection_->ProxyName.empty() ? connection_->HostName : connection_->ProxyName;
}

void TSessionController::FTPCLIPlainLogin(TCustomFtpCli *, bool &allow, std::string &refusal)
{
    allow = false;
    if (!connection_) {
        refusal = "534 No settings to decide about a login without encryption";
        return;
    }
    const bool canAsk = views_.PlainLogin && !views_.Window->IsClosing();
    const TPlainDecision decision =
        DecidePlainLogin(trustStore_, canAsk ? views_.PlainLogin : nullptr, TlsHost(), connection_->HostPort);
    allow = decision.Allow;
    refusal = decision.Refusal;
    userDeclined_ = decision.UserDeclined;
}

void TSessionController::FTPCLIStateChange(TCustomFtpCli *)
{
    Log(3, StateChangeText(FTPCLI.State()));
    if (Connected)
        RestartKeepAlive();
}

void TSessionController::RestartKeepAlive()
{
    const int seconds = general_ ? general_->KeepAlive : 0;
    if (!Connected || seconds <= 0) {
        KeepAliveTimer.stop();
        return;
    }
    KeepAliveTimer.start(seconds * 1000);
}

bool TSessionController::KeepAliveTick()
{
    // The timer also fires inside a synchronous wait's loop, where the client can already
    // read Ready before the waiting caller has seen its request end.
    if (!Connected || BatchRunning || FTPCLI.Waiting() || FTPCLI.State() != ftpReady) {
        RestartKeepAlive();
        return false;
    }
    FTPCLI.SetLocalFileName("NOOP");
    if (!FTPCLI.Quote() && FTPCLI.GetConnected())
        FTPCLI.Abort();
    RestartKeepAlive();
    return true;
}

void TSessionController::Log(int level, const std::string &text)
{
    if (views_.Window->IsClosing())
        return;
    if (level == 1)
        views_.Status->SetStatusMessage(text);
    if (general_ && level <= general_->LogLevel)
        views_.Window->AddLogLine(text);
}

bool TSessionController::SendHostCommand(const std::string &typed)
{
    std::string why;
    const std::string line = HostCommandLine(typed, why);
    if (!line.empty() && HostCommand.Send(line, why))
        return true;
    Log(0, "Command not sent: " + why);
    views_.Status->SetStatusMessage("Command not sent: " + why);
    return false;
}

void TSessionController::FTPMessage(TCustomFtpCli *, std::string &text)
{
    // A sent command shows its own dialogue, every reply line of it.
    if (views_.Window->IsClosing() || HostCommand.Running())
        return;
    Log(2, text);
}
