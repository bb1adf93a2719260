#include "net/Resolution.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QHostInfo>
#include <QObject>
#include <QPointer>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

int WSocketGCount = 0;
bool WSocketGForced = false;

namespace {

const char *const LibName = "wsock32.dll";

bool GLoaded = false;
TWSAData GWSAData;
int GLastError = 0;

// The platform operations the layer reaches, by the names of the service's table.
const char *const ProcNames[] = {
    "WSAStartup", "WSACleanup", "WSASetLastError", "WSAGetLastError", "WSACancelAsyncRequest",
    "WSAAsyncGetHostByName", "WSAAsyncGetHostByAddr", "WSAAsyncSelect", "getservbyname",
    "getprotobyname", "gethostbyname", "gethostbyaddr", "gethostname", "socket", "shutdown",
    "setsockopt", "getsockopt", "sendto", "send", "recv", "recvfrom", "ntohs", "ntohl",
    "listen", "ioctlsocket", "inet_ntoa", "inet_addr", "htons", "htonl", "getsockname",
    "getpeername", "connect", "closesocket", "bind", "accept",
};
// Filled on first use of each name and emptied at unload, like the service's table.
std::map<std::string, void *> GProcTable;

std::string Format(const char *Fmt, const std::string &Text, int Number)
{
    const int n = std::snprintf(nullptr, 0, Fmt, Text.c_str(), Number);
    std::string Out(static_cast<size_t>(n), '\0');
    std::snprintf(Out.data(), Out.size() + 1, Fmt, Text.c_str(), Number);
    return Out;
}

int GaiToWSA(int Rc)
{
    switch (Rc) {
    case EAI_NONAME: return WSAHOST_NOT_FOUND;
    case EAI_AGAIN: return WSATRY_AGAIN;
    case EAI_NODATA: return WSANO_DATA;
    // The name exists, but not in the family asked for (an IPv6-only name, say).
    case EAI_ADDRFAMILY: return WSANO_DATA;
    case EAI_FAMILY: return WSAEAFNOSUPPORT;
    case EAI_SYSTEM: return WSocketErrnoToWSA(errno);
    default: return WSANO_RECOVERY;
    }
}

void LoadService()
{
    if (GLoaded)
        return;
    // The sockets interface is part of the system: start-up only fills the description.
    GWSAData.wVersion = 0x0101;
    GWSAData.wHighVersion = 0x0202;
    GWSAData.szDescription = "POSIX sockets";
    GWSAData.szSystemStatus = "Running";
    GWSAData.iMaxSockets = static_cast<int>(sysconf(_SC_OPEN_MAX));
    GWSAData.iMaxUdpDg = 65507;
    GLoaded = true;
}

// Reads decimal digits after leading blanks, up to the first non-digit.
int LeadingNumber(const std::string &S)
{
    size_t i = 0;
    while (i < S.size() && S[i] == ' ')
        ++i;
    long v = 0;
    for (; i < S.size() && std::isdigit(static_cast<unsigned char>(S[i])); ++i)
        v = std::min(v * 10 + (S[i] - '0'), 0x7fffffffL);
    return static_cast<int>(v);
}

class TSystemResolver : public TWSocketResolver {};
TSystemResolver GSystemResolver;
TWSocketResolver *GResolver = &GSystemResolver;

} // namespace

// Receives the answers of the system's lookups. The string-slot form of lookupHost is used
// because Qt 6.4 never frees the slot object of the functor forms when a lookup is aborted:
// the closure, and everything it holds, would leak with every cancelled lookup.
class TLookupDispatcher : public QObject {
    Q_OBJECT
public:
    struct TPending {
        TWSocketResolver::TDone Done; // runs once with the answer
        bool Reverse;                 // a reverse lookup: no address list is required
    };
    std::map<int, TPending> Pending;  // lookups started and neither answered nor cancelled

