// Real FTP servers for the tests: each runs as its own process on a free loopback port
// (127.0.0.1, or ::1 when asked), serves a temporary folder to one test user and is stopped
// by its process id.
#pragma once

#include <QTemporaryDir>
#include <QtGlobal>
#include <memory>
#include <string>
#include <vector>
#include <sys/types.h>

namespace zarvel::test {

enum class FtpServerKind {
    PyFtpdLib,  // Debian's pyftpdlib through tests/support/pyftpd_server.py
    Vsftpd,     // vsftpd unpacked by tools/ftp-servers.sh
    Proftpd,    // proftpd unpacked by tools/ftp-servers.sh
    Guardian,   // the NonStop-style server in tools/guardian-ftpd
};

const char *FtpServerKindName(FtpServerKind kind);

// One running server process. Start() fails with a text that says why (including the
// server's own log), so a test that needs the server fails loudly instead of skipping.
class FtpServerProcess {
public:
    // TlsCert names a certificate of TlsCerts.h ("server", "expired", ...): the server then
    // offers FTP over TLS with it (pyftpdlib never does), and requires it where it can.
    // Ipv6: the server listens on ::1 instead of 127.0.0.1. Options: more command-line
    // options of the NonStop-style server ("--start-oss", ...).
    static std::unique_ptr<FtpServerProcess> Start(FtpServerKind kind, std::string *error,
                                                   const std::string &TlsCert = {}, bool Ipv6 = false,
                                                   const std::vector<std::string> &Options = {});
    // A forward FTP proxy (proftpd with mod_proxy) that takes "USER user@host:port" and
    // passes the session on to a backend server of the given kind, started with it.
    static std::unique_ptr<FtpServerProcess> StartProxy(FtpServerKind backend, std::string *error);
    ~FtpServerProcess();

    FtpServerProcess(const FtpServerProcess &) = delete;
    FtpServerProcess &operator=(const FtpServerProcess &) = delete;

    void Stop();                                   // SIGTERM to the process group, SIGKILL after 3 s
    FtpServerKind Kind() const { return m_kind; }
    bool IsProxy() const { return m_backend != nullptr; }
    std::string Host() const { return m_ipv6 ? "::1" : "127.0.0.1"; }
    quint16 Port() const { return m_port; }        // the control port (the proxy's for a proxy)
    std::string PortText() const { return std::to_string(m_port); }
    std::string User() const { return m_user; }
    std::string Password() const { return m_password; }
    // The folder the user sees as "/" (the backend's for a proxy); tests put and find files here.
    std::string Root() const;
    // For a proxy: the text after "@" in USER that names the backend ("127.0.0.1:PORT").
    std::string TargetHost() const;
    pid_t Pid() const { return m_pid; }
    std::string Log() const;                       // the server's output and log files

private:
    explicit FtpServerProcess(FtpServerKind kind);
    bool Launch(std::string *error);
    std::string TlsConfig() const;                 // the vsftpd or proftpd lines for m_tlsCert
    bool LaunchProxy(const FtpServerProcess &backend, std::string *error);
    bool Spawn(const std::string &program, const std::vector<std::string> &args, bool preloadSsl,
               std::string *error);
    bool WaitForPortLine(const std::string &prefix, std::string *error);
    bool WaitForBanner(std::string *error);
    std::string ListenConfig() const;              // the vsftpd or proftpd lines of the address
    std::string Dir(const char *name) const;

    FtpServerKind m_kind;
    QTemporaryDir m_dir;                           // config, logs and the served folder "root"
    pid_t m_pid = -1;
    quint16 m_port = 0;
    std::string m_user;
    std::string m_password;
    std::unique_ptr<FtpServerProcess> m_backend;   // set for a proxy
    std::string m_tlsCert;                         // certificate name; empty: plain FTP only
    bool m_ipv6 = false;                           // listens on ::1
    std::vector<std::string> m_options;            // more options of the NonStop-style server
};

// Starts a server and records a test failure with the reason when it cannot; use as
//   auto server = StartFtpServer(FtpServerKind::Vsftpd); ASSERT_TRUE(server);
std::unique_ptr<FtpServerProcess> StartFtpServer(FtpServerKind kind, const std::string &TlsCert = {},
                                                 bool Ipv6 = false, const std::vector<std::string> &Options = {});
std::unique_ptr<FtpServerProcess> StartFtpProxy(FtpServerKind backend);

} // namespace zarvel::test
