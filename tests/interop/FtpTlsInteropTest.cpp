// FTP over TLS: Require never lets the login go out in clear (NonStop-style server without
// TLS), and a whole session (upload, listing, download) runs encrypted against the
// NonStop-style server's --tls and proftpd's mod_tls (vsftpd: FtpTransferInteropTest).
#include "ftp/FtpClient.h"
#include "net/Socket.h"
#include "support/FtpServers.h"
#include "support/TlsCerts.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace zarvel::test;

namespace {

void Configure(TFtpClient &cli, const FtpServerProcess &server, TFtpEncryption mode)
{
    cli.SetHostName(server.Host());
    cli.SetPort(server.PortText());
    cli.SetUserName(server.User());
    cli.SetPassWord(server.Password());
    cli.SetTimeout(15);
    cli.SetEncryption(mode);
}

} // namespace

TEST(GuardianTls, requireAgainstAServerWithoutTlsNeverSendsTheLogin)
{
    auto server = StartFtpServer(FtpServerKind::Guardian);
    ASSERT_TRUE(server);
    TFtpClient cli;
    Configure(cli, *server, ftpEncryptRequire);
    EXPECT_FALSE(cli.Connect());
    EXPECT_NE(cli.ErrorMessage().find("does not offer FTP over TLS"), std::string::npos) << cli.ErrorMessage();
    server->Stop();
    const std::string log = server->Log();
    // The server logs every login; the session it saw ended before any.
    EXPECT_NE(log.find("FTP session closed"), std::string::npos) << log;
    EXPECT_EQ(log.find("logged in"), std::string::npos) << log;
    EXPECT_EQ(log.find("USER"), std::string::npos) << log;
    EXPECT_EQ(log.find("PASS"), std::string::npos) << log;
}

struct TlsSetup {
    FtpServerKind Server;
    bool Passive;
};

class TlsSession : public testing::TestWithParam<TlsSetup> {};

TEST_P(TlsSession, uploadListingAndDownloadRunEncrypted)
{
    TrustTestAuthority(true);
    auto server = StartFtpServer(GetParam().Server, "server");
    ASSERT_TRUE(server);
    TFtpClient cli;
    Configure(cli, *server, ftpEncryptRequire);
    ASSERT_TRUE(cli.Connect()) << cli.ErrorMessage() << "\n" << server->Log();
    ASSERT_TRUE(cli.Encrypted() && cli.DataProtected());
    cli.SetPassive(GetParam().Passive);
    cli.SetBinary(true);
    ASSERT_TRUE(cli.TypeSet()) << cli.ErrorMessage();
    QTemporaryDir dir;
    const std::string up = dir.filePath("up").toStdString(), back = dir.filePath("back").toStdString();
    QByteArray payload(300000, '\0');
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char(i * 13 + i / 977);
    {
        QFile f(QString::fromStdString(up));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(payload);
    }
    cli.SetLocalFileName(up);
    cli.SetHostFileName("TLSUP");
    ASSERT_TRUE(cli.Put()) << cli.ErrorMessage() << "\n" << server->Log();
    std::vector<std::string> lines;
    cli.OnDisplayFile = [&](TCustomFtpCli *, std::string &line) { lines.push_back(line); };
    cli.SetDisplayFileFlag(true);
    cli.SetHostFileName("");
    cli.SetLocalFileName("");
    ASSERT_TRUE(cli.Dir()) << cli.ErrorMessage();
    cli.SetDisplayFileFlag(false);
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string &l) { return l.find("TLSUP") != std::string::npos; }))
        << testing::PrintToString(lines);
    cli.SetHostFileName("TLSUP");
    cli.SetLocalFileName(back);
    ASSERT_TRUE(cli.Get()) << cli.ErrorMessage();
    QFile f(QString::fromStdString(back));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll() == payload);
    EXPECT_TRUE(cli.Quit());
}

INSTANTIATE_TEST_SUITE_P(Servers, TlsSession,
                         testing::Values(TlsSetup{FtpServerKind::Guardian, true}, TlsSetup{FtpServerKind::Guardian, false},
                                         TlsSetup{FtpServerKind::Proftpd, true}, TlsSetup{FtpServerKind::Proftpd, false}),
                         [](const testing::TestParamInfo<TlsSetup> &i) {
                             return std::string(FtpServerKindName(i.param.Server) == std::string("guardian-ftpd")
                                                    ? "guardian" : FtpServerKindName(i.param.Server)) +
                                    (i.param.Passive ? "_passive" : "_active");
                         });
