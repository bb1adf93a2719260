// Connecting: resolving Addr, Port and Proto, binding, opening and connecting the handle;
// asynchronous name lookups; the local and peer names of the handle.
#include "net/Socket.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Errors with which a connect attempt fails at once on a local address; the outcome still
// arrives as a connect completion, as for any other connect. An IPv6 address on a machine
// without IPv6 routes fails with the last three.
bool IsConnectOutcome(int Error)
{
    return Error == WSAECONNREFUSED || Error == WSAETIMEDOUT || Error == WSAEHOSTUNREACH ||
           Error == WSAENETUNREACH || Error == WSAEADDRNOTAVAIL || Error == WSAENETDOWN;
}

} // namespace

// ---- connecting -------------------------------------------------------------------------------

void TCustomWSocket::ResolveRemote(bool LocalPortToo)
{
    if (!FProtoResolved) {
        FProto = WSocketResolveProto(FProtoStr);
        FType = FProto == IPPROTO_UDP ? SOCK_DGRAM : SOCK_STREAM;
        FProtoResolved = true;
    }
    if (!FPortResolved) {
        Fsin.SetPort(static_cast<uint16_t>(WSocketResolvePort(FPortStr, FProtoStr)));
        FPortResolved = true;
    }
    if (LocalPortToo && !FLocalPortResolved) {
        FLocalPortNum = WSocketResolvePort(FLocalPortStr, FProtoStr) & 0xffff;
        FLocalPortResolved = true;
    }
    if (!FAddrResolved) {
        const uint16_t Port = Fsin.Port();
        Fsin = WSocketResolveHostAddr(FAddrStr);
        Fsin.SetPort(Port);
        FAddrResolved = true;
    }
}

bool TCustomWSocket::BindSocket()
{
    TSockAddr Local = WSocketResolveHostAddr(FLocalAddr);
    // The default "any" address stands for either family: the remote address's one.
    if (Local.IsAny() && Local.Family() != Fsin.Family())
        Local = Fsin.IsIPv6() ? TSockAddr::FromIPv6(in6addr_any) : TSockAddr::FromIPv4(INADDR_ANY);
    Local.SetPort(static_cast<uint16_t>(FLocalPortNum));
    if (bind(FHSocket, Local.Raw(), Local.Length()) != 0) {
        const int Error = WSocket_SetLastErrorFromErrno();
        RaiseExceptionFmt("winsock.bind failed, error #%d", Error);
        return false;
    }
    if (GetSockName(Local) != 0) {
        const int Error = WSocket_WSAGetLastError();
        RaiseExceptionFmt("winsock.getsockname failed, error #%d", Error);
        return false;
    }
    FLocalPortNum = Local.Port();
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
    FHSocket = ::socket(Fsin.Family(), FType | SOCK_NONBLOCK | SOCK_CLOEXEC, FProto);
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
        if (!Fsin.IsIPv6() && Fsin.IPv4() == INADDR_BROADCAST &&
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
    if (::connect(FHSocket, Fsin.Raw(), Fsin.Length()) == 0) {
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

// ---- name lookup --------------------------------------------------------------------------------

void TCustomWSocket::DnsLookup(const std::string &HostName)
{
    if (!ForgetDnsLookup(HostName))
        return;
    WSocketGetProc("WSAAsyncGetHostByName");
    // Whatever the address parser takes ("127.1" too) is an address, answered here; the
    // broadcast address reads as the parser's failure value and goes to the resolver.
    if (WSocketIsIPv6Literal(HostName)) {
        FDnsResult = WSocketParseAddress(HostName)->Text();
        TriggerDNSLookupDone(0);
        return;
    }
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
    if (WSocketIsIPv6Literal(HostAddr)) {
        StartDnsLookup(WSocketParseAddress(HostAddr)->Text(), HostAddr, true);
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
            FDnsResultList = Entry.AddressTexts();
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

int TCustomWSocket::GetPeerName(TSockAddr &Name)
{
    if (FState != wsConnected)
        return -1;
    socklen_t Len = sizeof(sockaddr_storage);
    const int Rc = getpeername(FHSocket, reinterpret_cast<sockaddr *>(Name.Storage()), &Len);
    if (Rc != 0)
        WSocket_SetLastErrorFromErrno();
    return Rc;
}

int TCustomWSocket::GetSockName(TSockAddr &Name)
{
    socklen_t Len = sizeof(sockaddr_storage);
    const int Rc = getsockname(FHSocket, reinterpret_cast<sockaddr *>(Name.Storage()), &Len);
    if (Rc != 0)
        WSocket_SetLastErrorFromErrno();
    return Rc;
}

std::string TCustomWSocket::GetXPort()
{
    if (FState != wsBound && FState != wsConnected && FState != wsListening)
        return "error";
    TSockAddr Name;
    if (GetSockName(Name) != 0)
        return "error";
    return std::to_string(Name.Port());
}
