#include "session/BatchConnections.h"

#include "ftp/FtpClient.h"
#include "net/TlsStage.h"
#include "session/DownloadTarget.h"

#include <algorithm>
#include <exception>
#include <optional>

// One extra connection: its client, where it stands, and the file it moves.
struct TBatchConnections::TLane : LogSink {
    enum TStep { Closed, Opening, Entering, Ready, Typing, Moving, Quitting };

    TLane(TBatchConnections &owner, int number) : Owner(owner), Prefix("[" + std::to_string(number) + "] ") {}
    void Log(int level, const std::string &text) override { Owner.log_.Log(level, Prefix + text); }

    TBatchConnections &Owner;
    std::string Prefix;                        // before each of its log lines
    TFtpClient Client;                         // driven through its asynchronous requests only
    TStep Step = Closed;                       // the request it waits for
    bool Serving = false;                      // takes files of the running batch
    std::optional<TransferMode> Mode;          // TYPE in force on this connection
    std::string Dir;                           // the subvolume it is in
    std::optional<TBatchJob> Job;              // the file it moves
    bool Started = false;                      // the batch has named and opened Job (StartJob)
    int Attempts = 0;                          // reopenings for Job so far
    QTimer Retry;                              // the pause before a reopening
    QTimer IdleClose;                          // an unused connection's last minute
    QTimer Silence;                            // no answer for the browsing session's Timeout: cut
};

TBatchConnections::TBatchConnections(TFtpClient &browsing, LogSink &log) : browsing_(browsing), log_(log) {}

TBatchConnections::~TBatchConnections()
{
    for (auto &lane : lanes_)
        lane->Client.DropHandlers();
}

void TBatchConnections::Serve(TBatchWork &work, int count, int retries)
{
    work_ = &work;
    retries_ = retries;
    // Kept apart from the browsing client: a reopening may come while that one is closed.
    trusted_ = browsing_.Encrypted() ? browsing_.TlsPeer().Fingerprint : std::string();
    finishing_ = false;
    while (int(lanes_.size()) < count) {
        auto lane = std::make_unique<TLane>(*this, int(lanes_.size()) + 2);
        TLane *raw = lane.get();
        raw->IdleClose.setSingleShot(true);
        connect(&raw->IdleClose, &QTimer::timeout, this, [this, raw] {
            if (!raw->Serving && raw->Step == TLane::Ready) {
                raw->Step = TLane::Quitting;
                raw->Client.QuitAsync();
            }
        });
        raw->Retry.setSingleShot(true);
        connect(&raw->Retry, &QTimer::timeout, this, [this, raw] { OpenLane(*raw); });
        raw->Silence.setSingleShot(true);
        connect(&raw->Silence, &QTimer::timeout, this, [raw] {
            raw->Log(0, "no answer for " + std::to_string(raw->Client.Timeout()) + " seconds: connection closed");
            raw->Client.AbortAsync();
        });
        lanes_.push_back(std::move(lane));
    }
    for (int i = 0; i < count; ++i) {
        TLane &lane = *lanes_[std::size_t(i)];
        lane.Serving = true;
        lane.IdleClose.stop();
        if (lane.Step == TLane::Ready && !SameSite(lane)) {
            lane.Client.AbortAsync();
            lane.Step = TLane::Closed;
        }
        if (lane.Step == TLane::Closed || !lane.Client.GetConnected())
            OpenLane(lane);
        else if (lane.Step == TLane::Ready)
            TakeNext(lane);
    }
}

void TBatchConnections::Finish()
{
    finishing_ = true;
    CheckIdle();
}

bool TBatchConnections::Busy() const
{
    for (const auto &lane : lanes_)
        if (lane->Job)
            return true;
    return false;
}

void TBatchConnections::Abort()
{
    for (auto &lane : lanes_) {
        lane->Serving = false;
        if (lane->Retry.isActive()) {
            lane->Retry.stop();
            EndFile(*lane, false);
        } else if (lane->Step != TLane::Closed) {
            lane->Client.AbortAsync();
        }
    }
}

void TBatchConnections::CloseAll()
{
    for (auto &lane : lanes_) {
        lane->Serving = false;
        lane->IdleClose.stop();
        if (lane->Step == TLane::Ready) {
            lane->Step = TLane::Quitting;
            lane->Client.QuitAsync();
        } else if (lane->Step != TLane::Closed) {
            lane->Client.AbortAsync();
        }
    }
}

