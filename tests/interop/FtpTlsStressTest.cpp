// Many large FTP-over-TLS transfers against the NonStop-style server and vsftpd, in both data
// connection modes, with the processor loaded and a reader slower than the server: the
// server's end of a data connection then arrives while decrypted bytes still wait, which
// once made the receive loop spin for ever at 99 %. A hang never returns to the test, so a
// watchdog thread turns it into a failure of the test program within a bounded time.
#include "ftp/FtpClient.h"
#include "support/FtpServers.h"
#include "support/TlsCerts.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

using namespace zarvel::test;

namespace {

constexpr qint64 kMiB = 1024 * 1024;
#if defined(__SANITIZE_ADDRESS__)
constexpr qint64 kFileBytes = 16 * kMiB;      // the sanitizers' build runs several times slower
#else
constexpr qint64 kFileBytes = 64 * kMiB;
#endif
constexpr int kDownloads = 4, kUploads = 2;   // per server and mode

// Ends the test program when the transfer it watches runs past its limit.
class HangWatchdog {
public:
    explicit HangWatchdog(std::chrono::seconds limit) : limit_(limit), thread_([this] { Run(); }) {}
    ~HangWatchdog()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    void Watch(const std::string &what)        // starts the clock for this transfer
    {
        std::lock_guard<std::mutex> lock(mutex_);
        what_ = what;
        deadline_ = std::chrono::steady_clock::now() + limit_;
        wake_.notify_one();
    }

private:
    void Run()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stop_) {
            if (wake_.wait_until(lock, deadline_) == std::cv_status::timeout && !stop_ &&
                std::chrono::steady_clock::now() >= deadline_) {
                std::fprintf(stderr, "HUNG: %s did not end within %lld s\n", what_.c_str(),
                             static_cast<long long>(limit_.count()));
                std::fflush(stderr);
                std::_Exit(1);
            }
        }
    }

    std::chrono::seconds limit_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::string what_ = "setting up";
    std::chrono::steady_clock::time_point deadline_ = std::chrono::steady_clock::now() + limit_;
    std::thread thread_;                        // last: starts with everything above in place
};

// Busy threads beside the transfers, as a loaded desktop has.
class ProcessorLoad {
public:
    explicit ProcessorLoad(int threads)
    {
        for (int i = 0; i < threads; ++i)
            threads_.emplace_back([this] {
                unsigned long spin = 0;
                while (!stop_.load(std::memory_order_relaxed))
                    ++spin;
                sink_ += spin;
            });
    }
    ~ProcessorLoad()
    {
        stop_ = true;
        for (std::thread &t : threads_)
            t.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::atomic<unsigned long> sink_{0};
    std::vector<std::thread> threads_;
};

// A sparse file of `size` bytes whose last bytes are a marker: a cut tail shows at once.
QByteArray Marker(int i) { return "end of file " + QByteArray::number(i) + "\n"; }

bool WriteSparse(const std::string &path, qint64 size, const QByteArray &marker)
{
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.resize(size - marker.size()) &&
           f.seek(size - marker.size()) && f.write(marker) == marker.size() &&
           f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
}

// Size and marker of a file; "<missing>" and the like when it is not what was sent.
std::string Shape(const std::string &path, int markerSize)
{
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly))
        return "<missing " + path + ">";
    if (!f.seek(f.size() - markerSize))
        return "<short " + std::to_string(f.size()) + ">";
    return std::to_string(f.size()) + " " + f.read(markerSize).toStdString();
}

struct StressSetup {
    FtpServerKind Server;
    bool Passive;
};

class TlsStress : public testing::TestWithParam<StressSetup> {};

TEST_P(TlsStress, largeDownloadsAndUploadsEndWhileTheProcessorIsBusy)
{
    HangWatchdog watchdog(std::chrono::seconds(90));
    TrustTestAuthority(true);
    auto server = StartFtpServer(GetParam().Server, "server");
    ASSERT_TRUE(server);
    const bool guardian = GetParam().Server == FtpServerKind::Guardian;
    const std::string folder = server->Root() + (guardian ? "/$DATA01/ZDEMO" : "");
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
    QTemporaryDir local;
    ProcessorLoad load(2);

    TFtpClient cli;
    cli.SetHostName(server->Host());
    cli.SetPort(server->PortText());
    cli.SetUserName(server->User());
    cli.SetPassWord(server->Password());
    cli.SetTimeout(60);
    cli.SetEncryption(ftpEncryptRequire);
    // A reader slower than the server: its close comes while much is still to decrypt.
    int reports = 0;
    cli.OnProgress = [&reports](TCustomFtpCli *, qint64, bool &) {
        if (++reports % 32 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    watchdog.Watch("the login");
    ASSERT_TRUE(cli.Connect()) << cli.ErrorMessage() << "\n" << server->Log();
    ASSERT_TRUE(cli.DataProtected());
    cli.SetPassive(GetParam().Passive);
    cli.SetBinary(true);
    ASSERT_TRUE(cli.TypeSet()) << cli.ErrorMessage();

    // Sizes that differ by odd amounts, so each transfer ends at another place in a record.
    auto size = [](int i) { return kFileBytes + qint64(i) * 40961; };
    for (int i = 0; i < kDownloads; ++i) {
        const std::string name = "BIGD" + std::to_string(i), back = local.filePath(QString::fromStdString(name)).toStdString();
        ASSERT_TRUE(WriteSparse(folder + "/" + name, size(i), Marker(i)));
        watchdog.Watch("download " + name);
        cli.SetHostFileName(name);
        cli.SetLocalFileName(back);
        ASSERT_TRUE(cli.Get()) << name << ": " << cli.ErrorMessage();
        EXPECT_EQ(Shape(back, Marker(i).size()), std::to_string(size(i)) + " " + Marker(i).toStdString());
        QFile::remove(QString::fromStdString(back));
    }
    for (int i = 0; i < kUploads; ++i) {
        const std::string name = "BIGU" + std::to_string(i), source = local.filePath(QString::fromStdString(name)).toStdString();
        ASSERT_TRUE(WriteSparse(source, size(i), Marker(i)));
        watchdog.Watch("upload " + name);
        cli.SetLocalFileName(source);
        // The NonStop-style server's default extents hold about 56 MB: a bigger file names its own.
        cli.SetHostFileName(GetParam().Server == FtpServerKind::Guardian ? name + ",0,128,128,978" : name);
        ASSERT_TRUE(cli.Put()) << name << ": " << cli.ErrorMessage();
        EXPECT_EQ(Shape(folder + "/" + name, Marker(i).size()), std::to_string(size(i)) + " " + Marker(i).toStdString());
        QFile::remove(QString::fromStdString(source));
    }
    watchdog.Watch("QUIT");
    EXPECT_TRUE(cli.Quit());
}

INSTANTIATE_TEST_SUITE_P(Servers, TlsStress,
                         testing::Values(StressSetup{FtpServerKind::Guardian, true}, StressSetup{FtpServerKind::Guardian, false},
                                         StressSetup{FtpServerKind::Vsftpd, true}, StressSetup{FtpServerKind::Vsftpd, false}),
                         [](const testing::TestParamInfo<StressSetup> &i) {
                             return std::string(i.param.Server == FtpServerKind::Guardian ? "guardian" : "vsftpd") +
                                    (i.param.Passive ? "_passive" : "_active");
                         });

} // namespace
