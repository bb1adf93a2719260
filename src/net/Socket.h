// The asynchronous socket: an event-driven, non-blocking IPv4 or IPv6 socket object for streams
// and datagrams. Operations start work and return; outcomes arrive as events from the Qt event
// loop of the thread that created the socket. Class chain:
//   TCustomWSocket -> TCustomSocksWSocket -> TCustomLineWSocket -> TCustomSyncWSocket -> TWSocket
//
// Files: Socket.cpp holds construction, properties, error reporting and the triggers;
// SocketReadiness.cpp the notifiers and what readable and writable reports do;
// SocketConnect.cpp connecting, name lookups and the handle's names; SocketSend.cpp the send
// queue; SocketReceive.cpp the reads; SocketClose.cpp closing, the drain hand-over and the
// waits; SocketLineMode.cpp, SocketListen.cpp and SocketSync.cpp the classes of the chain.
#pragma once

#include "net/SendBuffer.h"
#include "net/SocketErrors.h"
#include "net/Resolution.h"
#include "net/TlsStage.h"

#include <netinet/in.h>
#include <sys/time.h>

#include <QtGlobal>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using TSocket = int;                    // a platform socket handle
constexpr TSocket INVALID_SOCKET = -1;  // no handle
constexpr int SOCKET_ERROR = -1;

enum TSocketState {
    wsInvalidState, wsOpened, wsBound, wsConnecting, wsConnected, wsAccepting, wsListening, wsClosed
};
enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };
enum TSocketSendFlags { wsSendNormal, wsSendUrgent };
enum TWSocketOption : unsigned { wsoNoReceiveLoop = 1u << 0 };
using TWSocketOptions = unsigned;       // a set of TWSocketOption bits

const char *SocketStateName(TSocketState State); // "wsClosed", ... for logs and tests

class TCustomWSocket;
using TDataAvailable = std::function<void(TCustomWSocket *Sender, int Error)>;
using TDataSent = std::function<void(TCustomWSocket *Sender, int Error)>;
using TSendData = std::function<void(TCustomWSocket *Sender, int BytesSent)>;
using TSessionConnected = std::function<void(TCustomWSocket *Sender, int Error)>;
using TSessionClosed = std::function<void(TCustomWSocket *Sender, int Error)>;
using TSessionAvailable = std::function<void(TCustomWSocket *Sender, int Error)>;
using TChangeState = std::function<void(TCustomWSocket *Sender, TSocketState OldState, TSocketState NewState)>;
using TDnsLookupDone = std::function<void(TCustomWSocket *Sender, int Error)>;
using TNotifyEvent = std::function<void(TCustomWSocket *Sender)>;
using TTlsDone = std::function<void(TCustomWSocket *Sender, int Error)>;
using TBgExceptionEvent = std::function<void(TCustomWSocket *Sender, const std::exception &E, bool &CanClose)>;

class TCustomWSocket {
public:
    TCustomWSocket();
    virtual ~TCustomWSocket();
    TCustomWSocket(const TCustomWSocket &) = delete;
    TCustomWSocket &operator=(const TCustomWSocket &) = delete;

