#pragma once
// FTP client engine: one FTP session to one server over a control connection and per-transfer
// data connections. TCustomFtpCli is the asynchronous engine (every operation is a request that
// returns at once and ends with the request-done signal); TFtpClient adds the synchronous
// operations that run the event loop until the request is over.
//
// Files: FtpClient.cpp holds the component and its properties; FtpRequestLifecycle.cpp the
// request lifecycle and the one place a request ends; FtpControlConnection.cpp the control
// connection, reply assembly and the command sequencer; FtpConnectAddresses.cpp the walk over
// the addresses of the host's name; FtpOperations.cpp the single-command and high-level
// operations (GetAsync, DirAsync ...: they only name their steps) and the step sequencer;
// FtpClientSync.cpp holds TFtpClient; FtpDataPort.cpp the data step (PortAsync: EPSV or PASV,
// EPRT or PORT) and where data connections may go; FtpDataTransfer.cpp the rest of the data
// side: RestAsync, ExecGetAsync, ExecDirAsync, ExecLsAsync, ExecPutAsync, ExecAppendAsync,
// Progress, TransfertStats, TriggerDisplayFile, TriggerReadyToTransmit and every member of the "Data
// connection and transfers" section below. The pure reply parsers live in FtpReplyParser.h.

#include "ftp/FtpLineEnds.h"
#include "ftp/FtpReplyParser.h"
#include "ftp/FtpTransferText.h"
#include "net/SocketAddress.h"

#include <QtGlobal>

#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class QEventLoop;
class QObject;
class QFile;
class TGatheredWrites;
class TReadAhead;
class QTimer;
class TCustomWSocket;
class TWSocket;
class TTlsClientContext;
struct TTlsPeerInfo;

// The component's error: a broken precondition (a request while busy, a missing name, ...).
class FtpException : public std::runtime_error {
public:
    explicit FtpException(const std::string &Msg) : std::runtime_error(Msg) {}
};

enum TFtpState {
    ftpNotConnected,
    ftpReady,
    ftpInternalReady,
    ftpDnsLookup,
    ftpConnected,
    ftpAbort,
    ftpInternalAbort,   // declared for completeness; nothing enters it
    ftpWaitingBanner,
    ftpWaitingResponse,
};

enum TFtpRequest {
    ftpNone, ftpOpenAsync, ftpUserAsync, ftpPassAsync, ftpCwdAsync, ftpConnectAsync,
    ftpReceiveAsync, ftpDirAsync, ftpLsAsync, ftpPortAsync, ftpGetAsync, ftpDirectoryAsync,
    ftpListAsync, ftpSystemAsync, ftpSystAsync, ftpQuitAsync, ftpSizeAsync, ftpPutAsync,
    ftpAppendAsync, ftpFileSizeAsync, ftpRqAbort, ftpMkdAsync, ftpRmdAsync, ftpRenameAsync,
    ftpDeleAsync, ftpRenAsync, ftpRenToAsync, ftpRenFromAsync, ftpDeleteAsync, ftpMkdirAsync,
    ftpRmdirAsync, ftpPwdAsync, ftpQuoteAsync, ftpCDupAsync, ftpDoQuoteAsync, ftpTransmitAsync,
    ftpTypeSetAsync, ftpRestAsync, ftpRestGetAsync, ftpRestartGetAsync, ftpRestPutAsync,
    ftpRestartPutAsync,
};

// The steps of a high-level operation.
enum TFtpFct {
    ftpFctNone, ftpFctOpen, ftpFctUser, ftpFctPass, ftpFctCwd, ftpFctSize, ftpFctMkd, ftpFctRmd,
    ftpFctRenFrom, ftpFctRenTo, ftpFctGet, ftpFctDir, ftpFctQuit, ftpFctSyst, ftpFctDele,
    ftpFctPwd, ftpFctQuote, ftpFctPut, ftpFctTypeSet, ftpFctRest, ftpFctCDup, ftpFctLs,
    ftpFctAppend, ftpFctPort,
};
// A set of steps: bit n for step n.
using TFtpFctSet = std::uint32_t;
constexpr TFtpFctSet FctBit(TFtpFct f) { return TFtpFctSet(1) << unsigned(f); }
template <typename... F>
constexpr TFtpFctSet FctSet(F... f) { return (TFtpFctSet(0) | ... | FctBit(f)); }

