// Sending: the send queue of TBuffer blocks, gathered writes to the platform, and the
// writable reports that drain the queue.
#include "net/Socket.h"

#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

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
    constexpr size_t MaxSpare = 8;
    const TBuffer &Front = *FBufList.front();
    if (FSpareBufs.size() < MaxSpare && Front.Count() == 0 && Front.BufSize() == FBufSize)
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
    if (!StartQueueing())
        return -1;
    if (Len <= 0)
        Len = 0;
    else
        PutDataInSendBuffer(Data, Len);
    return SendNowOrLater(Len);
}

int TCustomWSocket::SendShared(const std::shared_ptr<const char[]> &Owner, const char *Data, int Len)
{
    if (!StartQueueing())
        return -1;
    if (Len <= 0 || !Owner)
        Len = 0;
    else if (FBufList.empty() || !FBufList.back()->Extend(Owner, Data, Len))
        FBufList.push_back(std::make_unique<TBuffer>(Owner, Data, Len));
    return SendNowOrLater(Len);
}

bool TCustomWSocket::StartQueueing()
{
    if (FState != wsConnected) {
        WSocket_WSASetLastError(WSAENOTCONN);
        SocketError("Send");
        return false;
    }
    FAllSent = false;
    ++FSendCalls;
    return true;
}

int TCustomWSocket::SendNowOrLater(int Len)
{
    // Inside OnDataSent the send loop sends what its handler queued, and tells it when
    // (unless the handler has since put another connection in place).
    if (FInDataSent && FSendLoopGeneration == FGeneration)
        return Len;
    std::weak_ptr<bool> Alive = FAlive;
    TryToSend();
    if (Alive.expired())
        return Len;
    // OnDataSent comes from the loop, never from inside Send; with nobody to tell (a control
    // connection's commands) no pass of the loop is asked for.
    if (FAllSent && FHSocket != INVALID_SOCKET && OnDataSent)
        PostWritable();
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
                     Fsin.Raw(), Fsin.Length());
    else
        n = ::send(FHSocket, Data, static_cast<size_t>(Len), Flags);
    if (n < 0)
        WSocket_SetLastErrorFromErrno();
    else
        FStreamSent += quint64(n);
    return static_cast<int>(n);
}

int TCustomWSocket::GatherSend(int &Offered, bool ToBoundary)
{
    constexpr size_t MaxBlocks = 256;
    static_assert(MaxBlocks * QueueBlockBytes > CoalesceBytes, "a coalesced queue fits one write");
    iovec Parts[MaxBlocks];
    size_t Count = 0;
    qint64 Total = 0;
    for (const auto &Block : FBufList) {
        if (Count == MaxBlocks)
            break;
        int Len = 0;
        const char *p = Block->Peek(Len);
        if (Len <= 0)
            continue;
        Parts[Count++] = iovec{const_cast<char *>(p), static_cast<size_t>(Len)};
        Total += Len;
    }
    if (ToBoundary) {
        const quint64 End = (FStreamSent + quint64(Total)) / StreamAlign * StreamAlign;
        if (End <= FStreamSent) {
            Offered = 0;
            return 0;
        }
        Total = qint64(End - FStreamSent);
        for (size_t i = 0, Left = size_t(Total); i < Count; ++i) {
            if (Parts[i].iov_len >= Left) {
                Parts[i].iov_len = Left;
                Count = i + 1;
                break;
            }
            Left -= Parts[i].iov_len;
        }
    }
    Offered = int(Total);
    msghdr Msg{};
    Msg.msg_iov = Parts;
    Msg.msg_iovlen = Count;
    const ssize_t n = ::sendmsg(FHSocket, &Msg, MSG_NOSIGNAL);
    if (n < 0)
        WSocket_SetLastErrorFromErrno();
    else
        FStreamSent += quint64(n);
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

bool TCustomWSocket::SendQueued(bool HoldTail)
{
    if (FHSocket == INVALID_SOCKET)
        return false;
    if (FBufList.empty()) {
        FAllSent = true; // nothing queued is drained, also after a Send of nothing
        return false;
    }
    if (FInTryToSend)
        return false; // the running loop below picks up what a handler queued
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
    if (FTls) {
        if (!FTlsHandshaking) // else the queue waits for the handshake's end
            TlsSendLoop();
        return false;
    }

    const bool Stream = FType == SOCK_STREAM && FSendFlags == wsSendNormal;
    HoldTail = HoldTail && Stream;
    for (;;) {
        if (FBufList.empty()) {
            FAllSent = true;
            return false;
        }
        TBuffer *Block = FBufList.front().get();
        int Len = 0;
        const char *p = Block->Peek(Len);
        if (Len <= 0) {
            if (FBufList.size() == 1) {
                FAllSent = true;
                return false;
            }
            RecycleFront();
            continue;
        }
        const bool Gather = Stream && (FBufList.size() > 1 || HoldTail);
        if (Gather)
            Len = 0; // counted by GatherSend
        const int n = Gather ? GatherSend(Len, HoldTail) : RawSend(p, Len);
        if (n == 0)
            return HoldTail && Len == 0;
        if (n < 0) {
            const int Error = WSocket_WSAGetLastError();
            switch (Error) {
            case WSAECONNRESET: case WSAENOTSOCK: case WSAENOTCONN: case WSAEINVAL: case WSAECONNABORTED:
                FCloseInvoked = true;
                Close();
                if (!Alive.expired())
                    TriggerSessionClosed(Error);
                return false;
            case WSAEWOULDBLOCK:
                ArmWrite(true);
                return false;
            default:
                SocketError("TryToSend failed");
                return false;
            }
        }
        if (Gather)
            RemoveSent(n);
        else
            Block->Remove(n);
        TriggerSendData(n);
        if (Alive.expired() || Generation != FGeneration)
            return false;
        if (n < Len) {
            ArmWrite(true); // the platform's buffer is full: wait for space
            return false;
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