    // The one dispatcher, owned by the application object so it goes with it.
    static TLookupDispatcher &Instance()
    {
        static QPointer<TLookupDispatcher> The;
        if (!The)
            The = new TLookupDispatcher(QCoreApplication::instance());
        return *The;
    }

public Q_SLOTS:
    void Answer(const QHostInfo &Info)
    {
        const auto It = Pending.find(Info.lookupId());
        if (It == Pending.end())
            return; // cancelled
        TPending P = std::move(It->second);
        Pending.erase(It);
        THostEntry Entry;
        const int Err = WSocketLookupAnswer(Info, P.Reverse, Entry);
        P.Done(Err, Entry);
    }

private:
    explicit TLookupDispatcher(QObject *Parent) : QObject(Parent) {}
};

int WSocketLookupAnswer(const QHostInfo &Info, bool Reverse, THostEntry &Entry)
{
    switch (Info.error()) {
    case QHostInfo::NoError: break;
    case QHostInfo::HostNotFound: return WSAHOST_NOT_FOUND;
    default: return WSANO_RECOVERY;
    }
    Entry.Name = Info.hostName().toStdString();
    for (const QHostAddress &A : Info.addresses()) {
        if (A.protocol() == QAbstractSocket::IPv4Protocol) {
            Entry.Addresses.push_back(htonl(A.toIPv4Address()));
        } else if (A.protocol() == QAbstractSocket::IPv6Protocol) {
            const Q_IPV6ADDR Bytes = A.toIPv6Address();
            in6_addr A6{};
            std::memcpy(&A6, &Bytes, sizeof A6);
            Entry.Addresses6.push_back(A6);
        }
    }
    if (!Reverse && Entry.Empty())
        return WSANO_DATA;
    // Qt names an address that has no reverse name by the address itself: no name found.
    if (Reverse && (Entry.Name.empty() || !QHostAddress(Info.hostName()).isNull()))
        return WSAHOST_NOT_FOUND;
    return 0;
}

// ---- bookkeeping ------------------------------------------------------------------------

void *WSocketGetProc(const std::string &ProcName)
{
    LoadService();
    if (ProcName.empty())
        return nullptr;
    auto it = GProcTable.find(ProcName);
    if (it != GProcTable.end())
        return it->second;
    for (const char *Name : ProcNames) {
        if (ProcName == Name) {
            // The slot only records that the operation was reached; the calls go to POSIX.
            void *Entry = const_cast<char *>(Name);
            GProcTable.emplace(ProcName, Entry);
            return Entry;
        }
    }
    throw ESocketException("Procedure " + ProcName + " not found in " + LibName + " Error #" +
                           std::to_string(ENOENT));
}

bool WSocketIsLoaded() { return GLoaded; }

void WSocketUnloadWinsock()
{
    GLoaded = false;
    GWSAData = TWSAData();
    GProcTable.clear();
    WSocketGCount = 0;
    WSocketGForced = false;
}

void WSocketForceLoadWinsock()
{
    if (WSocketGForced)
        return;
    WSocketGForced = true;
    ++WSocketGCount;
    WSocketGetProc("");
}

void WSocketCancelForceLoadWinsock()
{
    if (!WSocketGForced)
        return;
    WSocketGForced = false;
    if (--WSocketGCount <= 0)
        WSocketUnloadWinsock();
}

TWSAData WinsockInfo()
{
    WSocketGetProc("");
    TWSAData Copy = GWSAData;
    if (WSocketGCount <= 0)
        WSocketUnloadWinsock();
    return Copy;
}

int WSocket_WSAGetLastError() { return GLastError; }
void WSocket_WSASetLastError(int Error) { GLastError = Error; }
int WSocket_SetLastErrorFromErrno()
{
    GLastError = WSocketErrnoToWSA(errno);
    return GLastError;
}

// ---- resolver seam ------------------------------------------------------------------------

