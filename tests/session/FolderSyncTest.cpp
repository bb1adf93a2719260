// Compare and synchronize end to end against the NonStop-style server: `zarvel --compare`
// and `zarvel --sync` as a user runs them (no window), and the synchronizer itself where the
// command line cannot reach (file codes kept beside the folder).
#include "session/FolderCommandLine.h"
#include "session/FolderSync.h"
#include "session/LogSink.h"
#include "support/FtpServers.h"
#include "support/QtPrinters.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

using namespace zarvel::test;

namespace {

constexpr qint64 T = 1'760'000'000; // a whole second both sides share

// --- The command line's grammar ---------------------------------------------------------------

TEST(FolderCommandLine, readsDirectionAndFlagsAndRefusesWhatCannotBeMeant)
{
    FolderCommand command;
    EXPECT_EQ(ParseFolderCommand("--sync DOWN hostname h --dry-run --delete userid u", command), "");
    EXPECT_TRUE(command.Sync);
    EXPECT_EQ(command.Direction, SyncDirection::Down);
    EXPECT_TRUE(command.Delete && command.DryRun);
    EXPECT_EQ(command.Keywords, "hostname h userid u");
    const std::pair<const char *, const char *> refused[] = {
        {"--sync", "--sync takes up, down or both"},
        {"--sync sideways", "--sync takes up, down or both"},
        {"--compare --delete", "--delete and --dry-run go with --sync"},
        // Both ways nothing is only on a target side.
        {"--sync both --delete", "--delete goes with --sync up or --sync down"},
    };
    for (const auto &[line, error] : refused) {
        FolderCommand ignored;
        EXPECT_EQ(ParseFolderCommand(line, ignored), error) << line;
    }
}

// --- End to end ---------------------------------------------------------------------------------

class FolderSyncEndToEnd : public testing::Test {
protected:
    void SetUp() override
    {
        server = StartFtpServer(FtpServerKind::Guardian);
        ASSERT_TRUE(server);
        ASSERT_TRUE(pcDir.isValid() && configDir.isValid());
    }

    // Every state once: a name the upload rule folds (PROG.C), a ",100" file, an edit file
    // whose PC text has LF line ends, a file newer on each side, and one-sided files.
    void PutEveryState()
    {
        PutHost("PROGC", 101, "int main;\r\n", T);
        PutPc("PROG.C", "int main;\n", T);
        PutHost("MYOBJ", 100, QByteArray(20, '\x7f'), T);
        PutPc("MYOBJ,100", QByteArray(20, '\x7f'), T);
        PutHost("NOTES", 101, "a\r\nb\r\n", T);
        PutPc("NOTES", "a\nb\n", T);
        PutHost("NEWPC", 101, "old\r\n", T);
        PutPc("NEWPC", "new\n", T + 3600);
        PutHost("NEWHOST", 101, "new\r\n", T + 3600);
        PutPc("NEWHOST", "old\n", T);
        PutHost("HOSTONLY", 101, "h\r\n", T);
        PutPc("ONLY.TXT", "p\n", T);
    }

    void PutHost(const std::string &name, int code, const QByteArray &content, qint64 time)
    {
        const QString folder = QString::fromStdString(server->Root()) + "/$DATA01/ZDEMO";
        ASSERT_TRUE(QDir().mkpath(folder));
        Write(folder + "/" + QString::fromStdString(name), content, time);
        QFile catalog(folder + "/.catalog.json");
        QJsonObject entries;
        if (catalog.open(QIODevice::ReadOnly))
            entries = QJsonDocument::fromJson(catalog.readAll()).object();
        catalog.close();
        entries[QString::fromStdString(name)] = QJsonObject{{"code", code}};
        ASSERT_TRUE(catalog.open(QIODevice::WriteOnly | QIODevice::Truncate));
        catalog.write(QJsonDocument(entries).toJson());
    }

    int HostCode(const std::string &name)
    {
        QFile catalog(QString::fromStdString(server->Root()) + "/$DATA01/ZDEMO/.catalog.json");
        EXPECT_TRUE(catalog.open(QIODevice::ReadOnly));
        const QJsonObject entry = QJsonDocument::fromJson(catalog.readAll()).object()[QString::fromStdString(name)].toObject();
        return entry["code"].toInt(-1);
    }

