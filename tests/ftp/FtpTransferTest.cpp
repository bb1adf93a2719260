// The data side of the FTP engine against the scripted peer: end of a transfer in either
// order, listings line by line, and the failures of the transfer steps. Uploads and restart
// offsets are in FtpUploadRestartTest.cpp.
#include "FtpTransferFixture.h"
#include "net/Socket.h"

#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// ---- End of a download: data close and final reply in either order, both modes ----------

struct EndOrder {
    bool passive;
    bool replyBeforeClose;
};

class DownloadEnd : public FtpTransfer, public testing::WithParamInterface<EndOrder> {};

TEST_P(DownloadEnd, completesOnceWithWholeFile)
{
    const QByteArray payload = Pattern(70000);
    DataStep(GetParam().passive);
    peer.Reply("RETR f.bin", "150 Opening BINARY mode data connection.\r\n");
    data.Open().Send(payload);
    if (GetParam().replyBeforeClose) {
        peer.Send("226 Transfer complete.\r\n").Delay(100);
        data.Close();
    } else {
        data.Close();
        peer.Delay(100).Send("226 Transfer complete.\r\n");
    }
    cli.SetHostFileName("f.bin");
    cli.SetLocalFileName(Local("f.bin"));
    ASSERT_TRUE(cli.Get()) << cli.ErrorMessage();
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_EQ(ReadAll(Local("f.bin")), payload);
    EXPECT_FALSE(HeldOpen(Local("f.bin")));
    EXPECT_EQ(cli.TransferCount(), payload.size());
    EXPECT_EQ(StatsLines(), 1);
    if (!GetParam().passive) {
        // over loopback the PORT command names 127.0.0.1
        EXPECT_TRUE(data.PortLine().startsWith("PORT 127,0,0,1,")) << data.PortLine().toStdString();
    }
    // progress comes before each read of at most 2048 bytes, so it never passes the bytes
    // already counted and never moves by more than one read
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_LE(progress.back(), payload.size());
    EXPECT_GE(progress.size(), size_t(payload.size() / 2048));
    for (size_t i = 1; i < progress.size(); ++i)
        EXPECT_LE(progress[i] - progress[i - 1], 2048) << "at report " << i;
    Pump();
    ASSERT_EQ(done.size(), 2u);  // Connect, then Get
    EXPECT_EQ(done[1], std::make_pair(ftpGetAsync, 0));
}

INSTANTIATE_TEST_SUITE_P(Orders, DownloadEnd,
                         testing::Values(EndOrder{true, true}, EndOrder{true, false}, EndOrder{false, true},
                                         EndOrder{false, false}),
                         [](const testing::TestParamInfo<EndOrder> &i) {
                             return std::string(i.param.passive ? "passive" : "active") +
                                    (i.param.replyBeforeClose ? "_226BeforeClose" : "_226AfterClose");
                         });

// ---- Passive data connection: address and malformed replies -------------------------------

TEST_F(FtpTransfer, passiveConnectsToControlAddressNotTheOneIn227)
{
    // A server without EPSV: refused once, then PASV for the rest of the session. The peer
    // listens on 127.0.0.1 only; a client that obeyed the 227 reply would be refused.
    data.RefuseEpsv();
    for (const char *name : {"f", "g"}) {
        DataStep(true, "127,0,0,2");
        peer.Reply(QByteArray("RETR ") + name, "150 go\r\n");
        data.Open().Send(name).Close();
        peer.Delay(50).Send("226 ok\r\n");
        cli.SetHostFileName(name);
        cli.SetLocalFileName(Local(name));
        ASSERT_TRUE(cli.Get()) << cli.ErrorMessage();
        EXPECT_EQ(ReadAll(Local(name)), name);
    }
    EXPECT_EQ(data.DataConnections(), 2);
    EXPECT_EQ(peer.Commands().count("EPSV"), 1);
    EXPECT_EQ(peer.Commands().count("PASV"), 2);
    EXPECT_TRUE(Displayed("! The server refused EPSV: PASV for the rest of this session"));
}