std::vector<std::string> THostEntry::AddressTexts() const
{
    std::vector<std::string> Texts;
    for (const in6_addr &A : Addresses6)
        Texts.push_back(TSockAddr::FromIPv6(A).Text());
    for (uint32_t A : Addresses)
        Texts.push_back(WSocketDottedText(A));
    return Texts;
}

std::optional<THostEntry> TWSocketResolver::GetHostByName(const std::string &Name, int &Error)
{
    addrinfo Hints{};
    Hints.ai_family = AF_UNSPEC;
    Hints.ai_socktype = SOCK_STREAM;
    Hints.ai_flags = AI_CANONNAME;
    addrinfo *Res = nullptr;
    const int Rc = getaddrinfo(Name.c_str(), nullptr, &Hints, &Res);
    if (Rc != 0) {
        Error = GaiToWSA(Rc);
        return std::nullopt;
    }
    THostEntry Entry;
    for (addrinfo *p = Res; p; p = p->ai_next) {
        if (p->ai_canonname && Entry.Name.empty())
            Entry.Name = p->ai_canonname;
        const auto A = TSockAddr::FromRaw(p->ai_addr, p->ai_addrlen);
        if (!A)
            continue;
        bool Seen = false;
        if (A->IsIPv6()) {
            for (const in6_addr &x : Entry.Addresses6)
                Seen = Seen || std::memcmp(&x, &A->IPv6(), sizeof x) == 0;
            if (!Seen)
                Entry.Addresses6.push_back(A->IPv6());
            continue;
        }
        for (uint32_t x : Entry.Addresses)
            Seen = Seen || x == A->IPv4();
        if (!Seen)
            Entry.Addresses.push_back(A->IPv4());
    }
    freeaddrinfo(Res);
    if (Entry.Empty()) {
        Error = WSANO_DATA;
        return std::nullopt;
    }
    Error = 0;
    return Entry;
}

std::optional<THostEntry> TWSocketResolver::GetHostByAddr(const TSockAddr &Addr, int &Error)
{
    char Host[NI_MAXHOST];
    const int Rc = getnameinfo(Addr.Raw(), Addr.Length(), Host, sizeof Host, nullptr, 0, NI_NAMEREQD);
    if (Rc != 0) {
        Error = GaiToWSA(Rc);
        return std::nullopt;
    }
    Error = 0;
    THostEntry Entry{Host, {}, {}};
    if (Addr.IsIPv6())
        Entry.Addresses6.push_back(Addr.IPv6());
    else
        Entry.Addresses.push_back(Addr.IPv4());
    return Entry;
}

int TWSocketResolver::StartLookup(const std::string &Name, bool Reverse, TDone Done, int &Error)
{
    // QHostInfo answers a dotted address with a reverse lookup and a name with a forward one.
    const QString Target = QString::fromStdString(Name);
    if (Reverse && QHostAddress(Target).isNull()) {
        Error = WSAEINVAL;
        return 0;
    }
    Error = 0;
    TLookupDispatcher &D = TLookupDispatcher::Instance();
    const int Id = QHostInfo::lookupHost(Target, &D, SLOT(Answer(QHostInfo)));
    D.Pending.emplace(Id, TLookupDispatcher::TPending{std::move(Done), Reverse});
    return Id;
}

bool TWSocketResolver::CancelLookup(int Id, int &Error)
{
    QHostInfo::abortHostLookup(Id);
    // An answer already queued before the abort still arrives: without its entry it is dropped.
    TLookupDispatcher::Instance().Pending.erase(Id);
    Error = 0;
    return true;
}

TWSocketResolver &WSocketResolver() { return *GResolver; }
void WSocketSetResolver(TWSocketResolver *Resolver) { GResolver = Resolver ? Resolver : &GSystemResolver; }

// ---- resolution helpers -------------------------------------------------------------------