enum TFtpShareMode {
    ftpShareCompat, ftpShareExclusive, ftpShareDenyWrite, ftpShareDenyRead, ftpShareDenyNone,
};

enum TFtpDisplayFileMode { ftpLineByLine, ftpBinary };

enum TFtpConnectionType { ftpDirect, ftpProxy, ftpSocks4, ftpSocks4A, ftpSocks5 };

// FTP over TLS (explicit, AUTH TLS): never, when the server offers it, or required.
enum TFtpEncryption { ftpEncryptNone, ftpEncryptIfAvailable, ftpEncryptRequire };

enum TFtpOption { ftpAcceptLF, ftpNoAutoResumeAt };
// A set of options: bit n for option n.
using TFtpOptions = std::uint32_t;
constexpr TFtpOptions OptBit(TFtpOption o) { return TFtpOptions(1) << unsigned(o); }

class TCustomFtpCli;

using TFtpDisplay = std::function<void(TCustomFtpCli *Sender, std::string &Msg)>;
using TFtpCommand = std::function<void(TCustomFtpCli *Sender, std::string &Cmd)>;
using TFtpNotify = std::function<void(TCustomFtpCli *Sender)>;
using TFtpLineDropped = std::function<void(TCustomFtpCli *Sender, qint64 Length)>;
using TFtpProgress = std::function<void(TCustomFtpCli *Sender, qint64 Count, bool &Abort)>;
using TFtpSessionEvent = std::function<void(TCustomFtpCli *Sender, int Error)>;
using TFtpRequestDone = std::function<void(TCustomFtpCli *Sender, TFtpRequest RqType, int Error)>;
using TFtpReadyToTransmit = std::function<void(TCustomFtpCli *Sender, bool &bCancel)>;
using TFtpBgException =
    std::function<void(TCustomFtpCli *Sender, const std::exception &E, bool &CanClose)>;
using TFtpError = std::function<void(TCustomFtpCli *Sender, std::string &Msg)>;
using TFtpVerifyCertificate = std::function<void(TCustomFtpCli *Sender, const TTlsPeerInfo &Peer, bool &Accept)>;
using TFtpTlsNote = std::function<void(TCustomFtpCli *Sender, int Level, const std::string &Text)>;
using TFtpPlainLogin = std::function<void(TCustomFtpCli *Sender, bool &Allow, std::string &Refusal)>;

class TCustomFtpCli {
public:
    TCustomFtpCli();
    virtual ~TCustomFtpCli();
    TCustomFtpCli(const TCustomFtpCli &) = delete;
    TCustomFtpCli &operator=(const TCustomFtpCli &) = delete;

    // ---- Properties ----
    const std::string &HostName() const { return FHostName; }          // server (target host also via proxy)
    void SetHostName(const std::string &v) { FHostName = v; }
    const std::string &Port() const { return FPort; }                  // service name or number of the control connection
    void SetPort(const std::string &v) { FPort = v; }
    const std::string &UserName() const { return FUserName; }          // login name
    void SetUserName(const std::string &v) { FUserName = v; }
    const std::string &PassWord() const { return FPassWord; }          // login password
    void SetPassWord(const std::string &v) { FPassWord = v; }
    const std::string &HostDirName() const { return FHostDirName; }    // argument of CWD
    void SetHostDirName(const std::string &v) { FHostDirName = v; }
    const std::string &HostFileName() const { return FHostFileName; }  // remote name of transfers, SIZE, MKD, RMD, DELE, RNFR
    void SetHostFileName(const std::string &v) { FHostFileName = v; }
    const std::string &LocalFileName() const { return FLocalFileName; } // local file; new name of RNTO; text of QUOTE
    void SetLocalFileName(const std::string &v);
    int LocalFileHandle() const { return FLocalFileHandle; }          // open file the next download writes to (-1: open LocalFileName)
    void SetLocalFileHandle(int v) { FLocalFileHandle = v; }           // not owned: the caller closes it
    bool DisplayFileFlag() const { return FDisplayFileFlag; }          // received data goes to OnDisplayFile
    void SetDisplayFileFlag(bool v) { FDisplayFileFlag = v; }
    bool Binary() const { return FType == 'I'; }                       // TYPE I (true) or A (false)
    void SetBinary(bool v);
    // ASCII file transfers (RETR, STOR, APPE in TYPE A) convert the wire's CR LF to the local
    // file's LF and back; off, the bytes go as they are, as binary ones always do.
    bool ConvertLineEnds() const { return FConvertLineEnds; }
    void SetConvertLineEnds(bool v) { FConvertLineEnds = v; }
    const std::string &ErrorMessage() const { return FErrorMessage; }  // first failure since last cleared
    TFtpShareMode ShareMode() const;                                   // sharing mode of the local file
    void SetShareMode(TFtpShareMode v);
    TFtpOptions Options() const { return FOptions; }                   // ftpAcceptLF, ftpNoAutoResumeAt
    void SetOptions(TFtpOptions v) { FOptions = v; }
    TFtpConnectionType ConnectionType() const { return FConnectionType; }
    void SetConnectionType(TFtpConnectionType v);                      // refused while connected
    const std::string &ProxyServer() const { return FProxyServer; }    // FTP proxy used with ftpProxy
    void SetProxyServer(const std::string &v) { FProxyServer = v; }
    std::string SocksPassword() const;                                 // SOCKS settings: kept in both sockets
    void SetSocksPassword(const std::string &v);
    std::string SocksPort() const;
    void SetSocksPort(const std::string &v);
    std::string SocksServer() const;
    void SetSocksServer(const std::string &v);
    std::string SocksUserCode() const;
    void SetSocksUserCode(const std::string &v);