    // ---- properties -------------------------------------------------------------------
    const std::string &Addr() const { return FAddrStr; }      // remote host, or bind address of a listener (IPv6 literals with or without brackets)
    void SetAddr(const std::string &Value);
    const std::string &Port() const { return FPortStr; }      // remote port, or listening port ("0" = any)
    void SetPort(const std::string &Value);
    const std::string &Proto() const { return FProtoStr; }    // "tcp", "udp" or a protocol number
    void SetProto(const std::string &Value);
    const std::string &LocalAddr() const { return FLocalAddr; } // address bound before connecting (either family)
    void SetLocalAddr(const std::string &Value);
    const std::string &LocalPort() const { return FLocalPortStr; } // port bound before connecting; the bound port after
    void SetLocalPort(const std::string &Value);
    std::string PeerAddr();                                   // dotted (or IPv6) peer address; "error" unless connected
    std::string PeerPort();                                   // decimal peer port; "error" unless connected
    const std::string &DnsResult() const { return FDnsResult; } // first result of the last lookup
    const std::vector<std::string> &DnsResultList() const { return FDnsResultList; } // every address found, IPv6 first
    TSocketState State() const { return FState; }
    qint64 ReadCount() const { return FReadCount; }           // bytes taken by Receive since the last close
    int RcvdCount() { return GetRcvdCount(); }                // bytes readable now; -1 on error
    int LastError() const { return FLastError; }              // last error number recorded
    bool MultiThreaded() const { return FMultiThreaded; }     // selects the pump MessagePump uses
    void SetMultiThreaded(bool Value) { FMultiThreaded = Value; }
    TWSocketOptions ComponentOptions() const { return FComponentOptions; }
    void SetComponentOptions(TWSocketOptions Value) { FComponentOptions = Value; }
    TSocketSendFlags SendFlags() const { return FSendFlags; } // flags of every send
    void SetSendFlags(TSocketSendFlags Value);                // refuses values outside the enum
    TSocketLingerOnOff LingerOnOff() const { return FLingerOnOff; }
    void SetLingerOnOff(TSocketLingerOnOff Value) { FLingerOnOff = Value; }
    int LingerTimeout() const { return FLingerTimeout; }      // seconds, used with wsLingerOn
    void SetLingerTimeout(int Value) { FLingerTimeout = Value; }
    TSocket HSocket() const { return FHSocket; }              // the platform handle, INVALID_SOCKET if none
    TSocket ASocket() const { return FASocket; }              // handle of the last accepted connection
    const TSockAddr &Sin() const { return Fsin; }             // remote address record (bind address of a listener)
    int BufSize() const { return FBufSize; }                  // block size of the send queue (QueueBlockBytes)
    bool AllSent() const { return FAllSent; }                 // the send queue is drained
    bool Paused() const { return FPaused; }                   // readiness notification stopped by Pause
    bool Terminated() const { return FTerminated; }           // a quit request was seen by the threaded pump

    // ---- events (first parameter: the socket) -----------------------------------------
    TDataAvailable OnDataAvailable;       // data can be read
    // A writable report found the send queue drained (but for a tail under StreamAlign bytes
    // that a sender streaming blocks holds back for its next ones, sent at once if none come).
    TDataSent OnDataSent;
    TSendData OnSendData;                 // inside a send: the platform accepted BytesSent bytes
    TSessionConnected OnSessionConnected; // outgoing connection done (Error 0) or failed
    TSessionClosed OnSessionClosed;       // the connection ended (once per connection)
    TSessionAvailable OnSessionAvailable; // a listener has a connection waiting
    TChangeState OnChangeState;           // every state change, also to the same state
    TDnsLookupDone OnDnsLookupDone;       // a name lookup finished, failed or was cancelled
    TNotifyEvent OnError;                 // replaces the ESocketException of a report
    TBgExceptionEvent OnBgException;      // an exception escaped work run from the event loop
    TTlsDone OnTlsDone;                   // the TLS handshake StartTls began ended (Error 0) or failed

