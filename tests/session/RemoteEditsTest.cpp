// Editing host files without a display: the edits' own connection over TLS with passive data
// connections against the NonStop-style server, and the transcript of an upload to a host
// that neither renames over a file nor deletes it.
#include "session/RemoteEdits.h"
#include "support/FtpScriptData.h"
#include "support/FtpScriptPeer.h"
#include "support/FtpServers.h"
#include "support/TlsCerts.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <functional>
#include <string>
#include <vector>

using zarvel::test::FtpServerKind;

namespace {

class RecordingLog : public LogSink {
public:
    void Log(int level, const std::string &text) override { lines.push_back(std::to_string(level) + " " + text); }
    std::string All() const
    {
        std::string all;
        for (const std::string &line : lines)
            all += line + "\n";
        return all;
    }
    std::vector<std::string> lines;
};

bool WaitUntil(const std::function<bool()> &done)
{
    QDeadlineTimer deadline(20000);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents, 50);
    return done();
}

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

class RemoteEditsTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folders.isValid());
        edits.SetSettleMs(50);
        edits.SetOpener([this](const QString &path, std::string &) {
            opened.push_back(path);
            return true;
        });
    }
    const TEditEntry &Only() const { return edits.Entries().begin()->second; }
    bool WaitForState(EditState state)
    {
        return WaitUntil([&] { return !edits.Entries().empty() && Only().State == state; });
    }

    QTemporaryDir folders;
    RecordingLog log;
    TRemoteEdits edits{log, folders.path()};
    std::vector<QString> opened;   // paths the editor was started on
};

TEST_F(RemoteEditsTest, tlsPassiveRoundTripKeepsTheFileCode)
{
    zarvel::test::TrustTestAuthority(true);
    auto server = zarvel::test::StartFtpServer(FtpServerKind::Guardian, "server");
    ASSERT_TRUE(server);
    const QString folder = QString::fromStdString(server->Root()) + "/$DATA01/ZDEMO";
    ASSERT_TRUE(QDir().mkpath(folder));
    WriteFile(folder + "/LOG01", QByteArray("line 1\n\x01\x02", 9));
    WriteFile(folder + "/.catalog.json", R"({"LOG01": {"code": 180}})");

    TEditConnection connection{server->Host(), server->PortText(), server->User(), server->Password(), "", true,
                               ftpEncryptRequire, ""};
    const std::string line = "LOG01         180                9 8-Dec-26 01:00:00 100,  1 \"nnnn\"";
    ASSERT_NE(edits.Edit(connection, "$DATA01.ZDEMO", line, TransferOptions{}), 0);
    ASSERT_TRUE(WaitForState(EditState::Opened)) << log.All();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(ReadFile(opened.front()), QByteArray("line 1\n\x01\x02", 9)); // binary: the bytes as they are

    WriteFile(opened.front(), "line 1\r\nline 2\n");
    ASSERT_TRUE(WaitForState(EditState::Uploaded)) << log.All();
    EXPECT_EQ(ReadFile(folder + "/LOG01"), "line 1\r\nline 2\n");
    EXPECT_EQ(QJsonDocument::fromJson(ReadFile(folder + "/.catalog.json")).object()["LOG01"].toObject()["code"].toInt(),
              180);
    const std::string all = log.All();
    EXPECT_NE(all.find("Edit: > AUTH TLS"), std::string::npos) << all;
    EXPECT_NE(all.find("Edit: > EPSV"), std::string::npos) << all;
    EXPECT_NE(all.find("Edit: > STOR ZZED"), std::string::npos) << all;
    EXPECT_EQ(all.find("Edit: > TYPE A"), std::string::npos) << all;
    // No temporary name is left behind.
    EXPECT_EQ(QDir(folder).entryList({"ZZED*"}, QDir::Files), QStringList{});
    zarvel::test::TrustTestAuthority(false);
}

// A host that keeps its original against both ways of replacing it: the original is never
// lost, and the user learns where the text went.
TEST_F(RemoteEditsTest, hostRefusingRenameAndDeleteKeepsOriginalAndNamesTemporary)
{
    const QByteArray line = "PROGC         101               5 8-Dec-26 01:00:00 100,  1 \"nnnn\"";
    FtpScriptPeer peer;
    FtpScriptData data(peer);
    peer.Send("220 ready\r\n").Reply("USER u", "331 password\r\n").Reply("PASS p", "230 in\r\n");
    peer.Reply("CWD $DATA01.ZDEMO", "250 there\r\n");
    data.ExpectPasv();
    peer.Reply("LIST PROGC", "150 listing\r\n");
    data.Open().Send("File         Code             EOF  Last Modification    Owner  RWEP\r\n" + line + "\r\n").Close();
    peer.Send("226 done\r\n").Reply("TYPE A", "200 ascii\r\n");
    data.ExpectPasv();
    peer.Reply("RETR PROGC", "150 sending\r\n");
    data.Open().Send("old\r\n").Close();
    peer.Send("226 done\r\n");
    // The save: the listing is unchanged, so the text goes up.
    peer.Reply("CWD $DATA01.ZDEMO", "250 there\r\n");
    data.ExpectPasv();
    peer.Reply("LIST PROGC", "150 listing\r\n");
    data.Open().Send(line + "\r\n").Close();
    peer.Send("226 done\r\n").Reply("TYPE A", "200 ascii\r\n");
    data.ExpectPasv();
    peer.ExpectPrefix("STOR ZZED").Send("150 receiving\r\n");
    data.Open().ReceiveUntilClose();
    peer.Send("226 stored\r\n");
    peer.ExpectPrefix("RNFR ZZED").Send("350 ready\r\n").Reply("RNTO PROGC", "550 File PROGC already exists.\r\n");
    peer.Reply("DELE PROGC", "550 Security violation (error 48).\r\n");

    TEditConnection connection{"127.0.0.1", peer.PortText().toStdString(), "u", "p", "", true, ftpEncryptNone, ""};
    ASSERT_NE(edits.Edit(connection, "$DATA01.ZDEMO", line.toStdString(), TransferOptions{}), 0);
    ASSERT_TRUE(WaitForState(EditState::Opened)) << log.All();
    EXPECT_EQ(ReadFile(opened.front()), "old\n"); // an edit file: LF on the PC, CR LF on the wire
    WriteFile(opened.front(), "new text\n");
    ASSERT_TRUE(WaitForState(EditState::Failed)) << log.All();
    ASSERT_TRUE(peer.WaitFinished());

    const QList<QByteArray> commands = peer.Commands();
    const QByteArray store = commands[commands.size() - 4];
    ASSERT_TRUE(store.startsWith("STOR ZZED") && store.endsWith(",101")) << store.toStdString();
    const QByteArray temporary = store.mid(5, store.indexOf(',') - 5);
    EXPECT_EQ(commands[commands.size() - 3], "RNFR " + temporary);
    EXPECT_EQ(data.Received(), "new text\r\n");
    const std::string reason = Only().Reason;
    EXPECT_NE(reason.find("neither renames over nor deletes PROGC"), std::string::npos) << reason;
    EXPECT_NE(reason.find("your text is on the host as " + temporary.toStdString()), std::string::npos) << reason;
    // The PC copy stays, and counts as work not on the host.
    EXPECT_EQ(ReadFile(opened.front()), "new text\n");
    EXPECT_EQ(edits.UnfinishedCount(), 1);
    edits.EndEditing(Only().Id);
    EXPECT_TRUE(QFile::exists(opened.front()));
}

} // namespace
