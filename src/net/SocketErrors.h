// Exceptions of the socket layer, the Windows Sockets error numbering that events and
// messages carry, and the mapping of POSIX errno values onto it.
#pragma once

#include <exception>
#include <string>

// Common base of the project's exceptions: the socket layer's background-exception guard
// hands these to OnBgException.
class Exception : public std::exception {
public:
    explicit Exception(std::string Message) : FMessage(std::move(Message)) {}
    const char *what() const noexcept override { return FMessage.c_str(); }
    const std::string &Message() const { return FMessage; }

private:
    std::string FMessage;
};

// Raised by socket reports when the socket's OnError is not assigned, and by the
// resolution helpers.
class ESocketException : public Exception {
public:
    using Exception::Exception;
};

// Windows Sockets error numbers used by the layer itself.
enum : int {
    WSAEINTR = 10004,
    WSAEBADF = 10009,
    WSAEACCES = 10013,
    WSAEFAULT = 10014,
    WSAEINVAL = 10022,
    WSAEMFILE = 10024,
    WSAEWOULDBLOCK = 10035,
    WSAEINPROGRESS = 10036,
    WSAEALREADY = 10037,
    WSAENOTSOCK = 10038,
    WSAEMSGSIZE = 10040,
    WSAEAFNOSUPPORT = 10047,
    WSAEADDRINUSE = 10048,
    WSAEADDRNOTAVAIL = 10049,
    WSAENETDOWN = 10050,
    WSAENETUNREACH = 10051,
    WSAECONNABORTED = 10053,
    WSAECONNRESET = 10054,
    WSAENOBUFS = 10055,
    WSAEISCONN = 10056,
    WSAENOTCONN = 10057,
    WSAESHUTDOWN = 10058,
    WSAETIMEDOUT = 10060,
    WSAECONNREFUSED = 10061,
    WSAEHOSTUNREACH = 10065,
    WSANOTINITIALISED = 10093,
    WSAHOST_NOT_FOUND = 11001,
    WSATRY_AGAIN = 11002,
    WSANO_RECOVERY = 11003,
    WSANO_DATA = 11004,
};

// Description of a socket error number; "Not a WinSock error" for numbers outside the table.
std::string WSocketErrorDesc(int ErrCode);

// The Windows Sockets number for a POSIX errno value (0 stays 0; values without a
// counterpart are returned unchanged, so their description is "Not a WinSock error").
int WSocketErrnoToWSA(int Errno);
