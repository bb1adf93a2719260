// The session logic behind the main window, without a display: its window is a recording
// fake and its server the scripted peer, so every command and every visible change is exact.
#include "net/Resolution.h"
#include "session/SessionController.h"
#include "support/FtpScriptData.h"
#include "support/FtpScriptPeer.h"
#include "support/TlsCerts.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTcpServer>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// The window as the controller sees it, recording what it is told.
class FakeWindow : public TRemoteView, public TStatusPanels, public TSessionWindow, public TMessageBoxes {
public:
    // TRemoteView
    void ClearFiles() override { files.clear(); ++clears; }
    void AddFile(const std::string &line) override { files.push_back(line); }
    std::vector<std::string> SelectedLines() const override { return {}; }
    std::string SubvolText() const override { return subvol; }
    void SetSubvolText(const std::string &text) override { subvol = text; }
    void AddSubvolHistory(const std::string &s) override
    {
        auto same = [&](const std::string &h) {
            return std::equal(h.begin(), h.end(), s.begin(), s.end(),
                              [](char a, char b) { return std::tolower(a) == std::tolower(b); });
        };
        if (std::none_of(history.begin(), history.end(), same))
            history.push_back(s);
    }
    void SetFilterItems(const std::vector<FilterItem> &items) override
    {
        filterItems = items;
        selectedFilter = items.empty() ? -1 : items.front().Index;
    }
    int SelectedFilterIndex() const override { return selectedFilter; }
    // TStatusPanels
    void SetStatusMessage(const std::string &text) override { status = text; }
    void SetFileCount(const std::string &text) override { count = text; }
    void SetEncryptionLock(const std::string &text) override { lock = text; }
    // TSessionWindow
    void SetSessionControlsEnabled(bool on) override { controls.push_back(on); }
    void SetConnectCommandEnabled(bool on) override { connectCommand = on; }
    void SetDisconnectCommandEnabled(bool on) override { disconnectCommand = on; }
    void SetCaptions(const std::string &text) override { caption = text; }
    void AddLogLine(const std::string &text) override { log.push_back(text); }
    bool IsClosing() const override { return closing; }
    // TMessageBoxes
    void Simple(const std::string &text) override { boxes.push_back("simple: " + text); }
    void ErrorDialog(const std::string &text) override { boxes.push_back("error: " + text); }

    std::vector<std::string> files, history, log, boxes;
    std::vector<FilterItem> filterItems;
    std::vector<bool> controls; // every switch of the session controls
    std::string subvol, status, count, lock, caption = "Zarvel";
    int selectedFilter = -1;
    int clears = 0;
    bool connectCommand = true;
    bool disconnectCommand = false;
    bool closing = false;
};

// A listing line as the NonStop server writes it: the file code from the 14th character.
std::string Line(const char *name, int code, long long size)
{
    char text[128];
    std::snprintf(text, sizeof text, "%-9s%8d%17lld 18-Mar-08 15:09:12 244, 10 \"nnnn\"", name, code, size);
    return text;
}

const char kHeading[] = "File         Code             EOF  Last Modification    Owner  RWEP";

QByteArray Listing(const std::vector<std::string> &lines)
{
    QByteArray bytes = QByteArray(kHeading) + "\r\n";
    for (const std::string &line : lines)
        bytes += QByteArray::fromStdString(line) + "\r\n";
    return bytes;
}

class SessionController : public testing::Test {
protected:
    SessionController()
    {
        settings.HostName = "127.0.0.1";
        settings.HostPort = peer.Port();
        settings.UserID = "u";
        settings.Password = "p";
        settings.InitialSubvol = "$DATA.SUB";
        settings.Encryption = "None"; // the scripts below play plain FTP; TLS has its own tests
        general.LogLevel = 3;
        session.SetSettings(&settings, &general);
        session.FTPCLI.SetTimeout(5);
        session.SetTandemFilter(kDefaultFilterTandem);
    }