    TFtpState State() const { return FState; }                         // current state; changes fire OnStateChange
    bool GetConnected() const;                                         // control socket not closed
    int ReplyCode() const { return FReplyCode; }                       // code of the last reply line examined
    const std::string &LastReply() const { return FLastReply; }        // last reply line, line end removed
    const std::string &ReplyDirectory() const { return FReplyDirectory; } // quoted name of the last CWD/MKD/PWD/CDUP
    qint64 ReplySize() const { return FReplySize; }                    // size from the last SIZE reply
    qint64 RestartOffset() const { return FRestartOffset; }            // resume offset of a transfer
    void SetRestartOffset(qint64 v) { FRestartOffset = v; }
    qint64 TransferCount() const { return FTransferCount; }            // bytes moved in this transfer
    TFtpFct CurrentStep() const { return FCurrentStep; }               // step in flight; after a failure, the one that failed
    TFtpRequest RequestType() const { return FRequestType; }           // request running or last finished
    int RequestResult() const { return FRequestResult; }               // 0 or the code that failed the last request
    // Passive (true) or active data connections: passive is EPSV (PASV on IPv4 once the
    // server refused EPSV), active is PORT on IPv4 and EPRT on IPv6.
    bool Passive() const { return FPassive; }
    void SetPassive(bool v);
    int ConnectTimeout() const { return FConnectTimeout; }            // seconds each address of the host may take; 0: the system's own limit
    void SetConnectTimeout(int v) { FConnectTimeout = v; }
    const std::string &ConnectedAddress() const { return FDnsResult; } // the address the control connection went to
    TFtpDisplayFileMode DisplayFileMode() const { return FDisplayFileMode; }
    void SetDisplayFileMode(TFtpDisplayFileMode v);
    TFtpEncryption Encryption() const { return FEncryption; }         // AUTH TLS policy of the next Open
    void SetEncryption(TFtpEncryption v) { FEncryption = v; }
    bool Encrypted() const;                                            // the control connection runs TLS
    bool DataProtected() const { return FDataProtected; }              // PROT P in force: data connections run TLS
    // A protected data connection that ends without close_notify may have been cut: a
    // failed transfer, unless this is set for a server known never to send it.
    bool AcceptMissingCloseNotify() const { return FAcceptMissingCloseNotify; }
    void SetAcceptMissingCloseNotify(bool v) { FAcceptMissingCloseNotify = v; }
    const TTlsPeerInfo &TlsPeer() const;                               // the control connection's handshake
    TWSocket *ControlSocket() const { return FControlSocket.get(); }
    TWSocket *DataSocket() const { return FDataSocket.get(); }

