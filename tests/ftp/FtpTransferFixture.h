#pragma once
// The scripted-peer fixture of the engine's data-side tests: a client logged in to the
// scripted peer, with its displays, listing lines, progress and request ends recorded.
#include "ftp/FtpClient.h"
#include "support/FtpScriptData.h"
#include "support/FtpScriptPeer.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

inline void Pump(int ms = 50)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

inline QByteArray Pattern(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + i / 7) & 0xFF);
    return bytes;
}

inline QByteArray ReadAll(const std::string &path)
{
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

inline void WriteAll(const std::string &path, const QByteArray &bytes)
{
    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// Whether this process still holds the file open: the engine must close its local file at
// every end of a transfer.
inline bool HeldOpen(const std::string &path)
{
    const QString target = QFileInfo(QString::fromStdString(path)).canonicalFilePath();
    const QDir fds("/proc/self/fd");
    for (const QFileInfo &fd : fds.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot))
        if (fd.symLinkTarget() == target)
            return true;
    return false;
}

class FtpTransfer : public testing::Test {
protected:
    void SetUp() override
    {
        cli.SetHostName("127.0.0.1");
        cli.SetPort(peer.PortText().toStdString());
        cli.SetUserName("u");
        cli.SetPassWord("p");
        cli.SetTimeout(5);
        cli.OnDisplay = [this](TCustomFtpCli *, std::string &m) { display.push_back(m); };
        cli.OnDisplayFile = [this](TCustomFtpCli *, std::string &m) { lines.push_back(m); };
        cli.OnProgress = [this](TCustomFtpCli *, qint64 count, bool &) { progress.push_back(count); };
        cli.OnRequestDone = [this](TCustomFtpCli *, TFtpRequest rq, int err) { done.push_back({rq, err}); };
        peer.Send("220 hi\r\n").Reply("USER u", "331 pw\r\n").Reply("PASS p", "230 ok\r\n");
        ASSERT_TRUE(cli.Connect()) << cli.ErrorMessage();
        ASSERT_TRUE(peer.WaitFinished());
    }

    std::string Local(const char *name) const { return dir.filePath(name).toStdString(); }

    void DataStep(bool passive, const QByteArray &pasvAddress = "127,0,0,1")
    {
        cli.SetPassive(passive);
        if (passive)
            data.ExpectPasv(pasvAddress);
        else
            data.ExpectPort();
    }

    int StatsLines() const
    {
        return int(std::count_if(display.begin(), display.end(), [](const std::string &m) {
            return m.find(" bytes received/sent in ") != std::string::npos;
        }));
    }
    bool Displayed(const std::string &m) const
    {
        return std::find(display.begin(), display.end(), m) != display.end();
    }

    QTemporaryDir dir;
    FtpScriptPeer peer;
    FtpScriptData data{peer};
    TFtpClient cli;
    std::vector<std::string> display;
    std::vector<std::string> lines;
    std::vector<qint64> progress;
    std::vector<std::pair<TFtpRequest, int>> done;
};
