// Process-wide sockets-service bookkeeping and the resolution helpers that turn the texts
// of Addr, Port and Proto into numbers. The POSIX sockets interface is always present, so
// "loading" only keeps the reference count and the service description; the messages of
// the load path are kept for the cases that can still occur.
#pragma once

#include "net/SocketAddress.h"
#include "net/SocketErrors.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QHostInfo;

// ---- bookkeeping ----------------------------------------------------------------------

// Description of the sockets service, as returned by its start-up.
struct TWSAData {
    uint16_t wVersion = 0;      // version in use (1.1 = 0x0101)
    uint16_t wHighVersion = 0;  // highest version supported
    std::string szDescription;  // implementation description
    std::string szSystemStatus; // status text
    int iMaxSockets = 0;        // advisory limit of open sockets
    int iMaxUdpDg = 0;          // largest datagram
};

extern int WSocketGCount;    // live socket objects, plus one while a forced load is in effect
extern bool WSocketGForced;  // WSocketForceLoadWinsock is in effect

// Loads and starts the service if needed; with an empty name only that (returns nullptr),
// otherwise the entry point of the named platform operation, raising
// "Procedure <name> not found in wsock32.dll Error #<n>" for names the layer does not use.
void *WSocketGetProc(const std::string &ProcName);
bool WSocketIsLoaded();                 // the service is loaded and started
void WSocketUnloadWinsock();            // shuts the service down; count 0, not forced
void WSocketForceLoadWinsock();         // keeps the service loaded without socket objects
void WSocketCancelForceLoadWinsock();   // ends a forced load; unloads when nothing holds it
TWSAData WinsockInfo();                 // copy of the service description (loads if needed)

// The platform's last error number (Windows Sockets numbering), as WSAGetLastError gives it.
int WSocket_WSAGetLastError();
void WSocket_WSASetLastError(int Error);
// Records errno, mapped, as the platform's last error; returns the mapped number.
int WSocket_SetLastErrorFromErrno();

// ---- resolver seam ----------------------------------------------------------------------

// One host entry: official name, IPv4 addresses in network byte order and IPv6 addresses,
// each list in resolver order.
struct THostEntry {
    std::string Name;
    std::vector<uint32_t> Addresses;
    std::vector<in6_addr> Addresses6;
    bool Empty() const { return Addresses.empty() && Addresses6.empty(); }
    // Every address as text, IPv6 first (the order connections try them), then IPv4.
    std::vector<std::string> AddressTexts() const;
};

// Stands between the socket layer and the machine's resolver, so tests can answer or fail
// a lookup without asking DNS. Errors are Windows Sockets numbers (11001 host not found...).
class TWSocketResolver {
public:
    using TDone = std::function<void(int Error, const THostEntry &Entry)>;
    virtual ~TWSocketResolver() = default;
    // Blocking forward lookup.
    virtual std::optional<THostEntry> GetHostByName(const std::string &Name, int &Error);
    // Blocking reverse lookup of an address of either family.
    virtual std::optional<THostEntry> GetHostByAddr(const TSockAddr &Addr, int &Error);
    // Starts an asynchronous lookup (reverse when Reverse, Name then being an address literal);
    // Done runs later from the event loop, never inside this call. Returns a lookup id > 0,
    // or 0 with Error set when the lookup cannot start.
    virtual int StartLookup(const std::string &Name, bool Reverse, TDone Done, int &Error);
    // Cancels a pending lookup so its Done never runs; false (Error set) when refused.
    virtual bool CancelLookup(int Id, int &Error);
};

// The error number (0 or a WSA* lookup error) and the entry of a system lookup's answer.
int WSocketLookupAnswer(const QHostInfo &Info, bool Reverse, THostEntry &Entry);

// The resolver in use (the system's by default). Setting nullptr restores the default;
// the caller keeps ownership of what it sets.
TWSocketResolver &WSocketResolver();
void WSocketSetResolver(TWSocketResolver *Resolver);

// ---- resolution helpers ---------------------------------------------------------------

std::string WSocketTrim(const std::string &S);                 // without leading and trailing blanks
bool WSocketIsDottedIP(const std::string &S);                  // n.n.n.n with blanks around
// Parses a dotted IPv4 address (network order) as inet_addr does; nullopt when invalid
// (the broadcast address 255.255.255.255 parses).
std::optional<uint32_t> WSocketParseDotted(const std::string &S);
std::string WSocketDottedText(uint32_t AddrNetOrder);          // canonical n.n.n.n
uint32_t WSocketResolveHost(const std::string &InAddr);         // IPv4, network order; raises
// Either family: an IPv6 literal (brackets allowed) or dotted address as it stands, a name
// to its first IPv4 address, or its first IPv6 one when it has none; raises as above.
TSockAddr WSocketResolveHostAddr(const std::string &InAddr);
int WSocketResolvePort(const std::string &Port, const std::string &Proto); // host order; raises, also for a number above 65535
int WSocketResolveProto(const std::string &Proto);              // protocol number; raises
std::optional<THostEntry> WSocketGetHostByName(const std::string &Name); // blocking
std::optional<THostEntry> WSocketGetHostByAddr(const std::string &Addr); // blocking reverse, either family
std::string WSocketResolveIp(const std::string &IpAddr);        // official name or empty
std::string LocalHostName();                                    // raises on failure
const std::vector<std::string> &LocalIPList();                  // refilled on every call, IPv6 first
