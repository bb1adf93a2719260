// The control side of the FTP engine against the scripted peer: greeting, reply assembly,
// login, single commands and their accepted codes, the step sequencer, abort, time limit and
// the deferred request-done notification.
#include "ftp/FtpClient.h"
#include "net/Resolution.h"
#include "support/FtpScriptPeer.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

void Pump(int ms = 50)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

class FtpControl : public testing::Test {
protected:
    void SetUp() override
    {
        cli.SetHostName("127.0.0.1");
        cli.SetPort(peer.PortText().toStdString());
        cli.SetUserName("u");
        cli.SetPassWord("p");
        cli.SetTimeout(5);
        cli.OnDisplay = [this](TCustomFtpCli *, std::string &m) { display.push_back(m); };
        cli.OnStateChange = [this](TCustomFtpCli *c) { states.push_back(c->State()); };
        cli.OnSessionConnected = [this](TCustomFtpCli *, int) { ++connected; };
        cli.OnSessionClosed = [this](TCustomFtpCli *, int) { ++closed; };
        cli.OnRequestDone = [this](TCustomFtpCli *, TFtpRequest rq, int err) {
            done.push_back({rq, err});
        };
    }

    // A logged-in session.
    void Login()
    {
        peer.Send("220 hi\r\n").Reply("USER u", "331 pw\r\n").Reply("PASS p", "230 ok\r\n");
        ASSERT_TRUE(cli.Connect()) << cli.ErrorMessage();
        ASSERT_TRUE(peer.WaitFinished());
    }

    int Count(TFtpState s) const { return int(std::count(states.begin(), states.end(), s)); }
    bool Displayed(const std::string &m) const
    {
        return std::find(display.begin(), display.end(), m) != display.end();
    }

    FtpScriptPeer peer;
    TFtpClient cli;
    std::vector<std::string> display;
    std::vector<TFtpState> states;
    std::vector<std::pair<TFtpRequest, int>> done;
    int connected = 0;
    int closed = 0;
};

// ---- Greeting ----

TEST_F(FtpControl, multiLineGreetingThenTwoLine230SkipsPass)
{
    peer.Send("220-Welcome\r\n220-to the host\r\n220 ready\r\n")
        .Reply("USER u", "230-logged in\r\n230 already\r\n");
    EXPECT_TRUE(cli.Connect()) << cli.ErrorMessage();
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_EQ(peer.Commands(), QList<QByteArray>{"USER u"});
    EXPECT_TRUE(Displayed("< 220-Welcome"));
    EXPECT_TRUE(Displayed("< 220-to the host"));
    EXPECT_TRUE(Displayed("< 220 ready"));
    EXPECT_FALSE(Displayed("< 230-logged in"));   // only the final line of a reply is shown
    EXPECT_TRUE(Displayed("< 230 already"));
    EXPECT_EQ(display.back(), "< 230 already");
    EXPECT_EQ(Count(ftpConnected), 1);
    EXPECT_EQ(connected, 1);   // once, after the last greeting line
    EXPECT_EQ(cli.State(), ftpReady);
}

TEST_F(FtpControl, greeting421FailsConnectAndClosesSession)
{
    peer.Send("421 Too many users\r\n").ExpectClose();
    EXPECT_FALSE(cli.Connect());
    EXPECT_EQ(cli.ErrorMessage(), "421 Too many users");
    EXPECT_EQ(cli.ReplyCode(), 421);
    EXPECT_EQ(connected, 0);
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(cli.GetConnected());
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_TRUE(peer.Commands().isEmpty());
}

TEST_F(FtpControl, serverClosingAtOnceFailsConnectWithoutWaitingForTimeLimit)
{
    cli.SetTimeout(30);
    peer.Close();
    EXPECT_FALSE(cli.Connect());
    EXPECT_EQ(cli.ErrorMessage(), "421 Connection closed by the server");
    EXPECT_EQ(cli.State(), ftpReady);
}

