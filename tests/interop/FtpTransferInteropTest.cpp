// Transfers with the engine against real servers, in active and passive mode: round trips of
// empty, one-byte and 10 MB files, a listing of 10,000 names, a missing file, a resumed
// download, an abort in the middle of a big download, and the way through an FTP proxy; the
// servers on ::1 (EPSV and EPRT), round trips and a listing.
#include "ftp/FtpClient.h"
#include "net/Socket.h"
#include "support/FtpServers.h"
#include "support/Ipv6Loopback.h"
#include "support/TlsCerts.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <set>
#include <sys/stat.h>
#include <string>

using namespace zarvel::test;

namespace {

bool InCi()
{
    return qgetenv("CI") == "true";
}

void WriteRandom(const std::string &path, qint64 size)
{
    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path;
    QByteArray block(1 << 20, '\0');
    for (qint64 left = size; left > 0;) {
        const int n = int(std::min<qint64>(left, block.size()));
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(block.data()), block.size() / 4);
        ASSERT_EQ(f.write(block.constData(), n), n);
        left -= n;
    }
    ::chmod(path.c_str(), 0644);  // servers that drop to the test user must read it
}

QByteArray Sha256(const std::string &path)
{
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly))
        return "<missing " + QByteArray::fromStdString(path) + ">";
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&f);
    return hash.result().toHex();
}

bool HeldOpen(const std::string &path)
{
    const QString target = QFileInfo(QString::fromStdString(path)).canonicalFilePath();
    for (const QFileInfo &fd : QDir("/proc/self/fd").entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot))
        if (fd.symLinkTarget() == target)
            return true;
    return false;
}

struct Setup {
    FtpServerKind server;
    bool passive;
    bool tls = false;   // Encryption Require against the server with TLS required
    bool ipv6 = false;  // the server listens on ::1
};

class RealTransfer : public testing::TestWithParam<Setup> {
protected:
    void SetUp() override
    {
        if (GetParam().ipv6 && !HaveIpv6Loopback())
            GTEST_SKIP() << NoIpv6LoopbackReason();
        TrustTestAuthority(GetParam().tls);
        server = StartFtpServer(GetParam().server, GetParam().tls ? "server" : "", GetParam().ipv6);
        ASSERT_TRUE(server);
        cli.SetEncryption(GetParam().tls ? ftpEncryptRequire : ftpEncryptNone);
        cli.SetHostName(server->Host());
        cli.SetPort(server->PortText());
        cli.SetUserName(server->User());
        cli.SetPassWord(server->Password());
        cli.SetTimeout(15);
        cli.OnError = [this](TCustomFtpCli *, std::string &m) { refusals.push_back(m); };
        if (qEnvironmentVariableIsSet("ZARVEL_TRACE")) cli.OnDisplay = [](TCustomFtpCli *, std::string &m) { fprintf(stderr, "%s\n", m.c_str()); };
        ASSERT_TRUE(cli.Connect()) << cli.ErrorMessage() << "\n" << server->Log();
        ASSERT_EQ(cli.DataProtected(), GetParam().tls);
        cli.SetPassive(GetParam().passive);
        cli.SetBinary(true);
        ASSERT_TRUE(cli.TypeSet()) << cli.ErrorMessage();
    }

    std::string Local(const std::string &name) const { return dir.filePath(QString::fromStdString(name)).toStdString(); }
    std::string Remote(const std::string &name) const { return server->Root() + "/" + name; }

    bool Get(const std::string &remote, const std::string &local)
    {
        cli.SetHostFileName(remote);
        cli.SetLocalFileName(local);
        return cli.Get();
    }
    bool Put(const std::string &local, const std::string &remote)
    {
        cli.SetLocalFileName(local);
        cli.SetHostFileName(remote);
        return cli.Put();
    }

    std::unique_ptr<FtpServerProcess> server;
    TFtpClient cli;
    QTemporaryDir dir;
    std::vector<std::string> refusals;
};

TEST_P(RealTransfer, roundTripsOfEmptyOneByteAndTenMegabyteFiles)
{
    for (const qint64 size : {qint64(0), qint64(1), qint64(10) * 1024 * 1024}) {
        SCOPED_TRACE("size " + std::to_string(size));
        const std::string name = "file" + std::to_string(size);
        WriteRandom(Local(name), size);
        ASSERT_TRUE(Put(Local(name), name)) << cli.ErrorMessage() << "\n" << server->Log();
        EXPECT_EQ(Sha256(Remote(name)), Sha256(Local(name)));
        ASSERT_TRUE(Get(name, Local(name + ".back"))) << cli.ErrorMessage() << "\n" << server->Log();
        EXPECT_EQ(Sha256(Local(name + ".back")), Sha256(Local(name)));
        EXPECT_EQ(cli.TransferCount(), size);
        // Both servers refuse a data connection that does not resume the control's session.
        EXPECT_EQ(cli.DataSocket()->TlsSessionReused(), GetParam().tls);
        EXPECT_FALSE(HeldOpen(Local(name)));
        EXPECT_FALSE(HeldOpen(Local(name + ".back")));
    }
}