std::string WSocketTrim(const std::string &S)
{
    size_t b = 0, e = S.size();
    while (b < e && S[b] == ' ')
        ++b;
    while (e > b && S[e - 1] == ' ')
        --e;
    return S.substr(b, e - b);
}

bool WSocketIsDottedIP(const std::string &S)
{
    size_t i = 0;
    const size_t n = S.size();
    while (i < n && S[i] == ' ')
        ++i;
    if (i < n && S[i] == '.')
        return false;
    int Dots = 0;
    long Value = 0;
    while (i < n) {
        const char c = S[i];
        if (std::isdigit(static_cast<unsigned char>(c))) {
            Value = std::min(Value * 10 + (c - '0'), 100000L);
            ++i;
        } else if (c == '.') {
            ++Dots;
            if (Dots > 3 || Value > 255 || i + 1 >= n || !std::isdigit(static_cast<unsigned char>(S[i + 1])))
                return false;
            Value = 0;
            ++i;
        } else {
            while (i < n && S[i] == ' ')
                ++i;
            if (i < n)
                return false;
        }
    }
    return Dots == 3 && Value <= 255;
}

std::optional<uint32_t> WSocketParseDotted(const std::string &S)
{
    in_addr A{};
    if (inet_aton(WSocketTrim(S).c_str(), &A) == 0)
        return std::nullopt;
    return A.s_addr;
}

std::string WSocketDottedText(uint32_t AddrNetOrder)
{
    in_addr A{};
    A.s_addr = AddrNetOrder;
    char Buf[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &A, Buf, sizeof Buf);
    return Buf;
}

namespace {

void CheckHostText(const std::string &InAddr)
{
    if (InAddr.empty() || InAddr.size() > 256)
        throw ESocketException("WSocketResolveHost: '" + InAddr + "' Invalid Hostname.");
}

// The addresses of a name (not a literal), or the exception of both resolving helpers when
// it has none; with IPv4Only, a name with IPv6 addresses only has none.
THostEntry LookUpHost(const std::string &InAddr, const std::string &Name, bool IPv4Only)
{
    WSocketGetProc("");
    int Error = 0;
    auto Entry = WSocketResolver().GetHostByName(Name, Error);
    if (Entry && (IPv4Only ? Entry->Addresses.empty() : Entry->Empty())) {
        Error = WSANO_DATA;
        Entry.reset();
    }
    if (!Entry) {
        WSocket_WSASetLastError(Error);
        throw ESocketException(Format("WSocketResolveHost: Cannot convert host address '%s', Error #%d",
                                      InAddr, Error));
    }
    return *Entry;
}

} // namespace

uint32_t WSocketResolveHost(const std::string &InAddr)
{
    CheckHostText(InAddr);
    const std::string Name = WSocketTrim(InAddr);
    if (WSocketIsDottedIP(Name)) {
        WSocketGetProc("");
        if (auto A = WSocketParseDotted(Name))
            return *A;
        throw ESocketException("WSocketResolveHost: '" + InAddr + "' Invalid IP address.");
    }
    return LookUpHost(InAddr, Name, true).Addresses.front();
}

TSockAddr WSocketResolveHostAddr(const std::string &InAddr)
{
    CheckHostText(InAddr);
    if (WSocketIsIPv6Literal(InAddr))
        return *WSocketParseAddress(InAddr);
    const std::string Name = WSocketTrim(InAddr);
    if (WSocketIsDottedIP(Name))
        return TSockAddr::FromIPv4(WSocketResolveHost(InAddr));
    const THostEntry Entry = LookUpHost(InAddr, Name, false);
    // IPv4 first here, as this blocking path always answered: IPv6 comes only where nothing else does.
    if (!Entry.Addresses.empty())
        return TSockAddr::FromIPv4(Entry.Addresses.front());
    return TSockAddr::FromIPv6(Entry.Addresses6.front());
}

