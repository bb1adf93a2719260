#include "support/FtpServers.h"
#include "support/TlsCerts.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace zarvel::test {

namespace {

// The system user tools/ftp-servers.sh creates; vsftpd logs it in through PAM, proftpd
// through its own password file (SHA-512 crypt of the same password).
constexpr const char *kUser = "zarvelftp";
constexpr const char *kPassword = "zarvel-ftp-test";
constexpr const char *kPasswordHash =
    "$6$zarvelsalt$ZCg65zFvv/9RV4Mdx8EuaigBEepv7DA7GiVArvXDLQ0amGB9wkL48Rae3mEbSUKWQ4UTgHkjY2k4xKPEnJQCx.";

using Clock = std::chrono::steady_clock;

std::string ServersDir()
{
    const QByteArray dir = qgetenv("ZARVEL_FTP_SERVERS_DIR");
    return dir.isEmpty() ? std::string("/opt/zarvel-ftp-servers") : dir.toStdString();
}

std::string ReadFile(const std::string &path)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().toStdString();
}

bool WriteFile(const std::string &path, const std::string &text, std::string *error)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(text.data(), qint64(text.size())) != qint64(text.size())) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

// The loopback address of the family, with a port.
sockaddr_storage LoopbackAddress(bool ipv6, quint16 port, socklen_t *len)
{
    sockaddr_storage storage{};
    if (ipv6) {
        auto &in6 = reinterpret_cast<sockaddr_in6 &>(storage);
        in6.sin6_family = AF_INET6;
        in6.sin6_addr = in6addr_loopback;
        in6.sin6_port = htons(port);
        *len = sizeof in6;
    } else {
        auto &in = reinterpret_cast<sockaddr_in &>(storage);
        in.sin_family = AF_INET;
        in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        in.sin_port = htons(port);
        *len = sizeof in;
    }
    return storage;
}

// A port the system considers free right now; the server binds it a moment later, and a
// lost race shows as the server exiting, which Start() retries.
quint16 FreeLoopbackPort(bool ipv6)
{
    const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    socklen_t len = 0;
    sockaddr_storage addr = LoopbackAddress(ipv6, 0, &len);
    quint16 port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), len) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
        port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6 &>(addr).sin6_port
                          : reinterpret_cast<sockaddr_in &>(addr).sin_port);
    ::close(fd);
    return port;
}

bool TestUserIds(uid_t *uid, gid_t *gid, std::string *error)
{
    const passwd *pw = ::getpwnam(kUser);
    if (!pw) {
        *error = std::string("system user ") + kUser + " is missing: run tools/ftp-servers.sh as root";
        return false;
    }
    *uid = pw->pw_uid;
    *gid = pw->pw_gid;
    return true;
}

} // namespace

const char *FtpServerKindName(FtpServerKind kind)
{
    switch (kind) {
    case FtpServerKind::PyFtpdLib: return "pyftpdlib";
    case FtpServerKind::Vsftpd: return "vsftpd";
    case FtpServerKind::Proftpd: return "proftpd";
    case FtpServerKind::Guardian: return "guardian-ftpd";
    }
    return "?";
}

FtpServerProcess::FtpServerProcess(FtpServerKind kind)
    : m_kind(kind), m_dir(QDir::tempPath() + "/zarvel-ftpd-XXXXXX"), m_user(kUser), m_password(kPassword)
{
}

FtpServerProcess::~FtpServerProcess()
{
    Stop();
}

std::string FtpServerProcess::Dir(const char *name) const
{
    return m_dir.path().toStdString() + "/" + name;
}

std::string FtpServerProcess::Root() const
{
    return m_backend ? m_backend->Root() : Dir("root");
}

std::string FtpServerProcess::TargetHost() const
{
    return m_backend ? m_backend->Host() + ":" + m_backend->PortText() : Host() + ":" + PortText();
}

