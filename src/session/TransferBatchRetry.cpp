// A batch that loses its browsing session opens it again: a growing pause before each try,
// Retries tries at most, and the interrupted file goes on (a binary download from its part).
#include "session/TransferBatch.h"

#include "ftp/FtpClient.h"
#include "session/DownloadTarget.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <stdexcept>

int RetryPauseMs(int attempt)
{
    return std::min(60000, 1000 << std::clamp(attempt - 1, 0, 6));
}

bool TTransferBatch::MoveOnMain(TBatchJob &job)
{
    if (job.Download)
        return Fetch(job);
    client_.SetLocalFileName(job.LocalName);
    client_.SetHostFileName(job.HostName);
    return client_.Put();
}

bool TTransferBatch::SessionLost() const
{
    return startedConnected_ && !gaveUp_ && !window_.IsConnected() && !window_.Cancelled();
}

bool TTransferBatch::ReopenSession(const std::string &during, int attempt)
{
    const int pause = RetryPauseMs(attempt);
    window_.Log(1, "connection lost" + (during.empty() ? std::string() : " during " + during) + ": reconnecting in " +
                       std::to_string(pause / 1000) + " s (" + std::to_string(attempt) + " of " +
                       std::to_string(window_.CurrentGeneralSettings().Retries) + ")");
    Pause(pause);
    if (window_.Cancelled() || !window_.ReconnectSession())
        return false;
    // A new session starts in its default representation type.
    switcher_ = TransferModeSwitcher{};
    return true;
}

void TTransferBatch::RecoverSession()
{
    for (int attempt = 1; SessionLost() && attempt <= window_.CurrentGeneralSettings().Retries; ++attempt)
        ReopenSession({}, attempt);
    gaveUp_ = gaveUp_ || SessionLost();
}

void TTransferBatch::Pause(int ms)
{
    // Waits in the loop as the batch's transfers do, so Cancel and the other connections stay live.
    QEventLoop loop;
    QElapsedTimer clock;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (clock.elapsed() >= ms || window_.Cancelled())
            loop.quit();
    });
    clock.start();
    tick.start(std::min(ms, 100));
    loop.exec();
}

void TTransferBatch::PrepareRetry(TBatchJob &job, LogSink &log)
{
    if (!job.Download || !job.Target)
        return; // a store sends the whole file again
    // A restart offset in ASCII is not portable: only a binary part is continued.
    job.ResumeAt = job.Mode == TransferMode::Binary ? std::max<qint64>(job.Target->Size(), 0) : 0;
    std::string error;
    if (job.ResumeAt == 0 && !StartOver(job, error))
        throw std::runtime_error(error);
    if (job.ResumeAt > 0)
        log.Log(1, "resuming " + job.HostName + " at " + std::to_string(job.ResumeAt) + " bytes");
}
