#include "net/Wsocket.h"
#include "net/WsocketDrain.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <cstdarg>
#include <cstdio>

namespace {

// Errors with which a connect attempt fails at once on a local address; the outcome still
// arrives as a connect completion, as for any other connect.
bool IsConnectOutcome(int Error)
{
    return Error == WSAECONNREFUSED || Error == WSAETIMEDOUT || Error == WSAEHOSTUNREACH ||
           Error == 10051 /* network unreachable */;
}

} // namespace

const char *SocketStateName(TSocketState State)
{
    switch (State) {
    case wsInvalidState: return "wsInvalidState";
    case wsOpened: return "wsOpened";
    case wsBound: return "wsBound";
    case wsConnecting: return "wsConnecting";
    case wsConnected: return "wsConnected";
    case wsAccepting: return "wsAccepting";
    case wsListening: return "wsListening";
    case wsClosed: return "wsClosed";
    }
    return "?";
}

struct TCustomWSocket::TNotifiers {
    std::unique_ptr<QSocketNotifier> Read;
    std::unique_ptr<QSocketNotifier> Write;
    // While readable reports wait for a handler to read, a peer close is still looked for,
    // now and then, so it is never lost.
    std::unique_ptr<QTimer> CloseWatch;
};

namespace {
constexpr int CloseWatchMs = 200;
}

// ---- construction and destruction ---------------------------------------------------------

TCustomWSocket::TCustomWSocket()
    : FAlive(std::make_shared<bool>(true))
{
    TCustomWSocket::AssignDefaultValue();
    ++WSocketGCount; // counts objects; the service itself starts at the first platform call
}

TCustomWSocket::~TCustomWSocket()
{
    FDestroying = true;
    try {
        CancelDnsLookup();
    } catch (...) {
    }
    try {
        if (FState != wsClosed)
            TCustomWSocket::InternalClose(true, 0);
    } catch (...) {
    }
    ReleaseHandle(); // a handle left by a failed step must not outlive the object
    if (--WSocketGCount <= 0)
        WSocketUnloadWinsock();
    ClearSendQueue();
}

void TCustomWSocket::AssignDefaultValue()
{
    Fsin = sockaddr_in{};
    Fsin.sin_family = AF_INET;
    FAddrAssigned = false;
    FPortAssigned = false;
    FProtoStr = "tcp";
    FProtoAssigned = true;
    FProto = IPPROTO_TCP;
    FType = SOCK_STREAM;
    FAddrResolved = FPortResolved = FProtoResolved = FLocalPortResolved = false;
    FLocalPortStr = "0";
    FLocalPortNum = 0;
    FLocalAddr = "0.0.0.0";
    FLingerOnOff = wsLingerOn;
    FLingerTimeout = 0;
    FHSocket = INVALID_SOCKET;
    FState = wsClosed;
    FListening = false;
    FAllSent = true;
    FPaused = false;
    FReadCount = 0;
    FCloseInvoked = false;
}

// ---- properties ---------------------------------------------------------------------------

void TCustomWSocket::SetRemoteText(const char *Name, const std::string &Value, std::string &Text,
                                   bool &Assigned, bool &Resolved)
{
    if (Assigned && Value == Text)
        return;
    if (FState != wsClosed) {
        RaiseException(std::string("Cannot change ") + Name + " if not closed");
        return;
    }
    Text = WSocketTrim(Value);
    Resolved = false;
    Assigned = !Text.empty();
}

void TCustomWSocket::SetAddr(const std::string &Value)
{
    SetRemoteText("Addr", Value, FAddrStr, FAddrAssigned, FAddrResolved);
}

void TCustomWSocket::SetPort(const std::string &Value)
{
    SetRemoteText("Port", Value, FPortStr, FPortAssigned, FPortResolved);
}

void TCustomWSocket::SetProto(const std::string &Value)
{
    SetRemoteText("Proto", Value, FProtoStr, FProtoAssigned, FProtoResolved);
}

void TCustomWSocket::SetLocalPort(const std::string &Value)
{
    if (FState != wsClosed) {
        RaiseException("Cannot change LocalPort if not closed");
        return;
    }
    FLocalPortStr = Value;
    FLocalPortResolved = false;
}

void TCustomWSocket::SetLocalAddr(const std::string &Value)
{
    if (FState != wsClosed) {
        RaiseException("Cannot change LocalAddr if not closed");
        return;
    }
    const std::string Text = Value.empty() ? std::string("0.0.0.0") : Value;
    const auto Parsed = WSocketIsDottedIP(Text) ? WSocketParseDotted(Text) : std::nullopt;
    if (!Parsed) {
        RaiseException("SetLocalAddr(): Invalid IP address");
        return;
    }
    FLocalAddr = WSocketDottedText(*Parsed);
}

void TCustomWSocket::SetSendFlags(TSocketSendFlags Value)
{
    if (Value != wsSendNormal && Value != wsSendUrgent) {
        RaiseException("Invalid SendFlags");
        return;
    }
    FSendFlags = Value;
}

bool TCustomWSocket::ConnectedPeer(sockaddr_in &Name, const char *Context)
{
    if (FState != wsConnected)
        return false;
    socklen_t Len = sizeof Name;
    if (getpeername(FHSocket, reinterpret_cast<sockaddr *>(&Name), &Len) != 0) {
        WSocket_SetLastErrorFromErrno();
        SocketError(Context);
        return false;
    }
    return true;
}

std::string TCustomWSocket::PeerAddr()
{
    sockaddr_in Name{};
    return ConnectedPeer(Name, "GetPeerName") ? WSocketDottedText(Name.sin_addr.s_addr) : "error";
}

std::string TCustomWSocket::PeerPort()
{
    sockaddr_in Name{};
    return ConnectedPeer(Name, "GetPeerPort") ? std::to_string(ntohs(Name.sin_port)) : "error";
}

int TCustomWSocket::GetRcvdCount()
{
    int Count = 0;
    if (ioctl(FHSocket, FIONREAD, &Count) != 0) {
        WSocket_SetLastErrorFromErrno();
        SocketError("ioctlSocket");
        return -1;
    }
    return static_cast<int>(std::min<qint64>(qint64(Count) + FAheadCount, INT_MAX));
}

int TCustomWSocket::PendingBytes()
{
    int Count = 0;
    if (ioctl(FHSocket, FIONREAD, &Count) != 0)
        return -1;
    return static_cast<int>(std::min<qint64>(qint64(Count) + FAheadCount, INT_MAX));
}

void TCustomWSocket::NewGeneration()
{
    ++FGeneration;
    FAheadHead = FAheadCount = 0; // read ahead from the old connection
}

