// Closing: close, abort, shutdown and linger, the hand-over of unsent data to a drain, and
// the message pump and waits of the socket.
#include "net/Socket.h"
#include "net/SocketNotifiers.h"
#include "net/SocketDrain.h"

#include <QCoreApplication>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

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

void TCustomWSocket::ResetConnection()
{
    // A stream that ended early must not look complete to the peer: an orderly end after a
    // part of a file lets a server store that part as the whole.
    DeleteBufferedData();
    if (FHSocket != INVALID_SOCKET && FState == wsConnected && FType == SOCK_STREAM) {
        const linger Reset{1, 0};
        setsockopt(FHSocket, SOL_SOCKET, SO_LINGER, &Reset, sizeof Reset);
    }
    InternalClose(false, 0);
}

void TCustomWSocket::Shutdown(int How)
{
    if (FHSocket == INVALID_SOCKET)
        return;
    if (How != 0)
        SendQueuedQuietly(); // bytes the send loop queued go before the end of the stream
    if (How != 0 && FTls && !FTlsHandshaking) {
        FTls->CloseNotify(); // the end of our TLS stream, before TCP's
        FTls->Flush();
    }
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
    if (FTls) {
        if (!FTlsHandshaking) {
            TlsEncryptQueued(INT_MAX);
            FTls->Flush();
        }
        return;
    }
    for (int Offered = 0; FType == SOCK_STREAM && QueuedBytes() > 0;) {
        const int n = GatherSend(Offered, false);
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
        Drained = FTls && !FTlsHandshaking ? HandTlsToDrain() : HandQueueToDrain();
        if (!Drained && !FListening) // a listening socket has no stream to end
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