    void ScriptLogin(const QByteArray &user = "USER u")
    {
        peer.Send("220 hi\r\n").Reply(user, "331 pw\r\n").Reply("PASS p", "230 ok\r\n");
    }
    // PORT, LIST and the listing sent in the pieces given.
    void ScriptList(const std::vector<QByteArray> &pieces, bool passive = false)
    {
        if (passive)
            data.ExpectPasv();
        else
            data.ExpectPort();
        peer.Expect("LIST").Send("150 Here comes the listing\r\n");
        data.Open();
        for (const QByteArray &piece : pieces) {
            data.Send(piece);
            peer.Delay(60);
        }
        data.Close();
        peer.Delay(30).Send("226 ok\r\n");
    }
    void ScriptSubvol(const QByteArray &subvol, const std::vector<std::string> &lines)
    {
        peer.Reply("CWD " + subvol, "250 ok\r\n").Reply("PWD", "257 \"" + subvol + "\" is current\r\n");
        ScriptList({Listing(lines)});
    }
    long CommandsStarting(const QByteArray &prefix) const
    {
        return std::count_if(peer.Commands().begin(), peer.Commands().end(),
                             [&](const QByteArray &c) { return c.startsWith(prefix); });
    }
    bool Logged(const std::string &line) const
    {
        return std::find(window.log.begin(), window.log.end(), line) != window.log.end();
    }

    FtpScriptPeer peer;
    FtpScriptData data{peer};
    FakeWindow window;
    TSessionController session{{&window, &window, &window, &window}};
    ConnectionSettings settings;
    GeneralSettings general;
    const std::vector<std::string> files = {Line("PROGC", 101, 1200), Line("MYOBJ", 100, 40960),
                                            Line("TOOLO", 700, 8192), Line("DATA", 0, 3000)};
};

// ---- Connection ----

TEST_F(SessionController, connectEntersInitialSubvolumeListsWithoutHeadingAndSwitchesOn)
{
    ScriptLogin();
    ScriptSubvol("$DATA.SUB", files);
    ASSERT_TRUE(session.ConnectToHost()) << session.FTPCLI.ErrorMessage();
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_EQ(window.caption, "Zarvel - 127.0.0.1:" + std::to_string(peer.Port()));
    EXPECT_EQ(window.subvol, "$DATA.SUB");
    EXPECT_EQ(window.history, std::vector<std::string>{"$DATA.SUB"});
    EXPECT_EQ(window.files, files);
    EXPECT_EQ(window.count, "4 File(s)");
    EXPECT_EQ(window.status, "Connected");
    EXPECT_EQ(window.controls, std::vector<bool>{true});
    EXPECT_TRUE(window.disconnectCommand) << "a session to end";
    EXPECT_TRUE(window.connectCommand) << "Connect offers to end it first";
    EXPECT_TRUE(session.Connected);
    EXPECT_TRUE(window.boxes.empty());
    EXPECT_TRUE(Logged("Connecting to 127.0.0.1..."));
}

