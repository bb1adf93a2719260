#pragma once
// The batch tests' stand-ins and fixture: a recording main window and progress dialog, and a
// batch against the NonStop-style server with a connected client and a private PC folder.
#include "ftp/FtpClient.h"
#include "session/FileExtents.h"
#include "session/TransferBatch.h"
#include "session/TransferProgress.h"
#include "support/FtpServers.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zarvel::test {

struct RecordingWindow : TransferBatchWindow {
    // Overwriting without a question, as before the question existed, unless a test asks.
    RecordingWindow() { settings.WhenFileExists = FileExistsRule::Overwrite; }
    bool connected = false;
    TransferOptions options;
    GeneralSettings settings;
    std::vector<std::pair<int, std::string>> lines;
    std::vector<BatchSound> sounds;
    std::vector<bool> enabled;
    int pcRefreshes = 0, listings = 0, clears = 0;

    bool IsConnected() const override { return connected; }
    TransferOptions CurrentTransferOptions() override { return options; }
    const GeneralSettings &CurrentGeneralSettings() override { return settings; }
    void ClearLogWindow() override { ++clears; }
    void SetMainWindowEnabled(bool on) override { enabled.push_back(on); }
    void RefreshPcFiles() override { ++pcRefreshes; }
    bool ListTandemFiles() override { ++listings; return connected; }
    void ShowErrorBox(const std::string &text) override { lines.emplace_back(-1, "box: " + text); }
    void PlaySound(BatchSound sound) override { sounds.push_back(sound); }
    void Log(int level, const std::string &text) override
    {
        lines.emplace_back(level, text);
        if (onLog)
            onLog(text);
    }
    std::function<void(const std::string &)> onLog; // what a user does when a line appears
    FileExistsReply AskFileExists(const FileExistsQuestion &question) override
    {
        ADD_FAILURE() << "unexpected question: " << question.Text;
        return {};
    }
    std::vector<FailureReport> reports;
    void ShowFailures(const FailureReport &report) override { reports.push_back(report); }
    bool Cancelled() const override { return cancelled; }
    bool ReconnectSession() override { return (connected = client && client->Connect()); }
    bool cancelled = false;
    TFtpClient *client = nullptr; // opened again when lost; none: a lost session stays lost

    std::string Summary() const { return lines.empty() ? "" : lines.back().second; }
    std::vector<std::string> AtLevel(int level) const
    {
        std::vector<std::string> out;
        for (const auto &[l, t] : lines)
            if (l == level)
                out.push_back(t);
        return out;
    }
};

struct RecordingDialog : TransferProgressView {
    bool shown = false;
    std::vector<std::pair<std::string, qint64>> files;
    std::vector<qint64> counts;
    std::function<void(qint64)> onProgress; // what a user does while the bar moves

    void SetFileInfo(const std::string &text, qint64 total) override { files.emplace_back(text, total); }
    void ShowProgress(qint64 count, const std::string &) override
    {
        counts.push_back(count);
        if (onProgress && count > 0)
            onProgress(count);
    }
    bool IsShown() const override { return shown; }
    void ShowDialog() override { shown = true; }
    void HideDialog() override { shown = false; }
    void ShowBatchProgress(const std::string &text) override { batch.push_back(text); }
    std::vector<std::string> batch;  // the batch's lines, in order
};

inline QByteArray Pattern(qint64 size)
{
    QByteArray bytes(size, '\0');
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xff);
    return bytes;
}

// A remote list line as the host lists it.
inline std::string Line(const std::string &name, int code, qint64 size)
{
    std::string line = name;
    line.resize(14, ' ');
    return line + std::to_string(code) + "  " + std::to_string(size) + " 08-Dec-26 01:00:00 100,  1 \"nnnn\"";
}

class TransferBatchTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pc.isValid());
        previous = QDir::currentPath();
        QDir::setCurrent(pc.path());
        server = StartFtpServer(ServerKind(), {}, false, ServerArgs());
        ASSERT_TRUE(server);
        cli.SetHostName(server->Host());
        cli.SetPort(server->PortText());
        cli.SetUserName(server->User());
        cli.SetPassWord(server->Password());
        cli.OnDisplay = [this](TCustomFtpCli *, std::string &m) {
            if (m.rfind("> TYPE", 0) == 0)
                types.push_back(m.substr(2));
            if (m.rfind("> REST", 0) == 0)
                rests.push_back(m.substr(2));
        };
        cli.OnProgress = [this](TCustomFtpCli *, qint64 count, bool &) { progress.Report(count); };
        cli.OnSessionClosed = [this](TCustomFtpCli *, int) { window.connected = false; };
        ASSERT_TRUE(cli.Connect()) << cli.ErrorMessage() << "\n" << server->Log();
        window.connected = true;
        window.settings.TouchFileBase = ".zarvel.xfer";
        window.settings.TouchDown = window.settings.TouchUp = true;
        window.settings.Retries = 0; // a lost session stays lost unless a test says otherwise
    }
    void TearDown() override { QDir::setCurrent(previous); }
    virtual FtpServerKind ServerKind() const { return FtpServerKind::Guardian; }
    virtual std::vector<std::string> ServerArgs() const { return {}; } // the Guardian server's extra options

    // Puts a file on the host with its file code, the way the host takes it: ",code" in the name.
    void Seed(const std::string &name, int code, const QByteArray &bytes)
    {
        const QString local = pc.filePath(".seed");
        QFile f(local);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        cli.SetBinary(true);
        ASSERT_TRUE(cli.TypeSet());
        cli.SetLocalFileName(local.toStdString());
        // Big files need extents of their own: the host's defaults hold about 56 MB.
        cli.SetHostFileName(HostNameWithExtents(name + "," + std::to_string(code), bytes.size(), TransferMode::Binary, false));
        ASSERT_TRUE(cli.Put()) << cli.ErrorMessage();
        QFile::remove(local);
    }
    static QByteArray Read(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    QByteArray Pc(const char *name) const { return Read(pc.filePath(name)); }
    QByteArray Host(const char *name) const
    {
        return Read(QString::fromStdString(server->Root()) + "/$DATA01/ZDEMO/" + name);
    }
    int HostCode(const char *name) const
    {
        const QByteArray catalog = Host(".catalog.json");
        return QJsonDocument::fromJson(catalog).object().value(name).toObject().value("code").toInt(-1);
    }
    QStringList PcEntries() const { return QDir(pc.path()).entryList(QDir::Files | QDir::Hidden); }
    bool MarkerExists(const char *suffix) const { return QFileInfo::exists(pc.filePath(QString(".zarvel.xfer") + suffix)); }

    QTemporaryDir pc;
    QString previous;
    std::unique_ptr<FtpServerProcess> server;
    TFtpClient cli;
    RecordingWindow window;
    RecordingDialog dialog;
    TProgressReporter progress{dialog};
    TTransferBatch batch{cli, window, dialog, progress};
    std::vector<std::string> types;
    std::vector<std::string> rests;
};

} // namespace zarvel::test
