// The data side of the FTP engine: the data step (PORT or PASV), REST, the receive steps
// RETR/LIST/NLST, the upload steps STOR/APPE, progress, and the end of a transfer, which
// needs both the data connection's close and the final reply, in either order.
#include "ftp/Ftpcli.h"
#include "ftp/FtpTransferText.h"
#include "net/Wsocket.h"

#include <QFile>
#include <QFileInfo>

#include <arpa/inet.h>
#include <unistd.h>
#include <cstring>
#include <utility>

namespace {

const char *ExceptionClassName(const std::exception &E)
{
    if (dynamic_cast<const ESocketException *>(&E))
        return "ESocketException";
    if (dynamic_cast<const FtpException *>(&E))
        return "FtpException";
    return "Exception";
}

const char *ReceiveCommandWord(TFtpRequest RqType)
{
    switch (RqType) {
    case ftpDirAsync: return "LIST";
    case ftpLsAsync: return "NLST";
    default: return "RETR";
    }
}

} // namespace

// ---- Data step ---------------------------------------------------------------------------

void TCustomFtpCli::PortAsync()
{
    if (!CheckCommand())
        return;
    TWSocket *data = FDataSocket.get();
    data->SetProto("tcp");
    data->SetAddr("0.0.0.0");
    data->SetPort("0");
    // Some servers connect as soon as PORT arrives, before the transfer command. The report
    // of that connection comes once; it is remembered for the transfer step to take.
    FDataPending = false;
    data->OnSessionAvailable = [this](TCustomWSocket *, int) { FDataPending = true; };
    data->OnSessionClosed = nullptr;
    data->OnDataAvailable = nullptr;

    quint16 dataPort = 0;
    if (!FPassive) {
        data->SetLingerOnOff(wsLingerOn);
        data->SetLingerTimeout(10);
        try {
            data->Listen();
            sockaddr_in sin{};
            int len = sizeof sin;
            data->GetSockName(sin, len);
            dataPort = ntohs(sin.sin_port);
        } catch (const std::exception &E) {
            // No listener, no transfer: end the step like a refused command.
            if (!FInSequence)
                FRequestType = ftpPortAsync;
            FCurrentStep = ftpFctPort;
            FRequestDoneSignalled = false;
            FailDataStep(550, std::string("550 ") + ExceptionClassName(E) + ": " + E.what());
            return;
        }
    }

    std::string cmd = "PASV";
    if (!FPassive) {
        sockaddr_in local{}, remote{};
        int len = sizeof local;
        FControlSocket->GetSockName(local, len);
        len = sizeof remote;
        const bool loopback = FControlSocket->GetPeerName(remote, len) == 0 &&
                              ntohl(remote.sin_addr.s_addr) == INADDR_LOOPBACK;
        cmd = FtpPortCommand(ntohl(local.sin_addr.s_addr), dataPort, loopback);
    }
    FTransferCount = 0;
    FCurrentStep = ftpFctPort;
    ExecAsync(ftpPortAsync, cmd, {200, 227}, nullptr);
}

// ---- Restart step ------------------------------------------------------------------------

void TCustomFtpCli::RestAsync()
{
    if (!CheckCommand())
        return;
    FCurrentStep = ftpFctRest;
    // Downloads resume where the local file ends; uploads use the offset the caller set.
    if (FRequestType != ftpRestPutAsync && FRequestType != ftpRestartPutAsync &&
        !(FOptions & OptBit(ftpNoAutoResumeAt))) {
        const QFileInfo info(QString::fromLocal8Bit(FLocalFileName.c_str()));
        FRestartOffset = info.exists() && info.isFile() ? info.size() : -1;
    }
    if (FRestartOffset <= 0) {
        if (!FInSequence)
            FRequestType = ftpRestAsync;
        FRequestDoneSignalled = false;
        FNextStep = &TCustomFtpCli::NextExecAsync;
        FDoneHook = nullptr;
        FRequestResult = 0;
        TriggerRequestDone(0);
        return;
    }
    ExecAsync(ftpRestAsync, "REST " + std::to_string(FRestartOffset), {}, nullptr);
}