TEST_P(RealTransfer, listingOfTenThousandNamesLineByLine)
{
    std::set<std::string> expected;
    for (int i = 0; i < 10000; ++i) {
        const std::string name = "n" + std::to_string(100000 + i);
        QFile f(QString::fromStdString(Remote(name)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        expected.insert(name);
    }
    std::vector<std::string> lines;
    cli.OnDisplayFile = [&](TCustomFtpCli *, std::string &line) { lines.push_back(line); };
    cli.SetDisplayFileFlag(true);
    cli.SetLocalFileName("");
    cli.SetHostFileName("");
    ASSERT_TRUE(cli.Ls()) << cli.ErrorMessage();
    std::set<std::string> names;
    for (std::string line : lines) {
        if (const auto slash = line.rfind('/'); slash != std::string::npos)
            line.erase(0, slash + 1);
        names.insert(line);
    }
    EXPECT_EQ(names, expected);
    EXPECT_EQ(lines.size(), expected.size());

    lines.clear();
    ASSERT_TRUE(cli.Dir()) << cli.ErrorMessage();
    int named = 0;
    for (const std::string &line : lines)
        named += expected.count(line.substr(line.rfind(' ') + 1)) ? 1 : 0;
    EXPECT_EQ(named, 10000);
}

TEST_P(RealTransfer, missingRemoteFileFailsWith550AndLeavesEmptyClosedLocalFile)
{
    EXPECT_FALSE(Get("no-such-file", Local("missing")));
    EXPECT_EQ(cli.ReplyCode(), 550) << cli.ErrorMessage();
    EXPECT_EQ(cli.ErrorMessage().substr(0, 3), "550");
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(Local("missing"))));
    EXPECT_EQ(QFileInfo(QString::fromStdString(Local("missing"))).size(), 0);
    EXPECT_FALSE(HeldOpen(Local("missing")));
    // the session goes on
    cli.SetHostDirName("/");
    EXPECT_TRUE(cli.Cwd()) << cli.ErrorMessage();
}

TEST_P(RealTransfer, restGetCompletesHalfDownloadedFile)
{
    const qint64 size = 3 * 1024 * 1024 + 17;
    WriteRandom(Remote("whole"), size);
    {
        QFile src(QString::fromStdString(Remote("whole")));
        QFile part(QString::fromStdString(Local("whole")));
        ASSERT_TRUE(src.open(QIODevice::ReadOnly) && part.open(QIODevice::WriteOnly));
        part.write(src.read(size / 2));
    }
    std::vector<qint64> progress;
    cli.OnProgress = [&](TCustomFtpCli *, qint64 count, bool &) { progress.push_back(count); };
    cli.SetHostFileName("whole");
    cli.SetLocalFileName(Local("whole"));
    ASSERT_TRUE(cli.RestGet()) << cli.ErrorMessage();
    EXPECT_EQ(Sha256(Local("whole")), Sha256(Remote("whole")));
    EXPECT_EQ(cli.TransferCount(), size - size / 2);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), size / 2);
}

TEST_P(RealTransfer, abortInTheMiddleOfBigDownloadKeepsPartialFile)
{
    const qint64 size = (InCi() ? 32 : 100) * qint64(1024 * 1024);
    WriteRandom(Remote("big"), size);
    bool abortQueued = false, abortResult = true;
    cli.OnProgress = [&](TCustomFtpCli *, qint64 count, bool &) {
        if (!abortQueued && count > size / 4) {
            abortQueued = true;
            // as the Cancel button does: from the event loop, inside the running Get
            QTimer::singleShot(0, [&] { abortResult = cli.Abort(); });
        }
    };
    EXPECT_FALSE(Get("big", Local("big")));
    ASSERT_TRUE(abortQueued);
    EXPECT_FALSE(abortResult);
    EXPECT_EQ(cli.ErrorMessage(), "426 Operation aborted.");
    const qint64 kept = QFileInfo(QString::fromStdString(Local("big"))).size();
    EXPECT_GT(kept, size / 4);
    EXPECT_LT(kept, size);
    EXPECT_FALSE(HeldOpen(Local("big")));
    refusals.clear();
    EXPECT_FALSE(cli.Pwd());
    EXPECT_EQ(refusals, std::vector<std::string>{"FTP component not connected"});
}