TEST_F(FtpControl, refusedPortGivesWinsockText)
{
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    quint16 port = probe.serverPort();
    probe.close();
    peer.AllowUnfinished();
    cli.SetPort(std::to_string(port));
    EXPECT_FALSE(cli.Connect());
    EXPECT_EQ(cli.ErrorMessage().rfind("500 ", 0), 0u) << cli.ErrorMessage();
    EXPECT_NE(cli.ErrorMessage().find("(Winsock error #10061)"), std::string::npos) << cli.ErrorMessage();
    EXPECT_EQ(cli.ReplyCode(), 500);
    EXPECT_FALSE(cli.GetConnected());
    EXPECT_TRUE(cli.State() == ftpReady || cli.State() == ftpInternalReady);
}

// Answers every lookup with "host not found", later, from the loop.
class FailingResolver : public TWSocketResolver {
public:
    int StartLookup(const std::string &, bool, TDone Done, int &) override
    {
        QTimer::singleShot(0, [Done] { Done(11001, THostEntry{}); });
        return ++id;
    }
    bool CancelLookup(int, int &) override { return true; }
    int id = 0;
};

TEST_F(FtpControl, failedNameLookupGivesWinsockText)
{
    FailingResolver resolver;
    WSocketSetResolver(&resolver);
    peer.AllowUnfinished();
    cli.SetHostName("ftp.nowhere.test");
    bool ok = cli.Connect();
    WSocketSetResolver(nullptr);
    EXPECT_FALSE(ok);
    EXPECT_EQ(cli.ErrorMessage(), "500 " + WSocketErrorDesc(11001) + " (Winsock error #11001)");
    EXPECT_EQ(peer.Connections(), 0);
}

// ---- Reply assembly ----

TEST_F(FtpControl, lfOnlyServerWorksWithAcceptLF)
{
    peer.Send("220 hi\n").Reply("USER u", "331 pw\n").Reply("PASS p", "230 ok\n");
    EXPECT_TRUE(cli.Connect()) << cli.ErrorMessage();
}

TEST_F(FtpControl, lfOnlyServerNeverCompletesWithoutAcceptLF)
{
    cli.SetOptions(0);
    cli.SetTimeout(1);
    peer.Send("220 hi\n").AllowUnfinished();
    EXPECT_FALSE(cli.Connect());
    EXPECT_EQ(cli.ErrorMessage(), "426 Timeout");
    EXPECT_EQ(cli.ReplyCode(), 426);
    EXPECT_TRUE(peer.Commands().isEmpty());
}

TEST_F(FtpControl, replySplitByteByByteAndRepliesMergedInOneRead)
{
    // The 230 to PASS arrives with the 331, before PASS is even sent: it must still be taken
    // as the reply to PASS once PASS is out.
    peer.SendSplit("220 split greeting\r\n", 1, 2)
        .Reply("USER u", "331 pw\r\n230 ok\r\n")
        .Expect("PASS p");
    EXPECT_TRUE(cli.Connect()) << cli.ErrorMessage();
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_TRUE(Displayed("< 220 split greeting"));
    EXPECT_EQ(cli.LastReply(), "230 ok");
}

TEST_F(FtpControl, nulInsideReplyIsDroppedAndLineCompletes)
{
    Login();
    peer.Reply("PWD", QByteArray("257 \"/a\0b\" here\r\n", 18));
    EXPECT_TRUE(cli.Pwd()) << cli.ErrorMessage();
    EXPECT_EQ(cli.ReplyDirectory(), "/ab");
}

TEST_F(FtpControl, overlongReplyLineEndsRequestAndClosesConnection)
{
    Login();
    peer.Expect("PWD").Send(QByteArray(6000, 'x')).ExpectClose();
    EXPECT_FALSE(cli.Pwd());
    EXPECT_EQ(cli.ErrorMessage().rfind("500 Reply line longer than 4095 bytes", 0), 0u)
        << cli.ErrorMessage();
    EXPECT_EQ(closed, 1);
    EXPECT_TRUE(peer.WaitFinished());
}