    // ---- Events ----
    TFtpDisplay OnDisplay;                   // every display text ("> ", "< ", "! ")
    TFtpDisplay OnDisplayFile;               // received lines or chunks when DisplayFileFlag is set
    TFtpLineDropped OnListingLineDropped;    // a listing line too long to keep was skipped
    TFtpCommand OnCommand;                   // before a command goes out; may change it
    TFtpNotify OnResponse;                   // after each reply line was stored in LastReply
    TFtpProgress OnProgress;                 // before each data read and each block sent
    TFtpSessionEvent OnSessionConnected;     // after the 220 greeting
    TFtpSessionEvent OnSessionClosed;        // the control connection closed after it had opened
    TFtpRequestDone OnRequestDone;           // from the event loop, after a request ended
    TFtpNotify OnStateChange;                // after every change of State
    TFtpReadyToTransmit OnReadyToTransmit;   // start of each STOR/APPE, before the file is opened
    TFtpBgException OnBgException;           // exception escaped a deferred notification
    TFtpError OnError;                       // when set, errors call it instead of raising FtpException
    // A certificate OpenSSL did not verify (untrusted, expired, other name): Accept (false
    // on entry) lets the connection go on. Unassigned: such a certificate ends it.
    TFtpVerifyCertificate OnVerifyCertificate;
    TFtpTlsNote OnTlsNote;                   // encryption news: Level 0 a downgrade, 1 progress
    // IfAvailable and the server does not offer TLS: Allow (true when unset) lets USER go in
    // clear; otherwise the connection ends with Refusal ("534 ...") before USER.
    TFtpPlainLogin OnPlainLogin;
    // Forgets every handler above: an owner calls it first in its destructor, so a socket
    // closed while the client goes can no longer call into the half-destroyed owner.
    void DropHandlers();

    // ---- Virtual operations, in slot order ----
    virtual void SendCommand(const std::string &Cmd);      // display "> " and send one command line
    virtual void TriggerDisplay(const std::string &Msg);   // OnDisplay
    virtual void TriggerReadyToTransmit(bool &bCancel);    // OnReadyToTransmit
    virtual void TriggerDisplayFile(const std::string &Msg); // OnDisplayFile
    void TriggerListingLineDropped(qint64 Length);         // OnListingLineDropped
    virtual void TriggerError(const std::string &Msg);     // OnError
    virtual bool Progress();                               // OnProgress; true when aborted
    virtual void PortAsync();                              // data step: EPSV/PASV or PORT/EPRT
    virtual void TransfertStats();                         // statistics line at the end of a transfer
    virtual void HandleBackGroundException(const std::exception &E); // OnBgException
    virtual void OpenAsync();                  // name lookup, connect, greeting
    virtual void UserAsync();                  // USER
    virtual void PassAsync();                  // PASS
    virtual void ConnectAsync();               // Open, User, Pass
    virtual void QuitAsync();                  // QUIT, then close
    virtual void AbortAsync();                 // close everything at once; any state
    virtual void GetAsync();                   // Port, Get
    virtual void ExecGetAsync();               // RETR step
    virtual void ReceiveAsync();               // Open .. Get, Quit
    virtual void PutAsync();                   // Port, Put
    virtual void ExecPutAsync();               // STOR step
    virtual void TransmitAsync();              // Open .. Put, Quit
    virtual void AppendAsync();                // Port, Append
    virtual void ExecAppendAsync();            // APPE step
    virtual void AppendFileAsync();            // Open .. Append, Quit
    virtual void ExecDirAsync();               // LIST step
    virtual void DirAsync();                   // Port, Dir
    virtual void ExecLsAsync();                // NLST step
    virtual void LsAsync();                    // Port, Ls
    virtual void TypeSetAsync();               // TYPE I or A
    virtual void TypeBinaryAsync();            // Binary := true, TYPE
    virtual void TypeAsciiAsync();             // Binary := false, TYPE
    virtual void PwdAsync();                   // PWD
    virtual void CwdAsync();                   // CWD
    virtual void CDupAsync();                  // CDUP
    virtual void DirectoryAsync();             // Open, User, Pass, Cwd, Port, Dir, Quit
    virtual void ListAsync();                  // Open, User, Pass, Cwd, Port, Ls, Quit
    virtual void SystAsync();                  // SYST
    virtual void SystemAsync();                // Open, User, Pass, Syst, Quit
    virtual void SizeAsync();                  // SIZE
    virtual void FileSizeAsync();              // Open, User, Pass, Cwd, Size, Quit
    virtual void MkdAsync();                   // MKD
    virtual void MkdirAsync();                 // Open, User, Pass, Cwd, Mkd, Quit
    virtual void RmdAsync();                   // RMD
    virtual void RmdirAsync();                 // Open, User, Pass, Cwd, Rmd, Quit
    virtual void DeleAsync();                  // DELE
    virtual void DeleteAsync();                // Open, User, Pass, Cwd, Dele, Quit
    virtual void RenFromAsync();               // RNFR
    virtual void RenToAsync();                 // RNTO (new name in LocalFileName)
    virtual void RenAsync();                   // RenFrom, RenTo
    virtual void RenameAsync();                // Open, User, Pass, Cwd, RenFrom, RenTo, Quit
    virtual void QuoteAsync();                 // LocalFileName as the whole command line
    virtual void DoQuoteAsync();               // Open, User, Pass, Cwd, Quote, Quit
    virtual void RestAsync();                  // REST (nothing when the offset is 0 or less)
    virtual void RestGetAsync();               // Port, Rest, Get
    virtual void RestartGetAsync();            // Open .. Rest, Get, Quit
    virtual void RestPutAsync();               // Port, Rest, Put
    virtual void RestartPutAsync();            // Open .. Rest, Put, Quit

protected:
    using TStep = void (TCustomFtpCli::*)();   // a next-step handler, a done hook or a continuation