// ---- Shared helpers ----------------------------------------------------------------------

void TCustomFtpCli::FailDataStep(int Code, const std::string &Reply)
{
    FLastReply = Reply;
    FReplyCode = Code;
    SetErrorMessage();
    FNextStep = nullptr;
    if (FDataSocket->State() != wsClosed)
        FDataSocket->Close();
    DestroyLocalStream();
    FRequestResult = Code;
    TriggerRequestDone(Code);
}

void TCustomFtpCli::EndRefusedTransfer()
{
    SetErrorMessage();
    FNextStep = nullptr;
    if (FDataSocket->State() != wsClosed)
        FDataSocket->Close();
    DestroyLocalStream();
    FRestartOffset = 0;
    FRequestResult = FReplyCode;
    TriggerRequestDone(FReplyCode);
}

void TCustomFtpCli::EndFailedTransfer(const std::string &Note)
{
    SetErrorMessage();
    DestroyLocalStream();
    if (FDataSocket->State() != wsClosed)
        FDataSocket->Close();
    TriggerDisplay(Note);
    FRequestResult = FReplyCode;
    TriggerRequestDone(FReplyCode);
}

void TCustomFtpCli::NoteTransferFault(int Code, const std::string &Text)
{
    if (FTransferFault == 0) {
        FTransferFault = Code;
        FTransferFaultText = Text;
    }
}

bool TCustomFtpCli::PassiveDataPort(int FailCode)
{
    quint16 port = 0;
    if (!FtpPasvPort(FPasvReply, port)) {
        FailDataStep(FailCode, std::to_string(FailCode) + " No data port in the passive reply \"" + FPasvReply + "\"");
        return false;
    }
    // Always the control connection's address: a 227 reply cannot send our data elsewhere.
    FDataSocket->SetPort(std::to_string(port));
    FDataSocket->SetAddr(FControlSocket->Addr());
    FDataSocket->SetLingerOnOff(wsLingerOff);
    FDataSocket->SetLingerTimeout(0);
    return true;
}

void TCustomFtpCli::FinishTransfer()
{
    FFinalReplyOk = false;  // one end per transfer, whatever closes later
    TransfertStats();
    FRestartOffset = 0;
    FRequestResult = FDataCloseError;
    if (FTransferFault != 0) {
        // A transfer that lost data locally (or was aborted) must not end as a success,
        // whatever the server answered.
        FRequestResult = FTransferFault;
        FReplyCode = FTransferFault;
        if (FErrorMessage.empty())
            FErrorMessage = FTransferFaultText;
    } else if (FDataCloseError != 0 && FErrorMessage.empty()) {
        FErrorMessage = "Data connection closed with error #" + std::to_string(FDataCloseError);
    }
    TriggerRequestDone(FRequestResult);
}

void TCustomFtpCli::DestroyLocalStream()
{
    if (FLocalStream) {
        FLocalStream->close();
        FLocalStream.reset();
    }
}

bool TCustomFtpCli::Progress()
{
    bool abort = false;
    if (OnProgress)
        OnProgress(this, FTransferCount + FRestartOffset, abort);
    return abort;
}

void TCustomFtpCli::TransfertStats()
{
    FStopTicks = FtpTickCount();
    TriggerDisplay("! " + FtpTransferStatsText(FTransferCount, FStopTicks - FStartTicks));
}

void TCustomFtpCli::TriggerDisplayFile(const std::string &Msg)
{
    if (OnDisplayFile) {
        std::string text = Msg;
        OnDisplayFile(this, text);
    }
}

void TCustomFtpCli::TriggerReadyToTransmit(bool &bCancel)
{
    if (OnReadyToTransmit)
        OnReadyToTransmit(this, bCancel);
}

// ---- Receive: RETR, LIST, NLST -----------------------------------------------------------

void TCustomFtpCli::ExecGetAsync()
{
    DoGetAsync(ftpGetAsync);
}

void TCustomFtpCli::ExecDirAsync()
{
    DoGetAsync(ftpDirAsync);
}

void TCustomFtpCli::ExecLsAsync()
{
    DoGetAsync(ftpLsAsync);
}

