// FTP over TLS in the engine against the scripted peer: AUTH TLS and what a refusal means
// under each policy, a handshake that fails, the certificate decision, PBSZ/PROT P.
#include "ftp/FtpClient.h"
#include "net/Socket.h"
#include "support/FtpScriptData.h"
#include "support/FtpScriptPeer.h"
#include "support/TlsCerts.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include <string>
#include <vector>

using zarvel::test::TlsCertFile;
using zarvel::test::TlsKeyFile;
using zarvel::test::TrustTestAuthority;

namespace {

class FtpTls : public testing::Test {
protected:
    void SetUp() override
    {
        TrustTestAuthority(true);
        cli.SetHostName("127.0.0.1");
        cli.SetPort(peer.PortText().toStdString());
        cli.SetUserName("u");
        cli.SetPassWord("p");
        cli.SetTimeout(10);
        cli.OnTlsNote = [this](TCustomFtpCli *, int level, const std::string &text) {
            notes.push_back(std::to_string(level) + " " + text);
        };
    }

    // Greeting, AUTH TLS accepted, the handshake with the given certificate.
    void Handshake(const char *cert = "server")
    {
        peer.Send("220 hi\r\n").Reply("AUTH TLS", "234 go ahead\r\n")
            .StartTls(QString::fromStdString(TlsCertFile(cert)), QString::fromStdString(TlsKeyFile(cert)));
    }

    bool NoteStarts(const std::string &prefix) const
    {
        for (const std::string &n : notes)
            if (n.rfind(prefix, 0) == 0)
                return true;
        return false;
    }