    // ---- Request lifecycle (FtpRequestLifecycle.cpp) ----
    bool CheckReady();                                     // refuse unless ftpReady/ftpInternalReady
    void StateChange(TFtpState NewState);                  // the one way State changes
    void BeginStep(TFtpRequest RqType);                    // a request or one of its steps starts
    // The one place a step ends, once: Result 0 goes on with the next step of a running
    // high-level operation; otherwise the request ends here with Result (Error is the word
    // OnRequestDone reports: Result, or the socket error number behind it).
    void TriggerRequestDone(int Result, int Error);
    void TriggerRequestDone(int Result) { TriggerRequestDone(Result, Result); }
    void FailStep(int Code, const std::string &Reply);     // end with a made-up reply line
    void FailOnReply();                                    // end with the reply just received
    static int FailureCode(int Code) { return Code != 0 ? Code : 500; } // a code 0 is no success
    virtual void RequestEnded() {}                         // after a request ended; the wait wakes
    // The user was asked, or another address is tried: the wait's limit starts again, and
    // lasts at least AtLeastMs.
    virtual void RestartTimeLimit(qint64 AtLeastMs = 0) { (void)AtLeastMs; }
    void SetErrorMessage();                                // ErrorMessage := LastReply if empty
    void SetErrorMessageText(const std::string &Text) { FErrorMessage = Text; } // replaces it
    void HandleError(const std::string &Msg);              // OnError or FtpException; the caller stops
    void DisplayLastResponse();                            // "< " + LastReply
    void PostNotification(int Msg, int Error);             // queue a deferred notification
    bool CheckCommandText(const std::string &Text);        // refuse CR/LF inside a command line
    bool CheckCommand();                                   // ready and connected, else refuse

    // ---- Control connection, commands, sequencer (FtpControlConnection.cpp, FtpOperations.cpp) ----
    void ExecAsync(TFtpRequest RqType, const std::string &Cmd, std::initializer_list<int> OkResponses,
                   TStep DoneAsync);                       // start one command
    void SendExpecting(const std::string &Cmd, std::initializer_list<int> OkResponses,
                       TStep DoneAsync);                   // send a command of the step, await its reply
    void NextExecAsync();                                  // NextStep of a plain command
    void ExtractMoreResults();                             // SIZE number, quoted directory name
    void HighLevelAsync(TFtpRequest RqType, TFtpFctSet Fcts); // start a multi-step operation
    void DoHighLevelAsync();                               // run the next step
    void StepRefused(const std::string &Msg);              // a step refused to start: end the operation
    void DoneQuitAsync();                                  // DoneHook of QUIT: close the connection
    void ControlSocketDnsLookupDone(TCustomWSocket *Sender, int Error);
    void ControlSocketSessionConnected(TCustomWSocket *Sender, int Error);
    void ConnectAddress();                                 // connect to FConnectAddresses[FConnectIndex]
    bool TryNextAddress(const std::string &Why);           // that address failed: the next one, if any
    void ConnectAttemptTimedOut();                         // the connect timer: this address took too long
    std::string ConnectTarget() const;                     // the name connected to, as typed (host or proxy)
    void ControlSocketDataAvailable(TCustomWSocket *Sender, int Error);
    void ControlSocketSessionClosed(TCustomWSocket *Sender, int Error);
    bool HandleReplyLine(int Error);                       // act on one reply line; true: stop reading
    void ReplyTooLong();                                   // a reply line that cannot fit the buffer
    void CloseControl();                                   // close the control connection from the engine
    void DeliverRequestDone(TFtpRequest RqType, int Error); // the queued notification: OnRequestDone
    void WndProc(int Msg, int Error, TFtpRequest RqType);  // dispatch with the request it was queued for
    static std::string ExceptionClassName(const std::exception &E); // "ESocketException", ... for made-up replies