// ---- Single commands: command text, accepted codes, extracted values ----

struct CommandRow {
    const char *name;
    std::function<void(TFtpClient &)> setup;
    bool (TFtpClient::*op)();
    const char *command;     // expected on the wire
    const char *reply;
    bool ok;
    const char *directory;   // ReplyDirectory afterwards (nullptr: not checked)
};

class FtpCommands : public FtpControl, public testing::WithParamInterface<CommandRow> {};

TEST_P(FtpCommands, SendsCommandAndJudgesReply)
{
    const CommandRow &row = GetParam();
    Login();
    if (row.setup)
        row.setup(cli);
    peer.Reply(row.command, QByteArray(row.reply) + "\r\n");
    EXPECT_EQ((cli.*row.op)(), row.ok) << row.reply;
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_EQ(cli.LastReply(), row.reply);
    if (!row.ok) {
        EXPECT_EQ(cli.ErrorMessage(), row.reply);
    }
    if (row.directory) {
        EXPECT_EQ(cli.ReplyDirectory(), row.directory);
    }
}

auto hostFile(const char *n) { return [n](TFtpClient &c) { c.SetHostFileName(n); }; }
auto hostDir(const char *n) { return [n](TFtpClient &c) { c.SetHostDirName(n); }; }
auto localFile(const char *n) { return [n](TFtpClient &c) { c.SetLocalFileName(n); }; }

INSTANTIATE_TEST_SUITE_P(Table, FtpCommands, testing::Values(
    CommandRow{"pwdDoubledQuotes", nullptr, &TFtpClient::Pwd, "PWD",
               "257 \"/say \"\"hi\"\"\" is current", true, "/say \"hi\""},
    CommandRow{"pwd250", nullptr, &TFtpClient::Pwd, "PWD", "250 \"/x\"", true, "/x"},
    CommandRow{"cwdNoQuotedNameEmptiesDirectory", hostDir("$DATA.SUB"), &TFtpClient::Cwd,
               "CWD $DATA.SUB", "250 CWD command successful", true, ""},
    CommandRow{"cwd257TakesQuotedName", hostDir("sub"), &TFtpClient::Cwd, "CWD sub",
               "257 \"/home/sub\" ok", true, "/home/sub"},
    CommandRow{"cwd550", hostDir("none"), &TFtpClient::Cwd, "CWD none", "550 no such", false, nullptr},
    CommandRow{"cdup", nullptr, &TFtpClient::CDup, "CDUP", "250 \"/\" now", true, "/"},
    CommandRow{"cdup200Fails", nullptr, &TFtpClient::CDup, "CDUP", "200 ok", false, nullptr},
    CommandRow{"typeBinary", nullptr, &TFtpClient::TypeBinary, "TYPE I", "200 Type I", true, nullptr},
    CommandRow{"typeAscii", nullptr, &TFtpClient::TypeAscii, "TYPE A", "200 Type A", true, nullptr},
    CommandRow{"syst", nullptr, &TFtpClient::Syst, "SYST", "215 UNIX Type: L8", true, nullptr},
    CommandRow{"mkd", hostFile("new"), &TFtpClient::Mkd, "MKD new", "257 \"/new\" created", true, "/new"},
    CommandRow{"mkd250Fails", hostFile("new"), &TFtpClient::Mkd, "MKD new", "250 ok", false, nullptr},
    CommandRow{"rmd", hostFile("old"), &TFtpClient::Rmd, "RMD old", "250 removed", true, nullptr},
    CommandRow{"dele250", hostFile("f"), &TFtpClient::Dele, "DELE f", "250 deleted", true, nullptr},
    CommandRow{"dele257", hostFile("f"), &TFtpClient::Dele, "DELE f", "257 deleted", true, nullptr},
    CommandRow{"dele200Fails", hostFile("f"), &TFtpClient::Dele, "DELE f", "200 hm", false, nullptr},
    CommandRow{"quoteBelow500", localFile("NOOP"), &TFtpClient::Quote, "NOOP", "350 fine", true, nullptr},
    CommandRow{"quote500Fails", localFile("XYZ"), &TFtpClient::Quote, "XYZ", "500 unknown", false, nullptr},
    CommandRow{"unlistedCode0Fails", hostFile("f"), &TFtpClient::Dele, "DELE f", "000 odd", false, nullptr}),
    [](const testing::TestParamInfo<CommandRow> &i) { return std::string(i.param.name); });