    // ---- operations -------------------------------------------------------------------
    virtual void Connect();               // starts an outgoing connection
    virtual void Close();                 // orderly close
    virtual void CloseDelayed();          // Close later, from the event loop
    virtual void Release();               // delete this later, from the event loop (object from new)
    virtual void Abort();                 // immediate close, queued data discarded
    void ResetConnection();               // abortive close: queued data discarded, the peer sees a reset
    virtual void Flush();                 // waits (pumping events) until the send queue is drained
    virtual void WaitForClose();          // pumps events, delivering data, until the connection closed
    virtual void Listen();                // binds Addr/Port and waits for connections
    virtual TSocket Accept();             // takes one waiting connection; its handle or INVALID_SOCKET
    virtual void Dup(TSocket NewHSocket); // adopts an already connected handle
    virtual int Receive(void *Buffer, int BufferSize);       // count, 0 at peer close, -1 on error
    virtual std::string ReceiveStr();                        // RcvdCount bytes; empty on failure
    virtual int ReceiveFrom(void *Buffer, int BufferSize, sockaddr_in &From, int &FromLen);
    int PeekData(void *Buffer, int BufferSize);              // as Receive, data stay pending
    virtual int Send(const void *Data, int Len);             // queues and sends; Len, 0, or -1
    // As Send, without a copy: the queue holds Owner (whose memory holds Data) until the
    // bytes are sent. Owner must not change them meanwhile.
    int SendShared(const std::shared_ptr<const char[]> &Owner, const char *Data, int Len);
    virtual int SendTo(const sockaddr_in &Dest, int DestLen, const void *Data, int Len); // one datagram
    virtual int SendStr(const std::string &Str);             // Send of the text's bytes
    void SendText(const std::string &Str) { SendStr(Str); }  // SendStr without result
    void PutDataInSendBuffer(const void *Data, int Len);     // queues without sending
    void DeleteBufferedData();                               // empties the send queue
    virtual void DnsLookup(const std::string &HostName);     // asynchronous forward lookup
    virtual void ReverseDnsLookup(const std::string &HostAddr); // asynchronous reverse lookup
    virtual void CancelDnsLookup();                          // cancels a pending lookup: OnDnsLookupDone(10004)
    virtual int GetPeerName(sockaddr_in &Name, int &NameLen); // platform peer name when connected, else -1
    virtual int GetSockName(sockaddr_in &Name, int &NameLen); // platform local name of the handle
    int GetPeerName(TSockAddr &Name);                        // as above, either family
    int GetSockName(TSockAddr &Name);                        // as above, either family
    virtual std::string GetXPort();                          // bound local port, or "error"
    virtual void Shutdown(int How);                          // 0 receive, 1 send, 2 both
    virtual void Pause();                                    // stops readiness notification
    virtual void Resume();                                   // restarts it
    virtual void MessagePump();                              // one non-blocking pass of the event loop
    void SetLingerOption();                                  // applies LingerOnOff/LingerTimeout to the handle

    // ---- TLS stage (client side) --------------------------------------------------------
    // Starts a TLS handshake on the connected stream; OnTlsDone reports its end from the
    // event loop. From then on every read and send goes through TLS, and an orderly close
    // ends the stream with close_notify. ReuseFrom: a TLS socket whose session to resume.
    void StartTls(std::shared_ptr<TTlsClientContext> Context, const std::string &PeerName,
                  const TCustomWSocket *ReuseFrom = nullptr);
    bool TlsActive() const { return FTls && FTlsEstablished; } // handshake done on this connection
    const TTlsPeerInfo &TlsPeer() const { return FTlsPeer; }   // of the last handshake
    const std::string &TlsError() const { return FTlsError; }  // why the last handshake or read failed
    bool TlsSessionReused() const { return FTlsReused; }       // the last handshake resumed a session
    // The last TLS stream received ended with close_notify (kept after the close).
    bool TlsCloseNotifyReceived() const { return FTls ? FTls->CloseNotifyReceived() : FTlsCloseNotify; }
    // Unused time helpers kept with the component: non-zero test, clear, (in)equality.
    static bool TimerIsSet(const timeval &Tv) { return Tv.tv_sec != 0 || Tv.tv_usec != 0; }
    static void TimerClear(timeval &Tv) { Tv.tv_sec = Tv.tv_usec = 0; }
    static bool TimerCmp(const timeval &A, const timeval &B, bool Equal)
    {
        const bool Same = A.tv_sec == B.tv_sec && A.tv_usec == B.tv_usec;
        return Equal ? Same : !Same;
    }

protected:
    // ---- overridable steps ------------------------------------------------------------
    virtual void AssignDefaultValue();                 // reset defaults (construction and every close)
    virtual void InternalClose(bool Shut, int Error);  // Close (Shut) / Abort (no Shut)
    virtual int GetRcvdCount();                        // bytes pending at the platform
    virtual bool BindSocket();                         // binds LocalAddr/LocalPort before connecting; false after a report
    virtual int RealSend(const void *Data, int Len);   // the platform write, then OnSendData when > 0
    virtual void RaiseException(const std::string &Msg); // OnError if assigned, else throw
    void RaiseExceptionFmt(const char *Fmt, ...);        // RaiseException of a printf-formatted text
    virtual void HandleBackGroundException(const std::exception &E); // OnBgException, then Abort
    // Fires OnDataAvailable; returns whether something took the data (a handler was assigned).
    virtual bool TriggerDataAvailable(int Error);
    virtual void TriggerSessionAvailable(int Error);
    virtual void TriggerSessionConnected(int Error);
    virtual void TriggerSessionClosed(int Error);
    virtual void TriggerDataSent(int Error);
    virtual void TriggerChangeState(TSocketState OldState, TSocketState NewState);
    virtual void TriggerDNSLookupDone(int Error);
    virtual void TriggerError();
    // The raw platform read every Receive, PeekData and the receive loop go through.
    virtual int DoRecv(void *Buffer, int BufferSize, int Flags);
    virtual int DoRecvFrom(void *Buffer, int BufferSize, int Flags, sockaddr_in &From, int &FromLen);

