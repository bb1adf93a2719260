// The FTP engine's control side: the component, the request lifecycle, the control connection,
// reply assembly, login and the step sequencer of the high-level operations.
#include "ftp/Ftpcli.h"
#include "ftp/FtpGatheredWrites.h"

#include "net/Wsocket.h"
#include "net/WsocketErrors.h"

#include <QFile>
#include <QMetaObject>
#include <QObject>

#include <chrono>
#include <cxxabi.h>
#include <typeinfo>
#include <unistd.h>

namespace {

std::string WinsockErrorReply(int Error)
{
    return "500 " + WSocketErrorDesc(Error) + " (Winsock error #" + std::to_string(Error) + ")";
}

} // namespace

std::string TCustomFtpCli::ExceptionClassName(const std::exception &E)
{
    const char *mangled = typeid(E).name();
    int status = 0;
    char *demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string name = status == 0 && demangled ? demangled : mangled;
    std::free(demangled);
    return name;
}

qint64 FtpTickCount()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// ---------------------------------------------------------------------------------------------
// Construction

TCustomFtpCli::TCustomFtpCli()
    : FEndpoint(std::make_unique<QObject>()),
      FControlSocket(std::make_unique<TWSocket>()),
      FDataSocket(std::make_unique<TWSocket>())
{
    FControlSocket->OnDnsLookupDone = [this](TCustomWSocket *S, int E) { ControlSocketDnsLookupDone(S, E); };
    FControlSocket->OnSessionConnected = [this](TCustomWSocket *S, int E) { ControlSocketSessionConnected(S, E); };
    FControlSocket->OnDataAvailable = [this](TCustomWSocket *S, int E) { ControlSocketDataAvailable(S, E); };
    FControlSocket->OnSessionClosed = [this](TCustomWSocket *S, int E) { ControlSocketSessionClosed(S, E); };
}

TCustomFtpCli::~TCustomFtpCli()
{
    // Queued notifications die with the endpoint; the sockets close without events.
    FEndpoint.reset();
    for (TWSocket *s : {FControlSocket.get(), FDataSocket.get()}) {
        s->OnDnsLookupDone = nullptr;
        s->OnSessionConnected = nullptr;
        s->OnDataAvailable = nullptr;
        s->OnSessionClosed = nullptr;
        s->OnSessionAvailable = nullptr;
        s->OnDataSent = nullptr;
    }
    DestroyLocalStream();
    if (FAcceptedHandle >= 0)
        ::close(FAcceptedHandle);
}

// ---------------------------------------------------------------------------------------------
// Properties with effects

void TCustomFtpCli::SetLocalFileName(const std::string &v)
{
    FLocalFileName = v;
}

void TCustomFtpCli::SetBinary(bool v)
{
    FType = v ? 'I' : 'A';
}

TFtpShareMode TCustomFtpCli::ShareMode() const
{
    switch (FShareMode) {
    case 0: return ftpShareCompat;
    case 16: return ftpShareExclusive;
    case 32: return ftpShareDenyWrite;
    case 48: return ftpShareDenyRead;
    case 64: return ftpShareDenyNone;
    default: return ftpShareExclusive;
    }
}

void TCustomFtpCli::SetShareMode(TFtpShareMode v)
{
    switch (v) {
    case ftpShareCompat: FShareMode = 0; break;
    case ftpShareExclusive: FShareMode = 16; break;
    case ftpShareDenyWrite: FShareMode = 32; break;
    case ftpShareDenyRead: FShareMode = 48; break;
    case ftpShareDenyNone: FShareMode = 64; break;
    default: FShareMode = 16; break;
    }
}

void TCustomFtpCli::SetConnectionType(TFtpConnectionType v)
{
    if (FControlOpen) {
        HandleError("FTP component connected");
        return;
    }
    switch (v) {
    case ftpProxy:
    case ftpSocks4:
    case ftpSocks4A:
    case ftpSocks5:
        // Through a proxy only passive data connections can reach the server.
        FConnectionType = v;
        FPassive = true;
        break;
    default:
        FConnectionType = ftpDirect;
        break;
    }
}

void TCustomFtpCli::SetPassive(bool v)
{
    FPassive = FConnectionType == ftpDirect ? v : true;
}

