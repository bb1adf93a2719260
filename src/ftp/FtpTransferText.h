#pragma once
// Pure helpers of the data side: the port inside a 227 or 229 reply, the PORT and EPRT commands, the
// statistics line and the splitting of listing chunks into lines. No sockets, so they can be
// table-tested.

#include <QtGlobal>

#include <cstdint>
#include <functional>
#include <string>

// The data port of a 227 reply: the fifth and sixth numbers of "(h1,h2,h3,h4,p1,p2)", as
// p1 * 256 + p2 kept to 16 bits. The four address numbers are skipped: the data connection
// always goes to the control connection's address. False when the reply lacks the
// parenthesised six numbers or a number is out of 0..255.
bool FtpPasvPort(const std::string &reply, quint16 &port);

// The data port of a 229 reply (RFC 2428): "(<d><d><d>port<d>)" with one delimiter character
// d (printable, not a digit) used all four times. False when the parentheses, the delimiters or
// the port are missing or wrong, or the port is 0 or above 65535.
bool FtpEpsvPort(const std::string &reply, quint16 &port);

// The port of a passive reply of either kind: a 229 reply by FtpEpsvPort, any other by FtpPasvPort.
bool FtpPassivePort(const std::string &reply, quint16 &port);

// "EPRT |f|address|port|" (RFC 2428), f being 1 for IPv4 and 2 for IPv6; the address is the
// numeric text without brackets.
std::string FtpEprtCommand(bool ipv6, const std::string &address, quint16 port);

// "PORT a,b,c,d,p1,p2" for a local IPv4 address in host byte order. When the server is
// reached over loopback the address sent is 127,0,0,1 whatever the local end says.
std::string FtpPortCommand(std::uint32_t localAddr, quint16 port, bool remoteIsLoopback);

// The statistics text without the "! " prefix: "N bytes received/sent in S seconds" and,
// when elapsedMs is not 0, " (R Bytes/sec)".
std::string FtpTransferStatsText(qint64 count, qint64 elapsedMs);

// The listing's carry from one receive chunk to the next: the unfinished line, or, for a
// line past the limit, how long it has grown while it is being skipped.
constexpr qint64 FtpListingLineMax = 64 * 1024;
struct FtpListingTail {
    std::string part;      // the unfinished line's bytes so far
    qint64 dropped = 0;    // > 0: the length so far of a line over FtpListingLineMax
    bool atLineEnd = false; // the last chunk ended inside a run of line ends
};

// Splits a listing chunk into lines (CR LF, LF and CR all end a line; runs of line ends are
// skipped, also when a run, such as a CR LF pair, is split between two chunks). Whole lines, with what the tail carried before them, go to onLine; the
// unfinished end stays in the tail. A line longer than FtpListingLineMax is never
// delivered, in whole or in part: onDropped gets its full length once its end arrives.
using FtpListingLine = std::function<void(std::string &)>;
using FtpListingDropped = std::function<void(qint64 length)>;
void FtpSplitListingChunk(const char *chunk, int n, FtpListingTail &tail, const FtpListingLine &onLine,
                          const FtpListingDropped &onDropped);
// The end of the listing: a last line without a line end is delivered (or dropped) too.
void FtpFinishListing(FtpListingTail &tail, const FtpListingLine &onLine, const FtpListingDropped &onDropped);