std::string FtpServerProcess::Log() const
{
    std::string log;
    for (const char *name : {"stdout.log", "stderr.log", "server.log", "proxy.log", "tls.log"}) {
        const std::string text = ReadFile(Dir(name));
        if (!text.empty())
            log += std::string("--- ") + name + "\n" + text.substr(text.size() > 4000 ? text.size() - 4000 : 0);
    }
    if (m_backend)
        log += "--- backend " + std::string(FtpServerKindName(m_backend->Kind())) + "\n" + m_backend->Log();
    return log;
}

void FtpServerProcess::Stop()
{
    if (m_pid > 0) {
        // Each server runs in its own process group, so its session children go with it.
        // The leader is reaped only after the group's last signal: until then its zombie
        // holds the number, so the group id cannot have passed to someone else's processes.
        ::kill(-m_pid, SIGTERM);
        const auto deadline = Clock::now() + std::chrono::seconds(3);
        while (Clock::now() < deadline) {
            siginfo_t info{};
            if (::waitid(P_PID, id_t(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == m_pid)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ::kill(-m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    if (m_backend)
        m_backend->Stop();
}

bool FtpServerProcess::Spawn(const std::string &program, const std::vector<std::string> &args,
                             bool preloadSsl, std::string *error)
{
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e)
        if (std::strncmp(*e, "LD_PRELOAD=", 11) != 0)
            env.emplace_back(*e);
    env.emplace_back("PYTHONUNBUFFERED=1");
    // Debian's mod_proxy expects the OpenSSL symbols that mod_tls would otherwise bring.
    if (preloadSsl)
        env.emplace_back("LD_PRELOAD=libssl.so.3 libcrypto.so.3");

    std::vector<char *> argv{const_cast<char *>(program.c_str())};
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (std::string &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    const std::string out = Dir("stdout.log"), err = Dir("stderr.log");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        *error = "cannot start " + program + ": " + std::strerror(rc);
        return false;
    }
    m_pid = pid;
    return true;
}

// Servers that pick their own port announce it as "... listening on 127.0.0.1:PORT".
bool FtpServerProcess::WaitForPortLine(const std::string &marker, std::string *error)
{
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    while (Clock::now() < deadline) {
        const std::string out = ReadFile(Dir("stdout.log"));
        const size_t at = out.find(marker);
        const size_t eol = at == std::string::npos ? at : out.find('\n', at);
        if (eol != std::string::npos) {
            m_port = quint16(std::stoi(out.substr(at + marker.size(), eol - at - marker.size())));
            return m_port != 0 && WaitForBanner(error);
        }
        if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            *error = "server exited before it listened";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    *error = "server did not announce its port within 15 s";
    return false;
}

// Ready means: a connection to the port gets a 220 greeting.
bool FtpServerProcess::WaitForBanner(std::string *error)
{
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    std::string last = "no connection";
    while (Clock::now() < deadline) {
        if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            *error = "server exited (port taken or bad configuration)";
            return false;
        }
        const int fd = ::socket(m_ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
        socklen_t len = 0;
        const sockaddr_storage addr = LoopbackAddress(m_ipv6, m_port, &len);
        timeval tv{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&addr), len) == 0) {
            std::string line;
            char c;
            while (line.size() < 1024 && ::recv(fd, &c, 1, 0) == 1 && c != '\n')
                line += c;
            ::close(fd);
            if (line.rfind("220", 0) == 0)
                return true;
            last = "greeting was \"" + line + "\"";
        } else {
            ::close(fd);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    *error = "server did not greet with 220 within 15 s (" + last + ")";
    return false;
}

bool FtpServerProcess::Launch(std::string *error)
{
    if (!m_dir.isValid()) {
        *error = "cannot create a temporary folder";
        return false;
    }
    // Servers that drop to the test user must be able to walk down to the served folder.
    ::chmod(m_dir.path().toLocal8Bit().constData(), 0755);
    const std::string root = Dir("root");
    QDir().mkpath(QString::fromStdString(root));

    switch (m_kind) {
    case FtpServerKind::PyFtpdLib: {
        const std::string script = std::string(ZARVEL_SOURCE_DIR) + "/tests/support/pyftpd_server.py";
        if (!Spawn("/usr/bin/python3",
                   {script, "--root", root, "--user", m_user, "--password", m_password, "--log", Dir("server.log"),
                    "--address", Host()},
                   false, error))
            return false;
        return WaitForPortLine(m_ipv6 ? "pyftpd listening on [::1]:" : "pyftpd listening on 127.0.0.1:", error);
    }
    case FtpServerKind::Guardian: {
        const std::string script = std::string(ZARVEL_SOURCE_DIR) + "/tools/guardian-ftpd/guardian_ftpd.py";
        if (!QFileInfo::exists(QString::fromStdString(script))) {
            *error = script + " is missing";
            return false;
        }
        std::vector<std::string> args{script, "--root", root, "--port", "0", "--user", m_user,
                                      "--password", m_password, "--home", "$DATA01.ZDEMO", "--verbose",
                                      "--address", Host()};
        if (!m_tlsCert.empty())
            args.insert(args.end(), {"--tls", TlsCertFile(m_tlsCert), TlsKeyFile(m_tlsCert)});
        args.insert(args.end(), m_options.begin(), m_options.end());
        if (!Spawn("/usr/bin/python3", args, false, error))
            return false;
        return WaitForPortLine(m_ipv6 ? "guardian-ftpd listening on [::1]:" : "guardian-ftpd listening on 127.0.0.1:",
                               error);
    }
    case FtpServerKind::Vsftpd:
    case FtpServerKind::Proftpd:
        break;
    }

    uid_t uid;
    gid_t gid;
    if (!TestUserIds(&uid, &gid, error))
        return false;
    if (::chown(root.c_str(), uid, gid) != 0) {
        *error = "cannot give " + root + " to the test user: " + std::strerror(errno);
        return false;
    }
    QDir().mkpath(QString::fromStdString(Dir("empty")));

    // The port is chosen here, so a lost race with another process is retried.
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_port = FreeLoopbackPort(m_ipv6);
        std::string program, config;
        std::vector<std::string> args;
        if (m_kind == FtpServerKind::Vsftpd) {
            program = ServersDir() + "/usr/sbin/vsftpd";
            config = ListenConfig() + "listen_port=" + PortText() +
                     "\nbackground=NO\nseccomp_sandbox=NO\nanonymous_enable=NO\nlocal_enable=YES\n"
                     "write_enable=YES\nlocal_umask=022\nlocal_root=" + root +
                     "\nchroot_local_user=YES\nallow_writeable_chroot=YES\nsecure_chroot_dir=" + Dir("empty") +
                     "\nconnect_from_port_20=NO\npasv_enable=YES\nport_enable=YES\n"
                     "pam_service_name=zarvel-test-ftp\nxferlog_enable=NO\ndirmessage_enable=NO\nuserlist_enable=NO\n"
                     "tcp_wrappers=NO\nuse_localtime=NO\nvsftpd_log_file=" + Dir("server.log") +
                     "\nftpd_banner=Zarvel test vsftpd ready.\n" + TlsConfig();
            if (!WriteFile(Dir("vsftpd.conf"), config, error))
                return false;
            args = {Dir("vsftpd.conf")};
        } else {
            program = ServersDir() + "/usr/sbin/proftpd";
            const std::string passwd = std::string(kUser) + ":" + kPasswordHash + ":" + std::to_string(uid) + ":" +
                                       std::to_string(gid) + "::" + root + ":/bin/bash\n";
            if (!WriteFile(Dir("passwd"), passwd, error))
                return false;
            ::chmod(Dir("passwd").c_str(), 0600);
            config = "ServerName \"Zarvel test proftpd\"\nServerType standalone\nDefaultServer on\nPort " +
                     PortText() + "\n" + ListenConfig() + "SocketBindTight on\nUser nobody\nGroup nogroup\n"
                     "Umask 022\nMaxInstances 64\nPidFile " + Dir("proftpd.pid") + "\nScoreboardFile " +
                     Dir("scoreboard") + "\nDelayTable none\nDelayEngine off\nUseReverseDNS off\nWtmpLog off\n"
                     "TransferLog none\nSystemLog " + Dir("server.log") + "\nAuthOrder mod_auth_file.c\n"
                     "AuthUserFile " + Dir("passwd") + "\nAuthPAM off\nRequireValidShell off\nDefaultRoot ~\n"
                     "AllowOverwrite on\nAllowStoreRestart on\nAllowRetrieveRestart on\n" + TlsConfig();
            if (!WriteFile(Dir("proftpd.conf"), config, error))
                return false;
            args = {"-n", "-c", Dir("proftpd.conf")};
        }
        if (!QFileInfo::exists(QString::fromStdString(program))) {
            *error = program + " is missing: run tools/ftp-servers.sh (tools/dev.sh does) as root";
            return false;
        }
        if (!Spawn(program, args, false, error))
            return false;
        if (WaitForBanner(error))
            return true;
        Stop();
    }
    return false;
}

std::string FtpServerProcess::ListenConfig() const
{
    // vsftpd: listen_ipv6 for ::1 (and listen off, the two exclude each other). pasv_address
    // names an IPv4 address for PASV replies only: EPSV replies name no address.
    if (m_kind == FtpServerKind::Vsftpd)
        return m_ipv6 ? "listen=NO\nlisten_ipv6=YES\nlisten_address6=::1\n"
                      : "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\npasv_address=127.0.0.1\n";
    return m_ipv6 ? "DefaultAddress ::1\nUseIPv6 on\n" : "DefaultAddress 127.0.0.1\nUseIPv6 off\n";
}

std::string FtpServerProcess::TlsConfig() const
{
    if (m_tlsCert.empty())
        return {};
    const std::string cert = TlsCertFile(m_tlsCert), key = TlsKeyFile(m_tlsCert);
    // Both require TLS for the login and the data, and (by default) the control
    // connection's session on every data connection.
    if (m_kind == FtpServerKind::Vsftpd)
        return "ssl_enable=YES\nrsa_cert_file=" + cert + "\nrsa_private_key_file=" + key +
               "\nforce_local_logins_ssl=YES\nforce_local_data_ssl=YES\nssl_ciphers=HIGH\n"
               "debug_ssl=YES\nlog_ftp_protocol=YES\n";
    return "ModulePath " + ServersDir() + "/usr/lib/proftpd\nLoadModule mod_tls.c\n<IfModule mod_tls.c>\n"
           "  TLSEngine on\n  TLSLog " + Dir("tls.log") + "\n  TLSProtocol TLSv1.2 TLSv1.3\n"
           "  TLSECCertificateFile " + cert + "\n  TLSECCertificateKeyFile " + key +
           "\n  TLSRequired on\n  TLSVerifyClient off\n</IfModule>\n";
}

bool FtpServerProcess::LaunchProxy(const FtpServerProcess &backend, std::string *error)
{
    if (!m_dir.isValid()) {
        *error = "cannot create a temporary folder";
        return false;
    }
    ::chmod(m_dir.path().toLocal8Bit().constData(), 0755);
    const std::string tables = Dir("tables");
    QDir().mkpath(QString::fromStdString(tables));
    if (const passwd *nobody = ::getpwnam("nobody"))
        if (::chown(tables.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
            *error = "cannot give " + tables + " to nobody";
            return false;
        }
    m_user = backend.User();
    m_password = backend.Password();
    const std::string program = ServersDir() + "/usr/sbin/proftpd";
    if (!QFileInfo::exists(QString::fromStdString(ServersDir() + "/usr/lib/proftpd/mod_proxy.so"))) {
        *error = ServersDir() + "/usr/lib/proftpd/mod_proxy.so is missing: run tools/ftp-servers.sh as root";
        return false;
    }
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_port = FreeLoopbackPort(false);
        // Forward proxying is off by default for clients outside private networks;
        // the class turns it on for loopback clients.
        const std::string config =
            "ServerName \"Zarvel test FTP proxy\"\nServerType standalone\nDefaultServer on\nPort " + PortText() +
            "\nDefaultAddress 127.0.0.1\nSocketBindTight on\nUseIPv6 off\nUser nobody\nGroup nogroup\n"
            "MaxInstances 64\nPidFile " + Dir("proftpd.pid") + "\nScoreboardFile " + Dir("scoreboard") +
            "\nDelayTable none\nDelayEngine off\nUseReverseDNS off\nWtmpLog off\nTransferLog none\nSystemLog " +
            Dir("server.log") + "\nAuthPAM off\nModulePath " + ServersDir() +
            "/usr/lib/proftpd\nLoadModule mod_proxy.c\n<IfModule mod_proxy.c>\n  ProxyEngine on\n  ProxyLog " +
            Dir("proxy.log") + "\n  ProxyTables " + tables +
            "\n  ProxyRole forward\n  ProxyForwardMethod user@host\n</IfModule>\n"
            "<Class loopback>\n  From 127.0.0.0/8\n  ProxyForwardEnabled on\n</Class>\n";
        if (!WriteFile(Dir("proftpd.conf"), config, error))
            return false;
        if (!Spawn(program, {"-n", "-c", Dir("proftpd.conf")}, true, error))
            return false;
        if (WaitForBanner(error))
            return true;
        Stop();
    }
    return false;
}

std::unique_ptr<FtpServerProcess> FtpServerProcess::Start(FtpServerKind kind, std::string *error,
                                                          const std::string &TlsCert, bool Ipv6,
                                                          const std::vector<std::string> &Options)
{
    std::unique_ptr<FtpServerProcess> server(new FtpServerProcess(kind));
    server->m_tlsCert = TlsCert;
    server->m_ipv6 = Ipv6;
    server->m_options = Options;
    if (!server->Launch(error)) {
        *error = std::string(FtpServerKindName(kind)) + ": " + *error + "\n" + server->Log();
        return nullptr;
    }
    return server;
}

std::unique_ptr<FtpServerProcess> FtpServerProcess::StartProxy(FtpServerKind backendKind, std::string *error)
{
    std::unique_ptr<FtpServerProcess> backend = Start(backendKind, error);
    if (!backend)
        return nullptr;
    std::unique_ptr<FtpServerProcess> proxy(new FtpServerProcess(FtpServerKind::Proftpd));
    if (!proxy->LaunchProxy(*backend, error)) {
        *error = std::string("proftpd mod_proxy: ") + *error + "\n" + proxy->Log();
        return nullptr;
    }
    proxy->m_backend = std::move(backend);
    return proxy;
}

std::unique_ptr<FtpServerProcess> StartFtpServer(FtpServerKind kind, const std::string &TlsCert, bool Ipv6,
                                                 const std::vector<std::string> &Options)
{
    std::string error;
    std::unique_ptr<FtpServerProcess> server = FtpServerProcess::Start(kind, &error, TlsCert, Ipv6, Options);
    if (!server)
        ADD_FAILURE() << "cannot start " << FtpServerKindName(kind) << ": " << error;
    return server;
}

std::unique_ptr<FtpServerProcess> StartFtpProxy(FtpServerKind backend)
{
    std::string error;
    std::unique_ptr<FtpServerProcess> server = FtpServerProcess::StartProxy(backend, &error);
    if (!server)
        ADD_FAILURE() << "cannot start the FTP proxy in front of " << FtpServerKindName(backend) << ": " << error;
    return server;
}

} // namespace zarvel::test