void TCustomFtpCli::SetDisplayFileMode(TFtpDisplayFileMode v)
{
    FDisplayFileMode = v == ftpBinary ? ftpBinary : ftpLineByLine;
}

// The socket layer has no SOCKS negotiation to configure, so the settings are only kept.
std::string TCustomFtpCli::SocksPassword() const { return FSocksPassword; }
void TCustomFtpCli::SetSocksPassword(const std::string &v) { FSocksPassword = v; }
std::string TCustomFtpCli::SocksPort() const { return FSocksPort; }
void TCustomFtpCli::SetSocksPort(const std::string &v) { FSocksPort = v; }
std::string TCustomFtpCli::SocksServer() const { return FSocksServer; }
void TCustomFtpCli::SetSocksServer(const std::string &v) { FSocksServer = v; }
std::string TCustomFtpCli::SocksUserCode() const { return FSocksUserCode; }
void TCustomFtpCli::SetSocksUserCode(const std::string &v) { FSocksUserCode = v; }

bool TCustomFtpCli::GetConnected() const
{
    return FControlSocket && FControlSocket->State() != wsClosed;
}

// ---------------------------------------------------------------------------------------------
// Request lifecycle

void TCustomFtpCli::StateChange(TFtpState NewState)
{
    if (FState == NewState)
        return;
    FState = NewState;
    if (OnStateChange)
        OnStateChange(this);
}

bool TCustomFtpCli::CheckReady()
{
    if (FState == ftpReady || FState == ftpInternalReady)
        return true;
    HandleError("FTP component not ready");
    return false;
}

bool TCustomFtpCli::CheckCommand()
{
    if (!CheckReady())
        return false;
    if (!FControlOpen) {
        HandleError("FTP component not connected");
        return false;
    }
    return true;
}

bool TCustomFtpCli::CheckCommandText(const std::string &Text)
{
    // A name typed by the user must not smuggle a second command onto the control connection.
    if (!FtpHasLineBreak(Text))
        return true;
    HandleError("Command refused: CR or LF inside an argument");
    return false;
}

void TCustomFtpCli::HandleError(const std::string &Msg)
{
    FRefused = true;
    FRefusal = Msg;
    if (OnError) {
        TriggerError(Msg);
        return;
    }
    throw FtpException(Msg);
}

void TCustomFtpCli::TriggerError(const std::string &Msg)
{
    if (OnError) {
        std::string m = Msg;
        OnError(this, m);
    }
}

void TCustomFtpCli::SetErrorMessage()
{
    if (FErrorMessage.empty())
        FErrorMessage = FLastReply;
}

void TCustomFtpCli::TriggerDisplay(const std::string &Msg)
{
    if (OnDisplay) {
        std::string m = Msg;
        OnDisplay(this, m);
    }
}

void TCustomFtpCli::DisplayLastResponse()
{
    TriggerDisplay("< " + FLastReply);
}

void TCustomFtpCli::BeginStep(TFtpRequest RqType)
{
    if (!FInSequence) {
        FRequestType = RqType;
        FRequestRunning = true;
        FRequestResult = 0;
        FStepsRun = 0;
    }
    FRequestDoneSignalled = false;
}

void TCustomFtpCli::TriggerRequestDone(int Result, int Error)
{
    if (FRequestDoneSignalled)
        return;   // the step has ended already; nothing later may change its verdict
    FRequestDoneSignalled = true;

    if (Result == 0 && FSequenceContinuation) {
        StateChange(ftpInternalReady);
        (this->*FSequenceContinuation)();
        return;
    }

    // The request ends here and nowhere else. Its data connection goes first, handlers
    // detached, so nothing it reports afterwards reaches the engine.
    DropDataConnection();
    DestroyLocalStream();
    FNextStep = nullptr;
    FDoneHook = nullptr;
    if (FInSequence && FSavedReplyCode >= 0) {
        FLastReply = FSavedReply;
        FReplyCode = FSavedReplyCode;
    }
    // An offset serves the one transfer it was set for.
    const TFtpFctSet offsetSteps = FctSet(ftpFctRest, ftpFctGet, ftpFctPut, ftpFctAppend, ftpFctDir, ftpFctLs);
    if ((FStepsRun | FctBit(FCurrentStep)) & offsetSteps)
        FRestartOffset = 0;
    FInSequence = false;
    FSequenceContinuation = nullptr;
    FRemainingSteps = 0;
    FRequestResult = Result;
    FRequestRunning = false;
    // The notification names the request that ended here: by the time the loop delivers it
    // the next request may already be running. A refusal inside the starting call reached
    // that caller already (exception or OnError).
    if (!(FInStartCall && FRefused))
        PostNotification(WM_FTP_REQUEST_DONE, Error);
    if (FState != ftpAbort)
        StateChange(ftpReady);
    RequestEnded();
}