    // ---- helpers for the chain ----------------------------------------------------------
    void ChangeState(TSocketState NewState);     // the one way State changes; fires OnChangeState
    void SocketError(const std::string &Context); // report of the platform's last error
    // Runs Action later from the event loop, inside the background-exception guard; dropped
    // when the socket is destroyed first.
    void PostDeferred(std::function<void()> Action);
    // Runs Action inside the background-exception guard (for work called from the loop).
    void RunGuarded(const std::function<void()> &Action);
    bool IsBeingDestroyed() const { return FDestroying; }
    static void WaitForEvents(int MaxMs); // blocks in the event loop until an event or MaxMs
    // Counts a read served from a descendant's own buffer as a read: re-arms the readable
    // report and tells the receive loop that the handler took something.
    void ReadTaken();

    bool FTerminated = false; // set by the threaded pump on a quit request (line mode gives up)

private:
    struct TNotifiers;
    // Setting Addr, Port or Proto: the trimmed text, stored only while closed.
    void SetRemoteText(const char *Name, const std::string &Value, std::string &Text, bool &Assigned,
                       bool &Resolved);
    // Resolves what is not resolved yet: protocol, remote port, local port (LocalPortToo),
    // remote address; the resolver's exception travels out.
    void ResolveRemote(bool LocalPortToo);
    bool RegisterHandle(bool Listening, const char *Context); // creates the notifiers; false after a report
    void UnregisterHandle();                 // stops and drops the notifiers
    void UpdateNotifiers();                  // enables/disables per flags and pause
    void WatchClose();                       // looks for a peer close while reads are awaited
    void ArmRead(bool On);                   // readable re-armed after each platform read
    void ArmWrite(bool On);                  // writable only while something waits
    void ReadReady();                        // read notifier: data, peer close or a pending connection
    void WriteReady();                       // write notifier: connect completion or buffer space
    void ConnectCompleted(int Error);
    void Writable(int Error);
    void TriggerDataSentQueuing(int Error);  // OnDataSent from the send loop: its Sends only queue
    void PeerClosed(int Error);
    // Drain: at the peer's close, read everything. Pending: bytes the caller just found
    // waiting, read ahead included (0 if it did not ask).
    void ReceiveLoop(int Error, bool Drain = false, int Pending = 0);
    bool StartQueueing();                    // Send's checks; false (reported) when not connected
    int SendNowOrLater(int Len);             // Send after queueing: to the platform, or left to the loop
    void TryToSend() { SendQueued(false); }
    // Sends the queue. HoldTail (mid-stream, more blocks coming): the bytes past the stream's
    // last StreamAlign boundary wait for them. True when it stopped so, with a tail held.
    bool SendQueued(bool HoldTail);
    void ClearSendQueue();
    std::unique_ptr<TBuffer> NewBlock();     // a spare drained block, or a new one
    void RecycleFront();                     // frees the drained first block of the queue
    bool PeerHasClosed(int &Error);          // whether the peer closed (or reset) the connection
    // The peer's address while connected; false when not connected or after a report.
    bool ConnectedPeer(TSockAddr &Name, const char *Context);
    // Start of a lookup: reports an empty name (false); else cancels a pending one and clears
    // the results.
    bool ForgetDnsLookup(const std::string &Name);
    // Asks the resolver for Name; a refusal is reported with the name as Given.
    void StartDnsLookup(const std::string &Name, const std::string &Given, bool Reverse);
    void DnsCompleted(int Id, bool Reverse, int Error, const THostEntry &Entry);
    void ReleaseHandle();                    // closes and forgets the handle without any event
    int RawSend(const void *Data, int Len);  // the platform write, no event
    // One platform write of the unsent bytes of the first blocks; Offered gets their count.
    // ToBoundary: only those up to the stream's last StreamAlign boundary (none: 0, no write).
    int GatherSend(int &Offered, bool ToBoundary);
    void RemoveSent(int Count);              // drops Count sent bytes from the queue's front
    qint64 QueuedBytes() const;              // unsent bytes in the send queue
    void PostWritable();                     // a writable report from the loop's next pass
    int PendingBytes();                      // read ahead plus pending at the platform; -1 on failure
    void NewGeneration();                    // a new (or no) handle: stale reports and bytes dropped
    // Serves a read from the bytes read ahead (MSG_PEEK leaves them).
    int TakeAhead(void *Buffer, int BufferSize, int Flags);
    void OfferHeldLater();                   // the receive loop again from the loop's next pass
    void SendQueuedQuietly();                // sends what the platform takes now, no events
    // Close with bytes queued: sends what the platform takes; the rest, with the handle, goes
    // to a background drain (true: the handle is the drain's now).
    bool HandQueueToDrain();
    void TriggerSendData(int BytesSent);
    void DriveHandshake();                   // one handshake step from a readiness report
    void EndHandshake(bool Ok, const std::string &Why); // OnTlsDone; what follows a good one
    void TlsFill();                          // decrypts what is readable into the read-ahead
    int TlsRecv(void *Buffer, int BufferSize, int Flags); // DoRecv through TLS
    void TlsEncryptQueued(int MaxBytes);     // moves up to MaxBytes of the send queue into TLS
    void TlsSendLoop();                      // TryToSend through TLS
    bool HandTlsToDrain();                   // close: queue and close_notify sent or drained
    void EndTls();                           // forgets the stage, keeping what the close showed

