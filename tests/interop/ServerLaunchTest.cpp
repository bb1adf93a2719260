// The launchers behind every real-server test: each server starts on a free loopback port,
// greets, logs the test user in, and is gone after Stop().
#include "support/FtpServers.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace zarvel::test;

namespace {

// A blocking control-connection dialogue, independent of the engine under test.
class RawFtp {
public:
    explicit RawFtp(quint16 port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        timeval tv{10, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    }
    ~RawFtp() { ::close(m_fd); }
    bool Connected() const { return m_connected; }

    // The final line of the next reply (multi-line replies skipped up to "NNN ").
    std::string Reply()
    {
        for (;;) {
            std::string line;
            char c;
            while (::recv(m_fd, &c, 1, 0) == 1 && c != '\n')
                line += c;
            if (line.size() < 4 || line[3] != '-')
                return line;
        }
    }
    std::string Command(const std::string &text)
    {
        const std::string wire = text + "\r\n";
        if (::send(m_fd, wire.data(), wire.size(), MSG_NOSIGNAL) != ssize_t(wire.size()))
            return "send failed";
        return Reply();
    }

private:
    int m_fd = -1;
    bool m_connected = false;
};

bool ProcessGone(pid_t pid)
{
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

class ServerLaunch : public testing::TestWithParam<FtpServerKind> {};

} // namespace

TEST_P(ServerLaunch, greetsLogsInAndStops)
{
    auto server = StartFtpServer(GetParam());
    ASSERT_TRUE(server);
    const pid_t pid = server->Pid();
    {
        RawFtp ftp(server->Port());
        ASSERT_TRUE(ftp.Connected());
        EXPECT_EQ(ftp.Reply().substr(0, 4), "220 ");
        EXPECT_EQ(ftp.Command("USER " + server->User()).substr(0, 3), "331");
        EXPECT_EQ(ftp.Command("PASS " + server->Password()).substr(0, 3), "230") << server->Log();
        EXPECT_EQ(ftp.Command("QUIT").substr(0, 3), "221");
    }
    server->Stop();
    EXPECT_TRUE(ProcessGone(pid));
}

INSTANTIATE_TEST_SUITE_P(Servers, ServerLaunch,
                         testing::Values(FtpServerKind::PyFtpdLib, FtpServerKind::Vsftpd, FtpServerKind::Proftpd,
                                         FtpServerKind::Guardian),
                         [](const testing::TestParamInfo<FtpServerKind> &info) {
                             std::string name = FtpServerKindName(info.param);
                             std::erase(name, '-');
                             return name;
                         });

// The proxy passes "USER user@host:port" on to the backend and relays its login.
TEST(ServerLaunchProxy, forwardsLoginToBackendAndStopsBoth)
{
    auto proxy = StartFtpProxy(FtpServerKind::PyFtpdLib);
    ASSERT_TRUE(proxy);
    ASSERT_TRUE(proxy->IsProxy());
    const pid_t pid = proxy->Pid();
    {
        RawFtp ftp(proxy->Port());
        ASSERT_TRUE(ftp.Connected());
        EXPECT_EQ(ftp.Reply().substr(0, 4), "220 ");
        EXPECT_EQ(ftp.Command("USER " + proxy->User() + "@" + proxy->TargetHost()).substr(0, 3), "331");
        EXPECT_EQ(ftp.Command("PASS " + proxy->Password()).substr(0, 3), "230") << proxy->Log();
        EXPECT_EQ(ftp.Command("QUIT").substr(0, 3), "221");
    }
    proxy->Stop();
    EXPECT_TRUE(ProcessGone(pid));
}
