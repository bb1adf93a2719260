// The data side of the FTP engine after the data step (FtpDataPort.cpp): REST, the receive steps
// RETR/LIST/NLST, the upload steps STOR/APPE, progress, and the end of a transfer, which
// needs both the data connection's close and the final reply, in either order.
//
// Where things live: the receive loop is DataSocketGetDataAvailable (one read per report, to
// the local file or OnDisplayFile); the send path is DataSocketPutDataSent (one block per
// report, the first one from Next1PutAsync or WMFtpSendData). Every transfer ends through
// EndTransferWhenDone or a failure that goes to TriggerRequestDone, which drops the data
// connection with its handlers, so nothing that happens on it later can change the verdict.
#include "ftp/FtpClient.h"
#include "ftp/FtpGatheredWrites.h"
#include "ftp/FtpReadAhead.h"
#include "ftp/FtpTransferText.h"
#include "net/Socket.h"

#include <QFile>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// Opens the local file by its bytes: a name that is not UTF-8 has no QString that Qt would
// turn back into the same bytes, so it is opened here and handed to QFile as a descriptor.
// Read only, read-write (existing file) or write only (created, truncated). opened, when
// given: the file's status as it was opened.
bool OpenLocalFile(QFile &file, const std::string &name, QIODevice::OpenMode mode, struct stat *opened = nullptr)
{
    int flags = O_CLOEXEC | O_RDONLY;
    if ((mode & QIODevice::ReadWrite) == QIODevice::ReadWrite)
        flags = O_CLOEXEC | O_RDWR;
    else if (mode & QIODevice::WriteOnly)
        flags = O_CLOEXEC | O_WRONLY | O_CREAT | O_TRUNC;
    const int fd = ::open(name.c_str(), flags, 0666);
    if (fd < 0)
        return false;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode) || !file.open(fd, mode & ~QIODevice::Truncate, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    if (opened)
        *opened = info;
    return true;
}

const char *ReceiveCommandWord(TFtpRequest RqType)
{
    switch (RqType) {
    case ftpDirAsync: return "LIST";
    case ftpLsAsync: return "NLST";
    default: return "RETR";
    }
}

std::string NoDataPortReply(int Code, const std::string &PasvReply)
{
    return std::to_string(Code) + " No data port in the passive reply \"" + PasvReply + "\"";
}

} // namespace

// ---- Restart step ------------------------------------------------------------------------

void TCustomFtpCli::RestAsync()
{
    if (!CheckCommand())
        return;
    FCurrentStep = ftpFctRest;
    // Downloads resume where the local file ends; uploads use the offset the caller set.
    if (FRequestType != ftpRestPutAsync && FRequestType != ftpRestartPutAsync &&
        !(FOptions & OptBit(ftpNoAutoResumeAt))) {
        struct stat status {};
        if (FLocalFileHandle >= 0)
            FRestartOffset = ::fstat(FLocalFileHandle, &status) == 0 ? qint64(status.st_size) : -1;
        else
            FRestartOffset = ::stat(FLocalFileName.c_str(), &status) == 0 && S_ISREG(status.st_mode) ? qint64(status.st_size) : -1;
    }
    if (FRestartOffset <= 0) {
        BeginStep(ftpRestAsync);
        FNextStep = &TCustomFtpCli::NextExecAsync;
        FDoneHook = nullptr;
        TriggerRequestDone(0);
        return;
    }
    ExecAsync(ftpRestAsync, "REST " + std::to_string(FRestartOffset), {}, nullptr);
}

// ---- Shared pieces -----------------------------------------------------------------------

void TCustomFtpCli::DropDataConnection()
{
    TWSocket *data = FDataSocket.get();
    data->OnSessionAvailable = nullptr;
    data->OnSessionConnected = nullptr;
    data->OnSessionClosed = nullptr;
    data->OnDataAvailable = nullptr;
    data->OnDataSent = nullptr;
    if (data->State() != wsClosed) {
        try {
            // An upload dropped before its end must not look complete to the server.
            if (FDataDirection == dataUpload && !FEndOfFile)
                data->ResetConnection();
            else
                data->Close();
        } catch (const std::exception &) {
            // the handle is gone either way
        }
    }
    if (FAcceptedHandle >= 0)
        ::close(std::exchange(FAcceptedHandle, -1));
    FDataDirection = dataNone;
}

void TCustomFtpCli::CutUpload(const std::string &Shown, int Code, const std::string &Text)
{
    TriggerDisplay("! " + Shown);
    NoteTransferFault(Code, Text);
    // A reset, not an orderly end: the server must not store the part it got as the file.
    FDataSocket->ResetConnection();
}