INSTANTIATE_TEST_SUITE_P(Servers, RealTransfer,
                         testing::Values(Setup{FtpServerKind::PyFtpdLib, true}, Setup{FtpServerKind::PyFtpdLib, false},
                                         Setup{FtpServerKind::Vsftpd, true}, Setup{FtpServerKind::Vsftpd, false},
                                         Setup{FtpServerKind::Vsftpd, true, true}, Setup{FtpServerKind::Vsftpd, false, true}),
                         [](const testing::TestParamInfo<Setup> &i) {
                             return std::string(FtpServerKindName(i.param.server)) +
                                    (i.param.passive ? "_passive" : "_active") + (i.param.tls ? "_tls" : "");
                         });

// ---- Over IPv6 -------------------------------------------------------------------------------

class RealTransferIpv6 : public RealTransfer {};

TEST_P(RealTransferIpv6, roundTripsAndAListingOverIpv6)
{
    ASSERT_EQ(cli.ControlSocket()->PeerAddr(), "::1");
    for (const qint64 size : {qint64(0), qint64(1), qint64(3) * 1024 * 1024 + 7}) {
        SCOPED_TRACE("size " + std::to_string(size));
        const std::string name = "six" + std::to_string(size);
        WriteRandom(Local(name), size);
        ASSERT_TRUE(Put(Local(name), name)) << cli.ErrorMessage() << "\n" << server->Log();
        EXPECT_EQ(Sha256(Remote(name)), Sha256(Local(name)));
        ASSERT_TRUE(Get(name, Local(name + ".back"))) << cli.ErrorMessage() << "\n" << server->Log();
        EXPECT_EQ(Sha256(Local(name + ".back")), Sha256(Local(name)));
        EXPECT_EQ(cli.DataSocket()->TlsSessionReused(), GetParam().tls);
    }
    std::vector<std::string> lines;
    cli.OnDisplayFile = [&](TCustomFtpCli *, std::string &line) { lines.push_back(line); };
    cli.SetDisplayFileFlag(true);
    cli.SetLocalFileName("");
    cli.SetHostFileName("");
    ASSERT_TRUE(cli.Dir()) << cli.ErrorMessage();
    int named = 0;
    for (const std::string &line : lines)
        named += line.size() > 4 && line.find(" six") != std::string::npos ? 1 : 0;
    EXPECT_EQ(named, 3);
}

INSTANTIATE_TEST_SUITE_P(Servers, RealTransferIpv6,
                         testing::Values(Setup{FtpServerKind::PyFtpdLib, true, false, true},
                                         Setup{FtpServerKind::PyFtpdLib, false, false, true},
                                         Setup{FtpServerKind::Vsftpd, true, false, true},
                                         Setup{FtpServerKind::Vsftpd, false, false, true},
                                         Setup{FtpServerKind::Proftpd, true, false, true},
                                         Setup{FtpServerKind::Proftpd, false, false, true},
                                         Setup{FtpServerKind::Vsftpd, true, true, true},
                                         Setup{FtpServerKind::Vsftpd, false, true, true}),
                         [](const testing::TestParamInfo<Setup> &i) {
                             return std::string(FtpServerKindName(i.param.server)) +
                                    (i.param.passive ? "_passive" : "_active") + (i.param.tls ? "_tls" : "");
                         });

// ---- Through an FTP proxy --------------------------------------------------------------------

TEST(ProxyTransfer, passiveDownloadAndUploadThroughProxy)
{
    auto proxy = StartFtpProxy(FtpServerKind::Vsftpd);
    ASSERT_TRUE(proxy);
    QTemporaryDir dir;
    const std::string local = dir.filePath("up").toStdString();
    WriteRandom(local, 2 * 1024 * 1024 + 5);

    TFtpClient cli;
    cli.SetConnectionType(ftpProxy);
    cli.SetProxyServer(proxy->Host());
    cli.SetPort(proxy->PortText());
    cli.SetHostName(proxy->TargetHost());
    cli.SetUserName(proxy->User());
    cli.SetPassWord(proxy->Password());
    EXPECT_TRUE(cli.Passive());
    ASSERT_TRUE(cli.Connect()) << cli.ErrorMessage() << "\n" << proxy->Log();
    ASSERT_TRUE(cli.TypeSet()) << cli.ErrorMessage();

    cli.SetLocalFileName(local);
    cli.SetHostFileName("through-proxy");
    ASSERT_TRUE(cli.Put()) << cli.ErrorMessage() << "\n" << proxy->Log();
    EXPECT_EQ(Sha256(proxy->Root() + "/through-proxy"), Sha256(local));

    cli.SetHostFileName("through-proxy");
    cli.SetLocalFileName(local + ".back");
    ASSERT_TRUE(cli.Get()) << cli.ErrorMessage() << "\n" << proxy->Log();
    EXPECT_EQ(Sha256(local + ".back"), Sha256(local));
    EXPECT_TRUE(cli.Quit()) << cli.ErrorMessage();
}

} // namespace
