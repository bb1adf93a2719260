// Batches over several connections against the NonStop-style server (passive): files, modes, names,
// counts, the dialog's totals and the one marker are those of a one-connection batch; the
// other connections' lines carry their prefix; Cancel stops every connection and keeps parts;
// a host that takes one session per address still gets the whole batch; every connection
// cut mid-file is opened again and its download resumed.
#include "session/BatchConnections.h"
#include "session/TransferBatchFixture.h"

#include <QTimer>

#include <algorithm>

namespace {

using namespace zarvel::test;

class BatchConnectionsTest : public TransferBatchTest {
protected:
    void SetUp() override
    {
        TransferBatchTest::SetUp();
        window.settings.Connections = 3;
        // pyftpdlib, under the NonStop-style server, sometimes never answers a PORT while a
        // second session of the same client has one running; passive connections are spared.
        cli.SetPassive(true);
    }
    // Lines the connection with this prefix ("[2] ") logged that start with `text`.
    long Logged(const std::string &prefix, const std::string &text) const
    {
        return std::count_if(window.lines.begin(), window.lines.end(),
                             [&](const auto &line) { return line.second.rfind(prefix + text, 0) == 0; });
    }
    // Seeds 30 files, every third an edit file (101, ASCII), the others objects (100, binary).
    std::vector<std::string> SeedThirty()
    {
        std::vector<std::string> lines;
        for (int i = 0; i < 30; ++i) {
            const std::string name = "F" + std::to_string(10 + i);
            const bool edit = i % 3 == 0;
            const QByteArray bytes = edit ? QByteArray("line ") + QByteArray::number(i) + "\nend\n" : Pattern(20000 + 997 * i);
            Seed(name, edit ? 101 : 100, bytes);
            contents[name] = bytes;
            lines.push_back(Line(name, edit ? 101 : 100, bytes.size()));
        }
        return lines;
    }

