#include "session/ConnectionSettings.h"

std::string SessionCaption(const ConnectionSettings &settings)
{
    if (!settings.Site.empty())
        return "Zarvel - " + settings.Site;
    // Through a proxy the port is the proxy's, which tells nothing about the host.
    if (settings.HostPort == kDefaultHostPort || !settings.ProxyName.empty())
        return "Zarvel - " + settings.HostName;
    // Two sites on one host differ by their ports.
    const bool ipv6 = settings.HostName.find(':') != std::string::npos && settings.HostName.front() != '[';
    const std::string host = ipv6 ? "[" + settings.HostName + "]" : settings.HostName;
    return "Zarvel - " + host + ":" + std::to_string(settings.HostPort);
}
