// Listening, accepting and adopting an accepted handle.
#include "net/Socket.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace {
constexpr int ListenBacklog = 5;
}

void TCustomWSocket::Listen()
{
    if (!FPortAssigned) {
        WSocket_WSASetLastError(WSAEINVAL);
        SocketError("listen: port not assigned");
        return;
    }
    if (!FProtoAssigned) {
        WSocket_WSASetLastError(WSAEINVAL);
        SocketError("listen: protocol not assigned");
        return;
    }
    if (!FAddrAssigned) {
        WSocket_WSASetLastError(WSAEINVAL);
        SocketError("listen: address not assigned");
        return;
    }
    try {
        ResolveRemote(false);
    } catch (const std::exception &E) {
        RaiseException(std::string("listen: ") + E.what());
        return;
    }

    ClearSendQueue();
    WSocketGetProc("socket");
    ReleaseHandle(); // a handle an earlier failed Listen left behind
    FHSocket = ::socket(Fsin.Family(), FType | SOCK_NONBLOCK | SOCK_CLOEXEC, FProto);
    if (FHSocket < 0) {
        FHSocket = INVALID_SOCKET;
        WSocket_SetLastErrorFromErrno();
        SocketError("socket");
        return;
    }
    NewGeneration();
    FAllSent = true;
    FCloseInvoked = false;

    if (::bind(FHSocket, Fsin.Raw(), Fsin.Length()) != 0) {
        const int Error = WSocket_SetLastErrorFromErrno();
        // State is still wsClosed, so Close would not touch the handle: release it here.
        ReleaseHandle();
        WSocket_WSASetLastError(Error);
        SocketError("Bind");
        return;
    }
    ChangeState(wsBound);

    if (FType == SOCK_DGRAM) {
        const quint64 Generation = FGeneration;
        std::weak_ptr<bool> Alive = FAlive;
        ChangeState(wsListening);
        ChangeState(wsConnected);
        TriggerSessionConnected(0);
        if (Alive.expired() || Generation != FGeneration)
            return;
        if (RegisterHandle(false, "WSAASyncSelect"))
            ArmRead(true);
        return;
    }
    if (::listen(FHSocket, ListenBacklog) != 0) {
        WSocket_SetLastErrorFromErrno();
        SocketError("Listen");
        return;
    }
    ChangeState(wsListening);
    if (RegisterHandle(true, "WSAASyncSelect"))
        ArmRead(true);
}

TSocket TCustomWSocket::Accept()
{
    if (FState != wsListening) {
        WSocket_WSASetLastError(WSAEINVAL);
        SocketError("not a listening socket");
        return INVALID_SOCKET;
    }
    TSockAddr Peer;
    socklen_t Len = sizeof(sockaddr_storage);
    const int Handle = ::accept4(FHSocket, Peer.Raw(), &Len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (FListening && FNotifiers)
        ArmRead(true); // the next waiting connection is reported again
    if (Handle < 0) {
        WSocket_SetLastErrorFromErrno();
        SocketError("Accept");
        return INVALID_SOCKET;
    }
    Fsin = Peer;
    FASocket = Handle;
    return Handle;
}

void TCustomWSocket::Dup(TSocket NewHSocket)
{
    if (NewHSocket == 0 || NewHSocket == INVALID_SOCKET) {
        WSocket_WSASetLastError(WSAEINVAL);
        SocketError("Dup");
        return;
    }
    if (FState != wsClosed) {
        UnregisterHandle();
        const int Rc = ::close(FHSocket);
        const int CloseErrno = errno;
        FHSocket = INVALID_SOCKET;
        NewGeneration();
        if (Rc != 0 && CloseErrno != EINTR) {
            ::close(NewHSocket); // the handle was handed over: it must not leak with the failure
            errno = CloseErrno;
            WSocket_SetLastErrorFromErrno();
            SocketError("Dup (closesocket)");
            return;
        }
        ChangeState(wsClosed);
    } else {
        ReleaseHandle(); // a handle a failed Listen left behind
    }
    FHSocket = NewHSocket;
    NewGeneration();
    FCloseInvoked = false;
    FListening = false;
    SetLingerOption();
    if (!RegisterHandle(false, "WSAAsyncSelect")) // also takes the handle's socket type
        return;
    ChangeState(wsConnected);
    ArmRead(true);
    ArmWrite(true); // an adopted connection is reported writable once
}
