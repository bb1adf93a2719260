// What a real NonStop host's FTP server does that a plain server does not, seen through the
// real main window against the NonStop-style server, which behaves like such a host: an "O"
// in the listing line of an open file, 550 to LIST of a subvolume without files, default
// extents and File Full past them, ASCII files stored as they travel (CR LF), accounts that
// start in the OSS file system, and commands of its own (SITE HELP).
#include "ui/LogWindow.h"
#include "ui/MainWindowFixture.h"
#include "ui/TandemGroup.h"
#include "ui/TransferGroup.h"
#include "ui/TransferProgressDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

QByteArray Read(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QString Text(const std::string &bytes) { return QString::fromStdString(bytes); }

class RealHostTest : public MainWindowFixture {
protected:
    // The server again, with these options of its own, and the sample files.
    void RestartServer(const std::vector<std::string> &options)
    {
        server->Stop();
        server = zarvel::test::StartFtpServer(zarvel::test::FtpServerKind::Guardian, {}, false, options);
        ASSERT_TRUE(server);
        PutSampleFiles();
    }
    // Marks a file of kHome open, as a host does for a log being written.
    void MarkOpen(const std::string &name)
    {
        QFile catalog(Text(RemotePath(kHome, ".catalog.json")));
        ASSERT_TRUE(catalog.open(QIODevice::ReadOnly));
        QJsonObject entries = QJsonDocument::fromJson(catalog.readAll()).object();
        catalog.close();
        QJsonObject entry = entries[Text(name)].toObject();
        entry["open"] = true;
        entries[Text(name)] = entry;
        ASSERT_TRUE(catalog.open(QIODevice::WriteOnly | QIODevice::Truncate));
        catalog.write(QJsonDocument(entries).toJson());
    }
    // A sparse PC file: cheap however big.
    void PutBigPcFile(const QString &name, qint64 size)
    {
        PutPcFile(name, "");
        QFile f(PcPath(name));
        ASSERT_TRUE(f.resize(size));
    }
    void ChangeSubvolTo(const QString &subvol)
    {
        QComboBox *box = form->GroupBoxTandem->ComboBoxTanSubvol;
        QApplication::setActiveWindow(form.get());
        box->setFocus();
        box->lineEdit()->selectAll();
        QTest::keyClicks(box, subvol);
        QTest::keyClick(box, Qt::Key_Return);
        ASSERT_TRUE(WaitUntilIdle());
    }
    QByteArray RemoteBytes(const std::string &name) const { return Read(Text(RemotePath(kHome, name))); }
    // Uploads one PC file and downloads one host file in one go each (Auto mode).
    void UploadThenDownload(const QString &pcName, const std::string &hostName)
    {
        SelectPc({pcName});
        Click(form->GroupBoxMode->BtnUpload);
        ASSERT_EQ(StatusText(), "1 file(s) uploaded");
        SelectRemote({Text(hostName)});
        Click(form->GroupBoxMode->BtnDownload);
        ASSERT_EQ(StatusText(), "1 file(s) downloaded");
    }
};

} // namespace

TEST_F(RealHostTest, asciiFilesHaveLfOnThePcAndCrLfOnTheHost)
{
    PutRemoteFile(kHome, "README", 101, "one\r\ntwo\r\n");
    ASSERT_TRUE(Connect());
    PutPcFile("NOTES", "alpha\nbeta\n");

    UploadThenDownload("NOTES", "README");

    EXPECT_EQ(RemoteBytes("NOTES"), "alpha\r\nbeta\r\n");
    EXPECT_EQ(Read(PcPath("README")), "one\ntwo\n");
}

TEST_F(RealHostTest, asciiLineEndsCrLfKeepsTheBytesAsTheyTravel)
{
    PutRemoteFile(kHome, "README", 101, "one\ntwo\n");
    ASSERT_TRUE(Connect("AsciiLineEnds CRLF"));
    PutPcFile("NOTES", "alpha\nbeta\n");

    UploadThenDownload("NOTES", "README");

    EXPECT_EQ(RemoteBytes("NOTES"), "alpha\nbeta\n");
    EXPECT_EQ(Read(PcPath("README")), "one\r\ntwo\r\n") << "the wire's CR LF, as before the setting";
}

TEST_F(RealHostTest, openFileIsReadWithItsOwnSizeAndDownloadsWhole)
{
    const QByteArray log(5000, 'x');
    PutRemoteFile(kHome, "LOGNOW", 180, log);
    MarkOpen("LOGNOW");
    ASSERT_TRUE(Connect());
    SelectRemote({"LOGNOW"});

    Click(form->GroupBoxMode->BtnDownload);

    EXPECT_EQ(StatusText(), "1 file(s) downloaded");
    EXPECT_EQ(Read(PcPath("LOGNOW,180")), log);
    EXPECT_EQ(windows.FormTransfer->LFileinfo->text(), "Downloading binary file LOGNOW (5000 bytes)");
    EXPECT_EQ(windows.FormTransfer->LBatch->text(), "File 1 of 1, 5000 of 5000 bytes") << "the total is the EOF, not the code";
}