TEST_F(FtpTransfer, malformedPassiveRepliesFailCleanlyAndLeaveLocalFileAlone)
{
    // Every row: the transfer fails before the local file is touched, no data connection is
    // tried, and the control connection stays usable.
    const std::vector<std::pair<QByteArray, QByteArray>> rows = {
        {"EPSV", "229 Entering Extended Passive Mode (|||0|)"},
        {"EPSV", "229 Entering Extended Passive Mode (|||65536|)"},
        {"EPSV", "229 Entering Extended Passive Mode (|!|2121|)"},
        {"EPSV", "229 Entering Extended Passive Mode |||2121|"},
        {"PASV", "227 Entering Passive Mode"},
    };
    WriteAll(Local("keep"), "old contents");
    cli.SetPassive(true);
    for (const auto &[command, reply] : rows) {
        if (command == "PASV")
            peer.Reply("EPSV", "502 EPSV not implemented\r\n");
        peer.Reply(command, reply + "\r\n");
        cli.SetHostFileName("f");
        cli.SetLocalFileName(Local("keep"));
        EXPECT_FALSE(cli.Get()) << reply.toStdString();
        EXPECT_EQ(cli.State(), ftpReady);
        EXPECT_EQ(cli.ReplyCode(), 550);
        EXPECT_NE(cli.ErrorMessage().find("passive reply"), std::string::npos) << cli.ErrorMessage();
        EXPECT_EQ(ReadAll(Local("keep")), "old contents");
        EXPECT_FALSE(HeldOpen(Local("keep")));
        peer.Reply("PWD", "257 \"/x\"\r\n");
        EXPECT_TRUE(cli.Pwd()) << cli.ErrorMessage();
    }
    EXPECT_EQ(data.DataConnections(), 0);
}

// ---- Failures of a download ----------------------------------------------------------------

TEST_F(FtpTransfer, retr550CreatesEmptyLocalFileAndClosesIt)
{
    DataStep(false);
    peer.Reply("RETR missing", "550 missing: No such file.\r\n");
    cli.SetHostFileName("missing");
    cli.SetLocalFileName(Local("missing"));
    EXPECT_FALSE(cli.Get());
    EXPECT_EQ(cli.ErrorMessage(), "550 missing: No such file.");
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("missing")));
    EXPECT_EQ(QFileInfo(dir.filePath("missing")).size(), 0);
    EXPECT_FALSE(HeldOpen(Local("missing")));
    Pump();
    EXPECT_EQ(done.back(), std::make_pair(ftpGetAsync, 550));
}

TEST_F(FtpTransfer, localFileThatCannotBeCreatedEndsWith550AndClosesListener)
{
    DataStep(false);
    cli.SetHostFileName("f");
    cli.SetLocalFileName(Local("no-such-dir/f"));
    EXPECT_FALSE(cli.Get());
    EXPECT_EQ(cli.ErrorMessage(), "Unable to open local file " + Local("no-such-dir/f"));
    EXPECT_EQ(cli.ReplyCode(), 550);
    EXPECT_EQ(cli.DataSocket()->State(), wsClosed);
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_FALSE(peer.Commands().contains("RETR f"));
}

TEST_F(FtpTransfer, refusedPassiveDataConnectionFailsBothWays)
{
    quint16 deadPort;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        deadPort = probe.serverPort();
    }
    const QByteArray reply = "229 Entering Extended Passive Mode (|||" + QByteArray::number(deadPort) + "|)\r\n";
    // no transfer command goes out without its data connection, so no late reply to it can
    // be taken for the answer to the next command
    cli.SetPassive(true);
    peer.Reply("EPSV", reply);
    cli.SetHostFileName("f");
    cli.SetLocalFileName(Local("f"));
    EXPECT_FALSE(cli.Get());
    EXPECT_EQ(cli.ErrorMessage(), "Unable to establish data connection, error #10061");
    EXPECT_FALSE(HeldOpen(Local("f")));
    EXPECT_TRUE(peer.WaitFinished());
    peer.Reply("PWD", "257 \"/here\"\r\n");
    EXPECT_TRUE(cli.Pwd()) << cli.ErrorMessage();
    EXPECT_EQ(cli.ReplyDirectory(), "/here");
    // an upload sends STOR only once its data connection is open
    WriteAll(Local("up"), "x");
    peer.Reply("EPSV", reply);
    cli.SetLocalFileName(Local("up"));
    EXPECT_FALSE(cli.Put());
    EXPECT_EQ(cli.ErrorMessage(), "Unable to establish data connection, error #10061");
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_FALSE(HeldOpen(Local("up")));
    Pump(100);
    EXPECT_FALSE(peer.Commands().contains("STOR f"));
}