void TCustomWSocket::OfferHeldLater()
{
    // Bytes read ahead are no longer at the platform: no readable report comes for them.
    if (FHeldOfferPosted || FAheadCount == 0)
        return;
    FHeldOfferPosted = true;
    const quint64 Generation = FGeneration;
    PostDeferred([this, Generation] {
        FHeldOfferPosted = false;
        if (Generation == FGeneration && FAheadCount > 0 && FReadArmed)
            ReadReady();
    });
}

// ---- state and reporting --------------------------------------------------------------------

void TCustomWSocket::ChangeState(TSocketState NewState)
{
    const TSocketState OldState = FState;
    FState = NewState;
    TriggerChangeState(OldState, NewState);
}

void TCustomWSocket::SocketError(const std::string &Context)
{
    const int Error = WSocket_WSAGetLastError();
    const std::string Msg = "Error " + std::to_string(Error) + " in function " + Context + "\r\n" +
                            WSocketErrorDesc(Error);
    if (Error == WSAECONNRESET || Error == WSAENOTCONN) {
        ReleaseHandle();
        ChangeState(wsClosed);
    }
    FLastError = Error;
    RaiseException(Msg);
}

void TCustomWSocket::RaiseException(const std::string &Msg)
{
    if (OnError) {
        TriggerError();
        return;
    }
    throw ESocketException(Msg);
}

void TCustomWSocket::RaiseExceptionFmt(const char *Fmt, ...)
{
    va_list Args, Copy;
    va_start(Args, Fmt);
    va_copy(Copy, Args);
    const int n = std::vsnprintf(nullptr, 0, Fmt, Copy);
    va_end(Copy);
    std::string Msg(static_cast<size_t>(n > 0 ? n : 0), '\0');
    std::vsnprintf(Msg.data(), Msg.size() + 1, Fmt, Args);
    va_end(Args);
    RaiseException(Msg);
}

void TCustomWSocket::HandleBackGroundException(const std::exception &E)
{
    bool CanClose = true;
    if (OnBgException) {
        try {
            OnBgException(this, E, CanClose);
        } catch (...) {
        }
    }
    if (CanClose) {
        try {
            Abort();
        } catch (...) {
        }
    }
}

void TCustomWSocket::RunGuarded(const std::function<void()> &Action)
{
    std::weak_ptr<bool> Alive = FAlive;
    // Nothing may cross into the Qt event loop: exceptions of any kind end here.
    try {
        Action();
    } catch (const std::exception &E) {
        if (!Alive.expired())
            HandleBackGroundException(E);
    } catch (...) {
        if (!Alive.expired())
            HandleBackGroundException(Exception("Unknown exception"));
    }
}

void TCustomWSocket::PostDeferred(std::function<void()> Action)
{
    std::weak_ptr<bool> Alive = FAlive;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [this, Alive, Action = std::move(Action)] {
            if (!Alive.expired())
                RunGuarded(Action);
        },
        Qt::QueuedConnection);
}

// ---- triggers -------------------------------------------------------------------------------

bool TCustomWSocket::TriggerDataAvailable(int Error)
{
    if (!OnDataAvailable)
        return false;
    OnDataAvailable(this, Error);
    return true;
}

void TCustomWSocket::TriggerSessionAvailable(int Error)
{
    if (OnSessionAvailable)
        OnSessionAvailable(this, Error);
}

void TCustomWSocket::TriggerSessionConnected(int Error)
{
    if (OnSessionConnected)
        OnSessionConnected(this, Error);
}

void TCustomWSocket::TriggerSessionClosed(int Error)
{
    if (OnSessionClosed)
        OnSessionClosed(this, Error);
}

void TCustomWSocket::TriggerDataSent(int Error)
{
    if (OnDataSent)
        OnDataSent(this, Error);
}

void TCustomWSocket::TriggerChangeState(TSocketState OldState, TSocketState NewState)
{
    if (OnChangeState)
        OnChangeState(this, OldState, NewState);
}

void TCustomWSocket::TriggerDNSLookupDone(int Error)
{
    if (OnDnsLookupDone)
        OnDnsLookupDone(this, Error);
}

void TCustomWSocket::TriggerError()
{
    if (OnError)
        OnError(this);
}

void TCustomWSocket::TriggerSendData(int BytesSent)
{
    if (OnSendData)
        OnSendData(this, BytesSent);
}

// ---- readiness --------------------------------------------------------------------------------

bool TCustomWSocket::RegisterHandle(bool Listening, const char *Context)
{
    UnregisterHandle();
    int Type = 0;
    socklen_t Len = sizeof Type;
    const int Flags = fcntl(FHSocket, F_GETFL);
    if (getsockopt(FHSocket, SOL_SOCKET, SO_TYPE, &Type, &Len) != 0 || Flags < 0 ||
        fcntl(FHSocket, F_SETFL, Flags | O_NONBLOCK) != 0) {
        WSocket_SetLastErrorFromErrno();
        SocketError(Context);
        return false;
    }
    FListening = Listening;
    FNotifiers = std::make_unique<TNotifiers>();
    FNotifiers->Read = std::make_unique<QSocketNotifier>(FHSocket, QSocketNotifier::Read);
    FNotifiers->Write = std::make_unique<QSocketNotifier>(FHSocket, QSocketNotifier::Write);
    FNotifiers->Read->setEnabled(false);
    FNotifiers->Write->setEnabled(false);
    const quint64 Generation = FGeneration;
    QObject::connect(FNotifiers->Read.get(), &QSocketNotifier::activated, [this, Generation] {
        if (Generation == FGeneration)
            RunGuarded([this] { ReadReady(); });
    });
    QObject::connect(FNotifiers->Write.get(), &QSocketNotifier::activated, [this, Generation] {
        if (Generation == FGeneration)
            RunGuarded([this] { WriteReady(); });
    });
    FNotifiers->CloseWatch = std::make_unique<QTimer>();
    FNotifiers->CloseWatch->setSingleShot(true);
    FNotifiers->CloseWatch->setInterval(CloseWatchMs);
    QObject::connect(FNotifiers->CloseWatch.get(), &QTimer::timeout, [this, Generation] {
        if (Generation == FGeneration)
            RunGuarded([this] { WatchClose(); });
    });
    FReadArmed = FWriteArmed = false;
    return true;
}