void TCustomFtpCli::NoteTransferFault(int Code, const std::string &Text)
{
    if (FTransferFault == 0) {
        FTransferFault = Code;
        FTransferFaultText = Text;
    }
}

void TCustomFtpCli::WaitForDataConnection()
{
    StateChange(ftpWaitingResponse);
    // Nothing is owed a reply yet: a stray line meanwhile is only shown.
    FNextStep = &TCustomFtpCli::DisplayLastResponse;
}

void TCustomFtpCli::SendTransferCommand()
{
    StateChange(ftpWaitingResponse);
    if (FDataDirection == dataReceive) {
        FNextStep = &TCustomFtpCli::Next1GetAsync;
        SendCommand(FHostFileName.empty() ? FDataCommand : FDataCommand + " " + FHostFileName);
    } else {
        FNextStep = &TCustomFtpCli::Next1PutAsync;
        SendCommand((FAppendFlag ? "APPE " : "STOR ") + FHostFileName);
    }
}

void TCustomFtpCli::EndTransferWhenDone()
{
    if (!FFinalReplyOk || !FDataClosed)
        return;
    TransfertStats();
    int result = FDataCloseError;
    if (FTransferFault != 0) {
        // Data lost on the way (or the transfer aborted) is no success, whatever the server said.
        result = FTransferFault;
        FReplyCode = FTransferFault;
        if (FErrorMessage.empty())
            FErrorMessage = FTransferFaultText;
    } else if (FDataCloseError != 0 && FErrorMessage.empty()) {
        FErrorMessage = "Data connection closed with error #" + std::to_string(FDataCloseError);
    }
    FRestartOffset = 0;
    TriggerRequestDone(result);
}