void TCustomFtpCli::DoGetAsync(TFtpRequest RqType)
{
    if (!CheckReady())
        return;
    const std::string word = ReceiveCommandWord(RqType);
    if (!FControlOpen) {
        HandleError(word + ": not connected");
        return;
    }
    if (FLocalFileName.empty() && !FDisplayFileFlag) {
        HandleError("LocalFileName empty");
        return;
    }
    if (!CheckCommandText(FHostFileName))
        return;
    if (!FInSequence)
        FRequestType = RqType;
    FDataCommand = word;
    FFinalReplyOk = false;
    FGetDataClosed = false;
    FRequestDoneSignalled = false;
    FTransferCount = 0;
    FDataCloseError = 0;
    FLinePartLen = 0;
    FTransferFault = 0;
    FTransferFaultText.clear();
    FStartTicks = FtpTickCount();
    FDataSocket->OnSessionAvailable = [this](TCustomWSocket *S, int E) { DataSocketGetSessionAvailable(S, E); };

    // A bad 227 reply is found before the local file is touched, so nothing is truncated.
    if (FPassive) {
        quint16 port = 0;
        if (!FtpPasvPort(FPasvReply, port)) {
            PassiveDataPort(550);
            return;
        }
    }

    if (!FDisplayFileFlag) {
        DestroyLocalStream();
        auto file = std::make_unique<QFile>(QString::fromLocal8Bit(FLocalFileName.c_str()));
        bool opened;
        if (FRestartOffset > 0) {
            // Resume: the existing file, kept as it is, written from the offset on.
            opened = file->open(QIODevice::ReadWrite | QIODevice::ExistingOnly) && file->seek(FRestartOffset);
        } else {
            opened = file->open(QIODevice::WriteOnly | QIODevice::Truncate);
        }
        if (!opened) {
            FailDataStep(550, "Unable to open local file " + FLocalFileName);
            return;
        }
        FLocalStream = std::move(file);
    }

    if (FPassive) {
        PassiveDataPort(550);
        FDataSocket->OnSessionConnected = [this](TCustomWSocket *S, int E) { DataSocketGetSessionConnected(S, E); };
        try {
            FDataSocket->Connect();
        } catch (const std::exception &E) {
            FailDataStep(550, std::string("550 ") + ExceptionClassName(E) + ": " + E.what());
            return;
        }
    }

    StateChange(ftpWaitingResponse);
    FNextStep = &TCustomFtpCli::Next1GetAsync;
    SendCommand(FHostFileName.empty() ? FDataCommand : FDataCommand + " " + FHostFileName);
    if (!FPassive && std::exchange(FDataPending, false))
        DataSocketGetSessionAvailable(FDataSocket.get(), 0);
}

void TCustomFtpCli::DataSocketGetSessionAvailable(TCustomWSocket *, int)
{
    TWSocket *data = FDataSocket.get();
    TSocket handle = INVALID_SOCKET;
    try {
        handle = data->Accept();
        data->Close();  // the listener; it has no close handler now
        if (handle == INVALID_SOCKET)
            throw ESocketException("accept failed");
        data->OnSessionClosed = [this](TCustomWSocket *S, int E) { DataSocketGetSessionClosed(S, E); };
        data->OnDataAvailable = [this](TCustomWSocket *S, int E) { DataSocketGetDataAvailable(S, E); };
        data->OnDataSent = nullptr;
        data->Dup(std::exchange(handle, INVALID_SOCKET));
    } catch (const std::exception &) {
        if (handle != INVALID_SOCKET)
            ::close(handle);
        FailDataStep(550, "Unable to establish data connection, error #" + std::to_string(data->LastError()));
        return;
    }
    FStartTicks = FtpTickCount();
}

void TCustomFtpCli::DataSocketGetSessionConnected(TCustomWSocket *, int Error)
{
    TWSocket *data = FDataSocket.get();
    data->OnSessionClosed = [this](TCustomWSocket *S, int E) { DataSocketGetSessionClosed(S, E); };
    data->OnDataAvailable = [this](TCustomWSocket *S, int E) { DataSocketGetDataAvailable(S, E); };
    data->OnDataSent = nullptr;
    FStartTicks = FtpTickCount();
    if (Error != 0) {
        // The reply to the command already sent comes later and is only displayed.
        FailDataStep(550, "Unable to establish data connection, error #" + std::to_string(Error));
    }
}