    bool HostHas(const std::string &name)
    {
        return QFile::exists(QString::fromStdString(server->Root() + "/$DATA01/ZDEMO/" + name));
    }

    void PutPc(const QString &name, const QByteArray &content, qint64 time) { Write(pcDir.filePath(name), content, time); }

    static void Write(const QString &path, const QByteArray &content, qint64 time)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        file.close();
        const utimbuf times{time_t(time), time_t(time)};
        ASSERT_EQ(::utime(path.toLocal8Bit().constData(), &times), 0);
    }

    // Runs the program in the PC folder with a private configuration; standard output lines.
    QStringList Run(const QString &words, int expectedStatus = 0)
    {
        QProcess zarvel;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", configDir.path());
        env.insert("ZARVEL_PASSWORD", QString::fromStdString(server->Password()));
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        zarvel.setProcessEnvironment(env);
        zarvel.setWorkingDirectory(pcDir.path());
        const QString connection = QString(" hostname 127.0.0.1 hostport %1 userid %2 initialsubvol $DATA01.ZDEMO")
                                       .arg(server->Port()).arg(QString::fromStdString(server->User()));
        zarvel.start(ZARVEL_BINARY_DIR "/src/app/zarvel", QProcess::splitCommand(words + connection));
        EXPECT_TRUE(zarvel.waitForFinished(60000)) << words.toStdString();
        const QString err = QString::fromUtf8(zarvel.readAllStandardError());
        EXPECT_EQ(zarvel.exitCode(), expectedStatus) << words.toStdString() << "\n" << err.toStdString();
        return QString::fromUtf8(zarvel.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }

    // The states a compare prints, one word list per row: "same PROG.C PROGC".
    QStringList Compare()
    {
        QStringList rows;
        for (const QString &line : Run("--compare"))
            rows << line.simplified();
        return rows;
    }

    static QStringList AllSame(const QStringList &rows)
    {
        QStringList others;
        for (const QString &row : rows)
            if (!row.startsWith("same "))
                others << row;
        return others;
    }

    QString ServerDialogue() const
    {
        QFile log(QString::fromStdString(server->Root()) + "/../stderr.log");
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
    }

    std::unique_ptr<FtpServerProcess> server;
    QTemporaryDir pcDir;
    QTemporaryDir configDir;
};

TEST_F(FolderSyncEndToEnd, compareMarksEveryStateThroughBothNameRules)
{
    PutEveryState();
    EXPECT_EQ(Compare(), (QStringList{
        "only on the host - HOSTONLY",
        "same MYOBJ,100 MYOBJ",
        "newer on the host NEWHOST NEWHOST",
        "newer on the PC NEWPC NEWPC",
        "same NOTES NOTES",
        "same PROG.C PROGC",
        "only on the PC ONLY.TXT -"}));
}

TEST_F(FolderSyncEndToEnd, syncBothLeavesEverythingTheSameAndKeepsFileCodes)
{
    PutEveryState();
    const QStringList preview = Run("--sync both");
    EXPECT_TRUE(preview.contains("upload   NEWPC -> NEWPC,101 (ascii, newer on the PC)")) << preview.join('\n').toStdString();
    EXPECT_EQ(preview.last(), "2 file(s) uploaded, 2 file(s) downloaded, 0 file(s) deleted");
    EXPECT_EQ(AllSame(Compare()), QStringList{});
    EXPECT_EQ(HostCode("ONLYTXT"), 101);
    EXPECT_EQ(HostCode("MYOBJ"), 100);
    // The server's log names transfers so, which the dry run below relies on.
    EXPECT_TRUE(ServerDialogue().contains("STOR") && ServerDialogue().contains("RETR"));
    QFile downloaded(pcDir.filePath("NEWHOST"));
    ASSERT_TRUE(downloaded.open(QIODevice::ReadOnly));
    EXPECT_EQ(downloaded.readAll().trimmed(), "new");
}

class FolderSyncOneWay : public FolderSyncEndToEnd, public testing::WithParamInterface<const char *> {};

TEST_P(FolderSyncOneWay, deletesOnlyWhenAskedAndThenAllIsTheSame)
{
    PutEveryState();
    const bool up = std::string(GetParam()) == "up";
    const QString targetOnly = up ? "only on the host - HOSTONLY" : "only on the PC ONLY.TXT -";
    Run(QString("--sync ") + GetParam());
    EXPECT_EQ(AllSame(Compare()), QStringList{targetOnly});
    const QStringList preview = Run(QString("--sync ") + GetParam() + " --delete");
    EXPECT_EQ(preview.first(), up ? "delete   HOSTONLY on the host" : "delete   ONLY.TXT on the PC");
    EXPECT_EQ(AllSame(Compare()), QStringList{});
    EXPECT_FALSE(up ? HostHas("HOSTONLY") : QFile::exists(pcDir.filePath("ONLY.TXT")));
}

INSTANTIATE_TEST_SUITE_P(Directions, FolderSyncOneWay, testing::Values("up", "down"));

TEST_F(FolderSyncEndToEnd, dryRunPrintsThePlanAndTransfersNothing)
{
    PutEveryState();
    const QStringList preview = Run("--sync up --delete --dry-run");
    EXPECT_EQ(preview.size(), 4) << preview.join('\n').toStdString(); // NEWHOST, NEWPC, HOSTONLY, ONLY.TXT
    EXPECT_EQ(AllSame(Compare()).size(), 4);
    const QString dialogue = ServerDialogue();
    EXPECT_TRUE(dialogue.contains("CWD $DATA01.ZDEMO")) << dialogue.toStdString();
    for (const char *command : {"STOR", "RETR", "DELE"})
        EXPECT_FALSE(dialogue.contains(command)) << command;
    EXPECT_TRUE(HostHas("HOSTONLY"));
}

TEST_F(FolderSyncEndToEnd, usageErrorsEndWithStatusTwoBeforeAnyConnection)
{
    Run("--sync both --delete", 2);
    Run("--compare nosuchkeyword", 2);
    EXPECT_FALSE(ServerDialogue().contains("USER"));
}

// The synchronizer itself, with the download's file code kept out of the PC name: the code
// kept beside the folder brings the file back as what it was after the host lost it.
class RecordingLog : public LogSink {
public:
    void Log(int level, const std::string &text) override { lines.push_back(std::to_string(level) + " " + text); }
    std::vector<std::string> lines;
};

TEST_F(FolderSyncEndToEnd, fileCodesKeptBesideTheFolderSurviveARoundTrip)
{
    PutHost("TOOLO", 700, QByteArray(64, '\x01'), T);
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(pcDir.path()));
    FolderSyncSetup setup;
    setup.Connection.HostName = "127.0.0.1";
    setup.Connection.HostPort = server->Port();
    setup.Connection.UserID = server->User();
    setup.Connection.Password = server->Password();
    setup.Connection.Encryption = "None";
    setup.Subvolume = "$DATA01.ZDEMO";
    setup.Options.DLAddFileCode = false;
    RecordingLog log;
    const auto syncOnce = [&](SyncDirection direction) {
        TFolderSync sync(setup, log);
        QSignalSpy compared(&sync, &TFolderSync::Compared), finished(&sync, &TFolderSync::Finished);
        sync.Compare();
        EXPECT_TRUE(compared.wait(20000));
        sync.Run(sync.Plan(direction, false));
        EXPECT_TRUE(finished.wait(20000));
        EXPECT_EQ(sync.Result().Failed, 0);
    };
    syncOnce(SyncDirection::Down);
    EXPECT_TRUE(QFile::exists(pcDir.filePath("TOOLO")));
    ASSERT_TRUE(QFile::remove(QString::fromStdString(server->Root()) + "/$DATA01/ZDEMO/TOOLO"));
    syncOnce(SyncDirection::Up);
    QDir::setCurrent(saved);
    EXPECT_EQ(HostCode("TOOLO"), 700);
    QFile uploaded(QString::fromStdString(server->Root()) + "/$DATA01/ZDEMO/TOOLO");
    EXPECT_EQ(uploaded.size(), 64); // binary: no line-end conversion on the way
}

} // namespace
