// Throwaway certificates for the TLS tests, made once per test program by
// tools/tls/make_certs.py: an authority (ca), and leaf certificates "server" and "server2"
// (127.0.0.1, ::1 and localhost), "other" (another name only) and "expired".
#pragma once

#include <string>

namespace zarvel::test {

std::string TlsCertsDir();                     // the folder; a test failure when they cannot be made
std::string TlsCertFile(const std::string &name); // <dir>/<name>.pem
std::string TlsKeyFile(const std::string &name);  // <dir>/<name>.key

// Makes the process trust only the throwaway authority (true) or only the system store
// (false), for the TLS contexts made from now on.
void TrustTestAuthority(bool on);

} // namespace zarvel::test