TEST_F(FtpControl, sizeReadsNumberAndSixtyFourBitValue)
{
    Login();
    cli.SetHostFileName("big");
    peer.Reply("SIZE big", "213 5000000000\r\n").Reply("SIZE none", "550 no\r\n");
    EXPECT_TRUE(cli.Size());
    EXPECT_EQ(cli.ReplySize(), 5000000000LL);
    cli.SetHostFileName("none");
    EXPECT_FALSE(cli.Size());
    EXPECT_EQ(cli.ReplySize(), 0);   // cleared before the command
}

TEST_F(FtpControl, wrongPasswordFailsAndKeepsConnectionOpen)
{
    peer.Send("220 hi\r\n").Reply("USER u", "331 pw\r\n").Reply("PASS p", "530 Login incorrect\r\n")
        .Reply("PWD", "257 \"/\"\r\n");
    EXPECT_FALSE(cli.Connect());
    EXPECT_EQ(cli.ErrorMessage(), "530 Login incorrect");
    EXPECT_TRUE(cli.GetConnected());
    EXPECT_TRUE(cli.Pwd());   // the connection is still usable
}

TEST_F(FtpControl, passwordIsSentButNeverDisplayed)
{
    cli.SetPassWord("s3cret");
    peer.Send("220 hi\r\n").Reply("USER u", "331 pw\r\n").Reply("PASS s3cret", "230 ok\r\n");
    EXPECT_TRUE(cli.Connect()) << cli.ErrorMessage();
    EXPECT_TRUE(Displayed("> PASS ********"));
    for (const std::string &m : display)
        EXPECT_EQ(m.find("s3cret"), std::string::npos) << m;
}

TEST_F(FtpControl, firstFailureIsKeptUntilHighLevelOperationClearsIt)
{
    Login();
    cli.SetHostFileName("a");
    peer.Reply("DELE a", "550 first\r\n").Reply("DELE a", "550 second\r\n")
        .Reply("RNFR a", "550 third\r\n");
    EXPECT_FALSE(cli.Dele());
    EXPECT_FALSE(cli.Dele());
    EXPECT_EQ(cli.ErrorMessage(), "550 first");
    EXPECT_EQ(cli.LastReply(), "550 second");
    EXPECT_FALSE(cli.Ren());
    EXPECT_EQ(cli.ErrorMessage(), "550 third");
}

TEST_F(FtpControl, renStopsAtFailedRnfrAndReportsFailedRnto)
{
    Login();
    cli.SetHostFileName("OLD");
    cli.SetLocalFileName("NEW");
    peer.Reply("RNFR OLD", "550 not found\r\n");
    EXPECT_FALSE(cli.Ren());
    EXPECT_TRUE(peer.WaitFinished());   // RNTO would fail the script
    peer.Reply("RNFR OLD", "350 ready\r\n").Reply("RNTO NEW", "553 not allowed\r\n");
    EXPECT_FALSE(cli.Ren());
    EXPECT_EQ(cli.ErrorMessage(), "553 not allowed");
    peer.Reply("RNFR OLD", "350 ready\r\n").Reply("RNTO NEW", "250 renamed\r\n");
    EXPECT_TRUE(cli.Ren());
    EXPECT_TRUE(peer.WaitFinished());
}