void TCustomWSocket::UnregisterHandle()
{
    if (!FNotifiers)
        return;
    // The notifier may be the one whose signal is running: detach it now, delete it later.
    for (auto *N : {&FNotifiers->Read, &FNotifiers->Write}) {
        if (!*N)
            continue;
        (*N)->setEnabled(false);
        QObject::disconnect(N->get(), nullptr, nullptr, nullptr);
        if (QCoreApplication::instance())
            N->release()->deleteLater();
        else
            N->reset();
    }
    if (auto &W = FNotifiers->CloseWatch) {
        W->stop();
        QObject::disconnect(W.get(), nullptr, nullptr, nullptr);
        if (QCoreApplication::instance())
            W.release()->deleteLater();
        else
            W.reset();
    }
    FNotifiers.reset();
    FReadArmed = FWriteArmed = false;
}

void TCustomWSocket::UpdateNotifiers()
{
    if (!FNotifiers)
        return;
    FNotifiers->Read->setEnabled(FReadArmed && !FPaused);
    FNotifiers->Write->setEnabled(FWriteArmed && !FPaused);
    const bool Watch = !FReadArmed && !FPaused && !FListening && FState == wsConnected && FType == SOCK_STREAM;
    if (Watch && !FNotifiers->CloseWatch->isActive())
        FNotifiers->CloseWatch->start();
    else if (!Watch)
        FNotifiers->CloseWatch->stop();
}

void TCustomWSocket::WatchClose()
{
    if (FReadArmed || FPaused || FHSocket == INVALID_SOCKET || FState != wsConnected)
        return;
    int Error = 0;
    if (PeerHasClosed(Error))
        PeerClosed(Error);
    else if (FNotifiers)
        FNotifiers->CloseWatch->start();
}

void TCustomWSocket::ArmRead(bool On)
{
    if (FReadArmed != On) {
        FReadArmed = On;
        UpdateNotifiers();
    }
}

void TCustomWSocket::ArmWrite(bool On)
{
    if (FWriteArmed != On) {
        FWriteArmed = On;
        UpdateNotifiers();
    }
}

void TCustomWSocket::ReleaseHandle()
{
    UnregisterHandle();
    if (FHSocket != INVALID_SOCKET) {
        ::close(FHSocket);
        FHSocket = INVALID_SOCKET;
        NewGeneration();
    }
}

bool TCustomWSocket::PeerHasClosed(int &Error)
{
    Error = 0;
    if (FType != SOCK_STREAM || FHSocket == INVALID_SOCKET)
        return false;
    pollfd P{FHSocket, static_cast<short>(POLLIN | POLLRDHUP), 0};
    if (poll(&P, 1, 0) <= 0)
        return false;
    if (!(P.revents & (POLLRDHUP | POLLHUP | POLLERR)))
        return false;
    int SoError = 0;
    socklen_t Len = sizeof SoError;
    if (getsockopt(FHSocket, SOL_SOCKET, SO_ERROR, &SoError, &Len) == 0)
        Error = WSocketErrnoToWSA(SoError);
    return true;
}

void TCustomWSocket::ReadReady()
{
    if (FPaused || FHSocket == INVALID_SOCKET)
        return;
    if (FListening) {
        // Like a pending-connection report, re-armed by the next Accept rather than repeated.
        ArmRead(false);
        if (FState == wsListening)
            TriggerSessionAvailable(0);
        return;
    }
    if (FState == wsConnecting)
        return;
    std::weak_ptr<bool> Alive = FAlive;
    const quint64 Generation = FGeneration;
    const quint64 ReadsBefore = FPlatformReads;
    int CloseError = 0;
    const bool Closed = PeerHasClosed(CloseError);
    const int Known = PendingBytes();
    const int Pending = std::max(Known, 0);
    // A report from a poll made before bytes were read ahead finds nothing: no handler call.
    if (Known == 0 && !Closed && FType == SOCK_STREAM)
        return;
    if (Pending > 0 || !Closed) {
        ReceiveLoop(0, false, Pending);
        if (Alive.expired() || Generation != FGeneration)
            return;
    }
    if (Closed) {
        PeerClosed(CloseError);
        return;
    }
    // A handler that read nothing is not asked again until it reads: a level-style
    // notifier would otherwise repeat the report for ever.
    if (FPlatformReads == ReadsBefore)
        ArmRead(false);
}

void TCustomWSocket::WriteReady()
{
    ArmWrite(false);
    if (FPaused || FHSocket == INVALID_SOCKET)
        return;
    if (FState == wsConnecting) {
        int SoError = 0;
        socklen_t Len = sizeof SoError;
        if (getsockopt(FHSocket, SOL_SOCKET, SO_ERROR, &SoError, &Len) != 0)
            SoError = errno;
        std::weak_ptr<bool> Alive = FAlive;
        const quint64 Generation = FGeneration;
        const int Error = WSocketErrnoToWSA(SoError);
        ConnectCompleted(Error);
        if (Alive.expired() || Error != 0 || Generation != FGeneration || FState != wsConnected)
            return;
        // An established connection is reported writable once.
        Writable(0);
        return;
    }
    Writable(0);
}

void TCustomWSocket::ConnectCompleted(int Error)
{
    std::weak_ptr<bool> Alive = FAlive;
    const quint64 Generation = FGeneration;
    ChangeState(wsConnected);
    if (Error == 0)
        ArmRead(true);
    TriggerSessionConnected(Error);
    if (Alive.expired() || Generation != FGeneration)
        return;
    if (Error != 0 && FState != wsClosed)
        Close();
}

void TCustomWSocket::Writable(int Error)
{
    std::weak_ptr<bool> Alive = FAlive;
    const quint64 Generation = FGeneration;
    TryToSend();
    if (Alive.expired() || FHSocket == INVALID_SOCKET || !FAllSent)
        return;
    // The send loop: a handler that answers OnDataSent with a Send is told again, after its
    // call returned, that the queue is free, up to a bound per report; what it queued goes
    // to the platform in one call per CoalesceBlocks. One report per small block cost a
    // pass of the event loop and a system call for every 1514 bytes of an upload.
    for (int Turn = 1;; ++Turn) {
        const quint64 SendsBefore = FSendCalls;
        TriggerDataSentQueuing(Error);
        if (Alive.expired() || Generation != FGeneration || FHSocket == INVALID_SOCKET)
            return;
        const bool Sent = FSendCalls != SendsBefore;
        if (!Sent || Turn >= MaxDataSentTurns || FBufList.size() >= CoalesceBlocks) {
            TryToSend();
            if (Alive.expired() || Generation != FGeneration || FHSocket == INVALID_SOCKET)
                return;
            if (!Sent || !FAllSent)
                return; // idle, or the write notifier reports room
            if (Turn >= MaxDataSentTurns) {
                PostWritable(); // the rest from the loop's next pass
                return;
            }
        }
    }
}