    // ---- FTP over TLS (FtpTls.cpp) ----
    bool StartAuthTls();                                   // after the greeting: AUTH TLS unless None
    void NextAuthAsync();                                  // reply to AUTH TLS
    void ControlSocketTlsDone(TCustomWSocket *Sender, int Error);
    void NoteNotEncrypted(const std::string &Why);         // logged, and told to the window's lock
    void EndOpenInPlain(const std::string &Why);           // IfAvailable without TLS: logged, Open ends well
    void OfferPlainLogin();                                // IfAvailable without TLS: OnPlainLogin decides
    void RefuseOpen(const std::string &Text);              // ends the connection before USER
    void ProtectAfterLogin();                              // DoneHook of PASS/USER: PBSZ 0, PROT P
    void NextPbszAsync();
    void NextProtAsync();
    void StartDataTls();                                   // the data connection is there: its handshake
    void DataSocketTlsDone(TCustomWSocket *Sender, int Error);
    void ShowDataFault(const std::string &Fault);
    bool DataReady() const { return !FDataTlsPending; }    // a protected connection finished its handshake

    // ---- Data connection and transfers (FtpDataTransfer.cpp) ----
    // A transfer: the data step opens a listener (active) or reads the 227 port (passive); the
    // transfer step opens the local file and, once the data connection is there (accepted
    // from the server's address only, or connected), sends RETR/LIST/NLST/STOR/APPE. It ends
    // through EndTransferWhenDone when both the final reply and the data close have come.
    enum TDataDirection { dataNone, dataReceive, dataUpload };
    void DoGetAsync(TFtpRequest RqType);                   // start RETR, LIST or NLST
    void DoPutAppendAsync();                               // start STOR or APPE
    void WaitForDataConnection();                          // busy, no reply owed until the command goes
    void SendTransferCommand();                            // the command, once the data connection can come
    void Next1GetAsync();                                  // preliminary reply of a receive
    void Next2GetAsync();                                  // final reply of a receive
    void Next1PutAsync();                                  // preliminary reply of an upload
    void Next2PutAsync();                                  // final reply of an upload
    void EndTransferWhenDone();                            // final reply and data close both in: end
    void DataSocketSessionAvailable(TCustomWSocket *Sender, int Error); // active: the server connects
    void DataSocketSessionConnected(TCustomWSocket *Sender, int Error); // passive: our connect is done
    void AdoptDataConnection();                            // the accepted connection becomes DataSocket
    void HookDataSocket();                                 // data handlers for the transfer's direction
    void DataSocketGetDataAvailable(TCustomWSocket *Sender, int Error);
    bool WriteReceived(int Count);                         // Count bytes of FRecvChunk to the file, line ends converted if asked
    bool FinishReceivedLineEnds();                         // a CR still waiting, then every gathered byte, to the file
    void DataSocketPutDataSent(TCustomWSocket *Sender, int Error);
    void DataSocketPutDataAvailable(TCustomWSocket *Sender, int Error);
    void DataSocketSessionClosed(TCustomWSocket *Sender, int Error); // the data connection ended
    void WMFtpSendData();                                  // deferred: send the first upload block
    void DestroyLocalStream();                             // write out what a download gathered, close the local file
    void DropDataConnection();                             // handlers off, listener/connection closed
    void CutUpload(const std::string &Shown, int Code, const std::string &Text); // fail the upload; the server sees a reset
    bool OpenLocalDownload();                              // the local file of a download, at its offset
    void NoteTransferFault(int Code, const std::string &Text); // first local fault: fails the transfer
    bool ConnectPassiveData(quint16 DataPort, int FailCode); // connect to the 229/227 port at the control address
    bool DataPeerIsServer();                               // the accepted peer is the control's peer
    bool ControlIsIPv6();                                  // the control connection runs over IPv6
    bool ControlNames();                                   // FControlLocal and FControlPeer are known
    std::string ActiveDataCommand(const TSockAddr &Local, const TSockAddr &Remote, quint16 Port); // PORT or EPRT
    void NextEpsvAsync();                                  // reply to EPSV: its port, or PASV after a refusal