TEST_F(FtpControl, lineBreakInArgumentIsRefusedAndNothingSent)
{
    Login();
    cli.SetHostFileName("a\r\nDELE b");
    EXPECT_FALSE(cli.Dele());
    cli.SetHostDirName("x\ny");
    EXPECT_FALSE(cli.Cwd());
    cli.SetLocalFileName("NOOP\r\nQUIT");
    EXPECT_FALSE(cli.Quote());
    std::vector<std::string> errors;
    cli.OnError = [&](TCustomFtpCli *, std::string &m) { errors.push_back(m); };
    EXPECT_FALSE(cli.Dele());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Command refused: CR or LF inside an argument");
    EXPECT_EQ(cli.State(), ftpReady);
    Pump();
    EXPECT_TRUE(peer.Commands().size() == 2);   // USER and PASS only
}

TEST_F(FtpControl, quitAnswered500FailsButClosesConnection)
{
    Login();
    peer.Reply("QUIT", "500 what\r\n").ExpectClose();
    EXPECT_FALSE(cli.Quit());
    EXPECT_EQ(cli.ErrorMessage(), "500 what");
    EXPECT_FALSE(cli.GetConnected());
    EXPECT_EQ(closed, 1);
    EXPECT_TRUE(peer.WaitFinished());
}

// ---- Request lifecycle ----

TEST_F(FtpControl, newClientRefusesCommandsWithoutTouchingErrorMessage)
{
    peer.AllowUnfinished();
    EXPECT_EQ(cli.State(), ftpReady);
    EXPECT_FALSE(cli.Cwd());
    EXPECT_FALSE(cli.Pwd());
    EXPECT_EQ(cli.ErrorMessage(), "");
    try {
        cli.PwdAsync();
        ADD_FAILURE() << "no exception";
    } catch (const FtpException &e) {
        EXPECT_STREQ(e.what(), "FTP component not connected");
    }
}

TEST_F(FtpControl, requestWhileBusyIsRefusedAndRunningOneUndisturbed)
{
    Login();
    peer.Expect("PWD").Delay(50).Send("257 \"/dir\"\r\n");
    cli.PwdAsync();
    try {
        cli.SetHostFileName("f");
        cli.SizeAsync();
        ADD_FAILURE() << "no exception";
    } catch (const FtpException &e) {
        EXPECT_STREQ(e.what(), "FTP component not ready");
    }
    EXPECT_FALSE(cli.Cwd());   // the synchronous form just returns false
    for (int i = 0; i < 500 && cli.State() != ftpReady; ++i)
        Pump(10);
    ASSERT_EQ(cli.State(), ftpReady);
    EXPECT_EQ(cli.ReplyDirectory(), "/dir");   // still read as a PWD reply
    EXPECT_TRUE(peer.WaitFinished());
}

TEST_F(FtpControl, requestDoneArrivesAfterWaitReturned)
{
    Login();
    Pump();
    done.clear();
    peer.Reply("PWD", "257 \"/\"\r\n").Reply("SYST", "215 X\r\n");
    EXPECT_TRUE(cli.Pwd());
    EXPECT_TRUE(done.empty());
    EXPECT_TRUE(cli.Syst());   // the first notification arrives during the second wait
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0], std::make_pair(ftpPwdAsync, 0));
    Pump();
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done[1], std::make_pair(ftpSystAsync, 0));
}

TEST_F(FtpControl, abortInsideWaitEndsRequestAndConnection)
{
    Login();
    peer.Expect("CWD slow").AllowUnfinished();
    cli.SetHostDirName("slow");
    bool abortResult = true;
    QTimer::singleShot(100, [&] { abortResult = cli.Abort(); });
    states.clear();
    EXPECT_FALSE(cli.Cwd());
    EXPECT_FALSE(abortResult);
    EXPECT_EQ(cli.ErrorMessage(), "426 Operation aborted.");
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(Count(ftpAbort), 1);
    EXPECT_EQ(cli.State(), ftpReady);
    try {
        cli.PwdAsync();
        ADD_FAILURE() << "no exception";
    } catch (const FtpException &e) {
        EXPECT_STREQ(e.what(), "FTP component not connected");
    }
}