    // remote side and resolution cache
    std::string FAddrStr, FPortStr, FProtoStr = "tcp";
    bool FAddrAssigned = false, FPortAssigned = false, FProtoAssigned = true;
    bool FAddrResolved = false, FPortResolved = false, FProtoResolved = false, FLocalPortResolved = false;
    TSockAddr Fsin;
    int FType = 0;          // SOCK_STREAM or SOCK_DGRAM
    int FProto = 6;         // protocol number
    std::string FLocalAddr = "0.0.0.0", FLocalPortStr = "0";
    int FLocalPortNum = 0;

    TSocket FHSocket = INVALID_SOCKET;
    TSocket FASocket = INVALID_SOCKET; // last accepted handle
    TSocketState FState = wsClosed;
    bool FListening = false;           // the handle is registered as a listener
    qint64 FReadCount = 0;
    int FLastError = 0;
    bool FMultiThreaded = false;
    TWSocketOptions FComponentOptions = 0;
    TSocketSendFlags FSendFlags = wsSendNormal;
    TSocketLingerOnOff FLingerOnOff = wsLingerOn;
    int FLingerTimeout = 0;

    // send queue
    std::deque<std::unique_ptr<TBuffer>> FBufList;
    std::vector<std::unique_ptr<TBuffer>> FSpareBufs; // drained blocks kept for reuse
    // Many 1514-byte Sends fill one block: a queue of small blocks cost an upload a tenth
    // more processor time, in bookkeeping and in the platform's copy of many short pieces.
    static constexpr int QueueBlockBytes = 65536;
    int FBufSize = QueueBlockBytes;
    bool FAllSent = true;
    bool FCloseInvoked = false; // OnSessionClosed delivered for this connection
    bool FPaused = false;
    bool FDestroying = false;

