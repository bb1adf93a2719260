// A socket address of either family (IPv4 or IPv6) and the texts of addresses: parsing a
// literal (dotted IPv4, or IPv6 with or without brackets), the numeric text of an address,
// and comparing the host part of two addresses. No sockets are opened here.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string>

// The record connect, bind, listen and accept work on: an IPv4 or an IPv6 address and port.
class TSockAddr {
public:
    TSockAddr();                                            // IPv4, address 0, port 0
    static TSockAddr FromIPv4(uint32_t AddrNetOrder, uint16_t Port = 0);
    static TSockAddr FromIPv6(const in6_addr &Addr, uint16_t Port = 0, uint32_t ScopeId = 0);
    // Copies what the platform wrote (accept, getsockname, getpeername); nullopt for other families.
    static std::optional<TSockAddr> FromRaw(const sockaddr *Raw, socklen_t Len);

    int Family() const { return FStorage.ss_family; }       // AF_INET or AF_INET6
    bool IsIPv6() const { return Family() == AF_INET6; }
    socklen_t Length() const;                               // size of the family's record
    const sockaddr *Raw() const { return reinterpret_cast<const sockaddr *>(&FStorage); }
    sockaddr *Raw() { return reinterpret_cast<sockaddr *>(&FStorage); }
    sockaddr_storage *Storage() { return &FStorage; }       // for calls that fill any family
    uint16_t Port() const;                                  // host order
    void SetPort(uint16_t Port);                            // host order
    uint32_t IPv4() const;                                  // network order; 0 for IPv6
    const in6_addr &IPv6() const;                           // :: for IPv4
    // "127.0.0.1" or "::1" (no brackets, no zone): the text a literal parses back from.
    std::string Text() const;
    bool SameHost(const TSockAddr &Other) const;            // same family and address, ports aside
    bool IsAny() const;                                     // 0.0.0.0 or ::

private:
    sockaddr_storage FStorage{};
};

// The text without one pair of enclosing brackets: "[::1]" -> "::1"; other texts unchanged.
std::string WSocketStripBrackets(const std::string &Text);
// Whether the text (blanks around and brackets allowed) is an IPv6 literal.
bool WSocketIsIPv6Literal(const std::string &Text);
// An address literal: dotted IPv4 as inet_aton reads it, or IPv6 with or without brackets;
// blanks around are ignored. nullopt for a name. The broadcast address parses.
std::optional<TSockAddr> WSocketParseAddress(const std::string &Text);
