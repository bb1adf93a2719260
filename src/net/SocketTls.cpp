// The socket's TLS stage: starting the handshake and driving it from readiness reports,
// reads that decrypt into the read-ahead, the send queue through TLS, and the orderly end.
#include "net/Socket.h"
#include "net/SocketDrain.h"

#include <openssl/ssl.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

void TCustomWSocket::StartTls(std::shared_ptr<TTlsClientContext> Context, const std::string &PeerName,
                              const TCustomWSocket *ReuseFrom)
{
    if (FState != wsConnected || FHSocket == INVALID_SOCKET || FType != SOCK_STREAM || !Context) {
        RaiseException("StartTls: not a connected stream");
        return;
    }
    SSL_SESSION *Session = ReuseFrom && ReuseFrom->FTls ? ReuseFrom->FTls->Session() : nullptr;
    FTls = std::make_unique<TTlsStage>(std::move(Context), FHSocket, PeerName, Session);
    SSL_SESSION_free(Session);
    FTlsHandshaking = true;
    FTlsEstablished = FTlsEndSeen = false;
    FTlsPeer = TTlsPeerInfo{};
    FTlsError.clear();
    FTlsReused = FTlsCloseNotify = false;
    // Bytes read ahead came in clear before the handshake: never TLS, never data.
    const bool Injected = FAheadCount > 0;
    FAheadHead = FAheadCount = 0;
    // The first step runs from the loop: OnTlsDone never comes inside this call.
    const quint64 Generation = FGeneration;
    PostDeferred([this, Generation, Injected] {
        if (Generation != FGeneration || !FTlsHandshaking)
            return;
        if (Injected)
            EndHandshake(false, "clear text arrived where the TLS handshake belongs");
        else
            DriveHandshake();
    });
}

void TCustomWSocket::DriveHandshake()
{
    const TTlsStage::TResult Result = FTls->Valid() ? FTls->Handshake() : TTlsStage::tlsFailed;
    if (Result == TTlsStage::tlsWantMore) {
        ArmRead(true);
        if (FTls->HasPending())
            ArmWrite(true);
        return;
    }
    EndHandshake(Result == TTlsStage::tlsDone, FTls->ErrorText());
}

void TCustomWSocket::EndHandshake(bool Ok, const std::string &Why)
{
    FTlsHandshaking = false;
    int Error = 0;
    if (Ok) {
        FTlsEstablished = true;
        FTlsPeer = FTls->Peer();
        FTlsReused = FTls->SessionReused();
    } else {
        FTlsError = Why;
        Error = WSAECONNABORTED;
    }
    std::weak_ptr<bool> Alive = FAlive;
    const quint64 Generation = FGeneration;
    if (OnTlsDone)
        OnTlsDone(this, Error);
    if (Alive.expired() || Generation != FGeneration || Error != 0)
        return;
    // What a handler sent while the handshake ran goes now.
    if (!FBufList.empty())
        TryToSend();
}

void TCustomWSocket::TlsFill()
{
    if (!FTls || FTlsHandshaking || FAheadCount > 0 || FHSocket == INVALID_SOCKET)
        return;
    if (!FReadAhead)
        FReadAhead = std::make_unique<char[]>(ReadAheadBytes);
    FAheadHead = 0;
    while (FAheadCount <= ReadAheadBytes - TlsChunk) {
        const int n = FTls->Read(FReadAhead.get() + FAheadCount, ReadAheadBytes - FAheadCount);
        if (n <= 0)
            break;
        FAheadCount += n;
        FPlatformBytes += static_cast<quint64>(n);
    }
    if (FTls->Failed() && FTlsError.empty())
        FTlsError = FTls->ErrorText();
    // The end of the TLS stream leaves nothing at the platform to report: look for it from
    // the loop, after the handler had the bytes before it.
    if (FTls->Ended() && !FTlsEndSeen) {
        FTlsEndSeen = true;
        const quint64 Generation = FGeneration;
        PostDeferred([this, Generation] {
            if (Generation == FGeneration && FHSocket != INVALID_SOCKET && FState == wsConnected && !FPaused)
                PeerClosed(0);
        });
    }
    // A read may have to answer (key update): send it with the queue's next turn.
    if (FTls->HasPending() && FTls->Flush() == 0)
        ArmWrite(true);
}

int TCustomWSocket::TlsRecv(void *Buffer, int BufferSize, int Flags)
{
    TlsFill();
    if (FAheadCount > 0)
        return TakeAhead(Buffer, BufferSize, Flags);
    if (Flags & MSG_PEEK)
        return FTls->Ended() ? 0 : (WSocket_WSASetLastError(WSAEWOULDBLOCK), -1);
    ReadTaken();
    if (FTls->Ended())
        return 0;
    WSocket_WSASetLastError(FTls->Failed() ? WSAECONNABORTED : WSAEWOULDBLOCK);
    return -1;
}

void TCustomWSocket::TlsEncryptQueued(int MaxBytes)
{
    // Records of up to 16 KB from the small queue blocks: one record per block would cost a
    // header, a tag and a cipher call for every 1514 bytes.
    char Chunk[TlsChunk];
    while (MaxBytes > 0 && !FBufList.empty()) {
        int Filled = 0;
        while (Filled < TlsChunk && !FBufList.empty()) {
            int Len = 0;
            const char *p = FBufList.front()->Peek(Len);
            if (Len <= 0) {
                if (FBufList.size() == 1)
                    break;
                RecycleFront();
                continue;
            }
            const int n = std::min(Len, TlsChunk - Filled);
            std::memcpy(Chunk + Filled, p, static_cast<size_t>(n));
            FBufList.front()->Remove(n);
            Filled += n;
        }
        if (Filled == 0)
            return;
        FTls->Write(Chunk, Filled);
        MaxBytes -= Filled;
    }
}

void TCustomWSocket::TlsSendLoop()
{
    // Ciphertext of at most this many bytes of the queue waits at a time, so memory stays
    // flat however much the handler queues.
    constexpr int EncryptAtOnce = 4 * TlsChunk;
    std::weak_ptr<bool> Alive = FAlive;
    const quint64 Generation = FGeneration;
    for (;;) {
        if (FTls->HasPending()) {
            const int r = FTls->Flush();
            if (r < 0) {
                const int Error = WSocket_SetLastErrorFromErrno();
                FCloseInvoked = true;
                Close();
                if (!Alive.expired())
                    TriggerSessionClosed(Error);
                return;
            }
            if (r == 0) {
                ArmWrite(true);
                return;
            }
        }
        const qint64 Before = QueuedBytes();
        if (Before == 0) {
            FAllSent = true;
            return;
        }
        TlsEncryptQueued(EncryptAtOnce);
        const qint64 Taken = Before - QueuedBytes();
        TriggerSendData(static_cast<int>(Taken));
        if (Alive.expired() || Generation != FGeneration || !FTls)
            return;
    }
}

bool TCustomWSocket::HandTlsToDrain()
{
    if (FTls->Failed())
        return false; // nothing orderly is left to say
    TlsEncryptQueued(INT_MAX);
    FTls->CloseNotify();
    TSendDrain::Start(FHSocket, FTls->TakePending(), true);
    return true;
}

void TCustomWSocket::EndTls()
{
    if (!FTls)
        return;
    FTlsCloseNotify = FTls->CloseNotifyReceived();
    FTls.reset();
    FTlsHandshaking = FTlsEstablished = false;
}