    // readiness
    std::unique_ptr<TNotifiers> FNotifiers;  // read and write notifiers of the handle
    bool FReadArmed = false, FWriteArmed = false;
    quint64 FPlatformReads = 0;              // counts platform reads (re-arms readable)
    quint64 FPlatformBytes = 0;            // bytes taken by platform reads (no peek, no urgent)
    quint64 FGeneration = 0;                 // changes with every handle: stale reports are dropped
    bool FInTryToSend = false;               // a handler's Send inside OnSendData joins the running loop
    bool FInDataSent = false;                // OnDataSent runs in the send loop: Send only queues
    quint64 FSendLoopGeneration = 0;         // the connection the send loop runs for
    quint64 FSendCalls = 0;                  // Send calls so far: the send loop sees a handler send
    static constexpr int MaxDataSentTurns = 256;   // OnDataSent calls per writable report
    static constexpr qint64 CoalesceBytes = 262144; // queued bytes the send loop hands over at once
    // Mid-stream writes end on these boundaries of the stream: a peer that writes to its file
    // what each read returns then writes whole, aligned 64 KiB pieces, which costs a file
    // system with large pages far less than pieces that straddle them.
    static constexpr quint64 StreamAlign = 65536;
    quint64 FStreamSent = 0;                 // bytes of this connection handed to the platform

    // receive read-ahead: one platform read serves many small Receive calls
    static constexpr int ReadAheadBytes = 262144; // bytes asked of the platform per read
    std::unique_ptr<char[]> FReadAhead;      // allocated at the first small read
    int FAheadHead = 0, FAheadCount = 0;     // offset and count of the bytes held
    bool FHeldOfferPosted = false;           // a re-offer of held bytes is queued

    // name lookup
    int FDnsLookupId = 0;
    std::string FDnsResult;
    std::vector<std::string> FDnsResultList;

    // TLS stage
    std::unique_ptr<TTlsStage> FTls;         // present from StartTls to the end of the connection
    bool FTlsHandshaking = false;
    bool FTlsEstablished = false;            // the handshake succeeded on this connection
    bool FTlsEndSeen = false;                // the stage's end of stream was reported
    TTlsPeerInfo FTlsPeer;
    std::string FTlsError;
    bool FTlsReused = false;
    bool FTlsCloseNotify = false;            // close_notify state of the stage that ended
    static constexpr int TlsChunk = 16384;   // plaintext per record

    std::shared_ptr<bool> FAlive;            // expires with the object: handlers may Release it
};

// Proxy-negotiation layer: nothing in this system configures a SOCKS server, so every
// operation passes through unchanged.
class TCustomSocksWSocket : public TCustomWSocket {
public:
    TCustomSocksWSocket() = default;
};

// Optional line mode: received bytes are gathered and handed to OnDataAvailable one line
// at a time, with optional echo and backspace/tab editing for interactive peers. While
// LineMode is off (or LineEnd is empty) every operation passes straight through.
class TCustomLineWSocket : public TCustomSocksWSocket {
public:
    TCustomLineWSocket();
    ~TCustomLineWSocket() override;

    // ---- properties -------------------------------------------------------------------
    bool LineMode() const { return FLineMode; }               // deliver data line by line
    virtual void SetLineMode(bool Value);                     // held bytes are offered again under the new mode
    const std::string &LineEnd() const { return FLineEnd; }   // ends a line; empty = line mode off
    void SetLineEnd(const std::string &Value);
    bool LineEcho() const { return FLineEcho; }               // send every received byte back
    void SetLineEcho(bool Value) { FLineEcho = Value; }
    bool LineEdit() const { return FLineEdit; }               // backspace and tab editing
    void SetLineEdit(bool Value) { FLineEdit = Value; }
    size_t RcvdHeld() const { return FRcvdCnt; }              // bytes held in the receive buffer
    size_t RcvdBufCapacity() const { return FRcvBufSize; }    // bytes allocated for it (0 = none)

protected:
    // ---- overridden steps ---------------------------------------------------------------
    int GetRcvdCount() override;                  // pending line length in line mode
    int DoRecv(void *Buffer, int BufferSize, int Flags) override; // serves held bytes first
    bool TriggerDataAvailable(int Error) override; // gathers bytes and delivers lines
    void TriggerSessionClosed(int Error) override; // delivers the last partial line first
    void TriggerChangeState(TSocketState OldState, TSocketState NewState) override;
    // Applies backspace and tab to the Count new bytes after the held ones; may lower the
    // held count (a backspace into older bytes) and changes Count. Echo goes to FEchoOut.
    virtual void EditLine(size_t &Count);