void TCustomWSocket::TriggerDataSentQueuing(int Error)
{
    // Saved and put back, so a send loop run from a nested event loop inside the handler
    // leaves the outer one as it was.
    struct TRestore {
        TCustomWSocket *Self;
        std::weak_ptr<bool> Alive;
        bool InDataSent;
        quint64 Generation;
        ~TRestore()
        {
            if (!Alive.expired()) {
                Self->FInDataSent = InDataSent;
                Self->FSendLoopGeneration = Generation;
            }
        }
    } Restore{this, FAlive, FInDataSent, FSendLoopGeneration};
    FInDataSent = true;
    FSendLoopGeneration = FGeneration;
    TriggerDataSent(Error);
}

void TCustomWSocket::PeerClosed(int Error)
{
    if (FState == wsConnecting)
        return;
    std::weak_ptr<bool> Alive = FAlive;
    const quint64 Generation = FGeneration;
    ReceiveLoop(0, true);
    if (Alive.expired() || Generation != FGeneration)
        return; // a handler closed (and reported) the connection already
    if (!FCloseInvoked) {
        FCloseInvoked = true;
        TriggerSessionClosed(Error);
        if (Alive.expired() || Generation != FGeneration)
            return;
    }
    if (FState != wsClosed)
        Close();
}

void TCustomWSocket::ReceiveLoop(int Error, bool Drain, int Pending)
{
    // A fast peer refills the buffer as quickly as the handler drains it: without a bound one
    // report could take a whole transfer and starve the event loop (no Cancel, no repaint).
    // The level-style notifier reports what is left at the loop's next pass.
    constexpr int MaxTurnsPerReport = 128;
    std::weak_ptr<bool> Alive = FAlive;
    const quint64 Generation = FGeneration;
    // Counts bytes at the platform only: those read ahead are known by their own count.
    qint64 KnownPending = std::max<qint64>(qint64(Pending) - FAheadCount, 0);
    // Exceptions from the data handler are dropped here on purpose: they end the loop only.
    try {
        for (int Turn = 1;; ++Turn) {
            FLastError = 0;
            const quint64 ReadsBefore = FPlatformReads;
            const quint64 BytesBefore = FPlatformBytes;
            if (!TriggerDataAvailable(Error)) {
                char Scratch[1024];
                if (DoRecv(Scratch, sizeof Scratch, 0) < 0) {
                    const int RecvError = WSocket_WSAGetLastError();
                    FLastError = RecvError == WSAEWOULDBLOCK ? 0 : RecvError;
                    return;
                }
            }
            if (Alive.expired() || Generation != FGeneration || FHSocket == INVALID_SOCKET)
                return;
            if ((FComponentOptions & wsoNoReceiveLoop) || FPaused)
                return; // a handler that paused the socket is asked nothing more
            if (FLastError != 0)
                return;
            // A handler that took nothing would be asked the same question for ever.
            if (FPlatformReads == ReadsBefore)
                return;
            if (!Drain && Turn >= MaxTurnsPerReport)
                return;
            // Bytes a stream socket had pending stay pending until read, so while the last
            // count is not used up by the reads since, more are certainly there. Asking the
            // platform after every read cost as much as a tenth of a download's processor time.
            KnownPending -= static_cast<qint64>(FPlatformBytes - BytesBefore);
            if (FAheadCount > 0 || (FType == SOCK_STREAM && KnownPending > 0))
                continue;
            int Count = 0;
            if (ioctl(FHSocket, FIONREAD, &Count) != 0) {
                FLastError = WSocket_SetLastErrorFromErrno();
                return;
            }
            if (Count <= 0)
                return;
            KnownPending = Count;
        }
    } catch (...) {
    }
}

// ---- connecting -------------------------------------------------------------------------------

void TCustomWSocket::ResolveRemote(bool LocalPortToo)
{
    if (!FProtoResolved) {
        FProto = WSocketResolveProto(FProtoStr);
        FType = FProto == IPPROTO_UDP ? SOCK_DGRAM : SOCK_STREAM;
        FProtoResolved = true;
    }
    if (!FPortResolved) {
        Fsin.sin_port = htons(static_cast<uint16_t>(WSocketResolvePort(FPortStr, FProtoStr)));
        FPortResolved = true;
    }
    if (LocalPortToo && !FLocalPortResolved) {
        FLocalPortNum = WSocketResolvePort(FLocalPortStr, FProtoStr) & 0xffff;
        FLocalPortResolved = true;
    }
    if (!FAddrResolved) {
        Fsin.sin_addr.s_addr = WSocketResolveHost(FAddrStr);
        FAddrResolved = true;
    }
}

bool TCustomWSocket::BindSocket()
{
    sockaddr_in Local{};
    Local.sin_family = AF_INET;
    Local.sin_port = htons(static_cast<uint16_t>(FLocalPortNum));
    Local.sin_addr.s_addr = WSocketResolveHost(FLocalAddr);
    if (bind(FHSocket, reinterpret_cast<sockaddr *>(&Local), sizeof Local) != 0) {
        const int Error = WSocket_SetLastErrorFromErrno();
        RaiseExceptionFmt("winsock.bind failed, error #%d", Error);
        return false;
    }
    socklen_t Len = sizeof Local;
    if (getsockname(FHSocket, reinterpret_cast<sockaddr *>(&Local), &Len) != 0) {
        const int Error = WSocket_SetLastErrorFromErrno();
        RaiseExceptionFmt("winsock.getsockname failed, error #%d", Error);
        return false;
    }
    FLocalPortNum = ntohs(Local.sin_port);
    FLocalPortStr = std::to_string(FLocalPortNum);
    return true;
}