int TBatchConnections::OpenCount() const
{
    int open = 0;
    for (const auto &lane : lanes_)
        open += lane->Step != TLane::Closed && lane->Client.GetConnected();
    return open;
}

bool TBatchConnections::SameSite(const TLane &lane) const
{
    const TFtpClient &a = lane.Client;
    return a.HostName() == browsing_.HostName() && a.Port() == browsing_.Port() &&
           a.UserName() == browsing_.UserName() && a.PassWord() == browsing_.PassWord() &&
           a.ConnectionType() == browsing_.ConnectionType() && a.ProxyServer() == browsing_.ProxyServer() &&
           a.Encryption() == browsing_.Encryption() && a.Passive() == browsing_.Passive();
}

void TBatchConnections::OpenLane(TLane &lane)
{
    TFtpClient &c = lane.Client;
    c.SetHostName(browsing_.HostName());
    c.SetPort(browsing_.Port());
    c.SetUserName(browsing_.UserName());
    c.SetPassWord(browsing_.PassWord());
    c.SetConnectionType(browsing_.ConnectionType());
    c.SetProxyServer(browsing_.ProxyServer());
    c.SetPassive(browsing_.Passive());
    c.SetEncryption(browsing_.Encryption());
    c.SetConnectTimeout(browsing_.ConnectTimeout());
    c.SetTimeout(browsing_.Timeout());
    c.SetOptions(browsing_.Options());
    c.SetShareMode(browsing_.ShareMode());
    c.OnDisplay = [&lane](TCustomFtpCli *, std::string &text) { lane.Log(2, text); };
    c.OnTlsNote = [&lane](TCustomFtpCli *, int level, const std::string &text) { lane.Log(level, text); };
    // The user trusted the browsing session's certificate: the same one, and only that, is
    // taken here without asking again.
    c.OnVerifyCertificate = [this](TCustomFtpCli *, const TTlsPeerInfo &peer, bool &accept) {
        accept = !trusted_.empty() && peer.Fingerprint == trusted_;
    };
    c.OnProgress = [&lane](TCustomFtpCli *, qint64, bool &) { lane.Silence.start(); };
    c.OnRequestDone = [this, &lane](TCustomFtpCli *, TFtpRequest, int error) { RequestDone(lane, error); };
    lane.Mode.reset();
    lane.Dir.clear();
    lane.Step = TLane::Opening;
    lane.Silence.start(std::max(c.Timeout(), 1) * 1000);
    c.ConnectAsync();
}

void TBatchConnections::RequestDone(TLane &lane, int error)
{
    lane.Silence.stop();
    const TLane::TStep step = lane.Step;
    try {
        switch (step) {
        case TLane::Opening:
        case TLane::Entering:
            if (error != 0) {
                lane.Step = TLane::Closed;
                lane.Client.AbortAsync();
                if (lane.Job) { // reopening it failed: another try, or the file fails
                    if (!RetryLater(lane))
                        EndFile(lane, false);
                    return;
                }
                // 421 or 530 for a second login: the batch goes on with what it has.
                Retire(lane, "no second connection: " + lane.Client.ErrorMessage());
                return;
            }
            if (step == TLane::Opening && !browsing_.ReplyDirectory().empty()) {
                lane.Step = TLane::Entering;
                lane.Client.SetHostDirName(browsing_.ReplyDirectory());
                lane.Silence.start();
                lane.Client.CwdAsync();
                return;
            }
            lane.Dir = browsing_.ReplyDirectory();
            lane.Step = TLane::Ready;
            if (lane.Job)
                Resume(lane);
            else
                TakeNext(lane);
            return;
        case TLane::Typing:
            if (error != 0) {
                lane.Mode.reset();
                EndFile(lane, false);
                return;
            }
            lane.Mode = lane.Job->Mode;
            StartTransfer(lane);
            return;
        case TLane::Moving:
            // Only a refused REST starts over; any other failure ends this file.
            if (error != 0 && lane.Job->ResumeAt > 0 && lane.Client.CurrentStep() == ftpFctRest &&
                lane.Client.GetConnected()) {
                lane.Log(1, "the server refused to resume " + lane.Job->HostName + ": starting over");
                std::string why;
                if (work_->StartOver(*lane.Job, why)) {
                    StartTransfer(lane);
                    return;
                }
            }
            EndFile(lane, error == 0);
            return;
        case TLane::Quitting:
        case TLane::Closed:
        case TLane::Ready:
            lane.Step = lane.Client.GetConnected() ? TLane::Ready : TLane::Closed;
            return;
        }
    } catch (const std::exception &e) {
        lane.Log(0, e.what());
        if (lane.Job)
            EndFile(lane, false);
    }
}

