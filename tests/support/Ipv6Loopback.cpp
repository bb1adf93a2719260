#include "support/Ipv6Loopback.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// 0 when a socket binds to ::1, else the errno that stopped it.
int Ipv6LoopbackError()
{
    static const int Error = [] {
        const int Fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (Fd < 0)
            return errno;
        sockaddr_in6 A{};
        A.sin6_family = AF_INET6;
        A.sin6_addr = in6addr_loopback;
        const int Rc = ::bind(Fd, reinterpret_cast<sockaddr *>(&A), sizeof A) == 0 ? 0 : errno;
        ::close(Fd);
        return Rc;
    }();
    return Error;
}

} // namespace

bool HaveIpv6Loopback() { return Ipv6LoopbackError() == 0; }

std::string NoIpv6LoopbackReason()
{
    return std::string("no IPv6 on the loopback interface (binding ::1 failed: ") +
           std::strerror(Ipv6LoopbackError()) + ")";
}