TEST_F(FtpTransfer, serverClosingDataEarlyFailsWithItsReply)
{
    DataStep(true);
    peer.Reply("RETR f", "150 go\r\n");
    data.Open().Send(Pattern(1000)).Close();
    peer.Delay(50).Send("426 Connection closed; transfer aborted.\r\n");
    cli.SetHostFileName("f");
    cli.SetLocalFileName(Local("f"));
    EXPECT_FALSE(cli.Get());
    EXPECT_EQ(cli.ErrorMessage(), "426 Connection closed; transfer aborted.");
    EXPECT_TRUE(Displayed("! RETR/LIST/NLST Failed"));
    EXPECT_FALSE(HeldOpen(Local("f")));
}

TEST_F(FtpTransfer, missingFinalReplyTimesOutAfterDataClosed)
{
    cli.SetTimeout(1);
    DataStep(true);
    peer.Reply("RETR f", "150 go\r\n");
    data.Open().Send("abc").Close();
    cli.SetHostFileName("f");
    cli.SetLocalFileName(Local("f"));
    EXPECT_FALSE(cli.Get());
    EXPECT_EQ(cli.ErrorMessage(), "426 Timeout");
    EXPECT_EQ(ReadAll(Local("f")), "abc");
    EXPECT_FALSE(HeldOpen(Local("f")));
}

// A server may answer 226 although the client lost data: the transfer must fail all the same.
TEST_F(FtpTransfer, resetDataConnectionFailsDespite226)
{
    DataStep(true);
    peer.Reply("RETR f", "150 go\r\n");
    data.Open().Send(Pattern(3000));
    peer.Delay(100);
    data.Reset();
    peer.Delay(100).Send("226 ok\r\n");
    cli.SetHostFileName("f");
    cli.SetLocalFileName(Local("f"));
    EXPECT_FALSE(cli.Get());
    EXPECT_EQ(cli.ErrorMessage(), "Data connection closed with error #10054");
    Pump();
    EXPECT_EQ(done.back(), std::make_pair(ftpGetAsync, 10054));
}

TEST_F(FtpTransfer, localWriteErrorFailsDespite226)
{
    DataStep(true);
    peer.Reply("RETR f", "150 go\r\n");
    data.Open().Send(Pattern(100000)).Close();
    peer.Delay(100).Send("226 ok\r\n");
    cli.SetHostFileName("f");
    cli.SetLocalFileName("/dev/full");
    EXPECT_FALSE(cli.Get());
    EXPECT_TRUE(Displayed("! Error writing local file"));
    EXPECT_EQ(cli.ErrorMessage(), "550 Error writing local file /dev/full");
    peer.AllowUnfinished();  // the data may be cut short by the client's shutdown
}

TEST_F(FtpTransfer, progressAbortFailsTransferEvenWhenServerSays226)
{
    cli.OnProgress = [](TCustomFtpCli *, qint64, bool &abort) { abort = true; };
    DataStep(true);
    peer.Reply("RETR f", "150 go\r\n");
    data.Open().Send("abc");
    peer.Delay(100).Send("226 ok\r\n");
    cli.SetHostFileName("f");
    cli.SetLocalFileName(Local("f"));
    EXPECT_FALSE(cli.Get());
    EXPECT_TRUE(Displayed("! Abort requested"));
    EXPECT_EQ(cli.ErrorMessage(), "426 Transfer aborted by the application");
}

// ---- What a transfer's replies mean: preliminary and final, receive and upload ----------------

struct VerdictRow {
    const char *name;
    bool upload;
    const char *first;   // reply to RETR or STOR
    const char *final;   // reply after the data, nullptr when the first one refused
    bool ok;
};

void PrintTo(const VerdictRow &row, std::ostream *os)
{
    *os << row.name;
}

