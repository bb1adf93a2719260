// The engine over IPv6 and across the addresses of a name: the scripted peer on ::1 (EPSV
// and EPRT, their refusals, the stranger on the active listener), and a name that resolves
// to several addresses of which only some answer. Tests that need IPv6 on loopback skip with
// the reason printed when it is missing.
#include "ftp/FtpClient.h"
#include "net/Resolution.h"
#include "net/Socket.h"
#include "support/FtpScriptData.h"
#include "support/FtpScriptPeer.h"
#include "support/Ipv6Loopback.h"

#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

QByteArray FileBytes(const std::string &path)
{
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A session logged in to a scripted peer listening on PeerAddress, reached as HostName.
class FtpSix : public testing::Test {
protected:
    void Login(const QHostAddress &PeerAddress, const std::string &HostName)
    {
        peer = std::make_unique<FtpScriptPeer>(PeerAddress);
        data = std::make_unique<FtpScriptData>(*peer);
        cli.SetHostName(HostName);
        cli.SetPort(peer->PortText().toStdString());
        cli.SetUserName("u");
        cli.SetPassWord("p");
        cli.SetTimeout(5);
        cli.OnDisplay = [this](TCustomFtpCli *, std::string &m) { display.push_back(m); };
        peer->Send("220 hi\r\n").Reply("USER u", "331 pw\r\n").Reply("PASS p", "230 ok\r\n");
        ASSERT_TRUE(cli.Connect()) << cli.ErrorMessage();
        ASSERT_TRUE(peer->WaitFinished());
    }
    bool Download(const char *name)
    {
        cli.SetHostFileName(name);
        cli.SetLocalFileName(Local(name));
        return cli.Get();
    }
    std::string Local(const char *name) const { return dir.filePath(name).toStdString(); }
    bool Displayed(const std::string &m) const { return std::count(display.begin(), display.end(), m) > 0; }

    QTemporaryDir dir;
    std::unique_ptr<FtpScriptPeer> peer;
    std::unique_ptr<FtpScriptData> data;
    TFtpClient cli;
    std::vector<std::string> display;
};

TEST_F(FtpSix, passiveOverIpv6UsesEpsvAndTheControlAddress)
{
    SKIP_WITHOUT_IPV6_LOOPBACK();
    Login(QHostAddress::LocalHostIPv6, "[::1]");
    EXPECT_EQ(cli.ControlSocket()->PeerAddr(), "::1");
    cli.SetPassive(true);
    data->ExpectPasv();
    peer->Reply("RETR f", "150 go\r\n");
    data->Open().Send("over six").Close();
    peer->Delay(50).Send("226 ok\r\n");
    ASSERT_TRUE(Download("f")) << cli.ErrorMessage();
    // The peer's data listener is on ::1 only: the bytes came over IPv6.
    EXPECT_EQ(FileBytes(Local("f")), "over six");
    EXPECT_TRUE(peer->Commands().contains("EPSV"));
}

TEST_F(FtpSix, refusedEpsvOverIpv6FailsWithoutPasv)
{
    // A PASV reply cannot name an IPv6 address: there is nothing to fall back to.
    SKIP_WITHOUT_IPV6_LOOPBACK();
    Login(QHostAddress::LocalHostIPv6, "::1");
    cli.SetPassive(true);
    peer->Reply("EPSV", "500 'EPSV': command not understood.\r\n");
    EXPECT_FALSE(Download("f"));
    EXPECT_EQ(cli.ReplyCode(), 500);
    EXPECT_EQ(cli.ErrorMessage(), "500 'EPSV': command not understood.");
    peer->Reply("PWD", "257 \"/x\"\r\n");
    EXPECT_TRUE(cli.Pwd()) << cli.ErrorMessage();
    EXPECT_FALSE(peer->Commands().contains("PASV"));
}

TEST_F(FtpSix, activeOverIpv6UsesEprtWithTheControlConnectionsAddress)
{
    SKIP_WITHOUT_IPV6_LOOPBACK();
    Login(QHostAddress::LocalHostIPv6, "::1");
    cli.SetPassive(false);
    for (const bool connectFirst : {false, true}) {
        data->ExpectEprt();
        if (connectFirst)
            data->Open();
        peer->Reply("RETR f", "150 go\r\n");
        if (!connectFirst)
            data->Open();
        data->Send("active six").Close();
        peer->Delay(50).Send("226 ok\r\n");
        ASSERT_TRUE(Download("f")) << cli.ErrorMessage();
        EXPECT_EQ(FileBytes(Local("f")), "active six");
        EXPECT_EQ(data->PortLine().left(12), "EPRT |2|::1|");
    }
    EXPECT_FALSE(peer->Commands().contains("PORT"));
}

TEST_F(FtpSix, refusedEprtFailsTheTransferAndClosesTheListener)
{
    SKIP_WITHOUT_IPV6_LOOPBACK();
    Login(QHostAddress::LocalHostIPv6, "::1");
    cli.SetPassive(false);
    data->ExpectEprt("522 Network protocol not supported, use (1)");
    EXPECT_FALSE(Download("f"));
    EXPECT_EQ(cli.ReplyCode(), 522);
    EXPECT_EQ(cli.DataSocket()->State(), wsClosed);
    EXPECT_FALSE(peer->Commands().contains("RETR f"));
}

TEST_F(FtpSix, strangerOnTheIpv6ActiveListenerIsRefused)
{
    // ::1 is the only IPv6 loopback address, so the stranger cannot come from another one:
    // the control connection runs over an IPv6 socket to the mapped 127.0.0.1, whose active
    // listener a stranger from 127.0.0.2 reaches as ::ffff:127.0.0.2.
    SKIP_WITHOUT_IPV6_LOOPBACK();
    Login(QHostAddress::LocalHost, "::ffff:127.0.0.1");
    ASSERT_TRUE(cli.ControlSocket()->Sin().IsIPv6());
    cli.SetPassive(false);
    data->ExpectEprt();
    data->Intrude("EVIL", QHostAddress("127.0.0.2"));
    peer->Reply("RETR f", "150 go\r\n");
    data->Open().Send("good").Close();
    peer->Delay(50).Send("226 ok\r\n");
    ASSERT_TRUE(Download("f")) << cli.ErrorMessage();
    EXPECT_EQ(FileBytes(Local("f")), "good");
    EXPECT_TRUE(Displayed("! Data connection from ::ffff:127.0.0.2 refused: not the server's address"));
}

// ---- A name with several addresses ----------------------------------------------------------

// Answers the names it knows with fixed addresses, from the loop; every other name: not found.
class TableResolver : public TWSocketResolver {
public:
    int StartLookup(const std::string &Name, bool, TDone Done, int &) override
    {
        const auto It = names.find(Name);
        const THostEntry Entry = It == names.end() ? THostEntry{} : It->second;
        const int Error = It == names.end() ? WSAHOST_NOT_FOUND : 0;
        QTimer::singleShot(0, [Done, Error, Entry] { Done(Error, Entry); });
        return ++id;
    }
    bool CancelLookup(int, int &) override { return true; }
    std::map<std::string, THostEntry> names;
    int id = 0;
};

struct ResolverScope {
    explicit ResolverScope(TWSocketResolver *r) { WSocketSetResolver(r); }
    ~ResolverScope() { WSocketSetResolver(nullptr); }
};

class FtpAddresses : public testing::Test {
protected:
    void SetUp() override
    {
        cli.SetUserName("u");
        cli.SetPassWord("p");
        cli.SetTimeout(5);
        cli.OnDisplay = [this](TCustomFtpCli *, std::string &m) { display.push_back(m); };
    }
    void Name(const std::vector<uint32_t> &v4, bool withSix)
    {
        THostEntry e{"dual", v4, {}};
        if (withSix)
            e.Addresses6.push_back(in6addr_loopback);
        resolver.names["dual"] = e;
        cli.SetHostName("dual");
    }
    bool Displayed(const std::string &m) const { return std::count(display.begin(), display.end(), m) > 0; }

    TableResolver resolver;
    ResolverScope scope{&resolver};
    TFtpClient cli;
    std::vector<std::string> display;
};

TEST_F(FtpAddresses, ipv6RefusedThenIpv4Answers)
{
    // Without IPv6 on loopback ::1 fails another way; the walk goes on all the same.
    FtpScriptPeer peer;
    Name({htonl(INADDR_LOOPBACK)}, true);
    cli.SetPort(peer.PortText().toStdString());
    peer.Send("220 hi\r\n").Reply("USER u", "331 pw\r\n").Reply("PASS p", "230 ok\r\n");
    ASSERT_TRUE(cli.Connect()) << cli.ErrorMessage();
    EXPECT_EQ(cli.ConnectedAddress(), "127.0.0.1");
    EXPECT_TRUE(Displayed("! Connected to 127.0.0.1 (dual)"));
    const auto tried = std::find_if(display.begin(), display.end(), [](const std::string &m) {
        return m.rfind("! ::1: ", 0) == 0 && m.find("; trying the next address") != std::string::npos;
    });
    EXPECT_NE(tried, display.end());
    EXPECT_EQ(peer.Connections(), 1);
}

TEST_F(FtpAddresses, ipv6AnswersFirstAndIpv4IsNeverTried)
{
    SKIP_WITHOUT_IPV6_LOOPBACK();
    FtpScriptPeer peer(QHostAddress::LocalHostIPv6);
    Name({htonl(INADDR_LOOPBACK)}, true);
    cli.SetPort(peer.PortText().toStdString());
    peer.Send("220 hi\r\n").Reply("USER u", "331 pw\r\n").Reply("PASS p", "230 ok\r\n");
    ASSERT_TRUE(cli.Connect()) << cli.ErrorMessage();
    EXPECT_EQ(cli.ConnectedAddress(), "::1");
    EXPECT_TRUE(Displayed("! Connected to ::1 (dual)"));
    EXPECT_EQ(peer.Connections(), 1);
}

TEST_F(FtpAddresses, noAddressAnsweringGivesOneErrorNamingTheName)
{
    quint16 port;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    Name({htonl(INADDR_LOOPBACK)}, true);
    cli.SetPort(std::to_string(port));
    EXPECT_FALSE(cli.Connect());
    EXPECT_EQ(cli.ErrorMessage(), "500 Cannot connect to dual: none of its 2 addresses answered; the last: "
                                  "Connection refused (Winsock error #10061)");
    EXPECT_FALSE(cli.GetConnected());
    EXPECT_TRUE(cli.State() == ftpReady || cli.State() == ftpInternalReady);
}

TEST_F(FtpAddresses, addressThatNeverAnswersIsLeftAfterTheConnectTimeout)
{
    // 127.0.0.2 holds a listener whose queue is full: the kernel drops further connection
    // requests, so a connect there neither succeeds nor fails.
    FtpScriptPeer peer;
    const int hole = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(0x7f000002);
    a.sin_port = htons(peer.Port());
    ASSERT_EQ(::bind(hole, reinterpret_cast<sockaddr *>(&a), sizeof a), 0) << std::strerror(errno);
    ASSERT_EQ(::listen(hole, 0), 0);
    const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);

    Name({htonl(0x7f000002), htonl(INADDR_LOOPBACK)}, false);
    cli.SetPort(peer.PortText().toStdString());
    cli.SetConnectTimeout(1);
    peer.Send("220 hi\r\n").Reply("USER u", "331 pw\r\n").Reply("PASS p", "230 ok\r\n");
    const bool ok = cli.Connect();
    ::close(filler);
    ::close(hole);
    ASSERT_TRUE(ok) << cli.ErrorMessage();
    EXPECT_TRUE(Displayed("! 127.0.0.2: no answer within 1 s; trying the next address"));
    EXPECT_EQ(cli.ConnectedAddress(), "127.0.0.1");
}

} // namespace