// IfAvailable against a server without TLS and nobody to ask (no prompt): the user name never
// goes out, the box says why, and Connect is offered again; Require over TLS shows the lock
// with protocol and cipher.
TEST_F(SessionController, encryptionShowsInTheLockAndNobodyToAskKeepsTheLoginHome)
{
    settings.Encryption = "IfAvailable";
    peer.Send("220 hi\r\n").Reply("AUTH TLS", "500 AUTH not understood\r\n").ExpectClose();
    EXPECT_FALSE(session.ConnectToHost());
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_EQ(peer.Commands(), QList<QByteArray>{"AUTH TLS"});
    EXPECT_EQ(window.lock, "");
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_NE(window.boxes[0].find("nobody could be asked"), std::string::npos) << window.boxes[0];
    EXPECT_TRUE(window.connectCommand);

    settings.InitialSubvol.clear();
    zarvel::test::TrustTestAuthority(true);
    FtpScriptPeer tlsPeer;
    settings.HostPort = tlsPeer.Port();
    settings.Encryption = "Require";
    tlsPeer.Send("220 hi\r\n").Reply("AUTH TLS", "234 go\r\n")
        .StartTls(QString::fromStdString(zarvel::test::TlsCertFile("server")),
                  QString::fromStdString(zarvel::test::TlsKeyFile("server")))
        .Reply("USER u", "230 in\r\n").Reply("PBSZ 0", "200 ok\r\n").Reply("PROT P", "200 ok\r\n")
        .Reply("PWD", "257 \"$DATA.SUB\" is current\r\n").Reply("EPSV", "425 no data today\r\n").AllowUnfinished();
    settings.Passive = true;
    session.ConnectToHost();
    EXPECT_EQ(window.lock.rfind("TLS 1.3, TLS_", 0), 0u) << window.lock;
}

TEST_F(SessionController, emptyInitialSubvolumeSendsOnlyPwdAndListsTheLoginDirectory)
{
    settings.InitialSubvol.clear();
    ScriptLogin();
    peer.Reply("PWD", "257 \"$HOME.DEV\"\r\n");
    ScriptList({Listing(files)});
    ASSERT_TRUE(session.ConnectToHost());
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_EQ(window.subvol, "$HOME.DEV");
    EXPECT_EQ(CommandsStarting("CWD"), 0);
}

TEST_F(SessionController, unknownInitialSubvolumeKeepsTheSessionOpen)
{
    ScriptLogin();
    peer.Reply("CWD $NO.SUCH", "550 no such subvolume\r\n");
    settings.InitialSubvol = "$NO.SUCH";
    ASSERT_TRUE(session.ConnectToHost());
    EXPECT_TRUE(session.Connected);
    EXPECT_TRUE(window.files.empty());
    EXPECT_EQ(window.subvol, "");
    EXPECT_TRUE(Logged("< 550 no such subvolume"));
}

TEST_F(SessionController, proxyConnectionLogsInAsUserAtHost)
{
    settings.HostName = "tandem1";
    settings.ProxyName = "127.0.0.1";
    settings.HostPort = peer.Port(); // the port goes to the proxy
    settings.InitialSubvol.clear();
    ScriptLogin("USER u@tandem1");
    peer.Reply("PWD", "257 \"$A.B\"\r\n");
    ScriptList({Listing({})}, true); // a proxy can pass on only passive data connections
    ASSERT_TRUE(session.ConnectToHost()) << session.FTPCLI.ErrorMessage();
    EXPECT_EQ(session.FTPCLI.ConnectionType(), ftpProxy);
    EXPECT_EQ(window.caption, "Zarvel - tandem1") << "the caption names the host, not the proxy";
}

TEST_F(SessionController, refusedLoginShowsErrorThenDisconnectsWithControlsOff)
{
    peer.Send("220 hi\r\n").Reply("USER u", "331 pw\r\n").Reply("PASS p", "530 Login incorrect.\r\n");
    peer.Reply("QUIT", "221 bye\r\n").ExpectClose();
    EXPECT_FALSE(session.ConnectToHost());
    EXPECT_EQ(window.boxes, std::vector<std::string>{"error: Zarvel Error - 530 Login incorrect."});
    EXPECT_TRUE(Logged("Error - 530 Login incorrect."));
    EXPECT_TRUE(peer.WaitFinished()) << "the client must close the refused session";
    EXPECT_EQ(window.status, "Disconnected") << "QUIT ended the established connection";
    EXPECT_EQ(window.caption, "Zarvel");
    EXPECT_FALSE(session.Connected);
    EXPECT_EQ(std::count(window.controls.begin(), window.controls.end(), true), 0);
    EXPECT_FALSE(window.disconnectCommand);
    EXPECT_TRUE(window.connectCommand);
}