int WSocketResolvePort(const std::string &Port, const std::string &Proto)
{
    if (Port.empty() || Port.size() >= 32)
        throw ESocketException("WSocketResolvePort: Invalid Port.");
    if (std::isdigit(static_cast<unsigned char>(Port[0]))) {
        // Cut to 16 bits, 65557 would quietly reach port 21: a number no port can have is refused.
        const int Number = LeadingNumber(Port);
        if (Number > 65535)
            throw ESocketException("WSocketResolvePort: Invalid Port.");
        return Number;
    }
    WSocketGetProc("getservbyname");
    const std::string Name = WSocketTrim(Port), Pr = WSocketTrim(Proto);
    servent Ent{}, *Res = nullptr;
    char Buf[1024];
    getservbyname_r(Name.c_str(), Pr.empty() ? nullptr : Pr.c_str(), &Ent, Buf, sizeof Buf, &Res);
    if (!Res) {
        WSocket_WSASetLastError(WSANO_DATA);
        throw ESocketException(Format("WSocketResolvePort: Cannot convert port '%s', Error #%d", Port,
                                      WSANO_DATA));
    }
    return ntohs(static_cast<uint16_t>(Res->s_port));
}

int WSocketResolveProto(const std::string &Proto)
{
    if (Proto.empty() || Proto.size() >= 32)
        throw ESocketException("WSocketResolveProto: Invalid Protocol.");
    const std::string Name = WSocketTrim(Proto);
    if (!Name.empty() && std::isdigit(static_cast<unsigned char>(Name[0])))
        return LeadingNumber(Name);
    WSocketGetProc("getprotobyname");
    // The numbers of TCP and UDP are fixed: every socket asked the protocols file for them,
    // which cost a new data connection about a fifth of a small file's time.
    if (Name == "tcp" || Name == "TCP")
        return IPPROTO_TCP;
    if (Name == "udp" || Name == "UDP")
        return IPPROTO_UDP;
    protoent Ent{}, *Res = nullptr;
    char Buf[1024];
    getprotobyname_r(Name.c_str(), &Ent, Buf, sizeof Buf, &Res);
    if (!Res) {
        WSocket_WSASetLastError(WSANO_DATA);
        throw ESocketException(Format("WSocketResolveProto: Cannot convert protocol '%s', Error #%d",
                                      Name, WSANO_DATA));
    }
    return Res->p_proto;
}

std::optional<THostEntry> WSocketGetHostByName(const std::string &Name)
{
    WSocketGetProc("gethostbyname");
    int Error = 0;
    auto Entry = WSocketResolver().GetHostByName(Name, Error);
    WSocket_WSASetLastError(Error);
    return Entry;
}

std::optional<THostEntry> WSocketGetHostByAddr(const std::string &Addr)
{
    WSocketGetProc("gethostbyaddr");
    auto A = WSocketParseAddress(Addr);
    if (!A) {
        WSocket_WSASetLastError(WSAEINVAL);
        return std::nullopt;
    }
    int Error = 0;
    auto Entry = WSocketResolver().GetHostByAddr(*A, Error);
    WSocket_WSASetLastError(Error);
    return Entry;
}

std::string WSocketResolveIp(const std::string &IpAddr)
{
    auto Entry = WSocketGetHostByAddr(IpAddr);
    return Entry ? Entry->Name : std::string();
}

std::string LocalHostName()
{
    WSocketGetProc("gethostname");
    char Buf[64];
    if (gethostname(Buf, sizeof Buf) != 0) {
        WSocket_SetLastErrorFromErrno();
        throw ESocketException("Winsock.GetHostName failed");
    }
    Buf[sizeof Buf - 1] = '\0';
    return Buf;
}

const std::vector<std::string> &LocalIPList()
{
    static std::vector<std::string> List;
    List.clear();
    if (auto Entry = WSocketGetHostByName(LocalHostName()))
        List = Entry->AddressTexts();
    return List;
}

#include "Resolution.moc"
