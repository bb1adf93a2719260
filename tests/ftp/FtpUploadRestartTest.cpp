// Uploads against the scripted peer, paced one block at a time in every way a data
// connection opens, and the restart offsets of downloads and uploads.
#include "FtpTransferFixture.h"
#include "net/Socket.h"

#include <QFile>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// ---- Uploads ---------------------------------------------------------------------------------

enum class UploadOpen { Passive, Active150First, ActiveConnectionFirst };

class Upload : public FtpTransfer, public testing::WithParamInterface<UploadOpen> {
protected:
    void Script(const char *command)
    {
        DataStep(GetParam() == UploadOpen::Passive);
        if (GetParam() == UploadOpen::ActiveConnectionFirst) {
            peer.Expect(command);
            data.Open();
            peer.Delay(50).Send("150 Ok to send data.\r\n");
        } else {
            peer.Expect(command).Send("150 Ok to send data.\r\n");
            data.Open();
        }
        data.ReceiveUntilClose();
        peer.Send("226 Transfer complete.\r\n");
    }
};

TEST_P(Upload, sendsEveryByteExactlyOnce)
{
    const QByteArray payload = Pattern(1514 * 7 + 100);
    WriteAll(Local("up"), payload);
    Script("STOR up.bin");
    cli.SetLocalFileName(Local("up"));
    cli.SetHostFileName("up.bin");
    ASSERT_TRUE(cli.Put()) << cli.ErrorMessage();
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_EQ(data.Received(), payload);
    EXPECT_FALSE(HeldOpen(Local("up")));
    EXPECT_EQ(cli.TransferCount(), payload.size());
    EXPECT_EQ(StatsLines(), 1);
    // a progress report before each block and one before the end of the file is found
    std::vector<qint64> expected;
    for (qint64 at = 0; at < payload.size(); at += 1514)
        expected.push_back(at);
    expected.push_back(payload.size());
    progress.erase(std::unique(progress.begin(), progress.end()), progress.end());
    EXPECT_EQ(progress, expected);
}

TEST_P(Upload, emptyFileSendsNothingAndReportsZeroBytes)
{
    WriteAll(Local("empty"), "");
    Script("APPE empty.bin");
    cli.SetLocalFileName(Local("empty"));
    cli.SetHostFileName("empty.bin");
    ASSERT_TRUE(cli.Append()) << cli.ErrorMessage();
    EXPECT_EQ(data.Received(), "");
    EXPECT_TRUE(std::any_of(display.begin(), display.end(), [](const std::string &m) {
        return m.rfind("! 0 bytes received/sent in ", 0) == 0;
    }));
    Pump();
    EXPECT_EQ(done.back(), std::make_pair(ftpAppendAsync, 0));
}

INSTANTIATE_TEST_SUITE_P(Modes, Upload,
                         testing::Values(UploadOpen::Passive, UploadOpen::Active150First,
                                         UploadOpen::ActiveConnectionFirst),
                         [](const testing::TestParamInfo<UploadOpen> &i) {
                             switch (i.param) {
                             case UploadOpen::Passive: return "passive";
                             case UploadOpen::Active150First: return "active150First";
                             default: return "activeConnectionFirst";
                             }
                         });

TEST_F(FtpTransfer, serverConnectingRightAfterPortIsNotLost)
{
    // Some servers open the active data connection on PORT, before the transfer command.
    const QByteArray payload = Pattern(4000);
    WriteAll(Local("up"), payload);
    cli.SetPassive(false);
    data.ExpectPort(true);
    peer.Expect("STOR up").Send("125 Data connection already open. Transfer starting.\r\n");
    data.ReceiveUntilClose();
    peer.Send("226 ok\r\n");
    data.ExpectPort(true);
    peer.Expect("RETR up").Send("125 Data connection already open.\r\n");
    data.Send(payload).Close();
    peer.Delay(50).Send("226 ok\r\n");
    cli.SetLocalFileName(Local("up"));
    cli.SetHostFileName("up");
    ASSERT_TRUE(cli.Put()) << cli.ErrorMessage();
    EXPECT_EQ(data.Received(), payload);
    cli.SetLocalFileName(Local("down"));
    ASSERT_TRUE(cli.Get()) << cli.ErrorMessage();
    EXPECT_EQ(ReadAll(Local("down")), payload);
}

TEST_F(FtpTransfer, uploadRefusalsBeforeAnythingIsSent)
{
    // cancelled by the application
    cli.OnReadyToTransmit = [](TCustomFtpCli *, bool &cancel) { cancel = true; };
    WriteAll(Local("up"), "x");
    DataStep(false);
    cli.SetLocalFileName(Local("up"));
    cli.SetHostFileName("up");
    EXPECT_FALSE(cli.Put());
    EXPECT_EQ(cli.ErrorMessage(), "426 Transmit cancelled by application");
    EXPECT_TRUE(Displayed("! 426 Transmit cancelled by application"));

    // a local file that cannot be opened
    cli.OnReadyToTransmit = nullptr;
    DataStep(false);
    cli.SetLocalFileName(Local("absent"));
    EXPECT_FALSE(cli.Put());
    EXPECT_EQ(cli.ErrorMessage(), "426 Unable to open local file " + Local("absent"));
    EXPECT_TRUE(peer.WaitFinished());
    EXPECT_EQ(std::count_if(peer.Commands().begin(), peer.Commands().end(),
                            [](const QByteArray &c) { return c.startsWith("STOR"); }),
              0);
}

// ---- Restart offsets -------------------------------------------------------------------------

