#pragma once
// Pure helpers of the data side: the port inside a 227 reply, the PORT command, the
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

// "PORT a,b,c,d,p1,p2" for a local IPv4 address in host byte order. When the server is
// reached over loopback the address sent is 127,0,0,1 whatever the local end says.
std::string FtpPortCommand(std::uint32_t localAddr, quint16 port, bool remoteIsLoopback);

// The statistics text without the "! " prefix: "N bytes received/sent in S seconds" and,
// when elapsedMs is not 0, " (R Bytes/sec)".
std::string FtpTransferStatsText(qint64 count, qint64 elapsedMs);

// Splits a listing chunk into lines (CR LF, LF and CR all end a line; runs of line ends are
// skipped). Whole lines go to onLine; the unfinished tail is copied into linePart (at most
// LinePartMax bytes, its last ones) and its length returned. truncatedFrom receives the
// tail's full length when it had to be cut, else 0.
constexpr int FtpLinePartMax = 255;
int FtpSplitListingChunk(const char *chunk, int n, const std::function<void(std::string &)> &onLine,
                         char *linePart, int &truncatedFrom);