class TransferVerdict : public FtpTransfer, public testing::WithParamInterface<VerdictRow> {};

TEST_P(TransferVerdict, successNeedsAnAcceptedPreliminaryAndFinalReply)
{
    const VerdictRow &row = GetParam();
    DataStep(true);
    peer.Reply(row.upload ? "STOR f" : "RETR f", QByteArray(row.first) + "\r\n");
    if (row.final) {
        if (row.upload)
            data.Open().ReceiveUntilClose();
        else
        {
            data.Open().Send("abc").Close();
            peer.Delay(50);
        }
        peer.Send(QByteArray(row.final) + "\r\n");
    }
    WriteAll(Local("up"), "xyz");
    cli.SetHostFileName("f");
    cli.SetLocalFileName(row.upload ? Local("up") : Local("down"));
    EXPECT_EQ(row.upload ? cli.Put() : cli.Get(), row.ok) << cli.ErrorMessage();
    EXPECT_TRUE(peer.WaitFinished());
    if (row.ok) {
        EXPECT_EQ(row.upload ? data.Received() : ReadAll(Local("down")), row.upload ? "xyz" : "abc");
    } else {
        EXPECT_EQ(cli.ErrorMessage(), row.final ? row.final : row.first);
    }
    // the control connection is in step afterwards
    peer.Reply("NOOP", "200 ok\r\n");
    cli.SetLocalFileName("NOOP");
    EXPECT_TRUE(cli.Quote()) << cli.ErrorMessage();
    Pump();
    EXPECT_EQ(done.back(), std::make_pair(ftpQuoteAsync, 0));
}

INSTANTIATE_TEST_SUITE_P(Table, TransferVerdict, testing::Values(
    // receive
    VerdictRow{"retr150Then226", false, "150 go", "226 done", true},
    VerdictRow{"retr150Then250", false, "150 go", "250 done", true},
    VerdictRow{"retr150Then125AsFinal", false, "150 go", "125 done", true},
    VerdictRow{"retr125Then226", false, "125 go", "226 done", true},
    VerdictRow{"retr226WithoutPreliminaryFails", false, "226 done", nullptr, false},
    VerdictRow{"retrCode0RefusalFails", false, "000 odd", nullptr, false},
    VerdictRow{"retrFinalCode0Fails", false, "150 go", "000 odd", false},
    VerdictRow{"retrFinal451Fails", false, "150 go", "451 local error", false},
    // upload
    VerdictRow{"stor150Then226", true, "150 go", "226 done", true},
    VerdictRow{"stor125Then250", true, "125 go", "250 done", true},
    VerdictRow{"storCode0RefusalFails", true, "000 odd", nullptr, false},
    VerdictRow{"storFinalCode0Fails", true, "150 go", "000 odd", false},
    VerdictRow{"storFinal125Fails", true, "150 go", "125 more", false}),
    [](const testing::TestParamInfo<VerdictRow> &i) { return std::string(i.param.name); });

// ---- A transfer ends once, and only as a success when every byte arrived ----------------------

TEST_F(FtpTransfer, abortAfter226WhileDataStillFlowsFailsAndKeepsPartialFile)
{
    DataStep(true);
    peer.Reply("RETR f", "150 go\r\n");
    data.Open().Send(Pattern(5000));
    peer.Delay(50).Send("226 Transfer complete.\r\n");
    auto show = cli.OnDisplay;
    cli.OnDisplay = [&](TCustomFtpCli *c, std::string &m) {
        show(c, m);
        if (m == "< 226 Transfer complete.")
            QTimer::singleShot(0, [&] { cli.Abort(); });   // the user's Cancel, from the loop
    };
    cli.SetHostFileName("f");
    cli.SetLocalFileName(Local("f"));
    EXPECT_FALSE(cli.Get());
    EXPECT_EQ(cli.ErrorMessage(), "426 Operation aborted.");
    EXPECT_EQ(ReadAll(Local("f")), Pattern(5000).left(ReadAll(Local("f")).size()));
    // every byte received reached the file, none stayed gathered in memory
    EXPECT_EQ(ReadAll(Local("f")).size(), cli.TransferCount());
    EXPECT_FALSE(HeldOpen(Local("f")));
    Pump();
    EXPECT_EQ(done.back(), std::make_pair(ftpGetAsync, 426));
    EXPECT_EQ(StatsLines(), 0);
}

