// The control side against real servers: login, directory and file commands, QUIT, a wrong
// password, and the same through an FTP proxy that takes the target in USER.
#include "ftp/FtpClient.h"
#include "support/FtpServers.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <memory>
#include <string>

using zarvel::test::FtpServerKind;
using zarvel::test::FtpServerProcess;

namespace {

void WriteFile(const std::string &path, const QByteArray &bytes)
{
    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

void Configure(TFtpClient &cli, const FtpServerProcess &server)
{
    cli.SetTimeout(10);
    cli.SetHostName(server.Host());
    cli.SetPort(server.PortText());
    cli.SetUserName(server.User());
    cli.SetPassWord(server.Password());
}

class FtpControlInterop : public testing::TestWithParam<FtpServerKind> {};

TEST_P(FtpControlInterop, directoryAndFileCommandsThenQuit)
{
    auto server = zarvel::test::StartFtpServer(GetParam());
    ASSERT_TRUE(server);
    WriteFile(server->Root() + "/data.bin", QByteArray(1234, 'z'));

    TFtpClient cli;
    Configure(cli, *server);
    ASSERT_TRUE(cli.Connect()) << cli.ErrorMessage() << "\n" << server->Log();
    EXPECT_TRUE(cli.Syst()) << cli.ErrorMessage();
    EXPECT_EQ(cli.ReplyCode(), 215);

    ASSERT_TRUE(cli.Pwd()) << cli.ErrorMessage();
    EXPECT_EQ(cli.ReplyDirectory(), "/");

    cli.SetHostFileName("sub");
    ASSERT_TRUE(cli.Mkd()) << cli.ErrorMessage();
    EXPECT_TRUE(QDir(QString::fromStdString(server->Root() + "/sub")).exists());
    cli.SetHostDirName("sub");
    ASSERT_TRUE(cli.Cwd()) << cli.ErrorMessage();
    ASSERT_TRUE(cli.Pwd());
    EXPECT_EQ(cli.ReplyDirectory(), "/sub");
    ASSERT_TRUE(cli.CDup()) << cli.ErrorMessage() << " " << cli.LastReply();

    cli.SetHostFileName("data.bin");
    ASSERT_TRUE(cli.TypeBinary());
    ASSERT_TRUE(cli.Size()) << cli.ErrorMessage();
    EXPECT_EQ(cli.ReplySize(), 1234);

    cli.SetLocalFileName("renamed.bin");
    ASSERT_TRUE(cli.Ren()) << cli.ErrorMessage();
    EXPECT_TRUE(QFile::exists(QString::fromStdString(server->Root() + "/renamed.bin")));

    cli.SetHostFileName("renamed.bin");
    ASSERT_TRUE(cli.Dele()) << cli.ErrorMessage();
    EXPECT_FALSE(QFile::exists(QString::fromStdString(server->Root() + "/renamed.bin")));
    EXPECT_FALSE(cli.Dele());   // gone: the server's failure is reported
    EXPECT_GE(cli.ReplyCode(), 500);

    cli.SetHostFileName("sub");
    ASSERT_TRUE(cli.Rmd()) << cli.ErrorMessage();
    EXPECT_FALSE(QDir(QString::fromStdString(server->Root() + "/sub")).exists());

    EXPECT_TRUE(cli.Quit()) << cli.ErrorMessage();
    EXPECT_FALSE(cli.GetConnected());
}

TEST_P(FtpControlInterop, wrongPasswordFailsWithServerReply)
{
    auto server = zarvel::test::StartFtpServer(GetParam());
    ASSERT_TRUE(server);
    TFtpClient cli;
    Configure(cli, *server);
    cli.SetPassWord("not-the-password");
    EXPECT_FALSE(cli.Connect());
    EXPECT_EQ(cli.ErrorMessage().substr(0, 3), "530") << cli.ErrorMessage();
    EXPECT_NE(cli.State(), ftpWaitingResponse);
}

TEST_P(FtpControlInterop, highLevelOperationsOpenAndQuitByThemselves)
{
    auto server = zarvel::test::StartFtpServer(GetParam());
    ASSERT_TRUE(server);
    WriteFile(server->Root() + "/f.txt", "hello\n");
    TFtpClient cli;
    Configure(cli, *server);
    cli.SetHostFileName("f.txt");
    if (GetParam() == FtpServerKind::PyFtpdLib) {
        // pyftpdlib refuses SIZE while the type is ASCII, and FileSize sends no TYPE: the
        // failing step ends the operation before QUIT, leaving the session open.
        EXPECT_FALSE(cli.FileSize());
        EXPECT_EQ(cli.ErrorMessage().substr(0, 3), "550") << cli.ErrorMessage();
        EXPECT_TRUE(cli.GetConnected());
        EXPECT_TRUE(cli.Quit());
    } else {
        ASSERT_TRUE(cli.FileSize()) << cli.ErrorMessage();
        EXPECT_EQ(cli.ReplySize(), 6);
        EXPECT_EQ(cli.ReplyCode(), 213);   // the SIZE reply, not QUIT's
        EXPECT_FALSE(cli.GetConnected());
    }
    cli.SetHostFileName("made");
    ASSERT_TRUE(cli.Mkdir()) << cli.ErrorMessage();
    ASSERT_TRUE(cli.Rmdir()) << cli.ErrorMessage();
    ASSERT_TRUE(cli.System()) << cli.ErrorMessage();
    EXPECT_EQ(cli.ReplyCode(), 215);
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpControlInterop,
                         testing::Values(FtpServerKind::PyFtpdLib, FtpServerKind::Vsftpd),
                         [](const testing::TestParamInfo<FtpServerKind> &i) {
                             return std::string(zarvel::test::FtpServerKindName(i.param));
                         });

TEST(FtpControlProxy, loginNamesTargetThroughProxy)
{
    auto proxy = zarvel::test::StartFtpProxy(FtpServerKind::PyFtpdLib);
    ASSERT_TRUE(proxy);
    TFtpClient cli;
    Configure(cli, *proxy);
    cli.SetConnectionType(ftpProxy);
    cli.SetProxyServer(proxy->Host());
    cli.SetHostName(proxy->TargetHost());
    std::string userLine;
    cli.OnCommand = [&](TCustomFtpCli *, std::string &c) {
        if (c.rfind("USER ", 0) == 0)
            userLine = c;
    };
    ASSERT_TRUE(cli.Connect()) << cli.ErrorMessage() << "\n" << proxy->Log();
    EXPECT_EQ(userLine, "USER " + proxy->User() + "@" + proxy->TargetHost());
    EXPECT_TRUE(cli.Passive());
    cli.SetHostFileName("viaproxy");
    ASSERT_TRUE(cli.Mkd()) << cli.ErrorMessage();
    EXPECT_TRUE(QDir(QString::fromStdString(proxy->Root() + "/viaproxy")).exists());
    ASSERT_TRUE(cli.Pwd()) << cli.ErrorMessage();
    EXPECT_EQ(cli.ReplyDirectory(), "/");
    EXPECT_TRUE(cli.Quit()) << cli.ErrorMessage();
}

TEST(FtpControlProxy, wrongPasswordThroughProxyFails)
{
    auto proxy = zarvel::test::StartFtpProxy(FtpServerKind::PyFtpdLib);
    ASSERT_TRUE(proxy);
    TFtpClient cli;
    Configure(cli, *proxy);
    cli.SetConnectionType(ftpProxy);
    cli.SetProxyServer(proxy->Host());
    cli.SetHostName(proxy->TargetHost());
    cli.SetPassWord("bad");
    EXPECT_FALSE(cli.Connect());
    EXPECT_FALSE(cli.ErrorMessage().empty());
    EXPECT_GE(cli.ReplyCode(), 400) << cli.ErrorMessage();
}

} // namespace

namespace {

TEST(FtpControlGuardian, loginPwdSystAndQuit)
{
    auto server = zarvel::test::StartFtpServer(FtpServerKind::Guardian);
    ASSERT_TRUE(server);
    TFtpClient cli;
    Configure(cli, *server);
    ASSERT_TRUE(cli.Connect()) << cli.ErrorMessage() << "\n" << server->Log();
    ASSERT_TRUE(cli.Pwd()) << cli.ErrorMessage();
    EXPECT_FALSE(cli.ReplyDirectory().empty()) << cli.LastReply();
    EXPECT_TRUE(cli.Syst()) << cli.ErrorMessage();
    EXPECT_TRUE(cli.Quit()) << cli.ErrorMessage();
    EXPECT_FALSE(cli.GetConnected());
}

} // namespace