void TCustomFtpCli::FailStep(int Code, const std::string &Reply)
{
    FLastReply = Reply;
    FReplyCode = Code;
    SetErrorMessage();
    TriggerRequestDone(Code);
}

void TCustomFtpCli::FailOnReply()
{
    SetErrorMessage();
    TriggerRequestDone(FailureCode(FReplyCode));
}

void TCustomFtpCli::PostNotification(int Msg, int Error)
{
    if (!FEndpoint)
        return;
    const TFtpRequest rq = FRequestType;
    QMetaObject::invokeMethod(
        FEndpoint.get(), [this, Msg, Error, rq] { WndProc(Msg, Error, rq); }, Qt::QueuedConnection);
}

void TCustomFtpCli::WndProc(int Msg, int Error, TFtpRequest RqType)
{
    // Nothing may escape into the event loop.
    try {
        switch (Msg) {
        case WM_FTP_REQUEST_DONE:
            DeliverRequestDone(RqType, Error);
            break;
        case WM_FTP_SENDDATA:
            WMFtpSendData();
            break;
        default:
            break;
        }
    } catch (const std::exception &E) {
        HandleBackGroundException(E);
    } catch (...) {
        HandleBackGroundException(std::runtime_error("unknown exception"));
    }
}

void TCustomFtpCli::DeliverRequestDone(TFtpRequest RqType, int Error)
{
    if (OnRequestDone)
        OnRequestDone(this, RqType, Error);
}

void TCustomFtpCli::HandleBackGroundException(const std::exception &E)
{
    bool canClose = true;
    if (!OnBgException)
        return;
    try {
        OnBgException(this, E, canClose);
    } catch (...) {
    }
}

// ---------------------------------------------------------------------------------------------
// Control connection

void TCustomFtpCli::OpenAsync()
{
    if (!CheckReady())
        return;
    if (FControlOpen) {
        HandleError("FTP component already connected");
        return;
    }
    BeginStep(ftpOpenAsync);
    FReplyBuffer.Clear();
    FDnsResult.clear();
    StateChange(ftpDnsLookup);
    try {
        FControlSocket->DnsLookup(FConnectionType == ftpProxy ? FProxyServer : FHostName);
    } catch (const std::exception &E) {
        // An empty or malformed name is refused by the socket at once; end the request cleanly
        // rather than leave the engine stuck in the lookup state.
        FailStep(500, "500 " + ExceptionClassName(E) + ": " + E.what());
    }
}

void TCustomFtpCli::ControlSocketDnsLookupDone(TCustomWSocket *, int Error)
{
    if (FState != ftpDnsLookup)
        return;     // a late completion of a lookup nobody waits for (cancelled by an abort)
    if (Error != 0) {
        FLastReply = WinsockErrorReply(Error);
        FReplyCode = 500;
        SetErrorMessage();
        TriggerRequestDone(500, Error);
        return;
    }
    FDnsResult = FControlSocket->DnsResult();
    StateChange(ftpWaitingBanner);
    try {
        FControlSocket->SetAddr(FDnsResult);
        FControlSocket->SetProto("tcp");
        FControlSocket->SetPort(FPort);
        FControlSocket->Connect();
    } catch (const std::exception &E) {
        FailStep(500, "500 " + ExceptionClassName(E) + ": " + E.what());
    }
}

void TCustomFtpCli::ControlSocketSessionConnected(TCustomWSocket *, int Error)
{
    if (Error == 0) {
        FControlOpen = true;
        return;     // the greeting is awaited in ftpWaitingBanner
    }
    FLastReply = WinsockErrorReply(Error);
    FReplyCode = 500;
    SetErrorMessage();
    TriggerRequestDone(500, Error);
    CloseControl();
    StateChange(ftpReady);
}