void TCustomFtpCli::DataSocketGetDataAvailable(TCustomWSocket *, int)
{
    TWSocket *data = FDataSocket.get();
    if (Progress()) {
        TriggerDisplay("! Abort requested");
        NoteTransferFault(426, "426 Transfer aborted by the application");
        data->Close();
        return;
    }
    const int carried = FLinePartLen;
    int n = data->Receive(FRecvChunk + carried, int(sizeof FRecvChunk) - carried);
    if (n < 0) {
        if (data->State() == wsConnected && data->LastError() != WSAEWOULDBLOCK) {
            TriggerDisplay("! Data: Receive error " + std::to_string(data->LastError()));
            NoteTransferFault(426, "426 Data: Receive error " + std::to_string(data->LastError()));
            data->Shutdown(2);
        }
        return;
    }
    const int fresh = n;
    if (carried > 0) {
        std::memcpy(FRecvChunk, FLinePart, std::size_t(carried));
        n += carried;
    }
    if (n == 0)
        return;
    FTransferCount += n;

    if (FLocalStream && fresh > 0) {
        if (FLocalStream->write(FRecvChunk + carried, fresh) != fresh) {
            TriggerDisplay("! Error writing local file");
            NoteTransferFault(550, "550 Error writing local file " + FLocalFileName);
            data->Shutdown(2);
            return;
        }
    }
    if (!FDisplayFileFlag)
        return;
    if (FDisplayFileMode == ftpBinary) {
        FLinePartLen = 0;
        TriggerDisplayFile(std::string(FRecvChunk, std::size_t(n)));
        return;
    }
    int truncatedFrom = 0;
    FLinePartLen = FtpSplitListingChunk(
        FRecvChunk, n, [this](std::string &Line) { TriggerDisplayFile(Line); }, FLinePart, truncatedFrom);
    if (truncatedFrom > 0)
        TriggerDisplay("! Displayed data truncated to from " + std::to_string(truncatedFrom) + " to " + "255" +
                       " bytes");
    // The carried bytes are counted again with the next chunk.
    FTransferCount -= FLinePartLen;
}

void TCustomFtpCli::DataSocketGetSessionClosed(TCustomWSocket *, int Error)
{
    // A listing whose last line has no line end still delivers that line.
    if (FDisplayFileFlag && FDisplayFileMode == ftpLineByLine && FLinePartLen > 0) {
        const std::string last(FLinePart, std::size_t(FLinePartLen));
        FTransferCount += FLinePartLen;
        FLinePartLen = 0;
        TriggerDisplayFile(last);
    }
    if (FLocalStream && !FLocalStream->flush()) {
        TriggerDisplay("! Error writing local file");
        NoteTransferFault(550, "550 Error writing local file " + FLocalFileName);
    }
    DestroyLocalStream();
    FGetDataClosed = true;
    FDataCloseError = Error;
    Next3GetAsync();
}

void TCustomFtpCli::Next1GetAsync()
{
    DisplayLastResponse();
    if (FReplyCode == 150 || FReplyCode == 125) {
        FNextStep = &TCustomFtpCli::Next2GetAsync;
        return;
    }
    EndRefusedTransfer();
}

void TCustomFtpCli::Next2GetAsync()
{
    DisplayLastResponse();
    if (FReplyCode == 125 || FReplyCode == 226 || FReplyCode == 250) {
        FFinalReplyOk = true;
        Next3GetAsync();
        return;
    }
    EndFailedTransfer("! RETR/LIST/NLST Failed");
}

void TCustomFtpCli::Next3GetAsync()
{
    if (FFinalReplyOk && FGetDataClosed)
        FinishTransfer();
}

// ---- Upload: STOR, APPE ------------------------------------------------------------------

void TCustomFtpCli::ExecPutAsync()
{
    if (!CheckReady())
        return;
    FAppendFlag = false;
    FRequestType = ftpPutAsync;
    DoPutAppendAsync();
}

