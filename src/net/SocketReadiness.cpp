// Readiness: the handle's read and write notifiers and the close watch, and what a
// readable or writable report does (connect completion, receive loop, peer close).
#include "net/Socket.h"
#include "net/SocketNotifiers.h"

#include <QCoreApplication>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace {
constexpr int CloseWatchMs = 200;
}

// ---- readiness --------------------------------------------------------------------------------

bool TCustomWSocket::RegisterHandle(bool Listening, const char *Context)
{
    UnregisterHandle();
    int Type = 0;
    socklen_t Len = sizeof Type;
    // Sockets made here and accepted ones come non-blocking already: one call fewer per file.
    const int Flags = fcntl(FHSocket, F_GETFL);
    if (getsockopt(FHSocket, SOL_SOCKET, SO_TYPE, &Type, &Len) != 0 || Flags < 0 ||
        (!(Flags & O_NONBLOCK) && fcntl(FHSocket, F_SETFL, Flags | O_NONBLOCK) != 0)) {
        WSocket_SetLastErrorFromErrno();
        SocketError(Context);
        return false;
    }
    FType = Type;
    FListening = Listening;
    FNotifiers = std::make_unique<TNotifiers>();
    // Made without a socket and given it, they start disabled: made with it, each was
    // registered with the event loop and taken out again at once, two wake-ups of the loop
    // per notifier and new socket (a data connection per file).
    FNotifiers->Read->setSocket(FHSocket);
    FNotifiers->Write->setSocket(FHSocket);
    const quint64 Generation = FGeneration;
    QObject::connect(FNotifiers->Read, &QSocketNotifier::activated, [this, Generation] {
        if (Generation == FGeneration)
            RunGuarded([this] { ReadReady(); });
    });
    QObject::connect(FNotifiers->Write, &QSocketNotifier::activated, [this, Generation] {
        if (Generation == FGeneration)
            RunGuarded([this] { WriteReady(); });
    });
    FNotifiers->CloseWatch->setSingleShot(true);
    FNotifiers->CloseWatch->setInterval(CloseWatchMs);
    QObject::connect(FNotifiers->CloseWatch, &QTimer::timeout, [this, Generation] {
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
    // The notifier may be the one whose signal is running: detach them now, delete them later.
    for (QSocketNotifier *N : {FNotifiers->Read, FNotifiers->Write}) {
        N->setEnabled(false);
        QObject::disconnect(N, nullptr, nullptr, nullptr);
    }
    FNotifiers->CloseWatch->stop();
    QObject::disconnect(FNotifiers->CloseWatch, nullptr, nullptr, nullptr);
    if (QCoreApplication::instance())
        FNotifiers->Owner.release()->deleteLater();
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
    if (FTls && FTls->Ended())
        return true; // the TLS stream ended, whether or not TCP's has yet
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
    if (FTlsHandshaking) {
        DriveHandshake();
        return;
    }
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
    if (FTlsHandshaking) {
        DriveHandshake();
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
    // A tail held back by the last pass waits for the blocks this one brings; a handler with
    // nothing more to send lets the first turn below send it.
    const bool TailHeld = SendQueued(true);
    if (Alive.expired() || FHSocket == INVALID_SOCKET || (!FAllSent && !TailHeld))
        return;
    // The send loop: a handler that answers OnDataSent with a Send is told again, after its
    // call returned, that the queue is free, up to a bound per report; what it queued goes
    // to the platform in one call per CoalesceBytes, cut on the stream's StreamAlign
    // boundaries while the handler keeps sending. One report per small block cost a pass of
    // the event loop and a system call for every 1514 bytes of an upload.
    for (int Turn = 1;; ++Turn) {
        const quint64 SendsBefore = FSendCalls;
        TriggerDataSentQueuing(Error);
        if (Alive.expired() || Generation != FGeneration || FHSocket == INVALID_SOCKET)
            return;
        const bool Sent = FSendCalls != SendsBefore;
        if (!Sent || Turn >= MaxDataSentTurns || QueuedBytes() >= CoalesceBytes) {
            const bool Held = SendQueued(Sent);
            if (Alive.expired() || Generation != FGeneration || FHSocket == INVALID_SOCKET)
                return;
            if (!Sent || (!FAllSent && !Held))
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
            if (FTls) {
                // TLS decrypts into the read-ahead, whose bytes are counted as they are
                // decrypted: none are known to wait at the platform. Taking them for platform
                // bytes kept a drain asking a stream that had ended, for ever.
                KnownPending = 0;
                if (PendingBytes() <= 0)
                    return;
                continue;
            }
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