    FtpScriptPeer peer;
    TFtpClient cli;
    std::vector<std::string> notes;
};

// ---- a refused AUTH: Require ends before USER; IfAvailable asks OnPlainLogin, but only
// when the reply means "no TLS here" (500, 502, 504): any other refusal ends the connection.

enum TPlainHandler { plainUnset, plainRefused, plainAllowed };

struct TRefusal {
    const char *Reply;
    TFtpEncryption Mode;
    TPlainHandler Handler;
    bool LoginSent;
};

class FtpTlsRefused : public FtpTls, public testing::WithParamInterface<TRefusal> {};

TEST_P(FtpTlsRefused, loginGoesInClearOnlyAfterNoTlsAndTheHandlersYes)
{
    const TRefusal &c = GetParam();
    cli.SetEncryption(c.Mode);
    int asked = 0;
    if (c.Handler != plainUnset)
        cli.OnPlainLogin = [&](TCustomFtpCli *, bool &allow, std::string &refusal) {
            ++asked;
            allow = c.Handler == plainAllowed;
            refusal = "534 not in clear";
        };
    peer.Send("220 hi\r\n").Reply("AUTH TLS", QByteArray(c.Reply) + "\r\n");
    const int code = std::atoi(c.Reply);
    const bool noTls = code == 500 || code == 502 || code == 504;
    if (!c.LoginSent) {
        peer.ExpectClose();
        EXPECT_FALSE(cli.Connect());
        const std::string why = c.Mode == ftpEncryptRequire && noTls ? "the server does not offer FTP over TLS"
                                : noTls                              ? "534 not in clear"
                                                                     : std::string("AUTH TLS failed (") + c.Reply;
        EXPECT_NE(cli.ErrorMessage().find(why), std::string::npos) << cli.ErrorMessage();
        EXPECT_TRUE(peer.WaitFinished());
        EXPECT_EQ(peer.Commands(), QList<QByteArray>{"AUTH TLS"});
        EXPECT_FALSE(cli.GetConnected());
        EXPECT_EQ(asked, c.Mode == ftpEncryptIfAvailable && noTls && c.Handler != plainUnset ? 1 : 0);
        return;
    }
    peer.Reply("USER u", "331 pw\r\n").Reply("PASS p", "230 ok\r\n");
    EXPECT_TRUE(cli.Connect()) << cli.ErrorMessage();
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_FALSE(cli.Encrypted());
    EXPECT_FALSE(cli.DataProtected());
    EXPECT_TRUE(NoteStarts("0 The server does not offer FTP over TLS")) << testing::PrintToString(notes);
    EXPECT_EQ(asked, c.Handler != plainUnset ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Replies, FtpTlsRefused,
                         testing::Values(TRefusal{"500 AUTH not understood", ftpEncryptRequire, plainAllowed, false},
                                         TRefusal{"530 Please login first", ftpEncryptRequire, plainAllowed, false},
                                         TRefusal{"421 Service not available", ftpEncryptRequire, plainAllowed, false},
                                         TRefusal{"500 AUTH not understood", ftpEncryptIfAvailable, plainUnset, true},
                                         TRefusal{"502 Not implemented", ftpEncryptIfAvailable, plainAllowed, true},
                                         TRefusal{"504 Not supported", ftpEncryptIfAvailable, plainRefused, false},
                                         TRefusal{"421 Service not available", ftpEncryptIfAvailable, plainAllowed, false},
                                         TRefusal{"431 Unavailable", ftpEncryptIfAvailable, plainAllowed, false},
                                         TRefusal{"534 Denied", ftpEncryptIfAvailable, plainAllowed, false}));

TEST_F(FtpTls, noneSendsNoAuth)
{
    cli.SetEncryption(ftpEncryptNone);
    peer.Send("220 hi\r\n").Reply("USER u", "331 pw\r\n").Reply("PASS p", "230 ok\r\n");
    EXPECT_TRUE(cli.Connect()) << cli.ErrorMessage();
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_EQ(peer.Commands(), (QList<QByteArray>{"USER u", "PASS p"}));
}

// No fallback to plain once the server said 234: that would be the downgrade an attacker forces.
TEST_F(FtpTls, garbageAfter234EndsTheConnectionUnderEitherPolicy)
{
    for (TFtpEncryption mode : {ftpEncryptRequire, ftpEncryptIfAvailable}) {
        FtpScriptPeer p;
        cli.SetPort(p.PortText().toStdString());
        cli.SetEncryption(mode);
        p.Send("220 hi\r\n").Reply("AUTH TLS", "234 go\r\nthis is no TLS handshake at all\r\n").ExpectClose();
        EXPECT_FALSE(cli.Connect()) << mode;
        EXPECT_NE(cli.ErrorMessage().find("TLS handshake failed"), std::string::npos) << cli.ErrorMessage();
        EXPECT_TRUE(p.WaitFinished());
        EXPECT_EQ(p.Commands(), QList<QByteArray>{"AUTH TLS"});
    }
}

TEST_F(FtpTls, loginRunsEncryptedThenProtectsTheData)
{
    cli.SetEncryption(ftpEncryptRequire);
    Handshake();
    peer.Reply("USER u", "331 pw\r\n").Reply("PASS p", "230 ok\r\n").Reply("PBSZ 0", "200 PBSZ=0\r\n")
        .Reply("PROT P", "200 Protection set\r\n");
    ASSERT_TRUE(cli.Connect()) << cli.ErrorMessage();
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_TRUE(cli.Encrypted());
    EXPECT_TRUE(cli.DataProtected());
    EXPECT_TRUE(NoteStarts("1 Encrypted with TLS 1.3, ")) << testing::PrintToString(notes);
    EXPECT_EQ(cli.TlsPeer().Protocol, "TLS 1.3");
}

TEST_F(FtpTls, refusedProtEndsUnderRequireAndWarnsUnderIfAvailable)
{
    for (TFtpEncryption mode : {ftpEncryptRequire, ftpEncryptIfAvailable}) {
        FtpScriptPeer p;
        notes.clear();
        cli.SetPort(p.PortText().toStdString());
        cli.SetEncryption(mode);
        p.Send("220 hi\r\n").Reply("AUTH TLS", "234 go ahead\r\n")
            .StartTls(QString::fromStdString(TlsCertFile("server")), QString::fromStdString(TlsKeyFile("server")))
            .Reply("USER u", "331 pw\r\n").Reply("PASS p", "230 ok\r\n").Reply("PBSZ 0", "200 ok\r\n")
            .Reply("PROT P", "536 Not allowed\r\n");
        if (mode == ftpEncryptRequire) {
            p.ExpectClose();
            EXPECT_FALSE(cli.Connect());
            EXPECT_NE(cli.ErrorMessage().find("refused to protect data connections"), std::string::npos)
                << cli.ErrorMessage();
        } else {
            EXPECT_TRUE(cli.Connect()) << cli.ErrorMessage();
            EXPECT_TRUE(cli.Encrypted());
            EXPECT_FALSE(cli.DataProtected());
            EXPECT_TRUE(NoteStarts("0 The server refused PROT P")) << testing::PrintToString(notes);
            cli.Abort();
        }
        EXPECT_TRUE(p.WaitFinished());
    }
}

// A certificate OpenSSL cannot verify goes to OnVerifyCertificate; no answer is a refusal.
TEST_F(FtpTls, unverifiedCertificateAsksAndARefusalSendsNothingMore)
{
    TrustTestAuthority(false);
    cli.SetEncryption(ftpEncryptIfAvailable);
    std::vector<std::string> asked;
    cli.OnVerifyCertificate = [&](TCustomFtpCli *, const TTlsPeerInfo &peerInfo, bool &accept) {
        asked.push_back(peerInfo.Reason);
        accept = false;
    };
    Handshake();
    peer.ExpectClose();
    EXPECT_FALSE(cli.Connect());
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_EQ(asked, std::vector<std::string>{"unable to get local issuer certificate"});
    EXPECT_EQ(peer.Commands(), QList<QByteArray>{"AUTH TLS"});
    EXPECT_EQ(cli.ErrorMessage(), "534 Certificate not accepted: unable to get local issuer certificate");
}

TEST_F(FtpTls, acceptedCertificateGoesOnToTheLogin)
{
    TrustTestAuthority(false);
    cli.SetEncryption(ftpEncryptRequire);
    cli.OnVerifyCertificate = [](TCustomFtpCli *, const TTlsPeerInfo &, bool &accept) { accept = true; };
    Handshake();
    peer.Reply("USER u", "230 in\r\n").Reply("PBSZ 0", "200 ok\r\n").Reply("PROT P", "200 ok\r\n");
    EXPECT_TRUE(cli.Connect()) << cli.ErrorMessage();
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_TRUE(cli.DataProtected());
}

// A download whose TLS stream ends without close_notify may have been cut by someone who cannot
// read it, which the server's 226 cannot see: a failure with the part kept, unless the setting
// accepts such ends for a server known never to send close_notify.
TEST_F(FtpTls, downloadEndedWithoutCloseNotifyFailsUnlessAcceptedForTheServer)
{
    QTemporaryDir dir;
    const QString cert = QString::fromStdString(TlsCertFile("server")), key = QString::fromStdString(TlsKeyFile("server"));
    for (const bool accepted : {false, true}) {
        SCOPED_TRACE(accepted ? "accepted" : "default");
        FtpScriptPeer p;
        FtpScriptData data{p};
        std::vector<std::string> display;
        cli.OnDisplay = [&](TCustomFtpCli *, std::string &m) { display.push_back(m); };
        cli.SetPort(p.PortText().toStdString());
        cli.SetEncryption(ftpEncryptRequire);
        cli.SetAcceptMissingCloseNotify(accepted);
        cli.SetPassive(true);
        p.Send("220 hi\r\n").Reply("AUTH TLS", "234 go ahead\r\n").StartTls(cert, key)
            .Reply("USER u", "230 in\r\n").Reply("PBSZ 0", "200 ok\r\n").Reply("PROT P", "200 ok\r\n");
        ASSERT_TRUE(cli.Connect()) << cli.ErrorMessage();
        data.ExpectPasv();
        p.Reply("RETR f.bin", "150 go\r\n");
        data.UseTls(cert, key);
        data.Open().Send(QByteArray(50000, 'z')).CutTls();
        p.Delay(100).Send("226 Transfer complete.\r\n");
        const QString local = dir.filePath("f.bin");
        cli.SetHostFileName("f.bin");
        cli.SetLocalFileName(local.toStdString());
        EXPECT_EQ(cli.Get(), accepted) << cli.ErrorMessage();
        EXPECT_TRUE(p.WaitFinished());
        EXPECT_EQ(cli.ReplyCode(), accepted ? 226 : 426);
        EXPECT_EQ(cli.ErrorMessage(), accepted ? ""
                                               : "426 The encrypted data connection ended without close_notify: the data may be cut short");
        EXPECT_EQ(QFileInfo(local).size(), 50000); // kept for a resume
        EXPECT_NE(std::find(display.begin(), display.end(),
                            "! The encrypted data connection ended without close_notify: the data may be cut short"),
                  display.end());
        cli.Abort();
    }
}

// The host refuses the file and resets the data connection it had opened: its reply is the
// error, the data connection's failure only a note.
TEST_F(FtpTls, refusalThatResetsTheDataConnectionIsTheErrorNotTheHandshake)
{
    QTemporaryDir dir;
    FtpScriptData data{peer};
    cli.SetEncryption(ftpEncryptRequire);
    cli.SetPassive(true);
    Handshake();
    peer.Reply("USER u", "230 in\r\n").Reply("PBSZ 0", "200 ok\r\n").Reply("PROT P", "200 ok\r\n");
    ASSERT_TRUE(cli.Connect()) << cli.ErrorMessage();
    data.ExpectPasv();
    peer.Reply("RETR LONGNAME9", "150 go\r\n");
    data.Open().Reset();
    peer.Delay(100).Send("550 File name LONGNAME9 is longer than 8 characters.\r\n");
    cli.SetHostFileName("LONGNAME9");
    cli.SetLocalFileName(dir.filePath("f").toStdString());
    EXPECT_FALSE(cli.Get());
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_EQ(cli.ErrorMessage(), "550 File name LONGNAME9 is longer than 8 characters.");
}

// The same refusal of an upload: the log shows the host's answer first, the reset after it.
TEST_F(FtpTls, refusedUploadLogsTheHostsAnswerBeforeTheDataConnectionsFault)
{
    QTemporaryDir dir;
    const QString local = dir.filePath("verylongname.txt");
    QFile file(local);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("text\n") == 5);
    file.close();
    FtpScriptData data{peer};
    cli.SetEncryption(ftpEncryptRequire);
    cli.SetPassive(true);
    std::vector<std::string> shown;
    cli.OnDisplay = [&](TCustomFtpCli *, std::string &line) { shown.push_back(line); };
    Handshake();
    peer.Reply("USER u", "230 in\r\n").Reply("PBSZ 0", "200 ok\r\n").Reply("PROT P", "200 ok\r\n");
    ASSERT_TRUE(cli.Connect()) << cli.ErrorMessage();
    data.ExpectPasv();
    peer.Expect("STOR VERYLONGNAME");
    data.Open().Reset();
    peer.Delay(100).Send("553 File name VERYLONGNAME is longer than 8 characters.\r\n");
    cli.SetHostFileName("VERYLONGNAME");
    cli.SetLocalFileName(local.toStdString());
    EXPECT_FALSE(cli.Put());
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_EQ(cli.ErrorMessage(), "553 File name VERYLONGNAME is longer than 8 characters.");
    const auto at = [&](const std::string &start) {
        return std::find_if(shown.begin(), shown.end(), [&](const std::string &l) { return l.rfind(start, 0) == 0; });
    };
    ASSERT_NE(at("< 553"), shown.end()) << testing::PrintToString(shown);
    ASSERT_NE(at("! 425"), shown.end()) << testing::PrintToString(shown);
    EXPECT_LT(at("< 553"), at("! 425")) << testing::PrintToString(shown);
}

} // namespace
