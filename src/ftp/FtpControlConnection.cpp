// The control connection: opening it, assembling reply lines, sending commands, and the
// command sequencer that runs the next step of a request on each final reply.
#include "ftp/FtpClient.h"

#include "net/Socket.h"
#include "net/SocketErrors.h"

#include <QByteArray>

namespace {

std::string WinsockErrorReply(int Error)
{
    return "500 " + WSocketErrorDesc(Error) + " (Winsock error #" + std::to_string(Error) + ")";
}

} // namespace

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
    FDataProtected = false;
    FEpsvRefused = false;
    FControlNamed = false;
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
    // An address literal gives no list: it is the one address.
    FConnectAddresses = FControlSocket->DnsResultList();
    if (FConnectAddresses.empty())
        FConnectAddresses = {FControlSocket->DnsResult()};
    FConnectIndex = 0;
    StateChange(ftpWaitingBanner);
    ConnectAddress();
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
        if (!StartAuthTls())
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
    if (FSwitchingAddress)
        return;     // a failed attempt closed: the next address is tried, the request goes on
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
    SendExpecting(Cmd, OkResponses, DoneAsync);
}

void TCustomFtpCli::SendExpecting(const std::string &Cmd, std::initializer_list<int> OkResponses, TStep DoneAsync)
{
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
