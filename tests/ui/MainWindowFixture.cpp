#include "ui/MainWindowFixture.h"
#include "ui/WindowAssembly.h"
#include "ui/AboutBox.h"
#include "ui/ConfigureDialog.h"
#include "ui/LocalPCGroup.h"
#include "ui/ConnectDialog.h"
#include "ui/TandemGroup.h"
#include "ui/LogWindow.h"
#include "ui/TransferProgressDialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTimer>

using zarvel::test::FtpServerKind;
using zarvel::test::StartFtpServer;

namespace {

QString Text(const std::string &bytes)
{
    return QString::fromStdString(bytes);
}

} // namespace

const std::vector<std::pair<std::string, int>> &MainWindowFixture::SampleFiles()
{
    static const std::vector<std::pair<std::string, int>> files = {
        {"CUSTDATA", 0}, {"LOG01", 180}, {"MYOBJ", 100}, {"PROGC", 101}, {"PROGH", 101}, {"TOOLO", 700},
    };
    return files;
}

void MainWindowFixture::SetUp()
{
    ASSERT_TRUE(pcDir.isValid());
    ASSERT_TRUE(configDir.isValid());
    savedFolder_ = QDir::currentPath();
    server = StartFtpServer(FtpServerKind::Guardian);
    ASSERT_TRUE(server);
    PutSampleFiles();
    CreateWindow();
}

void MainWindowFixture::PutSampleFiles()
{
    for (const auto &[name, code] : SampleFiles())
        PutRemoteFile(kHome, name, code, QByteArray::fromStdString("contents of " + name + "\n"));
    PutRemoteFile(kOther, "OTHERC", 101, "other\n");
}

void MainWindowFixture::MoveServerToIpv6()
{
    server->Stop();
    server = StartFtpServer(FtpServerKind::Guardian, {}, true);
    ASSERT_TRUE(server);
    PutSampleFiles();
}

void MainWindowFixture::TearDown()
{
    DestroyWindow();
    if (server)
        server->Stop();
    QDir::setCurrent(savedFolder_);
}

void MainWindowFixture::CreateWindow(const QByteArray &storeText)
{
    const QString storePath = configDir.filePath("Ondrik/Zarvel.conf");
    if (!storeText.isEmpty()) {
        QDir().mkpath(configDir.filePath("Ondrik"));
        QFile store(storePath);
        ASSERT_TRUE(store.open(QIODevice::WriteOnly | QIODevice::Truncate));
        store.write(storeText);
    }
    form = std::make_unique<TFormMain>(messages, sounds, storePath);
    if (!useSystemKeyring)
        form->UseKeyring(std::make_unique<TLentKeyring>(keyring));
    windows = AttachNewWindows(*form, messages);
    ASSERT_TRUE(form->GroupBoxPC->SetFolder(pcDir.path()));
}

void MainWindowFixture::DestroyWindow()
{
    form.reset();
    windows = {};
}

std::string MainWindowFixture::ServerCommandLine() const
{
    // The server offers no TLS: asking before a plain login is for the tests of that.
    return "HostName " + server->Host() + " HostPort " + server->PortText() + " UserID " + server->User()
        + " Password " + server->Password() + " InitialSubvol " + kHome + " Encryption None";
}

bool MainWindowFixture::Connect(const std::string &extra)
{
    // Transfers replace existing files without the question, as they did before it existed;
    // a test of the question passes "WhenFileExists Ask".
    if (!form->LoadStartupSettings(ServerCommandLine() + " AutoConnect WhenFileExists Overwrite " + extra))
        return false;
    form->show();
    const bool open = WaitUntil([this] { return form->Session().Connected; }) && WaitUntilIdle();
    if (!open)
        ADD_FAILURE() << "not connected; boxes: " << messages.shown.join("; ").toStdString()
                      << "; status: " << StatusText().toStdString();
    return open;
}

std::string MainWindowFixture::RemotePath(const std::string &subvol, const std::string &name) const
{
    const std::string folder = subvol.substr(0, subvol.find('.')) + "/" + subvol.substr(subvol.find('.') + 1);
    return server->Root() + "/" + folder + "/" + name;
}

void MainWindowFixture::PutRemoteFile(const std::string &subvol, const std::string &name, int fileCode,
                                      const QByteArray &content)
{
    const QString path = Text(RemotePath(subvol, name));
    const QString folder = QFileInfo(path).path();
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
    file.close();

    // The server keeps file codes in a catalog beside the files.
    QFile catalog(folder + "/.catalog.json");
    QJsonObject entries;
    if (catalog.open(QIODevice::ReadOnly))
        entries = QJsonDocument::fromJson(catalog.readAll()).object();
    catalog.close();
    entries[Text(name)] = QJsonObject{{"code", fileCode}};
    ASSERT_TRUE(catalog.open(QIODevice::WriteOnly | QIODevice::Truncate));
    catalog.write(QJsonDocument(entries).toJson());
}

QStringList MainWindowFixture::RemoteLines() const
{
    QStringList lines;
    const QListWidget *list = form->GroupBoxTandem->ListBoxTanFiles;
    for (int row = 0; row < list->count(); ++row)
        lines << list->item(row)->text();
    return lines;
}

QStringList MainWindowFixture::RemoteNames() const
{
    QStringList names;
    for (const QString &line : RemoteLines())
        names << line.section(' ', 0, 0);
    return names;
}

void MainWindowFixture::SelectRemote(const QStringList &names)
{
    QListWidget *list = form->GroupBoxTandem->ListBoxTanFiles;
    list->clearSelection();
    for (const QString &name : names) {
        const qsizetype row = RemoteNames().indexOf(name);
        ASSERT_GE(row, 0) << name.toStdString() << " is not in the remote list";
        list->item(int(row))->setSelected(true);
    }
}

void MainWindowFixture::PutPcFile(const QString &name, const QByteArray &content)
{
    QFile file(PcPath(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
    file.close();
    form->GroupBoxPC->RefreshFiles();
}

QString MainWindowFixture::PcPath(const QString &name) const
{
    return pcDir.filePath(name);
}

QStringList MainWindowFixture::PcNames() const
{
    QStringList names;
    const QListWidget *list = form->GroupBoxPC->FileListBoxPC;
    for (int row = 0; row < list->count(); ++row)
        names << list->item(row)->text();
    return names;
}

void MainWindowFixture::SelectPc(const QStringList &names)
{
    QListWidget *list = form->GroupBoxPC->FileListBoxPC;
    list->clearSelection();
    for (const QString &name : names) {
        const qsizetype row = PcNames().indexOf(name);
        ASSERT_GE(row, 0) << name.toStdString() << " is not in the PC list";
        list->item(int(row))->setSelected(true);
    }
}

void MainWindowFixture::Click(QAbstractButton *button)
{
    // click() does nothing on a disabled button, as a user's click would.
    button->click();
}

QString MainWindowFixture::StatusText() const
{
    return form->StatusMessage->text();
}

QString MainWindowFixture::CountText() const
{
    return form->StatusCount->text();
}

QString MainWindowFixture::LogText() const
{
    return windows.FormStatus ? windows.FormStatus->MemoStatus->toPlainText() : QString();
}

bool MainWindowFixture::WaitUntil(const std::function<bool()> &done)
{
    QDeadlineTimer deadline(20000);
    QTimer wake; // wakes the blocked loop now and then to look again
    wake.start(50);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
    return done();
}

bool MainWindowFixture::WaitUntilIdle()
{
    return WaitUntil([this] {
        const TFtpState state = form->Session().FTPCLI.State();
        return state == ftpReady || state == ftpNotConnected;
    });
}