TEST_F(RealHostTest, subvolumesWithoutFilesListEmptyWithoutAnErrorBox)
{
    for (const std::vector<std::string> &options : {std::vector<std::string>{}, {"--empty-heading"}}) {
        SCOPED_TRACE(options.empty() ? "550 File not found" : "the heading alone");
        DestroyWindow();
        RestartServer(options);
        CreateWindow();
        ASSERT_TRUE(Connect());
        for (const char *subvol : {"$DATA01.NEW", "$DATA01.ZOTHER", "NOSUCH"}) {
            ChangeSubvolTo(subvol);
            if (QString(subvol) == "$DATA01.ZOTHER") {
                EXPECT_EQ(RemoteNames(), QStringList{"OTHERC"});
                continue;
            }
            const QString shown = form->GroupBoxTandem->ComboBoxTanSubvol->currentText();
            EXPECT_TRUE(shown.startsWith("$DATA01.")) << shown.toStdString() << " is not the subvolume entered";
            EXPECT_TRUE(RemoteNames().isEmpty());
            EXPECT_EQ(CountText(), "0 File(s)");
            EXPECT_EQ(StatusText(), "No files in " + shown);
        }
        EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join("; ").toStdString();
        // An upload asks the host which names exist: none, not an error.
        PutPcFile("NOTES", "first\n");
        SelectPc({"NOTES"});
        Click(form->GroupBoxMode->BtnUpload);
        EXPECT_EQ(StatusText(), "1 file(s) uploaded");
        EXPECT_EQ(RemoteNames(), QStringList{"NOTES"});
    }
}

TEST_F(RealHostTest, bigBinaryUploadGetsExtentsAndFileFullIsExplained)
{
    DestroyWindow();
    CreateWindow("int LogLevel=2\n");
    ASSERT_TRUE(Connect());
    const qint64 size = 60 << 20;                 // past the default extents' 56 MB
    PutBigPcFile("BIGOBJ,100", size);
    PutBigPcFile("FULLOBJ,100,4,28,978", size);   // the defaults, named: sent as they are

    SelectPc({"BIGOBJ,100", "FULLOBJ,100,4,28,978"});
    Click(form->GroupBoxMode->BtnUpload);

    EXPECT_TRUE(StatusText().startsWith("1 file(s) uploaded successfully. Failed to upload 1 file(s)"))
        << StatusText().toStdString();
    EXPECT_TRUE(LogText().contains("> STOR BIGOBJ,100,42,42,978")) << LogText().toStdString();
    EXPECT_EQ(QFileInfo(Text(RemotePath(kHome, "BIGOBJ"))).size(), size);
    EXPECT_TRUE(LogText().contains("> STOR FULLOBJ,100,4,28,978"));
    EXPECT_TRUE(LogText().contains("FULLOBJ,100,4,28,978: The file is larger than its extents allow (error 45)"))
        << LogText().toStdString();
    EXPECT_LT(QFileInfo(Text(RemotePath(kHome, "FULLOBJ"))).size(), size);
}

TEST_F(RealHostTest, accountStartingInOssLandsInGuardianOrSaysWhyNot)
{
    DestroyWindow();
    RestartServer({"--start-oss"});
    CreateWindow("int LogLevel=1\n");
    ASSERT_TRUE(Connect());
    EXPECT_EQ(form->GroupBoxTandem->ComboBoxTanSubvol->currentText(), kHome);
    EXPECT_TRUE(RemoteNames().contains("PROGC"));
    EXPECT_TRUE(LogText().contains("The host is in the OSS file system (/G/data01/zdemo): sent QUOTE GUARDIAN"))
        << LogText().toStdString();

    DestroyWindow();
    RestartServer({"--oss-only"});
    CreateWindow();
    ASSERT_TRUE(Connect());
    EXPECT_EQ(StatusText(), "This account starts in the OSS file system (/G/data01/zdemo) and the host refused "
                            "QUOTE GUARDIAN: Zarvel shows Guardian subvolumes only");
    EXPECT_TRUE(RemoteNames().isEmpty()) << "an OSS directory is no Guardian subvolume";
}

TEST_F(RealHostTest, sendCommandShowsTheWholeReplyInTheLogWindowAndRefusesTheLogin)
{
    DestroyWindow();
    CreateWindow("int LogLevel=2\n"); // the dialogue is logged anyway: the reply must not show twice
    ASSERT_TRUE(Connect());
    ASSERT_FALSE(windows.FormStatus->isVisible());
    messages.answers = {QString("site help"), QString("PASS secret")};

    form->SendCommandItem->trigger();
    ASSERT_TRUE(WaitUntil([this] { return !form->Session().HostCommand.Running(); }));

    EXPECT_TRUE(windows.FormStatus->isVisible());
    const QString log = LogText();
    EXPECT_TRUE(log.contains("> site help\n< 214-Commands beyond RFC 959")) << log.toStdString();
    EXPECT_TRUE(log.contains("<  OSS        use the OSS file system"));
    EXPECT_TRUE(log.endsWith("< 214 End of SITE HELP."));
    EXPECT_EQ(log.count("214 End of SITE HELP."), 1) << "every line once, whatever the log level";
    EXPECT_EQ(StatusText(), "214 End of SITE HELP.");

    form->SendCommandItem->trigger();
    EXPECT_EQ(StatusText(), "Command not sent: PASS is not sent from here: the login belongs to File > Connect");
    EXPECT_FALSE(LogText().contains("secret"));
}