void TCustomFtpCli::CloseControl()
{
    bool was = FClosingControl;
    FClosingControl = true;
    FControlSocket->Close();
    FClosingControl = was;
}

void TCustomFtpCli::ControlSocketDataAvailable(TCustomWSocket *, int Error)
{
    int n = FControlSocket->Receive(FReplyBuffer.WritePtr(), FReplyBuffer.Space());
    if (n == 0) {
        FControlSocket->Close();   // the server's close, seen as end of stream
        return;
    }
    if (n < 0)
        return;
    FReplyBuffer.Commit(n);

    const bool acceptLF = (FOptions & OptBit(ftpAcceptLF)) != 0;
    while (FReplyBuffer.Length() > 0) {
        std::string line;
        FtpReplyBuffer::LineResult r = FReplyBuffer.NextLine(acceptLF, line);
        if (r == FtpReplyBuffer::NeedMore)
            return;
        if (r == FtpReplyBuffer::Overflow) {
            ReplyTooLong();
            return;
        }
        FLastReply = std::move(line);
        if (OnResponse)
            OnResponse(this);
        if (HandleReplyLine(Error))
            return;
    }
}

void TCustomFtpCli::ReplyTooLong()
{
    // A line the buffer cannot hold would otherwise stall the reply forever.
    FReplyBuffer.Clear();
    const std::string text = "500 Reply line longer than " + std::to_string(FtpReplyBuffer::Capacity - 1) +
                             " bytes: connection closed";
    TriggerDisplay("! " + text);
    CloseControl();
    FailStep(500, text);
}

bool TCustomFtpCli::HandleReplyLine(int Error)
{
    int code = 0;
    std::size_t end = 0;
    switch (FState) {
    case ftpWaitingBanner:
        DisplayLastResponse();
        if (!FtpReplyLineCode(FLastReply, code, end))
            return false;
        FReplyCode = code;
        if (end < FLastReply.size() && FLastReply[end] == '-')
            return false;
        if (code != 220) {
            CloseControl();
            FailOnReply();
            return true;
        }
        StateChange(ftpConnected);
        if (OnSessionConnected)
            OnSessionConnected(this, Error);
        TriggerRequestDone(0);
        return false;

    case ftpWaitingResponse:
        if (!FtpIsFinalReplyLine(FLastReply))
            return false;
        FtpReplyLineCode(FLastReply, code, end);
        FReplyCode = code;
        if (!FNextStep) {
            HandleError("Program error: FNext is nil");
            return false;
        }
        (this->*FNextStep)();
        return false;

    default:
        DisplayLastResponse();
        return false;
    }
}

void TCustomFtpCli::ControlSocketSessionClosed(TCustomWSocket *, int Error)
{
    // The server went away while a reply was awaited: that request failed, whatever it had
    // gathered so far (otherwise a half-done request would report success).
    const bool replyAwaited = (FState == ftpWaitingBanner || FState == ftpWaitingResponse) &&
                              !FClosingControl && !FRequestDoneSignalled;
    if (FControlOpen) {
        FControlOpen = false;
        if (FState != ftpAbort)
            StateChange(ftpNotConnected);
        if (OnSessionClosed)
            OnSessionClosed(this, Error);
    }
    if (FState != ftpAbort)
        StateChange(ftpInternalReady);
    if (FClosingControl)
        return;     // the engine closes it and ends the request itself
    if (replyAwaited) {
        TriggerDisplay("! 421 Connection closed by the server");
        FailStep(421, "421 Connection closed by the server");
        return;
    }
    TriggerRequestDone(FRequestResult);
}

void TCustomFtpCli::SendCommand(const std::string &Cmd)
{
    std::string text = Cmd;
    if (OnCommand)
        OnCommand(this, text);
    if (FtpHasLineBreak(text)) {
        // Last line of defence (the starting checks refuse such names earlier).
        TriggerDisplay("! 500 Command refused: CR or LF inside an argument");
        FailStep(500, "500 Command refused: CR or LF inside an argument");
        return;
    }
    // The log shows the command, never the password it carries.
    const bool pass = text.size() >= 5 && QByteArray::fromStdString(text.substr(0, 5)).toUpper() == "PASS ";
    TriggerDisplay("> " + (pass ? std::string("PASS ********") : text));
    if (FControlSocket->State() == wsConnected)
        FControlSocket->SendStr(text + "\r\n");
}