TEST_F(FtpControl, abortedHighLevelOperationReports426)
{
    peer.Send("220 hi\r\n").Expect("USER u").AllowUnfinished();
    QTimer::singleShot(100, [&] { cli.AbortAsync(); });
    EXPECT_FALSE(cli.Connect());
    EXPECT_EQ(cli.ErrorMessage(), "426 Operation aborted.");
    Pump();
    ASSERT_FALSE(done.empty());
    EXPECT_EQ(done.back(), std::make_pair(ftpConnectAsync, 426));
}

TEST_F(FtpControl, leavingTheEventLoopEndsAWaitWithoutTimeLimit)
{
    Login();
    cli.SetTimeout(0);
    peer.Expect("SYST").Then([](FtpScriptPeer &, std::function<void()> Next) {
        QCoreApplication::quit();   // the user closed the application during the wait
        Next();
    }).AllowUnfinished();
    bool result = true;
    QTimer::singleShot(0, [&] { result = cli.Syst(); });
    QTimer safety;   // ends a wait that missed the quit, so a fault fails instead of hanging
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, [&] { cli.AbortAsync(); });
    safety.start(5000);
    QCoreApplication::exec();
    EXPECT_FALSE(result);
    EXPECT_EQ(cli.ErrorMessage(), "426 Timeout");
    EXPECT_FALSE(cli.GetConnected());
}

TEST_F(FtpControl, silentServerTimesOut)
{
    Login();
    cli.SetTimeout(1);
    peer.Expect("SYST").AllowUnfinished();
    EXPECT_FALSE(cli.Syst());
    EXPECT_EQ(cli.ErrorMessage(), "426 Timeout");
    EXPECT_EQ(cli.ReplyCode(), 426);
    EXPECT_FALSE(cli.GetConnected());
}

TEST_F(FtpControl, serverClosingIdleConnectionLeavesInternalReady)
{
    Login();
    states.clear();
    peer.Send("421 Idle timeout\r\n").Close();
    for (int i = 0; i < 100 && closed == 0; ++i)
        Pump(20);
    EXPECT_EQ(closed, 1);
    EXPECT_TRUE(Displayed("< 421 Idle timeout"));   // unsolicited lines are shown
    EXPECT_EQ(states, (std::vector<TFtpState>{ftpNotConnected, ftpInternalReady}));
    EXPECT_FALSE(cli.Pwd());   // not connected any more
}

TEST_F(FtpControl, commandHandlerMayRewriteAndEveryReplyLineIsReported)
{
    Login();
    int responses = 0;
    cli.OnResponse = [&](TCustomFtpCli *) { ++responses; };
    cli.OnCommand = [](TCustomFtpCli *, std::string &c) {
        if (c == "SYST")
            c = "SYST extra";
    };
    peer.Reply("SYST extra", "215-one\r\nfree text\r\n215 done\r\n");
    EXPECT_TRUE(cli.Syst());
    EXPECT_TRUE(Displayed("> SYST extra"));
    EXPECT_EQ(responses, 3);
    EXPECT_EQ(cli.LastReply(), "215 done");
}

TEST_F(FtpControl, exceptionFromRequestDoneHandlerGoesToBgException)
{
    Login();
    Pump();
    std::string caught;
    cli.OnRequestDone = [](TCustomFtpCli *, TFtpRequest, int) { throw std::runtime_error("boom"); };
    cli.OnBgException = [&](TCustomFtpCli *, const std::exception &e, bool &canClose) {
        caught = e.what();
        EXPECT_TRUE(canClose);
    };
    peer.Reply("PWD", "257 \"/\"\r\n").Reply("PWD", "257 \"/\"\r\n");
    EXPECT_TRUE(cli.Pwd());
    Pump();
    EXPECT_EQ(caught, "boom");
    EXPECT_TRUE(cli.Pwd());   // the engine goes on
}

// ---- High-level operations ----

