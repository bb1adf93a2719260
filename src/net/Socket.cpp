// The socket object itself: construction and destruction, the property setters and the
// state names, error reporting, the background-exception guard and the event triggers.
#include "net/Socket.h"
#include "net/SocketNotifiers.h"

#include <QCoreApplication>

#include <sys/ioctl.h>

#include <cstdarg>
#include <cstdio>

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
    Fsin = TSockAddr();
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
    if (WSocketIsIPv6Literal(Text)) {
        FLocalAddr = WSocketParseAddress(Text)->Text();
        return;
    }
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

bool TCustomWSocket::ConnectedPeer(TSockAddr &Name, const char *Context)
{
    if (FState != wsConnected)
        return false;
    if (GetPeerName(Name) != 0) {
        SocketError(Context);
        return false;
    }
    return true;
}

std::string TCustomWSocket::PeerAddr()
{
    TSockAddr Name;
    return ConnectedPeer(Name, "GetPeerName") ? Name.Text() : "error";
}

std::string TCustomWSocket::PeerPort()
{
    TSockAddr Name;
    return ConnectedPeer(Name, "GetPeerPort") ? std::to_string(Name.Port()) : "error";
}

int TCustomWSocket::GetRcvdCount()
{
    if (FTls) {
        TlsFill(); // what TLS can decrypt now, not the ciphertext waiting
        return FAheadCount;
    }
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
    if (FTls) {
        TlsFill();
        return FAheadCount;
    }
    int Count = 0;
    if (ioctl(FHSocket, FIONREAD, &Count) != 0)
        return -1;
    return static_cast<int>(std::min<qint64>(qint64(Count) + FAheadCount, INT_MAX));
}

void TCustomWSocket::NewGeneration()
{
    ++FGeneration;
    FStreamSent = 0;
    EndTls();
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