void TCustomFtpCli::ExecAsync(TFtpRequest RqType, const std::string &Cmd,
                              std::initializer_list<int> OkResponses, TStep DoneAsync)
{
    if (!CheckCommand() || !CheckCommandText(Cmd))
        return;
    BeginStep(RqType);
    int i = 0;
    for (int c : OkResponses) {
        if (i >= 16)
            break;
        FAcceptedCodes[i++] = c;
    }
    FAcceptedCodes[i] = 0;
    FNextStep = &TCustomFtpCli::NextExecAsync;
    FDoneHook = DoneAsync;
    StateChange(ftpWaitingResponse);
    SendCommand(Cmd);
}

void TCustomFtpCli::NextExecAsync()
{
    DisplayLastResponse();
    bool ok = false;
    if (FAcceptedCodes[0] == 0) {
        ok = FReplyCode < 500;
    } else {
        for (int i = 0; i < 16 && FAcceptedCodes[i] != 0; ++i) {
            if (FAcceptedCodes[i] == FReplyCode) {
                ok = true;
                break;
            }
        }
    }
    const int result = ok ? 0 : FailureCode(FReplyCode);
    if (!ok)
        SetErrorMessage();
    if (FPassive && FReplyCode == 227)
        FPasvReply = FLastReply;
    if (ok)
        ExtractMoreResults();
    if (FDoneHook) {
        FRequestResult = result;   // the verdict the hook's end gives
        (this->*FDoneHook)();
    } else {
        TriggerRequestDone(result);
    }
}