TEST_F(FtpControl, fileSizeRunsItsStepsAndReportsSizeReplyAfterQuit)
{
    cli.SetHostDirName("$DATA.SUB");
    cli.SetHostFileName("F1");
    peer.Send("220 hi\r\n").Reply("USER u", "331 pw\r\n").Reply("PASS p", "230 ok\r\n")
        .Reply("CWD $DATA.SUB", "250 ok\r\n").Reply("SIZE F1", "213 77\r\n")
        .Reply("QUIT", "221 bye\r\n").ExpectClose();
    EXPECT_TRUE(cli.FileSize()) << cli.ErrorMessage();
    EXPECT_EQ(cli.ReplySize(), 77);
    EXPECT_EQ(cli.LastReply(), "213 77");
    EXPECT_EQ(cli.ReplyCode(), 213);
    EXPECT_FALSE(cli.GetConnected());
    Pump();
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0], std::make_pair(ftpFileSizeAsync, 0));
    EXPECT_TRUE(peer.WaitFinished());
}

TEST_F(FtpControl, failingStepEndsOperationWithoutQuit)
{
    cli.SetHostFileName("X");
    peer.Send("220 hi\r\n").Reply("USER u", "230 ok\r\n").Reply("MKD X", "550 exists\r\n");
    EXPECT_FALSE(cli.Mkdir());   // no CWD: HostDirName is empty
    EXPECT_EQ(cli.ErrorMessage(), "550 exists");
    EXPECT_TRUE(cli.GetConnected());
    EXPECT_TRUE(peer.WaitFinished());
}

TEST_F(FtpControl, highLevelOpenRefusedWhileConnected)
{
    Login();
    try {
        cli.SystemAsync();
        ADD_FAILURE() << "no exception";
    } catch (const FtpException &e) {
        EXPECT_STREQ(e.what(), "FTP component already connected");
    }
    EXPECT_FALSE(cli.Connect());
    EXPECT_EQ(cli.State(), ftpReady);
}

TEST_F(FtpControl, refusedLaterStepEndsOperationInsteadOfHanging)
{
    cli.SetPassWord("");
    cli.SetTimeout(30);
    peer.Send("220 hi\r\n").Reply("USER u", "331 pw\r\n");
    EXPECT_FALSE(cli.Connect());
    EXPECT_EQ(cli.ErrorMessage(), "500 Password emtpy");
    EXPECT_EQ(cli.State(), ftpReady);
    EXPECT_TRUE(peer.WaitFinished());
}

TEST_F(FtpControl, proxyModeNamesTargetInUser)
{
    cli.SetConnectionType(ftpProxy);
    EXPECT_TRUE(cli.Passive());
    cli.SetProxyServer("127.0.0.1");
    cli.SetHostName("tandem.example");   // never resolved: the proxy is
    peer.Send("220 proxy\r\n").Reply("USER u@tandem.example", "331 pw\r\n")
        .Reply("PASS p", "230 ok\r\n");
    EXPECT_TRUE(cli.Connect()) << cli.ErrorMessage();
    try {
        cli.SetConnectionType(ftpDirect);
        ADD_FAILURE() << "no exception";
    } catch (const FtpException &e) {
        EXPECT_STREQ(e.what(), "FTP component connected");
    }
    EXPECT_EQ(cli.ConnectionType(), ftpProxy);
}

// ---- Properties ----