    TBatchConnections extras{cli, window};
    TTransferBatch multi{cli, window, dialog, progress, &extras};
    std::map<std::string, QByteArray> contents;
};

TEST_F(BatchConnectionsTest, threeConnectionsDownloadThirtyFilesWholeWithTheirModesNamesAndOneMarker)
{
    const std::vector<std::string> lines = SeedThirty();
    qint64 total = 0;
    for (const auto &[name, bytes] : contents)
        total += bytes.size();

    const BatchResult result = multi.Download(lines);

    EXPECT_EQ(result.Ok, 30) << window.Summary();
    EXPECT_EQ(result.Failed, 0);
    for (const auto &[name, bytes] : contents) {
        const bool edit = bytes.startsWith("line ");
        const std::string pcName = edit ? name : name + ",100";
        QByteArray got = Pc(pcName.c_str());
        EXPECT_EQ(edit ? got.replace("\r\n", "\n") : got, bytes) << pcName;
    }
    for (const char *prefix : {"[2] ", "[3] "}) {
        EXPECT_GT(Logged(prefix, "> RETR "), 0) << prefix << " moved no file";
        EXPECT_GT(Logged(prefix, "> TYPE "), 0) << prefix << " never set its type";
    }
    EXPECT_EQ(Logged("", "30 file(s) downloaded"), 1);
    EXPECT_EQ(window.Summary(), "30 file(s) downloaded");
    EXPECT_TRUE(MarkerExists(".down"));
    ASSERT_FALSE(dialog.batch.empty());
    EXPECT_EQ(dialog.batch.back().rfind("File 30 of 30, " + std::to_string(total) + " of " + std::to_string(total), 0),
              0u) << dialog.batch.back();
    EXPECT_EQ(window.enabled, (std::vector<bool>{false, true}));
    EXPECT_FALSE(PcEntries().join(' ').contains(".zarvel-")) << PcEntries().join(' ').toStdString();
    EXPECT_EQ(extras.OpenCount(), 2) << "kept for the next batch until an idle minute has passed";
}

TEST_F(BatchConnectionsTest, threeConnectionsUploadThirtyFilesUnderTheirHostNamesAndCodes)
{
    std::vector<std::string> paths;
    for (int i = 0; i < 30; ++i) {
        const QString name = i % 3 == 0 ? QString("E%1.C").arg(i) : QString("O%1,100").arg(i);
        QFile f(pc.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(i % 3 == 0 ? QByteArray("text\n") : Pattern(9000 + i));
        paths.push_back(name.toStdString());
    }

    const BatchResult result = multi.Upload(paths);

    EXPECT_EQ(result.Ok, 30) << window.Summary();
    for (int i = 0; i < 30; ++i) {
        const std::string host = i % 3 == 0 ? "E" + std::to_string(i) + "C" : "O" + std::to_string(i);
        SCOPED_TRACE(host);
        EXPECT_EQ(HostCode(host.c_str()), i % 3 == 0 ? 101 : 100);
        if (i % 3 != 0) {
            EXPECT_EQ(Host(host.c_str()), Pattern(9000 + i));
        }
    }
    EXPECT_GT(Logged("[2] ", "> STOR "), 0);
    EXPECT_GT(Logged("[3] ", "> STOR "), 0);
    EXPECT_EQ(window.Summary(), "30 file(s) uploaded");
    EXPECT_TRUE(MarkerExists(".up"));
}

TEST_F(BatchConnectionsTest, cancelEndsEveryConnectionsTransferAndKeepsTheirParts)
{
    for (const char *name : {"BIGA", "BIGB", "BIGC"})
        Seed(name, 0, Pattern(32 << 20));
    // Cancel as the dialog does it, once both other connections' files are under way.
    int started = 0;
    window.onLog = [&](const std::string &text) {
        if ((text.rfind("[2] < 1", 0) == 0 || text.rfind("[3] < 1", 0) == 0) && ++started == 2)
            QTimer::singleShot(0, [this] {
                extras.Abort();
                cli.Abort();
            });
    };

    const BatchResult result =
        multi.Download({Line("BIGA", 0, 32 << 20), Line("BIGB", 0, 32 << 20), Line("BIGC", 0, 32 << 20)});

    EXPECT_GE(result.Failed, 2) << window.Summary();
    EXPECT_EQ(Logged("[2] ", "BIG"), 1) << "its file aborted";
    EXPECT_EQ(Logged("[3] ", "BIG"), 1) << "its file aborted";
    for (const char *part : {".BIGB,0.zarvel-part", ".BIGC,0.zarvel-part"}) {
        const QFileInfo info(pc.filePath(part));
        EXPECT_TRUE(info.exists() && info.size() > 0 && info.size() < (32 << 20)) << part;
    }
    EXPECT_FALSE(MarkerExists(".down"));
    EXPECT_EQ(extras.OpenCount(), 0);
}

// A host that takes one session per address: the batch goes on over the browsing one.
class OneSessionHostTest : public BatchConnectionsTest {
protected:
    std::vector<std::string> ServerArgs() const override { return {"--max-logins", "1"}; }
};

TEST_F(OneSessionHostTest, refusedSecondLoginLeavesTheBatchToTheBrowsingConnection)
{
    std::vector<std::string> lines = SeedThirty();
    lines.resize(6);

    const BatchResult result = multi.Download(lines);

    EXPECT_EQ(result.Ok, 6) << window.Summary();
    EXPECT_EQ(result.Failed, 0);
    EXPECT_EQ(Logged("[2] ", "no second connection: 530"), 1);
    EXPECT_EQ(Logged("[3] ", "no second connection: 530"), 1);
    EXPECT_EQ(Logged("[2] ", "> RETR"), 0);
    EXPECT_EQ(window.Summary(), "6 file(s) downloaded");
    EXPECT_TRUE(MarkerExists(".down"));
}

// A host that cuts each session once, 5000 bytes into its first download.
class CuttingHostTest : public BatchConnectionsTest {
protected:
    std::vector<std::string> ServerArgs() const override { return {"--drop-after", "5000"}; }
};

TEST_F(CuttingHostTest, everyConnectionCutMidFileIsOpenedAgainAndItsDownloadResumedNotRestarted)
{
    window.settings.Retries = 3;
    window.client = &cli;
    std::vector<std::string> lines;
    for (int i = 0; i < 9; ++i) {
        const std::string name = "D" + std::to_string(10 + i);
        Seed(name, 0, Pattern(8000 + i)); // its rest, after a cut at 5000 bytes, is not cut again
        lines.push_back(Line(name, 0, 8000 + i));
    }

    const BatchResult result = multi.Download(lines);

    EXPECT_EQ(result.Ok, 9) << window.Summary();
    EXPECT_EQ(result.Failed, 0);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(Pc(("D" + std::to_string(10 + i) + ",0").c_str()), Pattern(8000 + i)) << i;
    // One cut per connection; each file goes on from the 5000 bytes it had, none starts over.
    int resumed = 0;
    for (const auto &[level, text] : window.lines) {
        resumed += text.find("resuming D") != std::string::npos && text.ends_with(" at 5000 bytes");
        EXPECT_EQ(text.find("starting over"), std::string::npos) << text;
    }
    EXPECT_EQ(resumed, 3);
    EXPECT_EQ(Logged("", "connection lost during D"), 1) << "the browsing connection";
    EXPECT_EQ(Logged("[2] ", "connection lost during D"), 1);
    EXPECT_EQ(Logged("[3] ", "connection lost during D"), 1);
    EXPECT_EQ(rests.size(), 1u) << "the browsing connection's REST";
    EXPECT_TRUE(window.connected) << "the browsing session is open again";
    EXPECT_EQ(window.Summary(), "9 file(s) downloaded");
    EXPECT_TRUE(MarkerExists(".down"));
    EXPECT_FALSE(PcEntries().join(' ').contains("zarvel-part")) << PcEntries().join(' ').toStdString();
}

TEST_F(CuttingHostTest, sessionThatCannotBeOpenedAgainFailsItsFileByNameAfterRetries)
{
    window.settings.Connections = 1;
    window.settings.Retries = 2;
    window.client = nullptr; // every reopening fails
    Seed("LOST", 0, Pattern(12000));

    const BatchResult result = multi.Download({Line("LOST", 0, 12000)});

    EXPECT_EQ(result.Failed, 1);
    EXPECT_EQ(Logged("", "connection lost during LOST: reconnecting in 1 s (1 of 2)"), 1);
    EXPECT_EQ(Logged("", "connection lost during LOST: reconnecting in 2 s (2 of 2)"), 1);
    EXPECT_EQ(Logged("", "connection lost: reconnecting"), 0) << "no more tries once they are used up";
    ASSERT_EQ(window.reports.size(), 1u);
    EXPECT_EQ(window.reports[0].Lines, std::vector<std::string>{"LOST download aborted: Host Disconnected"});
    EXPECT_GT(QFileInfo(pc.filePath(".LOST,0.zarvel-part")).size(), 0) << "its part is kept for the next try";
}

} // namespace