TEST_F(SessionController, refusedTcpConnectionLeavesTheErrorInTheStatusBar)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    settings.HostPort = closed.serverPort();
    closed.close(); // nothing listens there now
    peer.AllowUnfinished();
    EXPECT_FALSE(session.ConnectToHost());
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].rfind("error: Zarvel Error - ", 0), 0u) << window.boxes[0];
    EXPECT_NE(window.boxes[0].find("10061"), std::string::npos) << window.boxes[0];
    EXPECT_EQ(window.status, window.boxes[0].substr(std::string("error: Zarvel ").size()));
    EXPECT_FALSE(session.Connected);
    EXPECT_TRUE(window.controls.empty());
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

TEST_F(SessionController, unknownHostNameShowsTheLookupErrorAndStaysOff)
{
    FailingResolver resolver;
    WSocketSetResolver(&resolver);
    settings.HostName = "tandem.nowhere.test";
    peer.AllowUnfinished();
    const bool ok = session.ConnectToHost();
    WSocketSetResolver(nullptr);
    EXPECT_FALSE(ok);
    const std::string error = "500 " + WSocketErrorDesc(11001) + " (Winsock error #11001)";
    EXPECT_EQ(window.boxes, std::vector<std::string>{"error: Zarvel Error - " + error});
    EXPECT_EQ(window.status, "Error - " + error);
    EXPECT_EQ(window.caption, "Zarvel");
    EXPECT_EQ(peer.Connections(), 0);
}

