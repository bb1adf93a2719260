// Whether this machine has IPv6 on its loopback interface (::1): CI machines may lack it, and
// the tests that need it skip with the reason printed instead of passing silently.
#pragma once

#include <string>

bool HaveIpv6Loopback();
// The reason to give GTEST_SKIP() when HaveIpv6Loopback() is false.
std::string NoIpv6LoopbackReason();

#define SKIP_WITHOUT_IPV6_LOOPBACK()                        \
    do {                                                    \
        if (!HaveIpv6Loopback())                            \
            GTEST_SKIP() << NoIpv6LoopbackReason();         \
    } while (false)