    // Deferred notifications of the component's event endpoint.
    static constexpr int WM_FTP_REQUEST_DONE = 1025;
    static constexpr int WM_FTP_SENDDATA = 1026;

    // ---- Properties' storage ----
    std::string FHostName;
    std::string FPort = "ftp";
    std::string FUserName;
    std::string FPassWord;
    std::string FHostDirName;
    std::string FHostFileName;
    std::string FLocalFileName;
    int FLocalFileHandle = -1;                             // taken by the next download step
    bool FDisplayFileFlag = false;
    char FType = 'I';                                      // 'I' binary, 'A' ASCII
    bool FConvertLineEnds = false;                         // ASCII transfers convert line ends
    std::string FErrorMessage;
    int FShareMode = 16;                                   // platform sharing bits
    TFtpOptions FOptions = OptBit(ftpAcceptLF);
    TFtpConnectionType FConnectionType = ftpDirect;
    std::string FProxyServer;
    TFtpState FState = ftpReady;
    int FReplyCode = 0;
    std::string FLastReply;
    std::string FReplyDirectory;
    qint64 FReplySize = 0;
    qint64 FRestartOffset = 0;
    qint64 FTransferCount = 0;
    TFtpRequest FRequestType = ftpNone;
    bool FPassive = false;
    TFtpDisplayFileMode FDisplayFileMode = ftpLineByLine;

    // ---- Engine state (control side) ----
    std::unique_ptr<QObject> FEndpoint;                    // receives the queued notifications
    std::unique_ptr<TWSocket> FControlSocket;              // the control connection
    std::unique_ptr<TWSocket> FDataSocket;                 // the data connection (reused per transfer)
    int FRequestResult = 0;                                // 0 or the code that failed the request
    bool FRequestDoneSignalled = false;                    // the running step has ended (one end per step)
    bool FInSequence = false;                              // a high-level operation is running
    TFtpFctSet FRemainingSteps = 0;                        // steps not yet started
    TFtpFct FCurrentStep = ftpFctNone;                     // step whose command is in flight
    TStep FSequenceContinuation = nullptr;                 // next step after a successful one
    std::string FSavedReply;                               // reply of the last real step, across QUIT
    int FSavedReplyCode = -1;                              // -1: nothing saved
    int FAcceptedCodes[17] = {0};                          // success codes, 0-terminated; {0}: below 500
    TStep FNextStep = nullptr;                             // handler of the next final reply
    TStep FDoneHook = nullptr;                             // called instead of the done signal
    FtpReplyBuffer FReplyBuffer;                           // control bytes not yet split into lines
    std::string FDnsResult;                                // address the control connection goes (went) to
    std::vector<std::string> FConnectAddresses;            // the name's addresses, in the order tried
    std::size_t FConnectIndex = 0;                         // the one being tried
    std::unique_ptr<QTimer> FConnectTimer;                 // ends an attempt that takes too long
    bool FSwitchingAddress = false;                        // closing a failed attempt: no session event
    int FConnectTimeout = 15;                              // seconds per address (ConnectTimeout)
    bool FEpsvRefused = false;                             // the server refused EPSV this session: PASV
    // Both ends of the control connection, asked once per connection rather than per file.
    TSockAddr FControlLocal;
    TSockAddr FControlPeer;
    bool FControlNamed = false;                            // the two above hold this connection's ends
    bool FControlOpen = false;                             // TCP connection of the control is open
    bool FRequestRunning = false;                          // a request has started and not ended
    TFtpFctSet FStepsRun = 0;                              // steps the running request has started
    bool FRefused = false;                                 // HandleError ran since last cleared
    std::string FRefusal;                                  // its text
    bool FInStartCall = false;                             // inside the call that starts a high-level operation
    bool FClosingControl = false;                          // the engine itself is closing the control connection
    std::string FSocksPassword, FSocksPort, FSocksServer, FSocksUserCode; // SOCKS settings kept
    TFtpEncryption FEncryption = ftpEncryptNone;
    std::shared_ptr<TTlsClientContext> FTlsContext;        // made at the first AUTH TLS
    bool FDataProtected = false;                           // PROT P accepted on this connection
    bool FDataTlsPending = false;                          // the data connection's handshake runs
    bool FAcceptMissingCloseNotify = false;                // an end without close_notify is taken as whole