    bool LineActive() const { return FLineMode && !FLineEnd.empty(); }
    // Finds lines in the held bytes from Start on and delivers them one by one.
    void ScanAndDeliver(size_t Start);
    void QueueRedelivery();                       // offers held bytes again, from the event loop
    void TakeHeld(std::string &Out);              // moves every held byte to Out
    std::weak_ptr<bool> LineAliveToken() const { return FLineAlive; }

    bool FLineReceived = false;  // a line was found or the session closed; cleared by ReadLine
    // While a ReadLine waits, lines (raw data with line mode off) go to this string instead of
    // OnDataAvailable, so a handler that calls ReadLine keeps its own closure intact.
    std::string *FReader = nullptr;
    bool FLineMode = false;      // set directly by ReadLine (no redelivery)

private:
    bool DeliverPendingLine();                    // false: stalled or the object is gone
    void OfferData();                             // the waiting reader or OnDataAvailable takes data
    void ReaderTake();                            // the waiting ReadLine takes what is readable
    void Redeliver();                             // the queued redelivery
    void Reserve(size_t Keep, size_t Need);       // room for Need bytes from the head, Keep kept
    void Consume(size_t Count);                   // drops Count bytes from the front
    void FreeRcvBuf();                            // releases the buffer (session end)

    std::string FLineEnd = "\r\n";
    bool FLineEcho = false;
    bool FLineEdit = false;
    std::unique_ptr<char[]> FRcvBuf;  // held bytes at FRcvHead, followed by one zero byte
    size_t FRcvBufSize = 0;           // capacity of FRcvBuf
    size_t FRcvHead = 0;              // offset of the first held byte (lines taken from the front)
    size_t FRcvdCnt = 0;              // bytes held
    size_t FLineLength = 0;           // bytes of the line being delivered, LineEnd included; 0 = none
    quint64 FTakenCount = 0;          // bytes taken from the buffer so far (progress of a handler)
    int FDeliveryDepth = 0;           // > 0 while OnDataAvailable runs for a line
    bool FReadingPlatform = false;    // DoRecv goes to the platform (filling the buffer)
    std::string FEchoOut;             // echo collected by EditLine, sent after the edit
    std::shared_ptr<bool> FLineAlive; // expires with the object: handlers may destroy it
};

// Synchronous line read on top of line mode: waits for one line while the event loop runs.
class TCustomSyncWSocket : public TCustomLineWSocket {
public:
    static constexpr int SyncTimeoutError = 12001; // result of a wait that gave up

    TCustomSyncWSocket() = default;
    // Waits for one line (LineEnd included): Timeout 0 = 60 s, > 0 seconds, < 0 milliseconds.
    // On giving up Line holds the bytes received so far (or nothing).
    void ReadLine(int Timeout, std::string &Line);

protected:
    // Runs Proc (if any), then waits until DoneFlag is set; 0 or SyncTimeoutError.
    virtual int Synchronize(const std::function<void()> &Proc, bool &DoneFlag);
    virtual int WaitUntilReady(bool &DoneFlag);  // blocks in the event loop, never spins

    qint64 FTimeout = 0;                         // wait time of the running ReadLine, ms
};

// The socket the FTP engine instantiates.
class TWSocket : public TCustomSyncWSocket {
public:
    TWSocket() = default;
};