void TCustomWSocket::Connect()
{
    if (FHSocket != INVALID_SOCKET && FState != wsClosed) {
        RaiseException("Connect: Socket already in use");
        return;
    }
    if (!FPortAssigned) {
        RaiseException("Connect: No Port Specified");
        return;
    }
    if (!FAddrAssigned) {
        RaiseException("Connect: No IP Address Specified");
        return;
    }
    if (!FProtoAssigned) {
        RaiseException("Connect: No Protocol Specified");
        return;
    }
    try {
        ResolveRemote(true);
    } catch (const std::exception &E) {
        RaiseException(std::string("connect: ") + E.what());
        return;
    }

    ClearSendQueue();
    WSocketGetProc("socket");
    ReleaseHandle(); // a handle a failed Listen left behind
    FHSocket = ::socket(AF_INET, FType | SOCK_NONBLOCK | SOCK_CLOEXEC, FProto);
    if (FHSocket < 0) {
        FHSocket = INVALID_SOCKET;
        WSocket_SetLastErrorFromErrno();
        SocketError("Connect (socket)");
        return;
    }
    NewGeneration();
    FAllSent = true;
    FCloseInvoked = false;
    ChangeState(wsOpened);

    const int On = 1;
    if (FType == SOCK_DGRAM) {
        if (!BindSocket())
            return;
        if (Fsin.sin_addr.s_addr == INADDR_BROADCAST &&
            setsockopt(FHSocket, SOL_SOCKET, SO_BROADCAST, &On, sizeof On) != 0) {
            WSocket_SetLastErrorFromErrno();
            SocketError("setsockopt(SO_BROADCAST)");
            return;
        }
    } else {
        if ((FLocalPortNum != 0 || FLocalAddr != "0.0.0.0") && !BindSocket())
            return;
        SetLingerOption();
        if (setsockopt(FHSocket, SOL_SOCKET, SO_KEEPALIVE, &On, sizeof On) != 0) {
            WSocket_SetLastErrorFromErrno();
            SocketError("setsockopt(SO_KEEPALIVE)");
            return;
        }
        if (setsockopt(FHSocket, SOL_SOCKET, SO_REUSEADDR, &On, sizeof On) != 0) {
            WSocket_SetLastErrorFromErrno();
            SocketError("setsockopt(SO_REUSEADDR)");
            return;
        }
    }
    if (!RegisterHandle(false, "WSAAsyncSelect"))
        return;

    if (FType == SOCK_DGRAM) {
        // A datagram socket only records its peer: it is connected at once.
        ChangeState(wsConnected);
        ArmRead(true);
        TriggerSessionConnected(0);
        return;
    }
    if (::connect(FHSocket, reinterpret_cast<sockaddr *>(&Fsin), sizeof Fsin) == 0) {
        ChangeState(wsConnecting);
        ArmWrite(true); // completion comes as the first writable report
        return;
    }
    const int Error = WSocket_SetLastErrorFromErrno();
    if (Error == WSAEWOULDBLOCK) {
        ChangeState(wsConnecting);
        ArmWrite(true);
        return;
    }
    if (IsConnectOutcome(Error)) {
        // Deliver the outcome from the loop, exactly as a refusal that took longer would be.
        ChangeState(wsConnecting);
        const quint64 Generation = FGeneration;
        PostDeferred([this, Generation, Error] {
            if (Generation == FGeneration && FState == wsConnecting)
                ConnectCompleted(Error);
        });
        return;
    }
    FLastError = Error;
    SocketError("Connect");
}

// ---- sending ------------------------------------------------------------------------------------

void TCustomWSocket::PutDataInSendBuffer(const void *Data, int Len)
{
    const char *p = static_cast<const char *>(Data);
    if (Len <= 0 || !p)
        return;
    if (FBufList.empty())
        FBufList.push_back(NewBlock());
    while (Len > 0) {
        const int n = FBufList.back()->Write(p, Len);
        p += n;
        Len -= n;
        if (Len > 0)
            FBufList.push_back(NewBlock());
    }
}

std::unique_ptr<TBuffer> TCustomWSocket::NewBlock()
{
    if (FSpareBufs.empty())
        return std::make_unique<TBuffer>(FBufSize);
    auto Block = std::move(FSpareBufs.back());
    FSpareBufs.pop_back();
    return Block;
}

void TCustomWSocket::RecycleFront()
{
    // A few drained blocks are kept so a steady stream does not allocate per block.
    constexpr size_t MaxSpare = 256;
    if (FSpareBufs.size() < MaxSpare && FBufList.front()->Count() == 0)
        FSpareBufs.push_back(std::move(FBufList.front()));
    FBufList.pop_front();
}

void TCustomWSocket::ClearSendQueue()
{
    FBufList.clear();
    FSpareBufs.clear();
}

void TCustomWSocket::DeleteBufferedData() { ClearSendQueue(); }

int TCustomWSocket::Send(const void *Data, int Len)
{
    if (FState != wsConnected) {
        WSocket_WSASetLastError(WSAENOTCONN);
        SocketError("Send");
        return -1;
    }
    FAllSent = false;
    ++FSendCalls;
    if (Len <= 0)
        Len = 0;
    else
        PutDataInSendBuffer(Data, Len);
    // Inside OnDataSent the send loop sends what its handler queued, and tells it when
    // (unless the handler has since put another connection in place).
    if (FInDataSent && FSendLoopGeneration == FGeneration)
        return Len;
    std::weak_ptr<bool> Alive = FAlive;
    TryToSend();
    if (Alive.expired())
        return Len;
    if (FAllSent && FHSocket != INVALID_SOCKET)
        PostWritable(); // OnDataSent comes from the loop, never from inside Send
    return Len;
}

void TCustomWSocket::PostWritable()
{
    const quint64 Generation = FGeneration;
    PostDeferred([this, Generation] {
        if (Generation == FGeneration && !FPaused && FHSocket != INVALID_SOCKET)
            Writable(0);
    });
}

qint64 TCustomWSocket::QueuedBytes() const
{
    qint64 Total = 0;
    for (const auto &Block : FBufList)
        Total += Block->Count();
    return Total;
}

int TCustomWSocket::SendStr(const std::string &Str)
{
    return Send(Str.data(), static_cast<int>(Str.size()));
}

int TCustomWSocket::RawSend(const void *Data, int Len)
{
    const int Flags = MSG_NOSIGNAL | (FSendFlags == wsSendUrgent ? MSG_OOB : 0);
    ssize_t n;
    if (FType == SOCK_DGRAM)
        n = ::sendto(FHSocket, Data, static_cast<size_t>(Len), Flags,
                     reinterpret_cast<const sockaddr *>(&Fsin), sizeof Fsin);
    else
        n = ::send(FHSocket, Data, static_cast<size_t>(Len), Flags);
    if (n < 0)
        WSocket_SetLastErrorFromErrno();
    return static_cast<int>(n);
}

int TCustomWSocket::GatherSend(int &Offered)
{
    constexpr size_t MaxBlocks = 64;
    iovec Parts[MaxBlocks];
    size_t Count = 0;
    Offered = 0;
    for (const auto &Block : FBufList) {
        if (Count == MaxBlocks)
            break;
        int Len = 0;
        const char *p = Block->Peek(Len);
        if (Len <= 0)
            continue;
        Parts[Count++] = iovec{const_cast<char *>(p), static_cast<size_t>(Len)};
        Offered += Len;
    }
    msghdr Msg{};
    Msg.msg_iov = Parts;
    Msg.msg_iovlen = Count;
    const ssize_t n = ::sendmsg(FHSocket, &Msg, MSG_NOSIGNAL);
    if (n < 0)
        WSocket_SetLastErrorFromErrno();
    return static_cast<int>(n);
}