TEST_F(SessionController, serverDroppingTheConnectionEndsTheSession)
{
    ScriptLogin();
    ScriptSubvol("$DATA.SUB", files);
    peer.Delay(50).Close();
    ASSERT_TRUE(session.ConnectToHost());
    ASSERT_TRUE(peer.WaitFinished());
    QDeadlineTimer deadline(5000);
    QTimer wake; // looks again now and then
    wake.start(50);
    while (session.Connected && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    EXPECT_FALSE(session.Connected);
    EXPECT_EQ(window.caption, "Zarvel");
    EXPECT_EQ(window.status, "Disconnected");
    EXPECT_EQ(window.controls, (std::vector<bool>{true, false}));
    EXPECT_FALSE(window.disconnectCommand) << "nothing left to end";
}

// ---- Data connections and keep-alive ----

// Runs the loop until `done` holds or 20 s pass (a bound against hanging, not a measure).
bool LoopUntil(const std::function<bool()> &done)
{
    QDeadlineTimer deadline(20000);
    QTimer wake; // looks again now and then
    wake.start(50);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

TEST_F(SessionController, passiveSettingMakesEveryDataConnectionByPasv)
{
    settings.Passive = true;
    ScriptLogin();
    peer.Reply("CWD $DATA.SUB", "250 ok\r\n").Reply("PWD", "257 \"$DATA.SUB\" is current\r\n");
    ScriptList({Listing(files)}, true);
    ScriptList({Listing(files)}, true);
    ASSERT_TRUE(session.ConnectToHost());
    ASSERT_TRUE(session.ListTandemFiles());
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_EQ(CommandsStarting("PORT"), 0);
    EXPECT_EQ(window.files.size(), files.size());
}

TEST_F(SessionController, idleSessionSendsNoopAtTheIntervalButNeverDuringARequestOrABatch)
{
    general.KeepAlive = 1;
    ScriptLogin();
    ScriptSubvol("$DATA.SUB", files);
    peer.Reply("NOOP", "200 ok\r\n").Reply("NOOP", "200 ok\r\n");
    ASSERT_TRUE(session.ConnectToHost());
    ASSERT_TRUE(LoopUntil([&] { return peer.Finished(); })) << "two NOOPs while idle";
    EXPECT_TRUE(session.Connected);

    // From here the ticks are driven by hand; the script fails on any NOOP it does not expect.
    general.KeepAlive = 0;
    session.RestartKeepAlive();
    EXPECT_FALSE(session.KeepAliveTimer.isActive());
    session.BatchRunning = true;
    EXPECT_FALSE(session.KeepAliveTick());
    session.BatchRunning = false;

    ScriptList({Listing(files)});
    std::vector<bool> ticks;
    session.FTPCLI.OnProgress = [&](TCustomFtpCli *, qint64, bool &) { ticks.push_back(session.KeepAliveTick()); };
    ASSERT_TRUE(session.ListTandemFiles());
    ASSERT_FALSE(ticks.empty());
    EXPECT_EQ(std::count(ticks.begin(), ticks.end(), true), 0) << "a NOOP went out inside a request";
    session.FTPCLI.OnProgress = nullptr;

    peer.Reply("NOOP", "200 ok\r\n");
    EXPECT_TRUE(session.KeepAliveTick());
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_EQ(CommandsStarting("NOOP"), 3);
}

TEST_F(SessionController, unansweredNoopEndsTheSessionAsDisconnected)
{
    general.KeepAlive = 1;
    session.FTPCLI.SetTimeout(2);
    ScriptLogin();
    ScriptSubvol("$DATA.SUB", files);
    peer.Expect("NOOP"); // and no answer: the server hangs
    peer.AllowUnfinished();
    ASSERT_TRUE(session.ConnectToHost());
    ASSERT_TRUE(LoopUntil([&] { return !session.Connected; }));
    EXPECT_TRUE(peer.Finished());
    EXPECT_EQ(window.status, "Disconnected");
    EXPECT_EQ(window.controls, (std::vector<bool>{true, false}));
}

TEST_F(SessionController, refusedNoopEndsTheSessionAsDisconnected)
{
    general.KeepAlive = 1;
    ScriptLogin();
    ScriptSubvol("$DATA.SUB", files);
    peer.Reply("NOOP", "500 unknown command\r\n");
    ASSERT_TRUE(session.ConnectToHost());
    ASSERT_TRUE(LoopUntil([&] { return !session.Connected; }));
    EXPECT_EQ(window.status, "Disconnected");
}

TEST_F(SessionController, nothingReachesAClosingWindow)
{
    ScriptLogin();
    ScriptSubvol("$DATA.SUB", files);
    ASSERT_TRUE(session.ConnectToHost());
    window.closing = true;
    const std::size_t logged = window.log.size();
    session.FTPCLISessionClosed(&session.FTPCLI, 0);
    std::string text = "< 221 bye";
    session.FTPMessage(&session.FTPCLI, text);
    EXPECT_EQ(window.caption, "Zarvel - 127.0.0.1:" + std::to_string(peer.Port()));
    EXPECT_EQ(window.log.size(), logged);
    peer.AllowUnfinished();
}

// ---- Log levels ----

struct LevelRow {
    int logLevel;
    bool connectedLine;   // "Connected" (level 1) in the log window
    bool dialogue;        // "> USER u" (level 2)
    bool stateLine;       // "State -> Ready" (level 3)
};

class SessionLogLevels : public SessionController, public testing::WithParamInterface<LevelRow> {};

TEST_P(SessionLogLevels, levelDecidesWhatReachesTheLogWindowButStatusBarAlwaysGetsLevelOne)
{
    const LevelRow row = GetParam();
    general.LogLevel = row.logLevel;
    ScriptLogin();
    ScriptSubvol("$DATA.SUB", files);
    ASSERT_TRUE(session.ConnectToHost());
    session.Log(0, "PROGC download failed");
    EXPECT_EQ(window.status, "Connected");
    EXPECT_EQ(Logged("Connected"), row.connectedLine);
    EXPECT_EQ(Logged("> USER u"), row.dialogue);
    EXPECT_EQ(Logged("State -> Ready"), row.stateLine);
    EXPECT_EQ(Logged("PROGC download failed"), row.logLevel >= 0);
}

INSTANTIATE_TEST_SUITE_P(Levels, SessionLogLevels,
                         testing::Values(LevelRow{-1, false, false, false}, LevelRow{0, false, false, false},
                                         LevelRow{1, true, false, false}, LevelRow{2, true, true, false},
                                         LevelRow{3, true, true, true}, LevelRow{5, true, true, true}));

TEST(SessionStateText, everyStateHasItsLogText)
{
    const std::vector<std::pair<TFtpState, const char *>> table = {
        {ftpNotConnected, "State -> Not Connected"}, {ftpReady, "State -> Ready"},
        {ftpInternalReady, "State -> Internal Ready"}, {ftpDnsLookup, "State -> DnsLookup"},
        {ftpConnected, "State -> Connected"}, {ftpAbort, "State -> Abort"},
        {ftpInternalAbort, "State -> Internal Abort"}, {ftpWaitingBanner, "State -> Waiting Banner"},
        {ftpWaitingResponse, "State -> Waiting Response"},
        // 15 is inside the enumeration's range but names no state.
        {TFtpState(15), "State -> Unknown"},
    };
    for (const auto &[state, text] : table)
        EXPECT_EQ(StateChangeText(state), text) << int(state);
}

// ---- Listing ----

TEST_F(SessionController, crLfSplitBetweenReadsAddsNoBlankLineAndKeepsTheHeadingOut)
{
    ScriptLogin();
    // The heading's CR ends one read and its LF begins the next: the engine then hands over
    // an empty line, which is no file.
    const QByteArray listing = Listing(files);
    const qsizetype cut = listing.indexOf('\n');
    peer.Reply("CWD $DATA.SUB", "250 ok\r\n").Reply("PWD", "257 \"$DATA.SUB\"\r\n");
    ScriptList({listing.left(cut), listing.mid(cut)});
    ASSERT_TRUE(session.ConnectToHost());
    EXPECT_EQ(window.files, files);
    EXPECT_EQ(session.ShownFiles, 4);
}

// A subvolume without files: the heading alone is no error, and zero files are counted.
TEST_F(SessionController, headingOnlyListingShowsNoFilesAndCountsZero)
{
    ScriptLogin();
    ScriptSubvol("$DATA.SUB", {});
    window.count = "7 File(s)";
    ASSERT_TRUE(session.ConnectToHost());
    EXPECT_TRUE(window.files.empty());
    EXPECT_EQ(window.count, "0 File(s)");
    EXPECT_EQ(window.status, "No files in $DATA.SUB");
}

TEST_F(SessionController, filterShowsOnlyItsCodesAndARefusedDefinitionChangesNothing)
{
    ScriptLogin();
    ScriptSubvol("$DATA.SUB", files);
    ASSERT_TRUE(session.ConnectToHost());
    // The box lists "All files", "Edit files ...", "Object Files ..." sorted; choose "Object".
    ASSERT_EQ(window.filterItems.size(), 3u);
    window.selectedFilter = window.filterItems[2].Index;
    EXPECT_EQ(window.filterItems[2].Label, "Object Files (Filecodes 100/700)");
    ScriptList({Listing(files)});
    EXPECT_TRUE(session.ListTandemFiles());
    EXPECT_EQ(window.files, (std::vector<std::string>{files[1], files[2]}));
    EXPECT_EQ(window.count, "2 File(s)");

    EXPECT_FALSE(session.SetTandemFilter("All||Edit|101"));
    EXPECT_EQ(window.filterItems.size(), 3u);
    EXPECT_EQ(session.TandemFilters.Definition(), kDefaultFilterTandem);
}

// ---- Changing subvolume ----

TEST_F(SessionController, sameSubvolumeIsNotEnteredAgainButOtherLetterCaseIs)
{
    ScriptLogin();
    ScriptSubvol("$DATA.SUB", files);
    ASSERT_TRUE(session.ConnectToHost());
    const int commands = int(peer.Commands().size());
    EXPECT_TRUE(session.ChangeSubvol("$DATA.SUB", false));
    EXPECT_EQ(peer.Commands().size(), commands);

    // The server answers in its own case; the history keeps one entry.
    peer.Reply("CWD $data.sub", "250 ok\r\n").Reply("PWD", "257 \"$DATA.SUB\"\r\n");
    ScriptList({Listing(files)});
    EXPECT_TRUE(session.ChangeSubvol("$data.sub", false));
    EXPECT_EQ(window.history, std::vector<std::string>{"$DATA.SUB"});
}

TEST_F(SessionController, failedCwdLeavesBoxAndListAsTheyWere)
{
    ScriptLogin();
    ScriptSubvol("$DATA.SUB", files);
    ASSERT_TRUE(session.ConnectToHost());
    peer.Reply("CWD $NO.SUCH", "550 Subvolume not found\r\n");
    EXPECT_FALSE(session.ChangeSubvol("$NO.SUCH", false));
    EXPECT_EQ(window.subvol, "$DATA.SUB");
    EXPECT_EQ(window.files, files);
    EXPECT_TRUE(Logged("< 550 Subvolume not found"));
}

TEST_F(SessionController, subvolumeBoxChangesOnChoiceOnEnterAndOnExitOnly)
{
    ScriptLogin();
    ScriptSubvol("$DATA.SUB", files);
    ASSERT_TRUE(session.ConnectToHost());
    const std::vector<std::string> other = {Line("OTHERC", 101, 10)};

    // Typing alone changes nothing; Enter does, and is consumed.
    window.subvol = "$DATA.OTHER";
    EXPECT_FALSE(session.ComboBoxTanSubvolKeyPress('R'));
    session.ComboBoxTanSubvolChange();
    EXPECT_TRUE(session.SubvolEdited);
    ScriptSubvol("$DATA.OTHER", other);
    EXPECT_TRUE(session.ComboBoxTanSubvolKeyPress('\r'));
    EXPECT_EQ(window.files, other);
    EXPECT_FALSE(session.SubvolEdited);
    // Enter without an edit is left to the box.
    EXPECT_FALSE(session.ComboBoxTanSubvolKeyPress('\r'));

    // Choosing from the opened history changes at once.
    window.subvol = "$DATA.SUB";
    session.ComboBoxTanSubvolDropDown();
    ScriptSubvol("$DATA.SUB", files);
    session.ComboBoxTanSubvolChange();
    EXPECT_EQ(window.files, files);
    EXPECT_FALSE(session.SubvolDroppedDown);

    // Focus leaving after an edit changes; leaving again does nothing.
    window.subvol = "$DATA.OTHER";
    session.ComboBoxTanSubvolChange();
    ScriptSubvol("$DATA.OTHER", other);
    session.ComboBoxTanSubvolExit();
    EXPECT_EQ(window.files, other);
    const int commands = int(peer.Commands().size());
    session.ComboBoxTanSubvolExit();
    EXPECT_EQ(peer.Commands().size(), commands);
    EXPECT_EQ(window.history, (std::vector<std::string>{"$DATA.SUB", "$DATA.OTHER"}));
}

TEST_F(SessionController, clearedSubvolumeAndEnterSendsOnlyPwdAndListsAgain)
{
    ScriptLogin();
    ScriptSubvol("$DATA.SUB", files);
    ASSERT_TRUE(session.ConnectToHost());
    window.subvol.clear();
    session.ComboBoxTanSubvolChange();
    peer.Reply("PWD", "257 \"$DATA.SUB\"\r\n");
    ScriptList({Listing(files)});
    EXPECT_TRUE(session.ComboBoxTanSubvolKeyPress('\r'));
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_EQ(CommandsStarting("CWD"), 1) << "only the initial CWD";
    EXPECT_EQ(window.subvol, "$DATA.SUB");
}

} // namespace