TEST(FtpProperties, SettersKeepTheirRules)
{
    TFtpClient cli;
    EXPECT_EQ(cli.Timeout(), 15);
    EXPECT_EQ(cli.Port(), "ftp");
    EXPECT_TRUE(cli.Binary());
    EXPECT_EQ(cli.Options(), OptBit(ftpAcceptLF));
    EXPECT_EQ(cli.ShareMode(), ftpShareExclusive);
    for (TFtpShareMode m : {ftpShareCompat, ftpShareExclusive, ftpShareDenyWrite, ftpShareDenyRead,
                            ftpShareDenyNone}) {
        cli.SetShareMode(m);
        EXPECT_EQ(cli.ShareMode(), m);
    }
    cli.SetDisplayFileMode(TFtpDisplayFileMode(7));
    EXPECT_EQ(cli.DisplayFileMode(), ftpLineByLine);
    cli.SetPassive(true);
    cli.SetPassive(false);
    EXPECT_FALSE(cli.Passive());
    cli.SetConnectionType(ftpProxy);
    cli.SetPassive(false);
    EXPECT_TRUE(cli.Passive());   // a proxy needs passive data connections
    cli.SetConnectionType(ftpDirect);
    EXPECT_TRUE(cli.Passive());   // and it stays so
    cli.SetConnectionType(TFtpConnectionType(42));
    EXPECT_EQ(cli.ConnectionType(), ftpDirect);
}

} // namespace

namespace {

TEST_F(FtpControl, refusalsReachOnErrorAndFailTheCallWithoutException)
{
    std::vector<std::string> errors;
    cli.OnError = [&](TCustomFtpCli *, std::string &m) { errors.push_back(m); };
    cli.SetPassWord("");
    peer.Send("220 hi\r\n").Reply("USER u", "331 pw\r\n");
    EXPECT_FALSE(cli.Connect());             // the PASS step refuses from inside the loop
    EXPECT_EQ(cli.ErrorMessage(), "500 Password emtpy");
    EXPECT_FALSE(cli.Connect());             // and a second Open is refused at once
    EXPECT_EQ(errors, (std::vector<std::string>{"Password emtpy", "FTP component already connected"}));
    EXPECT_EQ(cli.State(), ftpReady);
    EXPECT_TRUE(peer.WaitFinished());
}

TEST_F(FtpControl, refusedFirstStepLeavesNoStepsForTheNextRequest)
{
    // With OnError set a refusal does not throw; the refused Get must still end completely,
    // or its RETR step would run after the next request's greeting.
    std::vector<std::string> errors;
    cli.OnError = [&](TCustomFtpCli *, std::string &m) { errors.push_back(m); };
    cli.SetHostFileName("f");
    cli.SetLocalFileName("/nonexistent-dir/never-written");
    EXPECT_FALSE(cli.Get());
    EXPECT_EQ(errors, std::vector<std::string>{"FTP component not connected"});
    EXPECT_EQ(cli.State(), ftpReady);
    peer.Send("220 hi\r\n");
    EXPECT_TRUE(cli.Open()) << cli.ErrorMessage();
    Pump(100);
    EXPECT_TRUE(peer.Commands().isEmpty()) << peer.Commands().join(" | ").toStdString();
    EXPECT_EQ(cli.State(), ftpReady);
}

TEST_F(FtpControl, serverClosingDuringCommandFailsItEvenAfterEarlierFailure)
{
    Login();
    cli.SetHostFileName("x");
    peer.Reply("DELE x", "550 no\r\n").Expect("PWD").Close();
    EXPECT_FALSE(cli.Dele());
    EXPECT_FALSE(cli.Pwd());
    EXPECT_EQ(cli.LastReply(), "421 Connection closed by the server");
    EXPECT_EQ(cli.ErrorMessage(), "550 no");   // the first failure is kept
    EXPECT_EQ(closed, 1);
}

} // namespace

namespace {

TEST_F(FtpControl, emptyHostNameFailsAtOnceAndLeavesClientReady)
{
    peer.AllowUnfinished();
    cli.SetHostName("");
    EXPECT_FALSE(cli.Connect());
    EXPECT_EQ(cli.ErrorMessage(), "500 ESocketException: DNS lookup: invalid host name.");
    EXPECT_EQ(cli.State(), ftpReady);
    cli.SetHostName("127.0.0.1");
    peer.Send("220 hi\r\n").Reply("USER u", "230 ok\r\n");
    EXPECT_TRUE(cli.Connect()) << cli.ErrorMessage();   // the client is usable afterwards
}

} // namespace
