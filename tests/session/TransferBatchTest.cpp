// Download and upload batches against the NonStop-style server, seen through a recording
// main window and progress dialog: mode switches, names, counts and summary texts, the
// marker and the sounds, and what a refused file, a cancel or a dropped session leave behind.
#include "ftp/FtpClient.h"
#include "session/DownloadTarget.h"
#include "session/FileExtents.h"
#include "session/TransferBatch.h"
#include "session/TransferProgress.h"
#include "support/FtpScriptData.h"
#include "support/FtpScriptPeer.h"
#include "support/FtpServers.h"
#include "support/TlsCerts.h"
#include "session/TransferBatchFixture.h"

#include <gtest/gtest.h>
#include <algorithm>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QCryptographicHash>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace zarvel::test;

namespace {

TEST_F(TransferBatchTest, mixedDownloadSwitchesTypeOnlyOnChangeAndNamesEachFile)
{
    const QByteArray edit = "int main() { return 0; }\n";
    const QByteArray object = Pattern(70000);
    Seed("PROGC", 101, edit);
    Seed("MYOBJ", 100, object);
    Seed("LIBO", 700, Pattern(3000));
    Seed("NOTES", 101, "one\ntwo\n");
    types.clear();
    window.options.DLExtensionSize = 1;
    window.settings.LogLevel = 0;

    const BatchResult result = batch.Download({Line("PROGC", 101, edit.size()), Line("MYOBJ", 100, object.size()),
                                               Line("LIBO", 700, 3000), Line("NOTES", 101, 8)});

    EXPECT_EQ(result.Ok, 4);
    EXPECT_EQ(types, (std::vector<std::string>{"TYPE A", "TYPE I", "TYPE A"}));
    EXPECT_EQ(Pc("PROG.C").replace("\r\n", "\n"), edit);
    EXPECT_EQ(Pc("MYOB.J,100"), object);
    EXPECT_EQ(Pc("LIB.O,700").size(), 3000);
    EXPECT_EQ(Pc("NOTE.S").replace("\r\n", "\n"), "one\ntwo\n");
    ASSERT_GE(dialog.files.size(), 2u);
    EXPECT_EQ(dialog.files[0], (std::pair<std::string, qint64>{"", 999999}));
    EXPECT_EQ(dialog.files[1].first, "Downloading ascii file PROGC (" + std::to_string(edit.size()) + " bytes)");
    EXPECT_EQ(dialog.files[2], (std::pair<std::string, qint64>{"Downloading binary file MYOBJ (70000 bytes)", 70000}));
    // The batch line counts files and the listed bytes of the whole batch.
    const std::string total = " of " + std::to_string(edit.size() + 70000 + 3000 + 8) + " bytes";
    ASSERT_FALSE(dialog.batch.empty());
    EXPECT_EQ(dialog.batch.front(), "File 1 of 4, 0" + total);
    EXPECT_EQ(dialog.batch.back().rfind("File 4 of 4, " + std::to_string(edit.size() + 70000 + 3000 + 8) + total, 0), 0u)
        << dialog.batch.back();
    EXPECT_NE(std::find(dialog.batch.begin(), dialog.batch.end(),
                        "File 3 of 4, " + std::to_string(edit.size() + 70000) + total), dialog.batch.end());
    EXPECT_FALSE(dialog.shown);
    EXPECT_EQ(window.enabled, (std::vector<bool>{false, true}));
    EXPECT_EQ(window.Summary(), "4 file(s) downloaded");
    EXPECT_EQ(window.pcRefreshes, 1);
    EXPECT_TRUE(MarkerExists(".down"));
    EXPECT_FALSE(MarkerExists(".up"));
    EXPECT_TRUE(window.sounds.empty()) << "no confirmation sound unless configured";
    EXPECT_EQ(window.clears, 1) << "LogLevel 0 clears the log window";
    EXPECT_FALSE(PcEntries().join(' ').contains(".zarvel-")) << PcEntries().join(' ').toStdString();
}

TEST_F(TransferBatchTest, sameFileTwiceInOneBatchArrivesTwiceThoughTheFirstWaitsForItsCommit)
{
    Seed("MYOBJ", 100, Pattern(5000));

    const BatchResult result = batch.Download({Line("MYOBJ", 100, 5000), Line("MYOBJ", 100, 5000)});

    EXPECT_EQ(result.Ok, 2) << window.AtLevel(0).size();
    EXPECT_EQ(result.Failed, 0);
    EXPECT_EQ(Pc("MYOBJ,100"), Pattern(5000));
    EXPECT_FALSE(PcEntries().join(' ').contains(".zarvel-")) << PcEntries().join(' ').toStdString();
}

TEST_F(TransferBatchTest, refusedFileMidBatchKeepsExistingPcFileAndTheOthersArrive)
{
    Seed("FIRST", 0, Pattern(5000));
    Seed("THIRD", 0, Pattern(6000));
    QFile precious(pc.filePath("GONE,0"));
    ASSERT_TRUE(precious.open(QIODevice::WriteOnly));
    precious.write("the user's own file");
    precious.close();
    window.settings.SoundConfirmations = true;

    const BatchResult result = batch.Download({Line("FIRST", 0, 5000), Line("GONE", 0, 100), Line("THIRD", 0, 6000)});

    EXPECT_EQ(result.Ok, 2);
    EXPECT_EQ(result.Failed, 1);
    EXPECT_FALSE(result.Stopped);
    EXPECT_EQ(Pc("GONE,0"), "the user's own file");
    EXPECT_EQ(Pc("FIRST,0"), Pattern(5000));
    EXPECT_EQ(Pc("THIRD,0"), Pattern(6000));
    ASSERT_EQ(window.AtLevel(0).size(), 1u);
    // Each failure is named: the host file, then the server's reply.
    EXPECT_EQ(window.AtLevel(0)[0].rfind("GONE: 550", 0), 0u) << window.AtLevel(0)[0];
    ASSERT_EQ(window.reports.size(), 1u);
    EXPECT_EQ(window.reports[0].Lines, window.AtLevel(0));
    EXPECT_EQ(window.reports[0].Title, "Failed downloads");
    EXPECT_EQ(window.Summary(), "2 file(s) downloaded successfully. Failed to download 1 file(s)");
    EXPECT_EQ(window.sounds, std::vector<BatchSound>{BatchSound::Warning});
    EXPECT_FALSE(MarkerExists(".down")) << "the marker means a complete batch";
    EXPECT_EQ(PcEntries(), (QStringList{"FIRST,0", "GONE,0", "THIRD,0"}));
}

TEST_F(TransferBatchTest, cancelledDownloadKeepsPcFileAndItsPartWhichTheNextDownloadResumes)
{
    Seed("BIG", 0, Pattern(8 << 20));
    Seed("NEXT", 0, "never fetched");
    QFile precious(pc.filePath("BIG,0"));
    ASSERT_TRUE(precious.open(QIODevice::WriteOnly));
    precious.write("yesterday's build");
    precious.close();
    // The dialog's Cancel aborts the client (TFormTransfer's close calls AbortTransfer).
    dialog.onProgress = [this](qint64 count) {
        if (count > (1 << 20))
            cli.Abort();
    };

    const BatchResult result = batch.Download({Line("BIG", 0, 8 << 20), Line("NEXT", 0, 13)});

    EXPECT_TRUE(result.Stopped);
    EXPECT_EQ(result.Failed, 1);
    EXPECT_EQ(window.AtLevel(0), std::vector<std::string>{"BIG download aborted: Host Disconnected"});
    EXPECT_EQ(window.Summary(), "0 file(s) downloaded successfully. Failed to download 1 file(s)");
    EXPECT_EQ(Pc("BIG,0"), "yesterday's build");
    EXPECT_EQ(PcEntries(), (QStringList{".BIG,0.zarvel-origin", ".BIG,0.zarvel-part", "BIG,0"})) << "the part is kept, NEXT not tried";
    EXPECT_EQ(window.pcRefreshes, 1) << "a stopped batch re-reads the PC list";
    const QByteArray part = Pc(".BIG,0.zarvel-part");
    ASSERT_GT(part.size(), 1 << 20);
    EXPECT_EQ(part, Pattern(8 << 20).left(part.size()));

    dialog.onProgress = nullptr;
    ASSERT_TRUE(cli.Connect()) << cli.ErrorMessage();
    window.connected = true;
    const BatchResult again = batch.Download({Line("BIG", 0, 8 << 20)});
    EXPECT_EQ(again.Ok, 1);
    EXPECT_EQ(rests, std::vector<std::string>{"REST " + std::to_string(part.size())});
    const std::vector<std::string> notes = window.AtLevel(1);
    EXPECT_NE(std::find(notes.begin(), notes.end(), "resuming BIG at " + std::to_string(part.size()) + " bytes"),
              notes.end());
    EXPECT_TRUE(Pc("BIG,0") == Pattern(8 << 20));
    EXPECT_EQ(PcEntries(), (QStringList{".zarvel.xfer.down", "BIG,0"}));
}

// A part left by another host's file of the same name (or by this file before it changed)
// is not continued: mixed with this file's bytes it would be reported as downloaded.
TEST_F(TransferBatchTest, partOfAnotherOriginIsNotResumedButFetchedWholeAndLogged)
{
    Seed("PROG", 0, Pattern(6000));
    {
        TDownloadTarget other("PROG,0");
        std::string error;
        ASSERT_TRUE(other.Open(error)) << error;
        ASSERT_EQ(::write(other.Handle(), "another host's PROG", 19), 19);
        other.KeepPartial({"tandem2", "21", "$DATA01.ZDEMO", "PROG", 6000, "08-Dec-26 01:00:00"});
    }

    const BatchResult result = batch.Download({Line("PROG", 0, 6000)});

    EXPECT_EQ(result.Ok, 1);
    EXPECT_TRUE(rests.empty()) << rests.front();
    EXPECT_TRUE(Pc("PROG,0") == Pattern(6000));
    const std::vector<std::string> notes = window.AtLevel(1);
    EXPECT_NE(std::find(notes.begin(), notes.end(),
                        "not resuming PROG: the part in this folder came from another file; starting over"),
              notes.end());
    EXPECT_EQ(PcEntries(), (QStringList{".zarvel.xfer.down", "PROG,0"})) << "part and origin gone";
}

// A part that cannot belong to this download is thrown away and the file fetched whole.
TEST_F(TransferBatchTest, asciiDownloadOrAPartLongerThanTheListingStartsOver)
{
    Seed("NOTES", 101, "one\ntwo\n");
    Seed("SMALL", 0, Pattern(5000));
    QFile ascii(pc.filePath(".NOTES.zarvel-part"));
    ASSERT_TRUE(ascii.open(QIODevice::WriteOnly));
    ascii.write("one\n");
    ascii.close();
    QFile longer(pc.filePath(".SMALL,0.zarvel-part"));
    ASSERT_TRUE(longer.open(QIODevice::WriteOnly));
    longer.write(Pattern(9000));
    longer.close();

    const BatchResult result = batch.Download({Line("NOTES", 101, 8), Line("SMALL", 0, 5000)});

    EXPECT_EQ(result.Ok, 2);
    EXPECT_TRUE(rests.empty()) << rests.front();
    EXPECT_EQ(Pc("NOTES").replace("\r\n", "\n"), "one\ntwo\n");
    EXPECT_EQ(Pc("SMALL,0"), Pattern(5000));
    EXPECT_EQ(PcEntries(), (QStringList{".zarvel.xfer.down", "NOTES", "SMALL,0"}));
}

// The listing gives the size a binary file must at least arrive with; a server that ends early
// with a success reply does not get a short file committed. A file that grew on the host after
// the listing was read arrives whole and is saved.
TEST_F(TransferBatchTest, binaryFileShorterThanItsListingFailsAndKeepsItsPartOneThatGrewIsSaved)
{
    Seed("CUT", 0, Pattern(3000));
    Seed("GREW", 0, Pattern(6000));
    const BatchResult result = batch.Download({Line("CUT", 0, 4000), Line("GREW", 0, 5000)});
    EXPECT_EQ(result.Failed, 1);
    EXPECT_EQ(result.Ok, 1);
    EXPECT_EQ(window.AtLevel(0), std::vector<std::string>{"CUT not downloaded: 3000 bytes arrived, the listing says 4000"});
    EXPECT_EQ(Pc("GREW,0"), Pattern(6000));
    EXPECT_EQ(PcEntries(), (QStringList{".CUT,0.zarvel-origin", ".CUT,0.zarvel-part", "GREW,0"}));
}

TEST_F(TransferBatchTest, serverGoneDuringSecondOfFiveFilesStopsWithOneDoneOneFailed)
{
    // F2 is far larger than the socket buffers (loopback receive buffers grow to 32 MiB
    // here), so the server is still sending when it goes.
    std::vector<std::string> lines;
    for (const char *name : {"F1", "F2", "F3", "F4", "F5"}) {
        const qint64 size = std::string(name) == "F2" ? (qint64(128) << 20) : (64 << 10);
        Seed(name, 0, Pattern(size));
        lines.push_back(Line(name, 0, size));
    }
    dialog.onProgress = [this](qint64 count) {
        if (dialog.files.back().first.find(" F2 ") != std::string::npos && count > (1 << 20) && server->Pid() > 0)
            server->Stop();
    };

    const BatchResult result = batch.Download(lines);

    EXPECT_EQ(result.Ok, 1);
    EXPECT_EQ(result.Failed, 1);
    EXPECT_EQ(window.AtLevel(0), std::vector<std::string>{"F2 download aborted: Host Disconnected"});
    EXPECT_EQ(window.Summary(), "1 file(s) downloaded successfully. Failed to download 1 file(s)");
    EXPECT_EQ(PcEntries(), (QStringList{".F2,0.zarvel-origin", ".F2,0.zarvel-part", "F1,0"})) << "F2's part is kept for a resume";
}

TEST_F(TransferBatchTest, hostileListingNameIsRefusedAndNothingIsWrittenOutsideTheFolder)
{
    Seed("SAFE", 0, "ok");
    const std::string hostile = "../ESCAPE";
    const BatchResult result = batch.Download({Line(hostile, 0, 10), Line("SAFE", 0, 2)});

    EXPECT_EQ(result.Ok, 1);
    EXPECT_EQ(result.Failed, 1);
    ASSERT_EQ(window.AtLevel(0).size(), 1u);
    EXPECT_EQ(window.AtLevel(0)[0], "../ESCAPE not downloaded: \"../ESCAPE,0\" is not a plain PC file name");
    EXPECT_FALSE(QFileInfo::exists(pc.filePath("../ESCAPE,0")));
    EXPECT_EQ(Pc("SAFE,0"), "ok");
}

TEST_F(TransferBatchTest, sizesOver2GiBReachTheDialogWhole)
{
    const qint64 size = qint64(3) << 30;
    batch.Download({Line("HUGE", 0, size)}); // not on the host: fails after the dialog line
    ASSERT_EQ(dialog.files.size(), 2u);
    EXPECT_EQ(dialog.files[1], (std::pair<std::string, qint64>{"Downloading binary file HUGE (3221225472 bytes)", size}));
}

// Skipped files are neither moved nor failed: the batch is complete and touches its marker.
TEST_F(TransferBatchTest, skipRuleLeavesExistingFilesAloneCountsThemAndStillTouchesTheMarker)
{
    Seed("OLD", 0, Pattern(100));
    Seed("NEW", 0, Pattern(200));
    QFile mine(pc.filePath("OLD,0"));
    ASSERT_TRUE(mine.open(QIODevice::WriteOnly));
    mine.write("mine");
    mine.close();
    window.settings.WhenFileExists = FileExistsRule::Skip;

    const BatchResult result = batch.Download({Line("OLD", 0, 100), Line("NEW", 0, 200)});

    EXPECT_EQ(result.Ok, 1);
    EXPECT_EQ(result.Skipped, 1);
    EXPECT_EQ(result.Failed, 0);
    EXPECT_EQ(Pc("OLD,0"), "mine");
    EXPECT_EQ(Pc("NEW,0"), Pattern(200));
    EXPECT_EQ(window.Summary(), "1 file(s) downloaded successfully, 1 skipped");
    EXPECT_TRUE(MarkerExists(".down"));
}

TEST_F(TransferBatchTest, nothingSelectedShowsNoDialogButCountsAsCompleteBatch)
{
    window.settings.SoundConfirmations = true;
    batch.Download({});
    EXPECT_TRUE(dialog.files.empty());
    EXPECT_TRUE(window.enabled.empty() || window.enabled == std::vector<bool>{true});
    EXPECT_EQ(window.Summary(), "0 file(s) downloaded");
    EXPECT_EQ(window.pcRefreshes, 0);
    EXPECT_TRUE(MarkerExists(".down"));
    EXPECT_EQ(window.sounds, std::vector<BatchSound>{BatchSound::Confirmation});
}

TEST_F(TransferBatchTest, uploadMapsNamesAndCodesSkipsMissingPathsAndFailsFolders)
{
    const auto write = [this](const char *name, const QByteArray &bytes) {
        QFile f(pc.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    write("PROG.C", "int x;\n");
    write("MYOBJ,700", Pattern(100000));
    write("EMPTY", "");
    ASSERT_TRUE(QDir(pc.path()).mkdir("FOLDER"));
    ASSERT_EQ(::mkfifo(pc.filePath("PIPE").toLocal8Bit().constData(), 0600), 0); // opening it would hang
    types.clear();

    const BatchResult result = batch.Upload({"PROG.C", pc.filePath("MYOBJ,700").toStdString(), "EMPTY",
                                             pc.filePath("VANISHED").toStdString(), pc.filePath("FOLDER").toStdString(),
                                             "PIPE"});

    EXPECT_EQ(result.Ok, 3);
    EXPECT_EQ(result.Failed, 2) << "the folder and the pipe";
    EXPECT_EQ(window.AtLevel(0).back(), "PIPE not uploaded: not a regular file");
    EXPECT_EQ(types, (std::vector<std::string>{"TYPE A", "TYPE I", "TYPE A"}));
    EXPECT_EQ(Host("PROGC").replace("\r\n", "\n"), "int x;\n");
    EXPECT_EQ(HostCode("PROGC"), 101);
    EXPECT_EQ(Host("MYOBJ"), Pattern(100000));
    EXPECT_EQ(HostCode("MYOBJ"), 700);
    EXPECT_EQ(Host("EMPTY"), "");
    EXPECT_EQ(Host("FOLDER"), "<missing>") << "no empty file made for a folder";
    EXPECT_EQ(dialog.files[1].first, "Uploading ascii file PROG.C (7 bytes)");
    EXPECT_EQ(dialog.files[2].first, "Uploading binary file MYOBJ,700 (100000 bytes)");
    // Every path counts as a file, the skipped and the failed too; only regular files have bytes.
    ASSERT_FALSE(dialog.batch.empty());
    EXPECT_EQ(dialog.batch.front(), "File 1 of 6, 0 of 100007 bytes");
    EXPECT_EQ(dialog.batch.back().rfind("File 6 of 6, 100007 of 100007 bytes", 0), 0u) << dialog.batch.back();
    EXPECT_EQ(window.Summary(), "3 file(s) uploaded successfully. Failed to upload 2 file(s)");
    EXPECT_EQ(window.listings, 1);
    EXPECT_FALSE(MarkerExists(".up"));
}

TEST_F(TransferBatchTest, uploadOfOnlyVanishedPathsIsACompleteEmptyBatch)
{
    const BatchResult result = batch.Upload({pc.filePath("A").toStdString(), pc.filePath("B").toStdString()});
    EXPECT_EQ(result.Ok + result.Failed, 0);
    EXPECT_EQ(dialog.files.size(), 1u) << "the dialog flashes up for the first path";
    EXPECT_EQ(window.Summary(), "0 file(s) uploaded");
    EXPECT_TRUE(MarkerExists(".up"));
    EXPECT_EQ(window.listings, 1);
}

TEST_F(TransferBatchTest, uploadWithoutSessionStopsAtTheTypeCommandInFailureForm)
{
    cli.Quit();
    ASSERT_FALSE(window.connected);
    QFile f(pc.filePath("A"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();

    const BatchResult result = batch.Upload({"A", "A"});

    EXPECT_TRUE(result.Stopped);
    EXPECT_EQ(window.AtLevel(3).size(), 1u) << "the client's error text at level 3";
    EXPECT_EQ(window.Summary(), "0 file(s) uploaded successfully. Failed to upload 0 file(s)");
    EXPECT_EQ(window.sounds, std::vector<BatchSound>{BatchSound::Warning});
    EXPECT_FALSE(MarkerExists(".up"));
}

// The batches against the other servers a PC may meet: binary round trips, checksums compared.
class TransferBatchOtherServerTest : public TransferBatchTest,
                                     public testing::WithParamInterface<FtpServerKind> {
protected:
    FtpServerKind ServerKind() const override { return GetParam(); }
};

TEST_P(TransferBatchOtherServerTest, uploadedFilesDownloadAgainByteForByte)
{
    window.options.Mode = ModeChoice::Binary;
    window.options.DLAddFileCode = false;
    const std::vector<std::pair<QString, qint64>> files = {{"EMPTY", 0}, {"ONE.B", 1}, {"DATA.BIN", 5 << 20}};
    std::vector<std::string> paths;
    for (const auto &[name, size] : files) {
        QFile f(pc.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(Pattern(size));
        paths.push_back(pc.filePath(name).toStdString());
    }
    ASSERT_EQ(batch.Upload(paths).Ok, 3) << window.Summary();

    QTemporaryDir back;
    QDir::setCurrent(back.path());
    const BatchResult result =
        batch.Download({Line("EMPTY", 0, 0), Line("ONEB", 0, 1), Line("DATABIN", 0, 5 << 20)});
    EXPECT_EQ(result.Ok, 3) << window.Summary();
    const auto sha = [](const QString &path) {
        return QCryptographicHash::hash(Read(path), QCryptographicHash::Sha256).toHex();
    };
    EXPECT_EQ(sha(back.filePath("EMPTY")), sha(pc.filePath("EMPTY")));
    EXPECT_EQ(sha(back.filePath("ONEB")), sha(pc.filePath("ONE.B")));
    EXPECT_EQ(sha(back.filePath("DATABIN")), sha(pc.filePath("DATA.BIN")));
    EXPECT_EQ(window.Summary(), "3 file(s) downloaded");
}

// Resume against the scripted peer, whose transcript is exact: a data connection cut after
// N bytes, then REST N; and a server that refuses REST.
class ScriptedDownloadTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pc.isValid());
        previous = QDir::currentPath();
        QDir::setCurrent(pc.path());
        cli.SetHostName("127.0.0.1");
        cli.SetPort(peer.PortText().toStdString());
        cli.SetUserName("u");
        cli.SetPassWord("p");
        cli.SetPassive(true);
        cli.OnSessionClosed = [this](TCustomFtpCli *, int) { window.connected = false; };
        peer.Send("220 hi\r\n").Reply("USER u", "331 pw\r\n").Reply("PASS p", "230 ok\r\n");
        ASSERT_TRUE(cli.Connect()) << cli.ErrorMessage();
        ASSERT_TRUE(peer.WaitFinished());
        window.connected = true;
    }
    void TearDown() override { QDir::setCurrent(previous); }
    QByteArray Pc(const char *name) const
    {
        QFile f(pc.filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    bool Logged(const std::string &text) const
    {
        return std::find(window.lines.begin(), window.lines.end(), std::make_pair(1, text)) != window.lines.end();
    }

    QTemporaryDir pc;
    QString previous;
    FtpScriptPeer peer;
    FtpScriptData data{peer};
    TFtpClient cli;
    RecordingWindow window;
    RecordingDialog dialog;
    TProgressReporter progress{dialog};
    TTransferBatch batch{cli, window, dialog, progress};
};

TEST_F(ScriptedDownloadTest, dataCutAfterNBytesIsResumedWithRestN)
{
    const QByteArray whole = Pattern(6000);
    peer.Reply("TYPE I", "200 Type set to I.\r\n");
    data.ExpectPasv();
    peer.Reply("RETR F", "150 Opening BINARY mode data connection.\r\n");
    data.Open().Send(whole.left(2500));
    peer.Delay(100);
    data.Reset();
    peer.Delay(50).Send("426 Connection closed; transfer aborted.\r\n");
    EXPECT_EQ(batch.Download({Line("F", 0, 6000)}).Failed, 1);
    ASSERT_TRUE(peer.WaitFinished());
    EXPECT_EQ(Pc(".F,0.zarvel-part"), whole.left(2500));

    peer.Reply("TYPE I", "200 Type set to I.\r\n");
    data.ExpectPasv();
    peer.Reply("REST 2500", "350 Restarting at 2500.\r\n").Reply("RETR F", "150 Opening.\r\n");
    data.Open().Send(whole.mid(2500)).Close();
    peer.Delay(50).Send("226 Transfer complete.\r\n");
    EXPECT_EQ(batch.Download({Line("F", 0, 6000)}).Ok, 1) << window.Summary();
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_TRUE(Logged("resuming F at 2500 bytes"));
    EXPECT_EQ(Pc("F,0"), whole);
    EXPECT_EQ(Pc(".F,0.zarvel-part"), "<missing>");
}

TEST_F(ScriptedDownloadTest, refusedRestStartsOverWithTheWholeFile)
{
    const QByteArray whole = Pattern(4000);
    {
        TDownloadTarget part("G,0");
        std::string error;
        ASSERT_TRUE(part.Open(error)) << error;
        ASSERT_EQ(::write(part.Handle(), QByteArray(1000, 'x').constData(), 1000), 1000);
        part.KeepPartial({cli.HostName(), cli.Port(), cli.ReplyDirectory(), "G", 4000, "08-Dec-26 01:00:00"});
    }
    peer.Reply("TYPE I", "200 Type set to I.\r\n");
    data.ExpectPasv();
    peer.Reply("REST 1000", "502 REST not implemented.\r\n");
    data.ExpectPasv();
    peer.Reply("RETR G", "150 Opening.\r\n");
    data.Open().Send(whole).Close();
    peer.Delay(50).Send("226 Transfer complete.\r\n");

    EXPECT_EQ(batch.Download({Line("G", 0, 4000)}).Ok, 1) << window.Summary();
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_TRUE(Logged("the server refused to resume G: starting over"));
    EXPECT_EQ(Pc("G,0"), whole);
}

// Someone who cannot read a protected download can still end its TCP stream early: without
// close_notify the file is not taken as whole, whatever the server's 226 says. An edit file
// (code 101, ASCII) and a binary file the listing gives no size for are the cases no size
// check can catch.
TEST(EncryptedBatch, downloadsCutWithoutCloseNotifyFailAndAreNotCommitted)
{
    zarvel::test::TrustTestAuthority(true);
    const QString cert = QString::fromStdString(TlsCertFile("server")), key = QString::fromStdString(TlsKeyFile("server"));
    QTemporaryDir pc;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(pc.path());
    FtpScriptPeer peer;
    FtpScriptData data{peer};
    TFtpClient cli;
    cli.SetHostName("127.0.0.1");
    cli.SetPort(peer.PortText().toStdString());
    cli.SetUserName("u");
    cli.SetPassWord("p");
    cli.SetPassive(true);
    cli.SetEncryption(ftpEncryptRequire);
    peer.Send("220 hi\r\n").Reply("AUTH TLS", "234 go ahead\r\n").StartTls(cert, key)
        .Reply("USER u", "331 pw\r\n").Reply("PASS p", "230 ok\r\n").Reply("PBSZ 0", "200 ok\r\n").Reply("PROT P", "200 ok\r\n");
    ASSERT_TRUE(cli.Connect()) << cli.ErrorMessage();
    RecordingWindow window;
    window.connected = true;
    RecordingDialog dialog;
    TProgressReporter progress{dialog};
    TTransferBatch batch{cli, window, dialog, progress};

    peer.Reply("TYPE A", "200 Type set to A.\r\n");
    data.ExpectPasv();
    peer.Reply("RETR PROGC", "150 Opening.\r\n");
    data.UseTls(cert, key);
    data.Open().Send("int main()\r\n{\r\n").CutTls();
    peer.Delay(100).Send("226 Transfer complete.\r\n");
    peer.Reply("TYPE I", "200 Type set to I.\r\n");
    data.ExpectPasv();
    peer.Reply("RETR BLOB", "150 Opening.\r\n");
    data.Open().Send(Pattern(30000)).CutTls();
    peer.Delay(100).Send("226 Transfer complete.\r\n");

    const BatchResult result = batch.Download({Line("PROGC", 101, 0), Line("BLOB", 0, 0)});
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_EQ(result.Ok, 0);
    EXPECT_EQ(result.Failed, 2) << window.Summary();
    EXPECT_EQ(QDir(pc.path()).entryList({"*.zarvel-part", "PROG*", "BLOB*"}, QDir::Files | QDir::Hidden),
              QStringList{".BLOB,0.zarvel-part"})
        << "nothing committed; the binary part kept for a resume";
    const std::vector<std::string> reasons = window.AtLevel(0);
    const std::string cut = ": 426 The encrypted data connection ended without close_notify: the data may be cut short";
    EXPECT_EQ(reasons, (std::vector<std::string>{"PROGC" + cut, "BLOB" + cut})) << testing::PrintToString(window.lines);
    QDir::setCurrent(previous);
}

INSTANTIATE_TEST_SUITE_P(Servers, TransferBatchOtherServerTest,
                         testing::Values(FtpServerKind::Vsftpd, FtpServerKind::PyFtpdLib),
                         [](const testing::TestParamInfo<FtpServerKind> &info) {
                             return std::string(FtpServerKindName(info.param));
                         });

} // namespace