void TCustomWSocket::RemoveSent(int Count)
{
    while (Count > 0 && !FBufList.empty()) {
        Count -= FBufList.front()->Remove(Count);
        if (FBufList.front()->Count() == 0 && FBufList.size() > 1)
            RecycleFront();
    }
}

int TCustomWSocket::RealSend(const void *Data, int Len)
{
    const int n = RawSend(Data, Len);
    if (n > 0)
        TriggerSendData(n);
    return n;
}

void TCustomWSocket::TryToSend()
{
    if (FHSocket == INVALID_SOCKET)
        return;
    if (FBufList.empty()) {
        FAllSent = true; // nothing queued is drained, also after a Send of nothing
        return;
    }
    if (FInTryToSend)
        return; // the running loop below picks up what a handler queued
    FInTryToSend = true;
    std::weak_ptr<bool> Alive = FAlive;
    const quint64 Generation = FGeneration;
    struct TReset {
        std::weak_ptr<bool> Alive;
        bool *Flag;
        ~TReset()
        {
            if (!Alive.expired())
                *Flag = false;
        }
    } Reset{Alive, &FInTryToSend};

    for (;;) {
        if (FBufList.empty()) {
            FAllSent = true;
            return;
        }
        TBuffer *Block = FBufList.front().get();
        int Len = 0;
        const char *p = Block->Peek(Len);
        if (Len <= 0) {
            if (FBufList.size() == 1) {
                FAllSent = true;
                return;
            }
            RecycleFront();
            continue;
        }
        const bool Gather = FBufList.size() > 1 && FType == SOCK_STREAM && FSendFlags == wsSendNormal;
        if (Gather)
            Len = 0; // counted by GatherSend
        const int n = Gather ? GatherSend(Len) : RawSend(p, Len);
        if (n == 0)
            return;
        if (n < 0) {
            const int Error = WSocket_WSAGetLastError();
            switch (Error) {
            case WSAECONNRESET: case WSAENOTSOCK: case WSAENOTCONN: case WSAEINVAL: case WSAECONNABORTED:
                FCloseInvoked = true;
                Close();
                if (!Alive.expired())
                    TriggerSessionClosed(Error);
                return;
            case WSAEWOULDBLOCK:
                ArmWrite(true);
                return;
            default:
                SocketError("TryToSend failed");
                return;
            }
        }
        if (Gather)
            RemoveSent(n);
        else
            Block->Remove(n);
        TriggerSendData(n);
        if (Alive.expired() || Generation != FGeneration)
            return;
        if (n < Len) {
            ArmWrite(true); // the platform's buffer is full: wait for space
            return;
        }
    }
}

int TCustomWSocket::SendTo(const sockaddr_in &Dest, int DestLen, const void *Data, int Len)
{
    const ssize_t n = ::sendto(FHSocket, Data, static_cast<size_t>(Len > 0 ? Len : 0),
                               MSG_NOSIGNAL | (FSendFlags == wsSendUrgent ? MSG_OOB : 0),
                               reinterpret_cast<const sockaddr *>(&Dest), static_cast<socklen_t>(DestLen));
    if (n < 0)
        WSocket_SetLastErrorFromErrno();
    else if (n > 0)
        TriggerSendData(static_cast<int>(n));
    return static_cast<int>(n);
}

// ---- receiving ----------------------------------------------------------------------------------

int TCustomWSocket::DoRecv(void *Buffer, int BufferSize, int Flags)
{
    if (BufferSize > 0 && !(Flags & MSG_OOB)) {
        if (FAheadCount > 0)
            return TakeAhead(Buffer, BufferSize, Flags);
        if (Flags == 0 && FType == SOCK_STREAM && BufferSize < ReadAheadBytes && FHSocket != INVALID_SOCKET) {
            // One platform read for many small Receive calls: the rest waits here.
            if (!FReadAhead)
                FReadAhead = std::make_unique<char[]>(ReadAheadBytes);
            const ssize_t r = ::recv(FHSocket, FReadAhead.get(), ReadAheadBytes, 0);
            if (r > 0) {
                FPlatformBytes += static_cast<quint64>(r);
                FAheadHead = 0;
                FAheadCount = static_cast<int>(r);
                return TakeAhead(Buffer, BufferSize, 0);
            }
            if (r < 0)
                WSocket_SetLastErrorFromErrno();
            ReadTaken();
            return static_cast<int>(r);
        }
    }
    const ssize_t n = ::recv(FHSocket, Buffer, static_cast<size_t>(BufferSize > 0 ? BufferSize : 0), Flags);
    if (n < 0)
        WSocket_SetLastErrorFromErrno();
    if (!(Flags & MSG_PEEK)) { // a peek leaves the data pending: it is no progress
        if (n > 0 && !(Flags & MSG_OOB))
            FPlatformBytes += static_cast<quint64>(n);
        ReadTaken();
    }
    return static_cast<int>(n);
}

int TCustomWSocket::TakeAhead(void *Buffer, int BufferSize, int Flags)
{
    const int n = std::min(BufferSize, FAheadCount);
    std::memcpy(Buffer, FReadAhead.get() + FAheadHead, static_cast<size_t>(n));
    if (Flags & MSG_PEEK)
        return n;
    FAheadHead += n;
    FAheadCount -= n;
    ReadTaken();
    return n;
}

void TCustomWSocket::ReadTaken()
{
    ++FPlatformReads;
    if (!FReadArmed && FNotifiers && !FListening && FState == wsConnected)
        ArmRead(true); // a read re-arms the readable report
    OfferHeldLater();
}

int TCustomWSocket::DoRecvFrom(void *Buffer, int BufferSize, int Flags, sockaddr_in &From, int &FromLen)
{
    if (FAheadCount > 0 && BufferSize > 0 && !(Flags & MSG_OOB)) {
        FromLen = 0; // as a stream socket's own read reports: no sender address
        return TakeAhead(Buffer, BufferSize, Flags);
    }
    socklen_t Len = static_cast<socklen_t>(FromLen > 0 ? FromLen : 0);
    const ssize_t n = ::recvfrom(FHSocket, Buffer, static_cast<size_t>(BufferSize > 0 ? BufferSize : 0), Flags,
                                 reinterpret_cast<sockaddr *>(&From), &Len);
    if (n < 0)
        WSocket_SetLastErrorFromErrno();
    else
        FromLen = static_cast<int>(Len);
    if (n > 0 && !(Flags & (MSG_PEEK | MSG_OOB)))
        FPlatformBytes += static_cast<quint64>(n);
    ++FPlatformReads;
    if (!FReadArmed && FNotifiers && !FListening && FState == wsConnected)
        ArmRead(true);
    return static_cast<int>(n);
}

