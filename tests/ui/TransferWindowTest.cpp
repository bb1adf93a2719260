// Downloads and uploads as a user runs them: the real main window against the NonStop-style
// server, files selected in the lists or dropped on the remote list, the progress dialog on
// screen with its Cancel; what arrives (bytes compared), what the status bar, the log, the
// sounds and the marker files say, and what a failure leaves on the PC.
#include "ui/LocalPCGroup.h"
#include "ui/MainWindowFixture.h"
#include "ui/TandemGroup.h"
#include "ui/TransferProgressDialog.h"
#include "ui/TransferGroup.h"
#include "ui/FileDropTarget.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QWindow>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QUrl>

#include <functional>

namespace {

QByteArray Pattern(qint64 size, int seed = 0)
{
    QByteArray bytes(size, '\0');
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char((i * 31 + i / 509 + seed) & 0xff);
    return bytes;
}

QByteArray Read(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QByteArray Sha256(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<missing>";
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&f);
    return hash.result().toHex();
}

QString Text(const std::string &bytes) { return QString::fromStdString(bytes); }

class TransferWindowTest : public MainWindowFixture {
protected:
    TFormTransfer *Dialog() const { return windows.FormTransfer; }

    // Runs `act` once, from the event loop, when `ready` first holds while a batch runs.
    void WhileRunning(std::function<bool()> ready, std::function<void()> act)
    {
        auto *poll = new QTimer(form.get());
        poll->setInterval(2);
        QObject::connect(poll, &QTimer::timeout, poll, [poll, ready, act] {
            if (ready()) {
                poll->stop();
                act();
            }
        });
        poll->start();
    }
    bool DialogMoving(const char *fileName) const
    {
        return Dialog()->isVisible() && Dialog()->LFileinfo->text().contains(QString(" ") + fileName + " ") &&
               Dialog()->LStatus->text().section(' ', 0, 0).toLongLong() > 0;
    }
    // A big remote file without holding it in memory: zeros, written sparsely.
    void PutBigRemoteFile(const std::string &name, qint64 size)
    {
        PutRemoteFile(kHome, name, 0, "");
        QFile f(Text(RemotePath(kHome, name)));
        ASSERT_TRUE(f.resize(size));
    }
    QStringList PcFolderEntries() const { return QDir(pcDir.path()).entryList(QDir::Files | QDir::Hidden); }
    int RemoteCode(const std::string &name) const
    {
        const QByteArray catalog = Read(Text(RemotePath(kHome, ".catalog.json")));
        return QJsonDocument::fromJson(catalog).object().value(Text(name)).toObject().value("code").toInt(-1);
    }
    void Refresh() { Click(form->GroupBoxTandem->BtnRefreshTandem); ASSERT_TRUE(WaitUntilIdle()); }
    bool WindowUsable() const { return form->centralWidget()->isEnabled() && form->menuBar()->isEnabled(); }
};

TEST_F(TransferWindowTest, mixedDownloadBatchNamesFilesSwitchesTypeOnChangeAndTouchesMarker)
{
    DestroyWindow();
    CreateWindow("int LogLevel=3\n");
    const QByteArray edit = "int main(void)\n{\n    return 0;\n}\n";
    const QByteArray object = Pattern(300000);
    PutRemoteFile(kHome, "MYOBJ", 100, object);
    PutRemoteFile(kHome, "PROGC", 101, edit);
    PutRemoteFile(kHome, "PROGH", 101, "#define X 1\n");
    PutRemoteFile(kHome, "TOOLO", 700, Pattern(5000, 7));
    ASSERT_TRUE(Connect("TouchDown"));
    form->GroupBoxMode->DLExtensionSize->setValue(1);
    SelectRemote({"MYOBJ", "PROGC", "PROGH", "TOOLO"});

    Click(form->GroupBoxMode->BtnDownload);

    EXPECT_EQ(StatusText(), "4 file(s) downloaded");
    EXPECT_EQ(Sha256(PcPath("MYOB.J,100")), QCryptographicHash::hash(object, QCryptographicHash::Sha256).toHex());
    EXPECT_EQ(Read(PcPath("PROG.C")).replace("\r\n", "\n"), edit);
    EXPECT_EQ(Read(PcPath("PROG.H")).replace("\r\n", "\n"), "#define X 1\n");
    EXPECT_EQ(Read(PcPath("TOOL.O,700")), Pattern(5000, 7));
    EXPECT_EQ(LogText().count("> TYPE"), 3) << "binary, ascii, ascii, binary: three changes";
    EXPECT_TRUE(PcNames().contains("PROG.C")) << "the PC list is read again";
    EXPECT_TRUE(QFileInfo::exists(PcPath(".zarvel.xfer.down")));
    EXPECT_FALSE(Dialog()->isVisible());
    EXPECT_EQ(Dialog()->LFileinfo->text(), "Downloading binary file TOOLO (5000 bytes)");
    EXPECT_TRUE(WindowUsable());
    EXPECT_TRUE(sounds.played.isEmpty()) << "no confirmation sound unless configured";
}

TEST_F(TransferWindowTest, refusedFileMidBatchLeavesExistingPcFileAndCountsTheRest)
{
    ASSERT_TRUE(Connect("TouchDown"));
    PutPcFile("LOG01,180", "the user's own log");
    ASSERT_TRUE(QFile::remove(Text(RemotePath(kHome, "LOG01")))); // gone since it was listed
    SelectRemote({"CUSTDATA", "LOG01", "MYOBJ"});

    Click(form->GroupBoxMode->BtnDownload);

    EXPECT_EQ(StatusText(), "2 file(s) downloaded successfully. Failed to download 1 file(s) - the failed files are listed in File > Log Window");
    EXPECT_EQ(Read(PcPath("LOG01,180")), "the user's own log");
    EXPECT_EQ(Read(PcPath("CUSTDATA,0")), Read(Text(RemotePath(kHome, "CUSTDATA"))));
    EXPECT_EQ(Read(PcPath("MYOBJ,100")), Read(Text(RemotePath(kHome, "MYOBJ"))));
    EXPECT_TRUE(LogText().contains("550")) << LogText().toStdString();
    EXPECT_EQ(sounds.played, QStringList{"exclamation"});
    EXPECT_FALSE(QFileInfo::exists(PcPath(".zarvel.xfer.down")));
    EXPECT_TRUE(form->Session().Connected);
}

TEST_F(TransferWindowTest, cancelInLargeDownloadEndsSessionKeepsPcFileAndAHiddenPart)
{
    PutBigRemoteFile("BIG", qint64(256) << 20);
    ASSERT_TRUE(Connect());
    PutPcFile("BIG,0", "yesterday's build");
    SelectRemote({"BIG", "CUSTDATA"});
    WhileRunning([this] { return DialogMoving("BIG"); }, [this] { Click(Dialog()->btnCancel); });

    Click(form->GroupBoxMode->BtnDownload);

    EXPECT_TRUE(LogText().contains("BIG download aborted: Host Disconnected")) << LogText().toStdString();
    EXPECT_EQ(StatusText(), "0 file(s) downloaded successfully. Failed to download 1 file(s) - the failed files are listed in File > Log Window");
    EXPECT_EQ(Read(PcPath("BIG,0")), "yesterday's build");
    EXPECT_EQ(PcFolderEntries(), (QStringList{".BIG,0.zarvel-origin", ".BIG,0.zarvel-part", "BIG,0"})) << "part kept; CUSTDATA not tried";
    EXPECT_EQ(PcNames(), QStringList{"BIG,0"}) << "the PC list does not show the part";
    EXPECT_FALSE(form->Session().Connected);
    EXPECT_EQ(form->windowTitle(), "Zarvel");
    EXPECT_FALSE(Dialog()->isVisible());
    EXPECT_TRUE(WindowUsable());
}

TEST_F(TransferWindowTest, serverGoneDuringSecondOfFiveFilesStopsBatch)
{
    for (const char *name : {"A1", "A2", "A3", "A4", "A5"})
        PutRemoteFile(kHome, name, 0, Pattern(20000));
    PutBigRemoteFile("A2", qint64(128) << 20);
    ASSERT_TRUE(Connect());
    SelectRemote({"A1", "A2", "A3", "A4", "A5"});
    WhileRunning([this] { return DialogMoving("A2"); }, [this] { server->Stop(); });

    Click(form->GroupBoxMode->BtnDownload);

    EXPECT_EQ(StatusText(), "1 file(s) downloaded successfully. Failed to download 1 file(s) - the failed files are listed in File > Log Window");
    EXPECT_TRUE(LogText().contains("A2 download aborted: Host Disconnected")) << LogText().toStdString();
    EXPECT_EQ(PcFolderEntries(), (QStringList{".A2,0.zarvel-origin", ".A2,0.zarvel-part", "A1,0"}));
    EXPECT_FALSE(form->GroupBoxMode->BtnDownload->isEnabled()) << "session controls off";
}

TEST_F(TransferWindowTest, sessionCutMidFileIsOpenedAgainAndTheWindowStaysConnected)
{
    server.reset();
    server = zarvel::test::StartFtpServer(zarvel::test::FtpServerKind::Guardian, {}, false, {"--drop-after", "5000"});
    ASSERT_TRUE(server);
    PutSampleFiles();
    PutRemoteFile(kHome, "CUTOBJ", 0, Pattern(9000));
    ASSERT_TRUE(Connect("Connections 1"));
    const QString caption = form->windowTitle();
    SelectRemote({"CUTOBJ", "MYOBJ"});

    Click(form->GroupBoxMode->BtnDownload);

    EXPECT_EQ(Read(PcPath("CUTOBJ,0")), Pattern(9000));
    EXPECT_TRUE(LogText().contains("connection lost during CUTOBJ: reconnecting in 1 s (1 of 3)")) << LogText().toStdString();
    EXPECT_TRUE(LogText().contains("resuming CUTOBJ at 5000 bytes")) << LogText().toStdString();
    EXPECT_EQ(StatusText(), "2 file(s) downloaded");
    EXPECT_TRUE(form->Session().Connected);
    EXPECT_EQ(form->windowTitle(), caption);
    EXPECT_TRUE(form->GroupBoxMode->BtnDownload->isEnabled()) << "session controls on";
}

TEST_F(TransferWindowTest, uploadBatchMapsNamesAndCodesAndRelistsTheSubvolume)
{
    ASSERT_TRUE(Connect("TouchUp"));
    const QByteArray big = Pattern(100 << 20, 3);
    PutPcFile("PROG.C", "int x;\n");
    PutPcFile("MYOBJ,700", Pattern(70000, 1));
    PutPcFile("EMPTY", "");
    PutPcFile("BIGFILE,0", big);     // binary: past 56 MB it gets extents of its own
    SelectPc({"BIGFILE,0", "EMPTY", "MYOBJ,700", "PROG.C"});

    Click(form->GroupBoxMode->BtnUpload);

    EXPECT_EQ(StatusText(), "4 file(s) uploaded");
    EXPECT_EQ(Sha256(Text(RemotePath(kHome, "BIGFILE"))), QCryptographicHash::hash(big, QCryptographicHash::Sha256).toHex());
    EXPECT_EQ(Read(Text(RemotePath(kHome, "PROGC"))).replace("\r\n", "\n"), "int x;\n");
    EXPECT_EQ(RemoteCode("PROGC"), 101);
    EXPECT_EQ(Read(Text(RemotePath(kHome, "MYOBJ"))), Pattern(70000, 1));
    EXPECT_EQ(RemoteCode("MYOBJ"), 700);
    EXPECT_EQ(Read(Text(RemotePath(kHome, "EMPTY"))), "");
    for (const char *name : {"BIGFILE", "EMPTY", "MYOBJ", "PROGC"})
        EXPECT_TRUE(RemoteNames().contains(name)) << name << " not listed afterwards";
    EXPECT_TRUE(QFileInfo::exists(PcPath(".zarvel.xfer.up")));
    EXPECT_EQ(Dialog()->LFileinfo->text(), "Uploading ascii file PROG.C (7 bytes)");
    EXPECT_TRUE(WindowUsable());
}

TEST_F(TransferWindowTest, uploadWithNothingSelectedDoesNothingAtAll)
{
    ASSERT_TRUE(Connect("TouchUp"));
    const QString status = StatusText();
    form->GroupBoxPC->FileListBoxPC->clearSelection();
    Click(form->GroupBoxMode->BtnUpload);
    EXPECT_EQ(StatusText(), status);
    EXPECT_FALSE(QFileInfo::exists(PcPath(".zarvel.xfer.up")));
}

TEST_F(TransferWindowTest, dropOfFilesFolderAndVanishedPathUploadsTheFiles)
{
    ASSERT_TRUE(Connect());
    QTemporaryDir desktop;
    const auto make = [&](const QString &name, const QByteArray &bytes) {
        QFile f(desktop.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return desktop.filePath(name);
    };
    const QList<QUrl> urls = {QUrl::fromLocalFile(make("DROPA.C", "a\n")),
                              QUrl::fromLocalFile(make("DROPB,100", Pattern(9000))),
                              QUrl::fromLocalFile(make("DROPC", "c\n")),
                              QUrl::fromLocalFile(desktop.filePath("")),
                              QUrl::fromLocalFile(desktop.filePath("VANISHED"))};
    QMimeData data;
    data.setUrls(urls);
    QWidget *viewport = form->GroupBoxTandem->ListBoxTanFiles->viewport();
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &drop);
    ASSERT_TRUE(drop.isAccepted());
    ASSERT_TRUE(WaitUntil([this] { return StatusText().contains("uploaded"); }));

    EXPECT_EQ(StatusText(), "3 file(s) uploaded successfully. Failed to upload 1 file(s) - the failed files are listed in File > Log Window") << "the folder fails";
    EXPECT_EQ(form->ListBoxTanFilesTrg->FileCount(), 5);
    EXPECT_EQ(Read(Text(RemotePath(kHome, "DROPAC"))).replace("\r\n", "\n"), "a\n");
    EXPECT_EQ(Read(Text(RemotePath(kHome, "DROPB"))), Pattern(9000));
    EXPECT_EQ(RemoteCode("DROPB"), 100);
    for (const char *name : {"DROPAC", "DROPB", "DROPC"})
        EXPECT_TRUE(RemoteNames().contains(name)) << name;
}

TEST_F(TransferWindowTest, dropWhileNotConnectedStillReachesTheUploadHandler)
{
    PutPcFile("X", "x\n");
    form->show();
    QListWidget *list = form->GroupBoxTandem->ListBoxTanFiles;
    ASSERT_FALSE(list->isEnabled());
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(PcPath("X"))});
    // Through the window, as the desktop delivers it: Qt routes drags past disabled controls.
    const QPoint at = list->mapTo(form.get(), list->rect().center());
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form->windowHandle(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form->windowHandle(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    ASSERT_TRUE(WaitUntil([this] { return StatusText().contains("upload"); }));

    EXPECT_EQ(form->ListBoxTanFilesTrg->FileCount(), 1);
    EXPECT_EQ(StatusText(), "0 file(s) uploaded successfully. Failed to upload 0 file(s)");
    EXPECT_FALSE(QFileInfo::exists(PcPath(".zarvel.xfer.up")));

    const QPoint beside = form->GroupBoxTandem->BtnRefreshTandem->mapTo(form.get(), QPoint(2, 2));
    QDragEnterEvent elsewhere(beside, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form->windowHandle(), &elsewhere);
    EXPECT_FALSE(elsewhere.isAccepted()) << "only the list takes files";
}

TEST_F(TransferWindowTest, pcRefreshShowsNewFilesAndCtrlASelectsThemAll)
{
    ASSERT_TRUE(Connect());
    PutPcFile("ONE", "1");
    QFile two(PcPath("TWO"));
    ASSERT_TRUE(two.open(QIODevice::WriteOnly));
    two.close();
    EXPECT_FALSE(PcNames().contains("TWO"));
    Click(form->GroupBoxPC->BtnRefreshPC);
    EXPECT_TRUE(PcNames().contains("TWO"));

    QListWidget *list = form->GroupBoxPC->FileListBoxPC;
    list->clearSelection();
    list->scrollToBottom();
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_A, Qt::ControlModifier, "a");
    QCoreApplication::sendEvent(list, &release);
    EXPECT_EQ(list->selectedItems().size(), list->count());
    EXPECT_GE(list->count(), 2);
}

TEST_F(TransferWindowTest, closingTheWindowDuringABatchStopsItFirst)
{
    PutBigRemoteFile("BIG", qint64(256) << 20);
    ASSERT_TRUE(Connect());
    SelectRemote({"BIG"});
    bool closedDuringBatch = true;
    WhileRunning([this] { return DialogMoving("BIG"); }, [&] {
        form->close();
        closedDuringBatch = !form->isVisible();
    });

    Click(form->GroupBoxMode->BtnDownload);

    EXPECT_FALSE(closedDuringBatch) << "the window stays while the batch is on the stack";
    EXPECT_TRUE(LogText().contains("BIG download aborted: Host Disconnected"));
    EXPECT_TRUE(WaitUntil([this] { return !form->isVisible(); })) << "closed once the batch ended";
    EXPECT_EQ(PcFolderEntries(), (QStringList{".BIG,0.zarvel-origin", ".BIG,0.zarvel-part"})) << "only the part, for a resume";
}

} // namespace