void TCustomFtpCli::ExecAppendAsync()
{
    if (!CheckReady())
        return;
    FAppendFlag = true;
    FRequestType = ftpAppendAsync;
    DoPutAppendAsync();
}

void TCustomFtpCli::DoPutAppendAsync()
{
    if (!FControlOpen) {
        HandleError("STOR/APPE: not connected");
        return;
    }
    if (FLocalFileName.empty()) {
        HandleError("LocalFileName empty");
        return;
    }
    if (!CheckCommandText(FHostFileName))
        return;
    FFinalReplyOk = false;
    FPutDataClosed = false;
    FRequestDoneSignalled = false;
    FSendSessionOpen = false;
    FStoreAccepted = false;
    FStartTicks = 0;
    FTransferCount = 0;
    FDataCloseError = 0;
    FTransferFault = 0;
    FTransferFaultText.clear();

    bool cancel = false;
    TriggerReadyToTransmit(cancel);
    if (cancel) {
        FErrorMessage = "426 Transmit cancelled by application";
        FReplyCode = 426;
        TriggerDisplay("! " + FErrorMessage);
        FRequestResult = 426;
        TriggerRequestDone(426);
        return;
    }
    FDataSocket->OnSessionAvailable = [this](TCustomWSocket *S, int E) { DataSocketPutSessionAvailable(S, E); };

    DestroyLocalStream();
    auto file = std::make_unique<QFile>(QString::fromLocal8Bit(FLocalFileName.c_str()));
    FEndOfFile = false;
    if (!file->open(QIODevice::ReadOnly) || (FRestartOffset > 0 && !file->seek(FRestartOffset))) {
        FErrorMessage = "426 Unable to open local file " + FLocalFileName;
        FReplyCode = 426;
        TriggerDisplay("! " + FErrorMessage);
        if (FDataSocket->State() != wsClosed)
            FDataSocket->Close();
        FRequestResult = 426;
        TriggerRequestDone(426);
        return;
    }
    FLocalStream = std::move(file);

    const std::string cmd = (FAppendFlag ? "APPE " : "STOR ") + FHostFileName;
    if (FPassive) {
        if (!PassiveDataPort(426))
            return;
        FDataSocket->OnSessionConnected = [this](TCustomWSocket *S, int E) { DataSocketPutSessionConnected(S, E); };
        // The command goes out once the data connection is open; until then the client is busy.
        StateChange(ftpWaitingResponse);
        FNextStep = &TCustomFtpCli::Next1PutAsync;
        try {
            FDataSocket->Connect();
        } catch (const std::exception &E) {
            FailDataStep(426, std::string("426 ") + ExceptionClassName(E) + ": " + E.what());
        }
        return;
    }
    StateChange(ftpWaitingResponse);
    FNextStep = &TCustomFtpCli::Next1PutAsync;
    SendCommand(cmd);
    if (std::exchange(FDataPending, false))
        DataSocketPutSessionAvailable(FDataSocket.get(), 0);
}

void TCustomFtpCli::DataSocketPutSessionAvailable(TCustomWSocket *, int)
{
    TWSocket *data = FDataSocket.get();
    TSocket handle = INVALID_SOCKET;
    try {
        handle = data->Accept();
        data->Close();  // the listener
        if (handle == INVALID_SOCKET)
            throw ESocketException("accept failed");
        data->OnSessionClosed = [this](TCustomWSocket *S, int E) { DataSocketPutSessionClosed(S, E); };
        data->OnDataAvailable = [this](TCustomWSocket *S, int E) { DataSocketPutDataAvailable(S, E); };
        data->OnDataSent = [this](TCustomWSocket *S, int E) { DataSocketPutDataSent(S, E); };
        data->Dup(std::exchange(handle, INVALID_SOCKET));
        // The send-buffer size query of the original design had no use for its value: skipped.
        data->SetLingerOnOff(wsLingerOff);
        data->SetLingerTimeout(10);
        data->SetLingerOption();
    } catch (const std::exception &) {
        if (handle != INVALID_SOCKET)
            ::close(handle);
        FailDataStep(426, "Unable to establish data connection, error #" + std::to_string(data->LastError()));
        return;
    }
    FSendSessionOpen = true;
    // The first block goes out from the loop once both the 150 and the connection are there.
    if (FStoreAccepted && FStartTicks == 0)
        PostNotification(WM_FTP_SENDDATA, 0);
}