    // ---- Engine state (data side) ----
    std::unique_ptr<QFile> FLocalStream;                   // local file of the transfer, may be none
    std::unique_ptr<TGatheredWrites> FLocalWrites;         // a download's writes to FLocalStream
    std::unique_ptr<TReadAhead> FLocalReads;               // an upload's reads of FLocalStream, kept between files
    std::string FPasvReply;                                // last 229 or 227 reply while Passive
    std::string FDataCommand;                              // "RETR", "LIST" or "NLST"
    int FDataCloseError = 0;                               // error of the data connection's close
    FtpListingTail FListingTail;                           // the listing's unfinished line
    bool FLineEndsActive = false;                          // this file transfer converts line ends
    FtpCrLfToLf FReceiveLineEnds;                          // a download's CR LF -> LF across chunks
    FtpLfToCrLf FSendLineEnds;                             // an upload's LF -> CR LF across blocks
    std::string FLineEndsBuf;                              // one chunk or block after conversion
    static constexpr qint64 SendBlockBytes = 1514;         // one upload block, sent per report
    char FRecvChunk[2048];                                 // one receive chunk
    TDataDirection FDataDirection = dataNone;              // the transfer step running, if any
    int FAcceptedHandle = -1;                              // the server's connection, accepted before the transfer step
    bool FFinalReplyOk = false;                            // final reply came and was a success
    bool FDataClosed = false;                              // the data connection of this transfer ended
    bool FStoreAccepted = false;                           // STOR/APPE got 150 or 125
    bool FSendSessionOpen = false;                         // upload data connection is open
    bool FEndOfFile = false;                               // local file exhausted
    qint64 FLocalSizeAtOpen = 0;                           // an upload's file size when it was opened
    bool FAppendFlag = false;                              // APPE rather than STOR
    int FTransferFault = 0;                                // local read/write or receive error, or a
    std::string FTransferFaultText;                        //   progress abort: fails the transfer
    std::string FDeferredFault;                            // a data connection's fault, shown after the
                                                           //   server's answer, which may name its cause
    qint64 FStartTicks = 0;                                // data connection opened (ms)
    qint64 FStopTicks = 0;                                 // statistics made (ms)
};

class TFtpClient : public TCustomFtpCli {
public:
    TFtpClient();
    ~TFtpClient() override;

    int Timeout() const { return FTimeout; }               // seconds; 0 or less: no limit
    void SetTimeout(int v) { FTimeout = v; }
    bool MultiThreaded() const { return FMultiThreaded; }  // pump only the control socket
    void SetMultiThreaded(bool v) { FMultiThreaded = v; }

    bool Progress() override;                              // also restarts the time limit
    bool Waiting() const { return FWaitLoop != nullptr; }  // a synchronous operation is waiting

    // Synchronous operations: run the asynchronous one of the same stem and wait.
    bool Open();
    bool User();
    bool Pass();
    bool Connect();
    bool Cwd();
    bool Pwd();
    bool CDup();
    bool TypeSet();
    bool TypeBinary();
    bool TypeAscii();
    bool Get();
    bool Put();
    bool RestPut();
    bool RestartPut();
    bool Append();
    bool Quit();
    bool Abort();
    bool Receive();
    bool Transmit();
    bool AppendFile();
    bool Dir();
    bool Directory();
    bool Ls();
    bool List();
    bool Mkd();
    bool Mkdir();
    bool Ren();
    bool Rename();
    bool Dele();
    bool Delete();
    bool Rmd();
    bool Rmdir();
    bool Syst();
    bool System();
    bool Size();
    bool FileSize();
    bool Quote();
    bool DoQuote();
    bool RestGet();
    bool RestartGet();

protected:
    bool Synchronize(void (TCustomFtpCli::*Proc)());       // start a request, false on exception
    bool WaitUntilReady();                                 // run the loop until done, timed out or left
    void RequestEnded() override;                          // wakes the wait
    void RestartTimeLimit(qint64 AtLeastMs = 0) override;
    void WakeWait();                                       // ends the running wait's loop pass

    int FTimeout = 15;
    bool FMultiThreaded = false;
    qint64 FDeadline = 0;                                  // ms of the coarse monotonic clock
    std::unique_ptr<QTimer> FWakeTimer;                    // wakes the blocked loop at the deadline
    QEventLoop *FWaitLoop = nullptr;                       // the loop the running wait blocks in
    bool FWoken = false;                                   // the engine or the timer ended that loop's pass
};

// Milliseconds of a monotonic clock: the engine's tick count.
qint64 FtpTickCount();