TEST_F(FtpTransfer, controlClosedAfter226WhileDataStillFlowsFails)
{
    DataStep(true);
    peer.Reply("RETR f", "150 go\r\n");
    data.Open().Send(Pattern(5000));
    peer.Delay(50).Send("226 Transfer complete.\r\n").Delay(50).Close();
    cli.SetHostFileName("f");
    cli.SetLocalFileName(Local("f"));
    EXPECT_FALSE(cli.Get());
    EXPECT_EQ(cli.ErrorMessage(), "421 Connection closed by the server");
    EXPECT_FALSE(HeldOpen(Local("f")));
    Pump(200);   // the data connection's late close must not turn the verdict round
    EXPECT_EQ(done.back(), std::make_pair(ftpGetAsync, 421));
}

TEST_F(FtpTransfer, activeListenerTakesOnlyTheServersConnection)
{
    // A stranger (another address) that reaches the announced port first is turned away;
    // the listener listens only on the control connection's own address.
    std::string listening;
    cli.OnCommand = [&](TCustomFtpCli *c, std::string &cmd) {
        if (cmd.rfind("PORT ", 0) != 0)
            return;
        sockaddr_in sin{};
        int len = sizeof sin;
        c->DataSocket()->GetSockName(sin, len);
        listening = inet_ntoa(sin.sin_addr);
    };
    DataStep(false);
    data.Intrude("EVIL", QHostAddress("127.0.0.2"));
    peer.Reply("RETR f", "150 go\r\n");
    data.Open().Send("good").Close();
    peer.Delay(50).Send("226 ok\r\n");
    cli.SetHostFileName("f");
    cli.SetLocalFileName(Local("f"));
    ASSERT_TRUE(cli.Get()) << cli.ErrorMessage();
    EXPECT_EQ(ReadAll(Local("f")), "good");
    EXPECT_EQ(listening, "127.0.0.1");
}

TEST_F(FtpTransfer, transferKeepsGoingPastTimeoutWhileBytesFlow)
{
    cli.SetTimeout(1);
    const QByteArray payload = Pattern(4000);
    DataStep(true);
    peer.Reply("RETR f", "150 go\r\n");
    data.Open().SendSplit(payload, 500, 250).Close();   // about twice the limit in all
    peer.Delay(50).Send("226 ok\r\n");
    cli.SetHostFileName("f");
    cli.SetLocalFileName(Local("f"));
    ASSERT_TRUE(cli.Get()) << cli.ErrorMessage();
    EXPECT_EQ(ReadAll(Local("f")), payload);
}

// ---- Listings --------------------------------------------------------------------------------

TEST_F(FtpTransfer, listingLinesAcrossReadsWithSplitCrLfAndMissingLastLineEnd)
{
    DataStep(true);
    peer.Expect("LIST").Send("150 Here comes the listing.\r\n");
    data.Open().Send("one\r\ntwo\r");
    peer.Delay(100);
    data.Send("\nthree\r\n\r\nfour");
    peer.Delay(100);
    data.Close();
    peer.Delay(50).Send("226 Directory send OK.\r\n");
    cli.SetDisplayFileFlag(true);
    cli.SetLocalFileName("");
    cli.SetHostFileName("");
    ASSERT_TRUE(cli.Dir()) << cli.ErrorMessage();
    // the LF that begins the second read ends no line; the last line arrives at the close
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "three", "four"}));
    EXPECT_EQ(cli.TransferCount(), qint64(std::string("one\r\ntwo\r\nthree\r\n\r\nfour").size()));
    Pump();
    EXPECT_EQ(done.back(), std::make_pair(ftpDirAsync, 0));
}