int TCustomWSocket::Receive(void *Buffer, int BufferSize)
{
    const int n = DoRecv(Buffer, BufferSize, 0);
    if (n < 0)
        FLastError = WSocket_WSAGetLastError();
    else
        FReadCount += n;
    return n;
}

std::string TCustomWSocket::ReceiveStr()
{
    const int Count = GetRcvdCount();
    if (Count <= 0)
        return {};
    std::string Str(static_cast<size_t>(Count), '\0');
    const int n = Receive(Str.data(), Count);
    if (n <= 0)
        return {};
    Str.resize(static_cast<size_t>(n));
    return Str;
}

int TCustomWSocket::ReceiveFrom(void *Buffer, int BufferSize, sockaddr_in &From, int &FromLen)
{
    const int n = DoRecvFrom(Buffer, BufferSize, 0, From, FromLen);
    if (n < 0)
        FLastError = WSocket_WSAGetLastError();
    else
        FReadCount += n;
    return n;
}

int TCustomWSocket::PeekData(void *Buffer, int BufferSize)
{
    const int n = DoRecv(Buffer, BufferSize, MSG_PEEK);
    if (n < 0)
        FLastError = WSocket_WSAGetLastError();
    return n;
}

// ---- closing ------------------------------------------------------------------------------------

void TCustomWSocket::Close() { InternalClose(true, 0); }

void TCustomWSocket::CloseDelayed()
{
    PostDeferred([this] { Close(); });
}

void TCustomWSocket::Release()
{
    PostDeferred([this] { delete this; });
}

void TCustomWSocket::Abort()
{
    CancelDnsLookup();
    DeleteBufferedData();
    if (FState == wsConnected && FProto == IPPROTO_TCP) {
        FLingerOnOff = wsLingerOff;
        SetLingerOption();
    }
    InternalClose(false, 0);
}

void TCustomWSocket::Shutdown(int How)
{
    if (FHSocket == INVALID_SOCKET)
        return;
    if (How != 0)
        SendQueuedQuietly(); // bytes the send loop queued go before the end of the stream
    ::shutdown(FHSocket, How);
}

void TCustomWSocket::SetLingerOption()
{
    if (FLingerOnOff == wsLingerNoSet)
        return;
    if (FHSocket == INVALID_SOCKET) {
        RaiseException("Cannot set linger option at this time");
        return;
    }
    linger L{};
    L.l_onoff = FLingerOnOff == wsLingerOn ? 1 : 0;
    L.l_linger = FLingerTimeout;
    if (setsockopt(FHSocket, SOL_SOCKET, SO_LINGER, &L, sizeof L) != 0) {
        WSocket_SetLastErrorFromErrno();
        SocketError("setsockopt(SO_LINGER)");
    }
}

void TCustomWSocket::SendQueuedQuietly()
{
    for (int Offered = 0; FType == SOCK_STREAM && QueuedBytes() > 0;) {
        const int n = GatherSend(Offered);
        if (n <= 0)
            return;
        RemoveSent(n);
    }
}

bool TCustomWSocket::HandQueueToDrain()
{
    if (FType != SOCK_STREAM || FState != wsConnected || QueuedBytes() == 0)
        return false;
    SendQueuedQuietly(); // no events: the caller is closing
    const qint64 Left = QueuedBytes();
    if (Left == 0)
        return false;
    std::string Rest;
    Rest.reserve(static_cast<size_t>(Left));
    for (const auto &Block : FBufList) {
        int Len = 0;
        if (const char *p = Block->Peek(Len))
            Rest.append(p, static_cast<size_t>(Len));
    }
    ClearSendQueue(); // the bytes belong to the drain now
    TSendDrain::Start(FHSocket, std::move(Rest));
    return true;
}

void TCustomWSocket::InternalClose(bool Shut, int Error)
{
    if (FHSocket == INVALID_SOCKET) {
        if (FState != wsClosed) {
            ChangeState(wsClosed);
            AssignDefaultValue();
        }
        return;
    }
    if (FState == wsClosed)
        return;
    bool Drained = false; // the handle went to a drain with the bytes still queued
    if (Shut) {
        // Linger on with 0 seconds makes close() reset the connection and throw away what the
        // platform has not sent yet; an orderly close must deliver everything Send accepted.
        if (FLingerOnOff == wsLingerOn && FLingerTimeout == 0) {
            const linger Off{0, 0};
            setsockopt(FHSocket, SOL_SOCKET, SO_LINGER, &Off, sizeof Off);
        }
        Drained = HandQueueToDrain();
        if (!Drained)
            Shutdown(1);
    }
    UnregisterHandle();
    // Linux frees the descriptor whatever close() answers (EINTR included), so it is never
    // retried: a retry after pumping events could close a descriptor a handler opened meanwhile.
    const bool CloseFailed = !Drained && ::close(FHSocket) != 0 && errno != EINTR;
    const int CloseError = CloseFailed ? WSocket_SetLastErrorFromErrno() : 0;
    FHSocket = INVALID_SOCKET;
    NewGeneration();
    if (CloseFailed) {
        FLastError = CloseError;
        SocketError("Disconnect (closesocket)");
        return;
    }
    const quint64 Generation = FGeneration;
    std::weak_ptr<bool> Alive = FAlive;
    ChangeState(wsClosed);
    // Defaults are reset even when the closed handler throws, unless it reconnected.
    struct TResetDefaults {
        TCustomWSocket *Self;
        std::weak_ptr<bool> Alive;
        quint64 Generation;
        ~TResetDefaults()
        {
            if (!Alive.expired() && Self->FGeneration == Generation && Self->FHSocket == INVALID_SOCKET) {
                try {
                    Self->AssignDefaultValue();
                } catch (...) {
                }
            }
        }
    } Reset{this, Alive, Generation};
    if (!FDestroying && !FCloseInvoked) {
        FCloseInvoked = true;
        TriggerSessionClosed(Error);
    }
}

// ---- pumping and waiting ------------------------------------------------------------------------

void TCustomWSocket::MessagePump()
{
    QCoreApplication::processEvents();
    if (FMultiThreaded && QCoreApplication::closingDown())
        FTerminated = true;
}