void TCustomFtpCli::DataSocketPutSessionConnected(TCustomWSocket *, int Error)
{
    TWSocket *data = FDataSocket.get();
    data->OnSessionClosed = [this](TCustomWSocket *S, int E) { DataSocketPutSessionClosed(S, E); };
    // Anything the server sends on an upload's connection is read and dropped.
    data->OnDataAvailable = [this](TCustomWSocket *S, int E) { DataSocketPutDataAvailable(S, E); };
    data->OnDataSent = nullptr;
    FSendSessionOpen = true;
    FStartTicks = FtpTickCount();
    if (Error != 0) {
        FailDataStep(550, "Unable to establish data connection, error #" + std::to_string(Error));
        return;
    }
    StateChange(ftpWaitingResponse);
    FNextStep = &TCustomFtpCli::Next1PutAsync;
    SendCommand((FAppendFlag ? "APPE " : "STOR ") + FHostFileName);
}

void TCustomFtpCli::WMFtpSendData()
{
    FStartTicks = FtpTickCount();
    DataSocketPutDataSent(FDataSocket.get(), 0);
}

void TCustomFtpCli::DataSocketPutDataSent(TCustomWSocket *, int Error)
{
    if (!FLocalStream)
        return;
    TWSocket *data = FDataSocket.get();
    if (Progress()) {
        TriggerDisplay("! Abort requested");
        NoteTransferFault(426, "426 Transfer aborted by the application");
        data->Close();
        return;
    }
    if (!FLocalStream)  // the progress handler may have aborted everything
        return;
    if (Error != 0) {
        TriggerDisplay("! Error #" + std::to_string(Error) + " sending data");
        NoteTransferFault(426, "426 Error #" + std::to_string(Error) + " sending data");
        data->Close();
        return;
    }
    if (FEndOfFile || !FStoreAccepted || !FSendSessionOpen)
        return;
    const qint64 count = FLocalStream->read(FSendBlock, qint64(sizeof FSendBlock));
    if (count > 0) {
        FTransferCount += count;
        data->Send(FSendBlock, int(count));
    } else if (count == 0) {
        FEndOfFile = true;
        data->Close();  // the end of the data
    } else {
        TriggerDisplay("! Error reading file");
        NoteTransferFault(426, "426 Error reading file " + FLocalFileName);
        data->Close();
    }
}

void TCustomFtpCli::DataSocketPutDataAvailable(TCustomWSocket *, int)
{
    char discard[2048];
    FDataSocket->Receive(discard, int(sizeof discard));
}

void TCustomFtpCli::DataSocketPutSessionClosed(TCustomWSocket *, int Error)
{
    DestroyLocalStream();
    FPutDataClosed = true;
    FDataCloseError = Error;
    Next3PutAsync();
}

void TCustomFtpCli::Next1PutAsync()
{
    DisplayLastResponse();
    if (FReplyCode == 150 || FReplyCode == 125) {
        FNextStep = &TCustomFtpCli::Next2PutAsync;
        FStoreAccepted = true;
        if (FPassive) {
            FDataSocket->OnDataSent = [this](TCustomWSocket *S, int E) { DataSocketPutDataSent(S, E); };
            DataSocketPutDataSent(FDataSocket.get(), 0);
        } else if (FSendSessionOpen && FStartTicks == 0) {
            PostNotification(WM_FTP_SENDDATA, 0);
        }
        return;
    }
    EndRefusedTransfer();
}

void TCustomFtpCli::Next2PutAsync()
{
    DisplayLastResponse();
    if (FReplyCode == 226 || FReplyCode == 250) {
        FFinalReplyOk = true;
        Next3PutAsync();
        return;
    }
    EndFailedTransfer("! STOR Failed");
}

void TCustomFtpCli::Next3PutAsync()
{
    if (FFinalReplyOk && FPutDataClosed)
        FinishTransfer();
}
