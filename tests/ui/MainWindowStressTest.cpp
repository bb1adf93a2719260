// The main window under stress: a server that goes at the wrong moment, clicks while a request
// waits, a second connection attempt, long listing lines, a disk that fills up. The window
// must stay truthful: its controls, captions, status bar and files say what really happened.
// The scripted peer plays the server where the moment matters.
#include "ui/ScriptedWindowFixture.h"
#include "ui/ConnectDialog.h"
#include "ui/LocalPCGroup.h"
#include "ui/TandemGroup.h"
#include "ui/TransferGroup.h"

#include <QAction>
#include <QFile>
#include <QListWidget>
#include <QPushButton>

#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <cstdio>
#include <sys/resource.h>

namespace {

std::string Line(const char *name, int code, long long size) { return ScriptedLine(name, code, size); }

const QByteArray &kHeading = kScriptedHeading;

class MainWindowStress : public ScriptedWindowFixture {
protected:
    bool SessionControlsOn() const
    {
        return form->GroupBoxMode->isEnabled() && form->GroupBoxTandem->ListBoxTanFiles->isEnabled()
            && form->GroupBoxTandem->BtnRefreshTandem->isEnabled();
    }
    bool SessionControlsOff() const
    {
        return !form->GroupBoxMode->isEnabled() && !form->GroupBoxTandem->ListBoxTanFiles->isEnabled()
            && !form->GroupBoxTandem->BtnRefreshTandem->isEnabled() && !form->GroupBoxMode->BtnDownload->isEnabled();
    }
};

// A server that goes during the first subvolume change leaves the window as any lost
// session does: off, "Zarvel", "Disconnected", and File > Connect usable again.
TEST_F(MainWindowStress, sessionLostDuringTheFirstSubvolumeChangeLeavesTheWindowDisconnected)
{
    UsePeer();
    ScriptLogin();
    peer.Expect("CWD $DATA.SUB").Close();
    EXPECT_FALSE(form->Session().ConnectToHost());
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_FALSE(form->Session().Connected);
    EXPECT_TRUE(SessionControlsOff());
    EXPECT_EQ(form->windowTitle(), "Zarvel");
    EXPECT_EQ(StatusText(), "Disconnected");
    EXPECT_TRUE(form->ConnectItem->isEnabled());
    EXPECT_FALSE(form->DisconnectItem->isEnabled());
}

// While a connection is being made File > Connect is off, a second attempt is refused, and
// nothing the connect dialog holds meanwhile reaches the running one.
TEST_F(MainWindowStress, secondConnectWhileConnectingIsRefusedAndChangesNothingOfTheFirst)
{
    UsePeer();
    bool connectOffMeanwhile = false;
    bool secondStarted = true;
    peer.Delay(200).Then([&](FtpScriptPeer &, std::function<void()> next) {
        connectOffMeanwhile = !form->ConnectItem->isEnabled();
        ConnectionSettings &held = form->Forms().FormConnect->Settings;
        held.HostName = "localhost";
        held.UserID = "second";
        secondStarted = form->Session().ConnectToHost();
        next();
    });
    ScriptLogin();
    ScriptSubvol(kHeading + QByteArray::fromStdString(Line("PROGC", 101, 10)) + "\r\n");
    EXPECT_TRUE(form->Session().ConnectToHost()) << form->Session().FTPCLI.ErrorMessage();
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_TRUE(connectOffMeanwhile);
    EXPECT_FALSE(secondStarted);
    EXPECT_EQ(peer.Connections(), 1);
    EXPECT_FALSE(peer.Commands().contains("USER second"));
    EXPECT_EQ(form->windowTitle(), "Zarvel - 127.0.0.1:" + QString::number(peer.Port()));
    EXPECT_EQ(StatusText(), "Connected");
    EXPECT_TRUE(SessionControlsOn());
    EXPECT_TRUE(form->ConnectItem->isEnabled()) << "on again once the connection is made";
    EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join("; ").toStdString();
}

// Rule for every control that starts a request: while another request waits, the click is
// refused with the client's words and counted as failed; nothing is sent, no marker touched.
TEST_F(MainWindowStress, clicksWhileASubvolumeChangeWaitsAreRefusedAndCountedAsFailed)
{
    UsePeer();
    ScriptLogin();
    ScriptSubvol(kHeading + QByteArray::fromStdString(Line("PROGC", 101, 10)) + "\r\n");
    ASSERT_TRUE(form->Session().ConnectToHost());
    ASSERT_TRUE(peer.WaitFinished());
    PutPcFile("up.c", "x\n");
    SelectRemote({"PROGC"});
    SelectPc({"up.c"});

    QStringList statuses;
    QString renameBox;
    peer.Expect("CWD $OTHER.SUB").Then([&](FtpScriptPeer &, std::function<void()> next) {
        Click(form->GroupBoxMode->BtnDownload);
        statuses << StatusText();
        Click(form->GroupBoxMode->BtnUpload);
        statuses << StatusText();
        messages.answers.push_back(QString("yes"));
        Click(form->GroupBoxTandem->BtnDeleteTandem);
        statuses << StatusText();
        Click(form->GroupBoxTandem->BtnRefreshTandem);
        statuses << StatusText();
        messages.shown.clear();
        messages.answers.push_back(QString("NEWC"));
        Click(form->GroupBoxTandem->BtnRenameTandem);
        renameBox = messages.shown.join("; ");
        next();
    }).Send("550 no such subvolume\r\n");
    form->Session().ChangeSubvol("$OTHER.SUB", false);
    ASSERT_TRUE(peer.WaitFinished());
    EXPECT_EQ(statuses, (QStringList{"0 file(s) downloaded successfully. Failed to download 1 file(s)",
                                     "0 file(s) uploaded successfully. Failed to upload 1 file(s)",
                                     "0 file(s) deleted successfully. Failed to delete 1 file(s)",
                                     "FTP component not ready"}));
    EXPECT_TRUE(renameBox.endsWith("error: Zarvel Error - FTP component not ready")) << renameBox.toStdString();
    EXPECT_FALSE(QFile::exists(PcPath(".zarvel.xfer.down")));
    EXPECT_FALSE(QFile::exists(PcPath(".zarvel.xfer.up")));
    EXPECT_EQ(RemoteNames(), QStringList{"PROGC"}) << "the list shown stays whole";
    EXPECT_TRUE(form->Session().Connected);
}

// Lines longer than a receive chunk arrive whole, so a file is always named by its own name;
// a line past the limit is left out and named in the log by its length.
TEST_F(MainWindowStress, longListingLinesAreShownWholeAndActedOnByTheirOwnName)
{
    UsePeer("int LogLevel=0\n");
    const std::string wide = Line("WIDE", 101, 10) + std::string(3000, ' ') + "end";
    const std::string over(70000, 'O');
    ScriptLogin();
    peer.Reply("CWD $DATA.SUB", "250 ok\r\n").Reply("PWD", "257 \"$DATA.SUB\"\r\n");
    ScriptList(kHeading + QByteArray::fromStdString(wide + "\r\n" + over + "\r\n" + Line("NEXT", 0, 1) + "\r\n"),
               1000);
    ASSERT_TRUE(form->Session().ConnectToHost());
    ASSERT_TRUE(peer.WaitFinished());
    EXPECT_EQ(RemoteNames(), (QStringList{"WIDE", "NEXT"}));
    EXPECT_EQ(RemoteLines().value(0).size(), qsizetype(wide.size()));
    EXPECT_TRUE(LogText().contains("Listing line of 70000 bytes skipped: longer than 65536 bytes"))
        << LogText().toStdString();

    peer.Reply("DELE WIDE", "250 deleted\r\n");
    ScriptList(kHeading);
    SelectRemote({"WIDE"});
    messages.answers = {QString("yes")};
    Click(form->GroupBoxTandem->BtnDeleteTandem);
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_EQ(StatusText(), "1 file(s) deleted");
}

// Names keep their bytes from the listing line to the file system: a name that is not UTF-8
// is asked for, written and renamed into place as those bytes, and no temporary file stays.
TEST_F(MainWindowStress, nameThatIsNotUtf8DownloadsUnderItsOwnBytes)
{
    UsePeer("int LogLevel=0\n");
    const std::string name = "CAF\xc9";
    ScriptLogin();
    ScriptSubvol(kHeading + QByteArray::fromStdString(Line(name.c_str(), 0, 4)) + "\r\n");
    ASSERT_TRUE(form->Session().ConnectToHost());
    ASSERT_TRUE(peer.WaitFinished());
    peer.Reply("TYPE I", "200 ok\r\n");
    data.ExpectPort();
    peer.Reply(QByteArray::fromStdString("RETR " + name), "150 go\r\n");
    data.Open().Send("data").Close();
    peer.Delay(30).Send("226 ok\r\n");
    form->GroupBoxTandem->ListBoxTanFiles->selectAll();
    Click(form->GroupBoxMode->BtnDownload);
    ASSERT_TRUE(peer.WaitFinished());
    EXPECT_EQ(StatusText(), "1 file(s) downloaded") << LogText().toStdString();

    const std::string saved = pcDir.path().toStdString() + "/" + name + ",0"; // the binary file code added
    QFile file;
    const int fd = ::open(saved.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0) << "not saved under its own bytes";
    ASSERT_TRUE(file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
    EXPECT_EQ(file.readAll(), "data");
    ::unlink(saved.c_str()); // Qt could not remove it with the folder
    std::vector<std::string> hidden;
    DIR *folder = ::opendir(pcDir.path().toStdString().c_str());
    while (const dirent *entry = ::readdir(folder))
        if (entry->d_name[0] == '.' && std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
            hidden.push_back(entry->d_name);
    ::closedir(folder);
    EXPECT_TRUE(hidden.empty()) << (hidden.empty() ? "" : hidden.front());
}

// Qt cannot name a PC file whose name is not UTF-8, so the PC list leaves it out; the log says so.
TEST_F(MainWindowStress, pcFileWhoseNameIsNotUtf8IsNamedInTheLogAsNotListed)
{
    const std::string odd = pcDir.path().toStdString() + "/CAF\xc9";
    const int fd = ::open(odd.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    PutPcFile("PLAIN", "p");
    Click(form->GroupBoxPC->BtnRefreshPC);
    ::unlink(odd.c_str()); // Qt could not remove it with the folder

    QListWidget *list = form->GroupBoxPC->FileListBoxPC;
    EXPECT_EQ(list->findItems("PLAIN", Qt::MatchExactly).size(), 1);
    EXPECT_TRUE(list->findItems("CAF", Qt::MatchStartsWith).isEmpty()) << "no lossy name to act on";
    EXPECT_TRUE(LogText().contains(QString::fromLatin1("PC file CAF\xc9 not listed: its name is not UTF-8")))
        << LogText().toStdString();
}

// A download whose local writes fail tells the local cause, not the server's 426 that our
// closing of the data connection provoked.
TEST_F(MainWindowStress, fullDiskIsReportedAsTheLocalWriteErrorNotTheServersAbort)
{
    DestroyWindow();
    CreateWindow("int LogLevel=0\nint TouchDown=1\n");
    PutRemoteFile(kHome, "BIGO", 0, QByteArray(16 << 20, 'b'));
    ASSERT_TRUE(Connect());

    // A file size limit stands in for a full disk: writes past it fail with EFBIG.
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto *const oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    SelectRemote({"BIGO"});
    Click(form->GroupBoxMode->BtnDownload);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(StatusText(), "0 file(s) downloaded successfully. Failed to download 1 file(s) - the failed files are listed in File > Log Window");
    EXPECT_TRUE(LogText().contains("Error writing local file")) << LogText().toStdString() << "|" << messages.shown.join(";").toStdString();
    EXPECT_FALSE(LogText().contains("426")) << LogText().toStdString();
    EXPECT_FALSE(QFile::exists(PcPath(".zarvel.xfer.down")));
}

} // namespace
