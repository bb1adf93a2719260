#pragma once
// The extra connections of a batch: logged-in sessions to the browsing session's host, opened
// with a copy of its settings (host, port, login and password, proxy, encryption, data
// connection mode), that take files from the batch's list while the browsing session moves
// its own. Everything here runs on the engine's asynchronous requests and OnRequestDone: no
// synchronous operation, no loop of its own. A connection with nothing left to take stays
// logged in for the next batch and is closed after an idle minute.
#include "session/BatchWork.h"
#include "session/LogSink.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

class TFtpClient;
class TCustomFtpCli;

class TBatchConnections : public QObject {
    Q_OBJECT
public:
    static constexpr int IdleCloseMs = 60000;       // an unused connection's last minute

    // browsing: the session whose settings the connections copy; log: where their lines go
    // (each with the connection's own prefix, "[2] " for the first extra one).
    TBatchConnections(TFtpClient &browsing, LogSink &log);
    ~TBatchConnections() override;                  // closes every connection without QUIT

    // Takes up a batch's files with `count` connections besides the browsing one (opened as
    // needed; open ones to another host or user are closed first). A connection lost during a
    // file is opened again up to `retries` times for it (RetryPauseMs before each), and the
    // file goes on.
    void Serve(TBatchWork &work, int count, int retries);
    // The batch's own walk is over: no new file is taken once the running ones end, and
    // the work is let go of then (Idle).
    void Finish();
    bool Busy() const;                              // a connection still holds a file of the batch
    void Abort();                                   // Cancel: every transfer ends at once, parts kept
    void CloseAll();                                // QUIT on every open connection (the session ended)
    int OpenCount() const;                          // connections logged in now

Q_SIGNALS:
    void Idle();                                    // Finish was called and no file is out any more

private:
    struct TLane;                                   // one connection and the file it moves
    void OpenLane(TLane &lane);                     // copy the settings, ConnectAsync
    void RequestDone(TLane &lane, int error);       // every request of a lane ends here
    void TakeNext(TLane &lane);                     // the next file, or idle
    void SetModeThenStart(TLane &lane);             // TYPE when the file's mode differs, then the transfer
    void StartTransfer(TLane &lane);                // RETR/REST+RETR or STOR for lane.Job
    void EndFile(TLane &lane, bool ok);             // the file back to the batch
    bool RetryLater(TLane &lane);                   // lost with a file: reopen after a pause, if tries are left
    void Resume(TLane &lane);                       // logged in again: the file goes on
    void Retire(TLane &lane, const std::string &why); // the lane leaves this batch
    void CheckIdle();                               // Idle once nothing is out after Finish
    bool SameSite(const TLane &lane) const;         // its settings still match the browsing session's

    TFtpClient &browsing_;
    LogSink &log_;
    TBatchWork *work_ = nullptr;                    // the batch being served, if any
    bool finishing_ = false;                        // the batch's walk is over
    int retries_ = 0;                               // reopenings allowed per file
    std::string trusted_;                           // the browsing session's certificate fingerprint, if encrypted
    std::vector<std::unique_ptr<TLane>> lanes_;     // extra connections, numbered from 2
};
