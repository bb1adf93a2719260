// Receiving: reads from the handle or from the bytes read ahead, for streams and datagrams.
#include "net/Socket.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

// ---- receiving ----------------------------------------------------------------------------------

int TCustomWSocket::DoRecv(void *Buffer, int BufferSize, int Flags)
{
    if (FTls && FType == SOCK_STREAM && !(Flags & MSG_OOB)) {
        if (!FTlsHandshaking)
            return TlsRecv(Buffer, BufferSize, Flags);
        WSocket_WSASetLastError(WSAEWOULDBLOCK); // the handshake owns the stream
        return -1;
    }
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