void TCustomFtpCli::DestroyLocalStream()
{
    // What a download gathered goes to the file first: a file left by a failure or an
    // abort holds every byte received, ready for a resume.
    if (FLocalWrites) {
        FLocalWrites->Flush();
        FLocalWrites.reset();
    }
    if (FLocalReads)
        FLocalReads->Stop();
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

// ---- The data connection -----------------------------------------------------------------

void TCustomFtpCli::DataSocketSessionAvailable(TCustomWSocket *, int)
{
    TWSocket *data = FDataSocket.get();
    TSocket handle = INVALID_SOCKET;
    try {
        handle = data->Accept();
    } catch (const std::exception &) {
    }
    if (handle == INVALID_SOCKET) {
        // No connection will come for this transfer: it fails once the server has answered.
        NoteTransferFault(550, "Unable to establish data connection, error #" + std::to_string(data->LastError()));
        DropDataConnection();
        FDataClosed = true;
        EndTransferWhenDone();
        return;
    }
    if (!DataPeerIsServer()) {
        // Anyone may reach the announced port first; only the server gets to send or receive.
        ::close(handle);
        TriggerDisplay("! Data connection from " + data->Sin().Text() +
                       " refused: not the server's address");
        return;
    }
    FAcceptedHandle = handle;
    data->OnSessionAvailable = nullptr;
    data->Close();  // the listener: one connection per transfer
    if (FDataDirection != dataNone)
        AdoptDataConnection();
}

void TCustomFtpCli::HookDataSocket()
{
    TWSocket *data = FDataSocket.get();
    data->OnSessionClosed = [this](TCustomWSocket *S, int E) { DataSocketSessionClosed(S, E); };
    if (FDataDirection == dataReceive) {
        data->OnDataAvailable = [this](TCustomWSocket *S, int E) { DataSocketGetDataAvailable(S, E); };
        data->OnDataSent = nullptr;
        return;
    }
    // Anything the server sends on an upload's connection is read and dropped.
    data->OnDataAvailable = [this](TCustomWSocket *S, int E) { DataSocketPutDataAvailable(S, E); };
    // Passive uploads send their first block on the 150; the writable report must not.
    if (FPassive)
        data->OnDataSent = nullptr;
    else
        data->OnDataSent = [this](TCustomWSocket *S, int E) { DataSocketPutDataSent(S, E); };
}

void TCustomFtpCli::AdoptDataConnection()
{
    TWSocket *data = FDataSocket.get();
    HookDataSocket();
    try {
        data->Dup(std::exchange(FAcceptedHandle, -1));
        if (FDataDirection == dataUpload) {
            // The send-buffer size query of the original design had no use for its value: skipped.
            data->SetLingerOnOff(wsLingerOff);
            data->SetLingerTimeout(10);
            data->SetLingerOption();
        }
    } catch (const std::exception &) {
        NoteTransferFault(550, "Unable to establish data connection, error #" + std::to_string(data->LastError()));
        if (data->State() != wsClosed) {
            data->Close();  // its close handler marks the data connection ended
        } else {
            FDataClosed = true;
            EndTransferWhenDone();
        }
        return;
    }
    StartDataTls();
    if (FDataDirection == dataReceive) {
        FStartTicks = FtpTickCount();
        return;
    }
    FSendSessionOpen = true;
    // The first block goes out from the loop once both the 150 and the connection are there.
    if (FStoreAccepted && FStartTicks == 0)
        PostNotification(WM_FTP_SENDDATA, 0);
}

void TCustomFtpCli::DataSocketSessionConnected(TCustomWSocket *, int Error)
{
    if (Error != 0) {
        // Nothing was sent for this transfer yet, so no reply is owed: the step ends here.
        FailStep(550, "Unable to establish data connection, error #" + std::to_string(Error));
        return;
    }
    HookDataSocket();
    FStartTicks = FtpTickCount();
    if (FDataDirection == dataUpload)
        FSendSessionOpen = true;
    // The server starts its side of TLS after the command: waiting for the handshake first
    // would wait for ever.
    StartDataTls();
    SendTransferCommand();
}

void TCustomFtpCli::DataSocketSessionClosed(TCustomWSocket *, int Error)
{
    // A listing whose last line has no line end still delivers that line.
    if (FDisplayFileFlag && FDisplayFileMode == ftpLineByLine && FDataDirection == dataReceive)
        FtpFinishListing(FListingTail, [this](std::string &Line) { TriggerDisplayFile(Line); },
                         [this](qint64 Length) { TriggerListingLineDropped(Length); });
    if (FDataDirection == dataReceive && FLocalWrites && !FinishReceivedLineEnds()) {
        TriggerDisplay("! Error writing local file");
        NoteTransferFault(550, "550 Error writing local file " + FLocalFileName);
    }
    if (FDataDirection == dataUpload && !FEndOfFile)
        NoteTransferFault(426, "426 Data connection closed before the whole file was sent");
    // Without close_notify the end may be an attacker's cut, which the server's final reply
    // cannot see: what arrived is kept for a resume, the transfer fails.
    if (FDataDirection == dataReceive && FDataProtected && !FDataSocket->TlsCloseNotifyReceived()) {
        const std::string cut = "426 The encrypted data connection ended without close_notify: the data may be cut short";
        TriggerDisplay("! " + cut.substr(4));
        if (!FAcceptMissingCloseNotify)
            NoteTransferFault(426, cut);
    }
    DestroyLocalStream();
    FDataClosed = true;
    FDataCloseError = Error;
    EndTransferWhenDone();
}

bool TCustomFtpCli::FinishReceivedLineEnds()
{
    FLineEndsBuf.clear();
    if (FLineEndsActive)
        FReceiveLineEnds.Finish(FLineEndsBuf);
    return FLocalWrites->Write(FLineEndsBuf.data(), qint64(FLineEndsBuf.size())) && FLocalWrites->Flush();
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
    BeginStep(RqType);
    FDataCommand = word;
    FFinalReplyOk = false;
    FTransferCount = 0;
    FDataCloseError = 0;
    FListingTail = {};
    FReceiveLineEnds = {};
    FLineEndsActive = FConvertLineEnds && FType == 'A' && !FDisplayFileFlag;
    FStartTicks = FtpTickCount();
    if (FTransferFault != 0 && FDataClosed) {
        FailStep(FTransferFault, FTransferFaultText);   // the server's early connection failed
        return;
    }

    // A bad 227 reply is found before the local file is touched, so nothing is truncated.
    quint16 port = 0;
    if (FPassive && !FtpPassivePort(FPasvReply, port)) {
        FailStep(550, NoDataPortReply(550, FPasvReply));
        return;
    }

    if (!FDisplayFileFlag && !OpenLocalDownload()) {
        FailStep(550, "Unable to open local file " + FLocalFileName);
        return;
    }

    FDataDirection = dataReceive;
    // The command goes out only with a data connection able to come: a failed connect then
    // ends the step with no reply owed, and the control connection stays in step.
    WaitForDataConnection();
    if (FPassive) {
        ConnectPassiveData(port, 550);
        return;
    }
    SendTransferCommand();
    if (FAcceptedHandle >= 0)
        AdoptDataConnection();
}

bool TCustomFtpCli::OpenLocalDownload()
{
    DestroyLocalStream();
    const int handle = std::exchange(FLocalFileHandle, -1);
    std::unique_ptr<QFile> file;
    bool opened;
    if (handle >= 0) {
        // The caller's descriptor: the path is never opened again, so nothing swapped in at
        // the name meanwhile (a link, a pipe) can receive the data.
        file = std::make_unique<QFile>();
        opened = file->open(handle, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle) &&
                 (FRestartOffset > 0 || ::ftruncate(handle, 0) == 0) && file->seek(std::max<qint64>(FRestartOffset, 0));
    } else {
        // By the name's own bytes: a name that is not UTF-8 must reach the same file.
        file = std::make_unique<QFile>();
        if (FRestartOffset > 0) {
            // Resume: the existing file, kept as it is, written from the offset on.
            opened = OpenLocalFile(*file, FLocalFileName, QIODevice::ReadWrite | QIODevice::Unbuffered) &&
                     file->seek(FRestartOffset);
        } else {
            opened = OpenLocalFile(*file, FLocalFileName, QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
        }
    }
    if (!opened)
        return false;
    FLocalStream = std::move(file);
    // Writes are gathered by FLocalWrites: the file's own buffer would only copy them again.
    FLocalWrites = std::make_unique<TGatheredWrites>(*FLocalStream);
    return true;
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
    const int n = data->Receive(FRecvChunk, int(sizeof FRecvChunk));
    if (n < 0) {
        if (data->State() == wsConnected && data->LastError() != WSAEWOULDBLOCK) {
            TriggerDisplay("! Data: Receive error " + std::to_string(data->LastError()));
            NoteTransferFault(426, "426 Data: Receive error " + std::to_string(data->LastError()));
            data->Shutdown(2);
        }
        return;
    }
    if (n == 0)
        return;
    FTransferCount += n;

    if (FLocalWrites && !WriteReceived(n)) {
        TriggerDisplay("! Error writing local file");
        NoteTransferFault(550, "550 Error writing local file " + FLocalFileName);
        // Closed, not only shut down: the server must see the transfer end now, or it sends
        // on into a connection nobody reads until the wait times out.
        data->Close();
        return;
    }
    if (!FDisplayFileFlag)
        return;
    if (FDisplayFileMode == ftpBinary) {
        TriggerDisplayFile(std::string(FRecvChunk, std::size_t(n)));
        return;
    }
    FtpSplitListingChunk(FRecvChunk, n, FListingTail, [this](std::string &Line) { TriggerDisplayFile(Line); },
                         [this](qint64 Length) { TriggerListingLineDropped(Length); });
}

bool TCustomFtpCli::WriteReceived(int Count)
{
    if (!FLineEndsActive)
        return FLocalWrites->Write(FRecvChunk, Count);
    FLineEndsBuf.clear();
    FReceiveLineEnds.Convert(std::string_view(FRecvChunk, std::size_t(Count)), FLineEndsBuf);
    return FLocalWrites->Write(FLineEndsBuf.data(), qint64(FLineEndsBuf.size()));
}

void TCustomFtpCli::TriggerListingLineDropped(qint64 Length)
{
    if (OnListingLineDropped)
        OnListingLineDropped(this, Length);
}

void TCustomFtpCli::Next1GetAsync()
{
    DisplayLastResponse();
    if (FReplyCode == 150 || FReplyCode == 125) {
        FNextStep = &TCustomFtpCli::Next2GetAsync;
        return;
    }
    FailOnReply();
}

void TCustomFtpCli::Next2GetAsync()
{
    DisplayLastResponse();
    if (FReplyCode == 125 || FReplyCode == 226 || FReplyCode == 250) {
        FFinalReplyOk = true;
        EndTransferWhenDone();
        return;
    }
    TriggerDisplay("! RETR/LIST/NLST Failed");
    // The server's abort only answers our own fault (a local write that failed, a cancel):
    // that cause is what the user must read, not the 426 it provoked. A refusal (5xx) names
    // its own cause; a data connection reset that went with it is only a detail.
    if (FTransferFault != 0 && FErrorMessage.empty() && FReplyCode < 500)
        FErrorMessage = FTransferFaultText;
    FailOnReply();
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
    BeginStep(FAppendFlag ? ftpAppendAsync : ftpPutAsync);
    FFinalReplyOk = false;
    FSendSessionOpen = false;
    FStoreAccepted = false;
    FStartTicks = 0;
    FTransferCount = 0;
    FDataCloseError = 0;
    if (FTransferFault != 0 && FDataClosed) {
        FailStep(FTransferFault, FTransferFaultText);   // the server's early connection failed
        return;
    }

    bool cancel = false;
    TriggerReadyToTransmit(cancel);
    if (cancel) {
        FErrorMessage = "426 Transmit cancelled by application";
        FReplyCode = 426;
        TriggerDisplay("! " + FErrorMessage);
        TriggerRequestDone(426);
        return;
    }

    DestroyLocalStream();
    auto file = std::make_unique<QFile>();
    FEndOfFile = false;
    struct stat status {};
    if (!OpenLocalFile(*file, FLocalFileName, QIODevice::ReadOnly | QIODevice::Unbuffered, &status) ||
        (FRestartOffset > 0 && !file->seek(FRestartOffset))) {
        FErrorMessage = "426 Unable to open local file " + FLocalFileName;
        FReplyCode = 426;
        TriggerDisplay("! " + FErrorMessage);
        TriggerRequestDone(426);
        return;
    }
    // A file that changes while it is sent is no copy of anything: its size at opening is the yardstick.
    FLocalSizeAtOpen = qint64(status.st_size);
    FLocalStream = std::move(file);
    if (!FLocalReads)
        FLocalReads = std::make_unique<TReadAhead>();
    FLocalReads->Start(*FLocalStream);
    FSendLineEnds = {};
    FLineEndsActive = FConvertLineEnds && FType == 'A';

    FDataDirection = dataUpload;
    WaitForDataConnection();
    if (FPassive) {
        quint16 port = 0;
        if (!FtpPassivePort(FPasvReply, port)) {
            FailStep(426, NoDataPortReply(426, FPasvReply));
            return;
        }
        ConnectPassiveData(port, 426);
        return;
    }
    SendTransferCommand();
    if (FAcceptedHandle >= 0)
        AdoptDataConnection();
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
        CutUpload("Abort requested", 426, "426 Transfer aborted by the application");
        return;
    }
    if (!FLocalStream)  // the progress handler may have aborted everything
        return;
    if (Error != 0) {
        CutUpload("Error #" + std::to_string(Error) + " sending data", 426,
                  "426 Error #" + std::to_string(Error) + " sending data");
        return;
    }
    if (FEndOfFile || !FStoreAccepted || !FSendSessionOpen || !DataReady())
        return;
    qint64 count = 0;
    const char *block = FLocalReads->Next(SendBlockBytes, count);
    const qint64 sent = std::max<qint64>(FRestartOffset, 0) + FTransferCount;
    if (count < 0) {
        CutUpload("Error reading file", 426, "426 Error reading file " + FLocalFileName);
    } else if (sent + count > FLocalSizeAtOpen || (count == 0 && sent != FLocalSizeAtOpen)) {
        CutUpload("File changed while it was sent", 426, "426 File " + FLocalFileName + " changed while it was sent");
    } else if (count > 0) {
        // The count is of the file's bytes, so progress and the size check match the file.
        FTransferCount += count;
        if (FLineEndsActive) {
            FLineEndsBuf.clear();
            FSendLineEnds.Convert(std::string_view(block, std::size_t(count)), FLineEndsBuf);
            data->Send(FLineEndsBuf.data(), int(FLineEndsBuf.size()));
        } else {
            data->SendShared(FLocalReads->Chunk(), block, int(count));
        }
    } else {
        FEndOfFile = true;
        data->Close();  // the end of the data
    }
}

void TCustomFtpCli::DataSocketPutDataAvailable(TCustomWSocket *, int)
{
    char discard[2048];
    FDataSocket->Receive(discard, int(sizeof discard));
}

void TCustomFtpCli::Next1PutAsync()
{
    DisplayLastResponse();
    if (FReplyCode != 150 && FReplyCode != 125) {
        FailOnReply();
        return;
    }
    FNextStep = &TCustomFtpCli::Next2PutAsync;
    FStoreAccepted = true;
    if (FPassive) {
        FDataSocket->OnDataSent = [this](TCustomWSocket *S, int E) { DataSocketPutDataSent(S, E); };
        DataSocketPutDataSent(FDataSocket.get(), 0);
    } else if (FSendSessionOpen && FStartTicks == 0) {
        PostNotification(WM_FTP_SENDDATA, 0);
    }
}

void TCustomFtpCli::Next2PutAsync()
{
    DisplayLastResponse();
    if (FReplyCode == 226 || FReplyCode == 250) {
        FFinalReplyOk = true;
        EndTransferWhenDone();
        return;
    }
    TriggerDisplay("! STOR Failed");
    FailOnReply();
}