TEST_F(FtpTransfer, restGetResumesFromLocalSizeAndCountsFromThere)
{
    const QByteArray payload = Pattern(10000);
    WriteAll(Local("part"), payload.left(3000));
    DataStep(true);
    peer.Reply("REST 3000", "350 Restarting at 3000.\r\n").Reply("RETR f", "150 ok\r\n");
    data.Open().Send(payload.mid(3000)).Close();
    peer.Delay(50).Send("226 ok\r\n");
    cli.SetHostFileName("f");
    cli.SetLocalFileName(Local("part"));
    ASSERT_TRUE(cli.RestGet()) << cli.ErrorMessage();
    EXPECT_EQ(ReadAll(Local("part")), payload);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), 3000);
    EXPECT_EQ(cli.RestartOffset(), 0);  // an offset serves one transfer
}

TEST_F(FtpTransfer, plainGetIgnoresALeftoverOffsetAndWritesTheWholeFile)
{
    WriteAll(Local("f"), Pattern(8000));
    cli.SetRestartOffset(3000);
    DataStep(true);
    peer.Reply("RETR f", "150 ok\r\n");
    data.Open().Send("fresh").Close();
    peer.Delay(50).Send("226 ok\r\n");
    cli.SetHostFileName("f");
    cli.SetLocalFileName(Local("f"));
    ASSERT_TRUE(cli.Get()) << cli.ErrorMessage();
    EXPECT_EQ(ReadAll(Local("f")), "fresh");
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), 0);
}

TEST_F(FtpTransfer, noAutoResumeAtKeepsTheCallersOffset)
{
    const QByteArray payload = Pattern(6000);
    WriteAll(Local("part"), payload.left(3000));
    cli.SetOptions(OptBit(ftpAcceptLF) | OptBit(ftpNoAutoResumeAt));
    cli.SetRestartOffset(1000);
    DataStep(true);
    peer.Reply("REST 1000", "350 Restarting at 1000.\r\n").Reply("RETR f", "150 ok\r\n");
    data.Open().Send(payload.mid(1000)).Close();
    peer.Delay(50).Send("226 ok\r\n");
    cli.SetHostFileName("f");
    cli.SetLocalFileName(Local("part"));
    ASSERT_TRUE(cli.RestGet()) << cli.ErrorMessage();
    EXPECT_EQ(ReadAll(Local("part")), payload);
}

TEST_F(FtpTransfer, refusedRestLeavesNoOffsetForTheNextUpload)
{
    WriteAll(Local("part"), Pattern(2000));
    DataStep(true);
    peer.Reply("REST 2000", "502 REST not implemented.\r\n");
    cli.SetHostFileName("f");
    cli.SetLocalFileName(Local("part"));
    EXPECT_FALSE(cli.RestGet());
    EXPECT_EQ(cli.RestartOffset(), 0);

    const QByteArray payload = Pattern(5000);
    WriteAll(Local("up"), payload);
    DataStep(true);
    peer.Reply("STOR up", "150 ok\r\n");
    data.Open().ReceiveUntilClose();
    peer.Send("226 ok\r\n");
    cli.SetLocalFileName(Local("up"));
    cli.SetHostFileName("up");
    ASSERT_TRUE(cli.Put()) << cli.ErrorMessage();
    EXPECT_EQ(data.Received(), payload);
}

TEST_F(FtpTransfer, restGetWithoutLocalFileSendsNoRest)
{
    DataStep(true);
    peer.Reply("RETR f", "150 ok\r\n");
    data.Open().Send("whole").Close();
    peer.Delay(50).Send("226 ok\r\n");
    cli.SetHostFileName("f");
    cli.SetLocalFileName(Local("new"));
    ASSERT_TRUE(cli.RestGet()) << cli.ErrorMessage();
    EXPECT_EQ(ReadAll(Local("new")), "whole");
}

TEST_F(FtpTransfer, restartOffsetBeyond32BitsResumesThere)
{
    // A sparse 3 GiB local file: the offset, the REST text and the progress count are 64-bit.
    const qint64 offset = 3LL * 1024 * 1024 * 1024;
    {
        QFile f(dir.filePath("big"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(offset));
    }
    DataStep(true);
    peer.Reply("REST 3221225472", "350 Restarting.\r\n").Reply("RETR big", "150 ok\r\n");
    data.Open().Send("0123456789").Close();
    peer.Delay(50).Send("226 ok\r\n");
    cli.SetHostFileName("big");
    cli.SetLocalFileName(Local("big"));
    ASSERT_TRUE(cli.RestGet()) << cli.ErrorMessage();
    EXPECT_EQ(QFileInfo(dir.filePath("big")).size(), offset + 10);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), offset);
    QFile f(dir.filePath("big"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly) && f.seek(offset));
    EXPECT_EQ(f.readAll(), "0123456789");
}

TEST_F(FtpTransfer, restPutSendsCallersOffsetAndTheRestOfTheFile)
{
    const QByteArray payload = Pattern(5000);
    WriteAll(Local("up"), payload);
    DataStep(true);
    peer.Reply("REST 2000", "350 Restarting at 2000.\r\n").Expect("STOR up").Send("150 ok\r\n");
    data.Open().ReceiveUntilClose();
    peer.Send("226 ok\r\n");
    cli.SetRestartOffset(2000);
    cli.SetLocalFileName(Local("up"));
    cli.SetHostFileName("up");
    ASSERT_TRUE(cli.RestPut()) << cli.ErrorMessage();
    EXPECT_EQ(data.Received(), payload.mid(2000));
}

} // namespace