void TBatchConnections::TakeNext(TLane &lane)
{
    if (!lane.Serving || !work_ || finishing_) {
        lane.Serving = false;
        lane.IdleClose.start(IdleCloseMs);
        CheckIdle();
        return;
    }
    lane.Job = work_->TakeJob();
    lane.Started = false;
    lane.Attempts = 0;
    if (!lane.Job) {
        lane.Serving = false;
        lane.IdleClose.start(IdleCloseMs);
        CheckIdle();
        return;
    }
    SetModeThenStart(lane);
}

void TBatchConnections::Resume(TLane &lane)
{
    if (lane.Started)
        work_->PrepareRetry(*lane.Job, lane);
    SetModeThenStart(lane);
}

void TBatchConnections::SetModeThenStart(TLane &lane)
{
    if (lane.Mode != lane.Job->Mode) {
        lane.Step = TLane::Typing;
        lane.Client.SetBinary(lane.Job->Mode == TransferMode::Binary);
        lane.Silence.start();
        lane.Client.TypeSetAsync();
        return;
    }
    StartTransfer(lane);
}

void TBatchConnections::StartTransfer(TLane &lane)
{
    TBatchJob &job = *lane.Job;
    if (!lane.Started) {
        if (!work_->StartJob(job, lane)) {
            lane.Job.reset();
            lane.Step = TLane::Ready;
            TakeNext(lane);
            return;
        }
        lane.Started = true;
    }
    lane.Step = TLane::Moving;
    TFtpClient &c = lane.Client;
    c.SetHostFileName(job.HostName);
    c.SetLocalFileName(job.LocalName);
    c.SetConvertLineEnds(browsing_.ConvertLineEnds()); // the batch's rule, set on the browsing client
    lane.Silence.start();
    if (!job.Download) {
        c.PutAsync();
        return;
    }
    c.SetLocalFileHandle(job.Target->Handle());
    if (job.ResumeAt > 0) {
        c.SetRestartOffset(job.ResumeAt);
        c.RestGetAsync();
    } else {
        c.GetAsync();
    }
}

bool TBatchConnections::RetryLater(TLane &lane)
{
    if (!lane.Serving || !work_ || lane.Attempts >= retries_)
        return false;
    ++lane.Attempts;
    const int pause = RetryPauseMs(lane.Attempts);
    lane.Log(1, "connection lost during " + lane.Job->HostName + ": reconnecting in " + std::to_string(pause / 1000) +
                    " s (" + std::to_string(lane.Attempts) + " of " + std::to_string(retries_) + ")");
    lane.Step = TLane::Closed;
    lane.Client.SetLocalFileHandle(-1);
    lane.Retry.start(pause);
    return true;
}

void TBatchConnections::EndFile(TLane &lane, bool ok)
{
    if (!ok && !lane.Client.GetConnected() && RetryLater(lane))
        return;
    TBatchJob job = std::move(*lane.Job);
    lane.Job.reset();
    lane.Client.SetLocalFileHandle(-1);
    const bool connected = lane.Client.GetConnected();
    if (work_)
        work_->EndJob(job, ok, connected, lane.Client.ErrorMessage(), lane);
    if (!connected) {
        lane.Step = TLane::Closed;
        Retire(lane, "connection lost");
        return;
    }
    lane.Step = TLane::Ready;
    TakeNext(lane);
}

void TBatchConnections::Retire(TLane &lane, const std::string &why)
{
    if (lane.Serving) {
        int serving = 0;
        for (const auto &other : lanes_)
            serving += other->Serving && other.get() != &lane;
        lane.Log(1, why + "; the batch goes on with " + std::to_string(serving + 1) + " connection(s)");
    }
    lane.Serving = false;
    CheckIdle();
}

void TBatchConnections::CheckIdle()
{
    if (!finishing_ || Busy() || !work_)
        return;
    for (const auto &lane : lanes_)
        if (lane->Serving && (lane->Step == TLane::Opening || lane->Step == TLane::Entering))
            lane->Serving = false;
    work_ = nullptr;
    Q_EMIT Idle();
}