void TCustomFtpCli::ExtractMoreResults()
{
    switch (FCurrentStep) {
    case ftpFctSize:
        FReplySize = FtpReplyNumber(FLastReply);
        break;
    case ftpFctCwd:
    case ftpFctMkd:
    case ftpFctPwd:
    case ftpFctCDup:
        FReplyDirectory = FtpReplyQuotedName(FLastReply);
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// Single-command operations. The checks come before CurrentStep changes, so a refused request
// leaves the running one untouched.

void TCustomFtpCli::UserAsync()
{
    if (!CheckCommand())
        return;
    if (FUserName.empty()) {
        HandleError("UserName emtpy");
        return;
    }
    std::string cmd = "USER " + FUserName;
    if (FConnectionType == ftpProxy)
        cmd += "@" + FHostName;
    if (!CheckCommandText(cmd))
        return;
    FCurrentStep = ftpFctUser;
    ExecAsync(ftpUserAsync, cmd, {331, 230}, nullptr);
}

void TCustomFtpCli::PassAsync()
{
    if (!CheckCommand())
        return;
    if (FPassWord.empty()) {
        HandleError("Password emtpy");
        return;
    }
    if (!CheckCommandText(FPassWord))
        return;
    FCurrentStep = ftpFctPass;
    ExecAsync(ftpPassAsync, "PASS " + FPassWord, {230}, nullptr);
}

void TCustomFtpCli::CwdAsync()
{
    if (!CheckCommand())
        return;
    if (FHostDirName.empty()) {
        HandleError("HostDirName emtpy");
        return;
    }
    if (!CheckCommandText(FHostDirName))
        return;
    FCurrentStep = ftpFctCwd;
    ExecAsync(ftpCwdAsync, "CWD " + FHostDirName, {200, 250, 257}, nullptr);
}

void TCustomFtpCli::CDupAsync()
{
    if (!CheckCommand())
        return;
    FCurrentStep = ftpFctCDup;
    ExecAsync(ftpCDupAsync, "CDUP", {250}, nullptr);
}

void TCustomFtpCli::PwdAsync()
{
    if (!CheckCommand())
        return;
    FCurrentStep = ftpFctPwd;
    ExecAsync(ftpPwdAsync, "PWD", {250, 257}, nullptr);
}

void TCustomFtpCli::TypeSetAsync()
{
    if (!CheckCommand())
        return;
    FCurrentStep = ftpFctTypeSet;
    ExecAsync(ftpTypeSetAsync, std::string("TYPE ") + FType, {200}, nullptr);
}

void TCustomFtpCli::TypeBinaryAsync()
{
    SetBinary(true);
    TypeSetAsync();
}

void TCustomFtpCli::TypeAsciiAsync()
{
    SetBinary(false);
    TypeSetAsync();
}

void TCustomFtpCli::SystAsync()
{
    if (!CheckCommand())
        return;
    FCurrentStep = ftpFctSyst;
    ExecAsync(ftpSystAsync, "SYST", {215}, nullptr);
}

void TCustomFtpCli::SizeAsync()
{
    if (!CheckCommand() || !CheckCommandText(FHostFileName))
        return;
    FReplySize = 0;
    FCurrentStep = ftpFctSize;
    ExecAsync(ftpSizeAsync, "SIZE " + FHostFileName, {213}, nullptr);
}

void TCustomFtpCli::MkdAsync()
{
    if (!CheckCommand() || !CheckCommandText(FHostFileName))
        return;
    FCurrentStep = ftpFctMkd;
    ExecAsync(ftpMkdAsync, "MKD " + FHostFileName, {257}, nullptr);
}

void TCustomFtpCli::RmdAsync()
{
    if (!CheckCommand() || !CheckCommandText(FHostFileName))
        return;
    FCurrentStep = ftpFctRmd;
    ExecAsync(ftpRmdAsync, "RMD " + FHostFileName, {250, 257}, nullptr);
}

void TCustomFtpCli::DeleAsync()
{
    if (!CheckCommand() || !CheckCommandText(FHostFileName))
        return;
    FCurrentStep = ftpFctDele;
    ExecAsync(ftpDeleAsync, "DELE " + FHostFileName, {250, 257}, nullptr);
}

void TCustomFtpCli::RenFromAsync()
{
    if (!CheckCommand() || !CheckCommandText(FHostFileName))
        return;
    FCurrentStep = ftpFctRenFrom;
    ExecAsync(ftpRenFromAsync, "RNFR " + FHostFileName, {350}, nullptr);
}

void TCustomFtpCli::RenToAsync()
{
    if (!CheckCommand() || !CheckCommandText(FLocalFileName))
        return;
    FCurrentStep = ftpFctRenTo;
    ExecAsync(ftpRenToAsync, "RNTO " + FLocalFileName, {200, 250, 257}, nullptr);
}

void TCustomFtpCli::QuoteAsync()
{
    if (!CheckCommand() || !CheckCommandText(FLocalFileName))
        return;
    FCurrentStep = ftpFctQuote;
    ExecAsync(ftpQuoteAsync, FLocalFileName, {}, nullptr);
}

void TCustomFtpCli::QuitAsync()
{
    if (!CheckCommand())
        return;
    DestroyLocalStream();
    FCurrentStep = ftpFctQuit;
    ExecAsync(ftpQuitAsync, "QUIT", {221}, &TCustomFtpCli::DoneQuitAsync);
}

void TCustomFtpCli::DoneQuitAsync()
{
    CloseControl();
    // The close handler ends the request; if the socket had already gone, end it here.
    TriggerRequestDone(FRequestResult);
}

void TCustomFtpCli::AbortAsync()
{
    const bool wasLookup = FState == ftpDnsLookup;
    StateChange(ftpAbort);
    // A request cut short has not succeeded, whatever its replies said so far.
    if (FRequestRunning) {
        FErrorMessage = "426 Operation aborted.";
        TriggerRequestDone(426);
    }
    DestroyLocalStream();
    if (wasLookup) {
        try {
            FControlSocket->CancelDnsLookup();
        } catch (const std::exception &) {
        }
    }
    if (FControlSocket->State() != wsClosed)
        CloseControl();
    DropDataConnection();
    FControlOpen = false;
    StateChange(ftpReady);
}

// ---------------------------------------------------------------------------------------------
// High-level operations

void TCustomFtpCli::HighLevelAsync(TFtpRequest RqType, TFtpFctSet Fcts)
{
    if (FControlOpen && (Fcts & FctBit(ftpFctOpen))) {
        HandleError("FTP component already connected");
        return;
    }
    if (!CheckReady())
        return;
    FSavedReply = FLastReply;
    FSavedReplyCode = -1;
    BeginStep(RqType);
    FRemainingSteps = Fcts;
    FCurrentStep = ftpFctNone;
    FInSequence = true;
    FLastReply.clear();
    FErrorMessage.clear();
    FInStartCall = true;
    try {
        DoHighLevelAsync();
    } catch (...) {
        FInStartCall = false;
        throw;
    }
    FInStartCall = false;
}

void TCustomFtpCli::StepRefused(const std::string &Msg)
{
    if (FInStartCall) {
        // The first step, refused inside the caller's own call: the refusal reaches the caller
        // as it does for a single command, and nothing of the operation stays behind.
        TriggerRequestDone(500);
        return;
    }
    // A later step, started from an event handler: nobody would see the refusal, so the
    // operation ends with it instead of waiting for the time limit.
    FSavedReplyCode = -1;
    FailStep(500, "500 " + Msg);
}

void TCustomFtpCli::DoHighLevelAsync()
{
    FSequenceContinuation = &TCustomFtpCli::DoHighLevelAsync;

    struct StepEntry {
        TFtpFct Fct;
        void (TCustomFtpCli::*Op)();
    };
    static const StepEntry order[] = {
        {ftpFctOpen, &TCustomFtpCli::OpenAsync},
        {ftpFctUser, &TCustomFtpCli::UserAsync},
        {ftpFctPass, &TCustomFtpCli::PassAsync},
        {ftpFctCwd, &TCustomFtpCli::CwdAsync},
        {ftpFctCDup, &TCustomFtpCli::CDupAsync},
        {ftpFctTypeSet, &TCustomFtpCli::TypeSetAsync},
        {ftpFctPort, &TCustomFtpCli::PortAsync},
        {ftpFctRest, &TCustomFtpCli::RestAsync},
        {ftpFctGet, &TCustomFtpCli::ExecGetAsync},
        {ftpFctPut, &TCustomFtpCli::ExecPutAsync},
        {ftpFctAppend, &TCustomFtpCli::ExecAppendAsync},
        {ftpFctDir, &TCustomFtpCli::ExecDirAsync},
        {ftpFctLs, &TCustomFtpCli::ExecLsAsync},
        {ftpFctSyst, &TCustomFtpCli::SystAsync},
        {ftpFctMkd, &TCustomFtpCli::MkdAsync},
        {ftpFctRmd, &TCustomFtpCli::RmdAsync},
        {ftpFctRenFrom, &TCustomFtpCli::RenFromAsync},
        {ftpFctRenTo, &TCustomFtpCli::RenToAsync},
        {ftpFctSize, &TCustomFtpCli::SizeAsync},
        {ftpFctDele, &TCustomFtpCli::DeleAsync},
        {ftpFctPwd, &TCustomFtpCli::PwdAsync},
        {ftpFctQuote, &TCustomFtpCli::QuoteAsync},
        {ftpFctQuit, &TCustomFtpCli::QuitAsync},
    };

    for (const StepEntry &step : order) {
        if (!(FRemainingSteps & FctBit(step.Fct)))
            continue;
        FRemainingSteps &= ~FctBit(step.Fct);
        // A 230 to USER means logged in already: no PASS.
        if (step.Fct == ftpFctPass && FCurrentStep == ftpFctUser && FReplyCode != 331)
            continue;
        if (step.Fct == ftpFctCwd && FHostDirName.empty())
            continue;
        if (step.Fct == ftpFctGet &&
            !(FCurrentStep == ftpFctRest && FRestartOffset >= 0 && FReplyCode == 350))
            FRestartOffset = 0;
        if (step.Fct == ftpFctQuit) {
            // The operation reports its last real step, not the reply to QUIT.
            FSavedReply = FLastReply;
            FSavedReplyCode = FReplyCode;
        }
        FCurrentStep = step.Fct;
        FStepsRun |= FctBit(step.Fct);
        FRefused = false;
        // Every step either starts (and ends later through TriggerRequestDone) or refuses:
        // a refusal ends the whole operation here, so no step is left for a later request.
        FRequestDoneSignalled = false;
        try {
            (this->*step.Op)();
        } catch (const std::exception &E) {
            StepRefused(E.what());
            if (FInStartCall)
                throw;
            return;
        }
        if (FRefused)
            StepRefused(FRefusal);
        return;
    }

    // No step left: the operation succeeded.
    FSequenceContinuation = nullptr;
    FRequestDoneSignalled = false;
    TriggerRequestDone(0);
}

void TCustomFtpCli::ConnectAsync()
{
    HighLevelAsync(ftpConnectAsync, FctSet(ftpFctOpen, ftpFctUser, ftpFctPass));
}

void TCustomFtpCli::GetAsync()
{
    HighLevelAsync(ftpGetAsync, FctSet(ftpFctPort, ftpFctGet));
}

void TCustomFtpCli::RestGetAsync()
{
    HighLevelAsync(ftpRestGetAsync, FctSet(ftpFctPort, ftpFctRest, ftpFctGet));
}

void TCustomFtpCli::RestartGetAsync()
{
    HighLevelAsync(ftpRestartGetAsync,
                   FctSet(ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctTypeSet, ftpFctPort,
                          ftpFctRest, ftpFctGet, ftpFctQuit));
}

void TCustomFtpCli::ReceiveAsync()
{
    HighLevelAsync(ftpReceiveAsync, FctSet(ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd,
                                           ftpFctTypeSet, ftpFctPort, ftpFctGet, ftpFctQuit));
}

void TCustomFtpCli::PutAsync()
{
    HighLevelAsync(ftpPutAsync, FctSet(ftpFctPort, ftpFctPut));
}

void TCustomFtpCli::RestPutAsync()
{
    HighLevelAsync(ftpRestPutAsync, FctSet(ftpFctPort, ftpFctRest, ftpFctPut));
}

void TCustomFtpCli::RestartPutAsync()
{
    HighLevelAsync(ftpRestartPutAsync,
                   FctSet(ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctTypeSet, ftpFctPort,
                          ftpFctRest, ftpFctPut, ftpFctQuit));
}

void TCustomFtpCli::TransmitAsync()
{
    HighLevelAsync(ftpTransmitAsync, FctSet(ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd,
                                            ftpFctTypeSet, ftpFctPort, ftpFctPut, ftpFctQuit));
}

void TCustomFtpCli::AppendAsync()
{
    HighLevelAsync(ftpAppendAsync, FctSet(ftpFctPort, ftpFctAppend));
}

void TCustomFtpCli::AppendFileAsync()
{
    HighLevelAsync(ftpTransmitAsync, FctSet(ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd,
                                            ftpFctTypeSet, ftpFctPort, ftpFctAppend, ftpFctQuit));
}

void TCustomFtpCli::DirAsync()
{
    HighLevelAsync(ftpDirAsync, FctSet(ftpFctPort, ftpFctDir));
}

void TCustomFtpCli::DirectoryAsync()
{
    HighLevelAsync(ftpDirectoryAsync, FctSet(ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd,
                                             ftpFctPort, ftpFctDir, ftpFctQuit));
}

void TCustomFtpCli::LsAsync()
{
    HighLevelAsync(ftpLsAsync, FctSet(ftpFctPort, ftpFctLs));
}

void TCustomFtpCli::ListAsync()
{
    HighLevelAsync(ftpListAsync, FctSet(ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctPort,
                                        ftpFctLs, ftpFctQuit));
}

void TCustomFtpCli::SystemAsync()
{
    HighLevelAsync(ftpSystemAsync, FctSet(ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctSyst, ftpFctQuit));
}

void TCustomFtpCli::FileSizeAsync()
{
    HighLevelAsync(ftpFileSizeAsync,
                   FctSet(ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctSize, ftpFctQuit));
}

void TCustomFtpCli::MkdirAsync()
{
    HighLevelAsync(ftpMkdirAsync,
                   FctSet(ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctMkd, ftpFctQuit));
}

void TCustomFtpCli::RmdirAsync()
{
    HighLevelAsync(ftpRmdirAsync,
                   FctSet(ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctRmd, ftpFctQuit));
}

void TCustomFtpCli::DeleteAsync()
{
    HighLevelAsync(ftpDeleteAsync,
                   FctSet(ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctDele, ftpFctQuit));
}

void TCustomFtpCli::DoQuoteAsync()
{
    HighLevelAsync(ftpDoQuoteAsync,
                   FctSet(ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctQuote, ftpFctQuit));
}

void TCustomFtpCli::RenameAsync()
{
    HighLevelAsync(ftpRenameAsync, FctSet(ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd,
                                          ftpFctRenFrom, ftpFctRenTo, ftpFctQuit));
}

void TCustomFtpCli::RenAsync()
{
    HighLevelAsync(ftpRenAsync, FctSet(ftpFctRenFrom, ftpFctRenTo));
}