void TCustomWSocket::WaitForEvents(int MaxMs)
{
    // The timer only bounds the wait; whatever arrives first wakes the loop.
    QTimer Wake;
    Wake.setSingleShot(true);
    Wake.start(MaxMs);
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void TCustomWSocket::Flush()
{
    std::weak_ptr<bool> Alive = FAlive;
    while (FHSocket != INVALID_SOCKET && !FAllSent) {
        TryToSend();
        if (Alive.expired() || FHSocket == INVALID_SOCKET || FAllSent)
            return;
        WaitForEvents(1000);
        if (Alive.expired())
            return;
    }
}

void TCustomWSocket::WaitForClose()
{
    std::weak_ptr<bool> Alive = FAlive;
    while (FHSocket != INVALID_SOCKET && FState != wsClosed) {
        MessagePump();
        if (Alive.expired() || FHSocket == INVALID_SOCKET || FState == wsClosed)
            return;
        const int Pending = PendingBytes();
        if (Pending < 0) {
            FLastError = WSocket_SetLastErrorFromErrno();
            return;
        }
        const quint64 ReadsBefore = FPlatformReads;
        if (Pending > 0) {
            TriggerDataAvailable(0);
            if (Alive.expired())
                return;
        } else {
            int Error = 0;
            if (PeerHasClosed(Error)) {
                PeerClosed(Error);
                continue;
            }
        }
        if (FHSocket == INVALID_SOCKET || FState == wsClosed)
            return;
        // Sleep in the loop until something arrives; poll again at most every 100 ms when
        // a handler leaves data unread (no readable report comes for those).
        WaitForEvents(FPlatformReads == ReadsBefore && Pending > 0 ? 100 : 1000);
        if (Alive.expired())
            return;
    }
}

void TCustomWSocket::Pause()
{
    FPaused = true;
    UpdateNotifiers();
}

void TCustomWSocket::Resume()
{
    FPaused = false;
    // Registering again reports what is waiting, data a handler declined before included.
    if (FHSocket != INVALID_SOCKET && (FListening || FState == wsConnected))
        FReadArmed = true;
    UpdateNotifiers();
    OfferHeldLater();
}

// ---- name lookup --------------------------------------------------------------------------------

void TCustomWSocket::DnsLookup(const std::string &HostName)
{
    if (!ForgetDnsLookup(HostName))
        return;
    WSocketGetProc("WSAAsyncGetHostByName");
    // Whatever the address parser takes ("127.1" too) is an address, answered here; the
    // broadcast address reads as the parser's failure value and goes to the resolver.
    if (const auto A = WSocketParseDotted(HostName); A && *A != INADDR_NONE) {
        FDnsResult = WSocketDottedText(*A);
        TriggerDNSLookupDone(0);
        return;
    }
    StartDnsLookup(HostName, HostName, false);
}

void TCustomWSocket::ReverseDnsLookup(const std::string &HostAddr)
{
    if (!ForgetDnsLookup(HostAddr))
        return;
    WSocketGetProc("WSAAsyncGetHostByAddr");
    if (const auto A = WSocketParseDotted(HostAddr)) {
        StartDnsLookup(WSocketDottedText(*A), HostAddr, true);
        return;
    }
    WSocket_WSASetLastError(WSAEINVAL);
    RaiseExceptionFmt("%s: can't start DNS lookup, error #%d", HostAddr.c_str(), WSAEINVAL);
}

bool TCustomWSocket::ForgetDnsLookup(const std::string &Name)
{
    if (Name.empty()) {
        RaiseException("DNS lookup: invalid host name.");
        TriggerDNSLookupDone(WSAEINVAL);
        return false;
    }
    if (FDnsLookupId != 0) {
        int Ignored = 0;
        WSocketResolver().CancelLookup(FDnsLookupId, Ignored);
        FDnsLookupId = 0;
    }
    FDnsResult.clear();
    FDnsResultList.clear();
    return true;
}

void TCustomWSocket::StartDnsLookup(const std::string &Name, const std::string &Given, bool Reverse)
{
    int Error = 0;
    std::weak_ptr<bool> Alive = FAlive;
    auto Slot = std::make_shared<int>(0);
    const int Id = WSocketResolver().StartLookup(
        Name, Reverse,
        [this, Alive, Slot, Reverse](int Err, const THostEntry &Entry) {
            if (!Alive.expired())
                RunGuarded([&] { DnsCompleted(*Slot, Reverse, Err, Entry); });
        },
        Error);
    if (Id == 0) {
        WSocket_WSASetLastError(Error);
        RaiseExceptionFmt("%s: can't start DNS lookup, error #%d", Given.c_str(), Error);
        return;
    }
    *Slot = Id;
    FDnsLookupId = Id;
}

void TCustomWSocket::DnsCompleted(int Id, bool Reverse, int Error, const THostEntry &Entry)
{
    if (Id == 0 || Id != FDnsLookupId)
        return; // cancelled or superseded
    FDnsLookupId = 0;
    if (Error == 0) {
        if (Reverse) {
            FDnsResult = Entry.Name;
            FDnsResultList = {Entry.Name};
        } else {
            for (uint32_t A : Entry.Addresses)
                FDnsResultList.push_back(WSocketDottedText(A));
            if (!FDnsResultList.empty())
                FDnsResult = FDnsResultList.front();
        }
    }
    TriggerDNSLookupDone(Error);
}

void TCustomWSocket::CancelDnsLookup()
{
    if (FDnsLookupId == 0)
        return;
    int Error = 0;
    const bool Cancelled = WSocketResolver().CancelLookup(FDnsLookupId, Error);
    FDnsLookupId = 0;
    if (!Cancelled) {
        WSocket_WSASetLastError(Error);
        SocketError("WSACancelAsyncRequest");
        return;
    }
    if (!FDestroying)
        TriggerDNSLookupDone(WSAEINTR);
}

// ---- names of the handle ------------------------------------------------------------------------

int TCustomWSocket::GetPeerName(sockaddr_in &Name, int &NameLen)
{
    if (FState != wsConnected)
        return -1;
    socklen_t Len = static_cast<socklen_t>(NameLen > 0 ? NameLen : 0);
    const int Rc = getpeername(FHSocket, reinterpret_cast<sockaddr *>(&Name), &Len);
    if (Rc != 0)
        WSocket_SetLastErrorFromErrno();
    else
        NameLen = static_cast<int>(Len);
    return Rc;
}

int TCustomWSocket::GetSockName(sockaddr_in &Name, int &NameLen)
{
    socklen_t Len = static_cast<socklen_t>(NameLen > 0 ? NameLen : 0);
    const int Rc = getsockname(FHSocket, reinterpret_cast<sockaddr *>(&Name), &Len);
    if (Rc != 0)
        WSocket_SetLastErrorFromErrno();
    else
        NameLen = static_cast<int>(Len);
    return Rc;
}

std::string TCustomWSocket::GetXPort()
{
    if (FState != wsBound && FState != wsConnected && FState != wsListening)
        return "error";
    sockaddr_in Name{};
    int Len = sizeof Name;
    if (GetSockName(Name, Len) != 0)
        return "error";
    return std::to_string(ntohs(Name.sin_port));
}