// Lines longer than a receive chunk arrive whole, however the reads cut them; a line over
// the limit is skipped and named by its length, never delivered cut.
TEST_F(FtpTransfer, longListingLinesAcrossReadsArriveWholeAndOverlongOnesAreSkipped)
{
    std::string wide(300, 'w'), huge(5000, 'h'), over(FtpListingLineMax + 1, 'o');
    for (std::size_t i = 0; i < huge.size(); ++i)
        huge[i] = char('a' + i % 26);
    const QByteArray listing = QByteArray::fromStdString(wide + "\r\n" + huge + "\r\n" + over + "\r\nlast");
    std::vector<qint64> dropped;
    cli.OnListingLineDropped = [&](TCustomFtpCli *, qint64 length) { dropped.push_back(length); };
    DataStep(true);
    peer.Expect("LIST").Send("150 ok\r\n");
    data.Open().SendSplit(listing, 1000, 20); // every read ends inside a line
    data.Close();
    peer.Delay(50).Send("226 ok\r\n");
    cli.SetDisplayFileFlag(true);
    cli.SetHostFileName("");
    ASSERT_TRUE(cli.Dir()) << cli.ErrorMessage();
    EXPECT_EQ(lines, (std::vector<std::string>{wide, huge, "last"}));
    EXPECT_EQ(dropped, std::vector<qint64>{qint64(over.size())});
    EXPECT_EQ(cli.TransferCount(), qint64(listing.size()));
}

TEST_F(FtpTransfer, binaryDisplayModeDeliversChunksAsReceived)
{
    const QByteArray payload = Pattern(9000);
    DataStep(false);
    peer.Reply("RETR f", "150 ok\r\n");
    data.Open().Send(payload).Close();
    peer.Delay(50).Send("226 ok\r\n");
    cli.SetDisplayFileFlag(true);
    cli.SetDisplayFileMode(ftpBinary);
    cli.SetHostFileName("f");
    ASSERT_TRUE(cli.Get()) << cli.ErrorMessage();
    std::string joined;
    for (const std::string &chunk : lines) {
        EXPECT_LE(chunk.size(), 2048u);
        joined += chunk;
    }
    EXPECT_EQ(joined, payload.toStdString());
}

} // namespace

// ---- Operations that connect, transfer and quit: commands on the wire and request type ---------

