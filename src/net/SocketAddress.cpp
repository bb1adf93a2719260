#include "net/SocketAddress.h"
#include "net/Resolution.h"

#include <arpa/inet.h>

#include <cstring>

namespace {

const sockaddr_in &AsIn4(const sockaddr_storage &S) { return reinterpret_cast<const sockaddr_in &>(S); }
const sockaddr_in6 &AsIn6(const sockaddr_storage &S) { return reinterpret_cast<const sockaddr_in6 &>(S); }

} // namespace

TSockAddr::TSockAddr() { FStorage.ss_family = AF_INET; }

TSockAddr TSockAddr::FromIPv4(uint32_t AddrNetOrder, uint16_t Port)
{
    TSockAddr A;
    auto &In = reinterpret_cast<sockaddr_in &>(A.FStorage);
    In.sin_family = AF_INET;
    In.sin_addr.s_addr = AddrNetOrder;
    In.sin_port = htons(Port);
    return A;
}

TSockAddr TSockAddr::FromIPv6(const in6_addr &Addr, uint16_t Port, uint32_t ScopeId)
{
    TSockAddr A;
    auto &In = reinterpret_cast<sockaddr_in6 &>(A.FStorage);
    In.sin6_family = AF_INET6;
    In.sin6_addr = Addr;
    In.sin6_port = htons(Port);
    In.sin6_scope_id = ScopeId;
    return A;
}

std::optional<TSockAddr> TSockAddr::FromRaw(const sockaddr *Raw, socklen_t Len)
{
    if (!Raw)
        return std::nullopt;
    if (Raw->sa_family == AF_INET && Len >= socklen_t(sizeof(sockaddr_in))) {
        const auto &In = *reinterpret_cast<const sockaddr_in *>(Raw);
        return FromIPv4(In.sin_addr.s_addr, ntohs(In.sin_port));
    }
    if (Raw->sa_family == AF_INET6 && Len >= socklen_t(sizeof(sockaddr_in6))) {
        const auto &In = *reinterpret_cast<const sockaddr_in6 *>(Raw);
        return FromIPv6(In.sin6_addr, ntohs(In.sin6_port), In.sin6_scope_id);
    }
    return std::nullopt;
}

socklen_t TSockAddr::Length() const
{
    return IsIPv6() ? socklen_t(sizeof(sockaddr_in6)) : socklen_t(sizeof(sockaddr_in));
}

uint16_t TSockAddr::Port() const
{
    return ntohs(IsIPv6() ? AsIn6(FStorage).sin6_port : AsIn4(FStorage).sin_port);
}

void TSockAddr::SetPort(uint16_t Port)
{
    if (IsIPv6())
        reinterpret_cast<sockaddr_in6 &>(FStorage).sin6_port = htons(Port);
    else
        reinterpret_cast<sockaddr_in &>(FStorage).sin_port = htons(Port);
}

uint32_t TSockAddr::IPv4() const { return IsIPv6() ? 0 : AsIn4(FStorage).sin_addr.s_addr; }

const in6_addr &TSockAddr::IPv6() const
{
    static const in6_addr None = IN6ADDR_ANY_INIT;
    return IsIPv6() ? AsIn6(FStorage).sin6_addr : None;
}

std::string TSockAddr::Text() const
{
    char Buf[INET6_ADDRSTRLEN] = {};
    if (IsIPv6())
        inet_ntop(AF_INET6, &AsIn6(FStorage).sin6_addr, Buf, sizeof Buf);
    else
        inet_ntop(AF_INET, &AsIn4(FStorage).sin_addr, Buf, sizeof Buf);
    return Buf;
}

bool TSockAddr::SameHost(const TSockAddr &Other) const
{
    if (Family() != Other.Family())
        return false;
    if (IsIPv6())
        return std::memcmp(&IPv6(), &Other.IPv6(), sizeof(in6_addr)) == 0;
    return IPv4() == Other.IPv4();
}

bool TSockAddr::IsAny() const
{
    return IsIPv6() ? IN6_IS_ADDR_UNSPECIFIED(&IPv6()) : IPv4() == INADDR_ANY;
}

std::string WSocketStripBrackets(const std::string &Text)
{
    if (Text.size() >= 2 && Text.front() == '[' && Text.back() == ']')
        return Text.substr(1, Text.size() - 2);
    return Text;
}

bool WSocketIsIPv6Literal(const std::string &Text)
{
    in6_addr A{};
    return inet_pton(AF_INET6, WSocketStripBrackets(WSocketTrim(Text)).c_str(), &A) == 1;
}

std::optional<TSockAddr> WSocketParseAddress(const std::string &Text)
{
    const std::string Trimmed = WSocketTrim(Text);
    in6_addr A6{};
    if (inet_pton(AF_INET6, WSocketStripBrackets(Trimmed).c_str(), &A6) == 1)
        return TSockAddr::FromIPv6(A6);
    in_addr A4{};
    if (inet_aton(Trimmed.c_str(), &A4) != 0)
        return TSockAddr::FromIPv4(A4.s_addr);
    return std::nullopt;
}