namespace {

enum class DataPart { Download, Upload, None };

struct SessionOp {
    const char *name;
    bool (TFtpClient::*op)();
    const char *dir;                    // HostDirName ("" skips CWD)
    std::vector<const char *> commands; // after USER and PASS, QUIT excluded
    DataPart data;
    TFtpRequest reported;
};

class SessionOperation : public testing::TestWithParam<SessionOp> {
protected:
    QTemporaryDir dir;
    FtpScriptPeer peer;
    FtpScriptData data{peer};
    TFtpClient cli;
};

TEST_P(SessionOperation, sendsItsStepsInOrderAndQuits)
{
    const SessionOp &row = GetParam();
    const std::string local = dir.filePath("f").toStdString();
    WriteAll(local, "ab");
    peer.Send("220 hi\r\n").Reply("USER u", "331 pw\r\n").Reply("PASS p", "230 ok\r\n");
    for (const char *c : row.commands) {
        const QByteArray command(c);
        if (command == "EPSV") {
            data.ExpectPasv();
        } else if (command.startsWith("RETR") || command.startsWith("LIST") || command.startsWith("NLST")) {
            peer.Reply(command, "150 go\r\n");
            data.Open().Send("c\r\n").Close();
            peer.Delay(50).Send("226 done\r\n");
        } else if (command.startsWith("STOR") || command.startsWith("APPE")) {
            peer.Reply(command, "150 go\r\n");
            data.Open().ReceiveUntilClose();
            peer.Send("226 done\r\n");
        } else if (command.startsWith("REST")) {
            peer.Reply(command, "350 Restarting.\r\n");
        } else {
            peer.Reply(command, command.startsWith("CWD") ? "250 ok\r\n" : "200 ok\r\n");
        }
    }
    peer.Reply("QUIT", "221 bye\r\n").ExpectClose();

    std::vector<TFtpRequest> done;
    cli.OnRequestDone = [&](TCustomFtpCli *, TFtpRequest rq, int) { done.push_back(rq); };
    cli.SetHostName("127.0.0.1");
    cli.SetPort(peer.PortText().toStdString());
    cli.SetUserName("u");
    cli.SetPassWord("p");
    cli.SetPassive(true);
    cli.SetHostDirName(row.dir);
    cli.SetHostFileName("f");
    cli.SetLocalFileName(local);
    cli.SetDisplayFileFlag(false);
    // an upload resumes at the caller's offset; a download's REST takes the local size
    const bool restartPut = std::any_of(row.commands.begin(), row.commands.end(),
                                        [](const char *c) { return std::string(c) == "REST 1"; });
    cli.SetRestartOffset(restartPut ? 1 : 0);
    ASSERT_TRUE((cli.*row.op)()) << cli.ErrorMessage();
    EXPECT_TRUE(peer.WaitFinished());
    QList<QByteArray> expected{"USER u", "PASS p"};
    bool restarted = false;
    for (const char *c : row.commands) {
        expected.append(c);
        restarted = restarted || QByteArray(c).startsWith("REST");
    }
    expected.append("QUIT");
    EXPECT_EQ(peer.Commands(), expected);
    EXPECT_FALSE(cli.GetConnected());
    if (row.data == DataPart::Upload) {
        EXPECT_EQ(data.Received(), restarted ? "b" : "ab");
    }
    Pump();
    ASSERT_FALSE(done.empty());
    EXPECT_EQ(done.back(), row.reported);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, SessionOperation,
    testing::Values(
        SessionOp{"Receive", &TFtpClient::Receive, "d", {"CWD d", "TYPE I", "EPSV", "RETR f"}, DataPart::Download,
                  ftpReceiveAsync},
        SessionOp{"ReceiveWithoutDir", &TFtpClient::Receive, "", {"TYPE I", "EPSV", "RETR f"}, DataPart::Download,
                  ftpReceiveAsync},
        SessionOp{"RestartGet", &TFtpClient::RestartGet, "d", {"CWD d", "TYPE I", "EPSV", "REST 2", "RETR f"},
                  DataPart::Download, ftpRestartGetAsync},
        SessionOp{"Transmit", &TFtpClient::Transmit, "d", {"CWD d", "TYPE I", "EPSV", "STOR f"}, DataPart::Upload,
                  ftpPutAsync},
        SessionOp{"RestartPut", &TFtpClient::RestartPut, "d", {"CWD d", "TYPE I", "EPSV", "REST 1", "STOR f"},
                  DataPart::Upload, ftpPutAsync},
        SessionOp{"AppendFile", &TFtpClient::AppendFile, "d", {"CWD d", "TYPE I", "EPSV", "APPE f"},
                  DataPart::Upload, ftpAppendAsync},
        SessionOp{"Directory", &TFtpClient::Directory, "d", {"CWD d", "EPSV", "LIST f"}, DataPart::Download,
                  ftpDirectoryAsync},
        SessionOp{"List", &TFtpClient::List, "d", {"CWD d", "EPSV", "NLST f"}, DataPart::Download, ftpListAsync}),
    [](const testing::TestParamInfo<SessionOp> &i) { return std::string(i.param.name); });

} // namespace

TEST(SessionOperationFailure, appendFileFailingBeforeItsAppendStepReportsTransmit)
{
    FtpScriptPeer peer;
    TFtpClient cli;
    std::vector<std::pair<TFtpRequest, int>> done;
    cli.OnRequestDone = [&](TCustomFtpCli *, TFtpRequest rq, int err) { done.push_back({rq, err}); };
    peer.Send("220 hi\r\n").Reply("USER u", "331 pw\r\n").Reply("PASS p", "230 ok\r\n");
    peer.Reply("CWD nowhere", "550 nowhere: no such directory\r\n");
    cli.SetHostName("127.0.0.1");
    cli.SetPort(peer.PortText().toStdString());
    cli.SetUserName("u");
    cli.SetPassWord("p");
    cli.SetHostDirName("nowhere");
    cli.SetHostFileName("f");
    cli.SetLocalFileName("/dev/null");
    EXPECT_FALSE(cli.AppendFile());
    EXPECT_EQ(cli.ErrorMessage(), "550 nowhere: no such directory");
    Pump();
    ASSERT_FALSE(done.empty());
    EXPECT_EQ(done.back(), std::make_pair(ftpTransmitAsync, 550));
    peer.AllowUnfinished();
}
