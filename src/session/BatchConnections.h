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
    // needed; open ones to another host or user are closed first).
    void Serve(TBatchWork &work, int count);
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
    void StartTransfer(TLane &lane);                // RETR/REST+RETR or STOR for lane.Job
    void EndFile(TLane &lane, bool ok);             // the file back to the batch
    void Retire(TLane &lane, const std::string &why); // the lane leaves this batch
    void CheckIdle();                               // Idle once nothing is out after Finish
    bool SameSite(const TLane &lane) const;         // its settings still match the browsing session's

    TFtpClient &browsing_;
    LogSink &log_;
    TBatchWork *work_ = nullptr;                    // the batch being served, if any
    bool finishing_ = false;                        // the batch's walk is over
    std::vector<std::unique_ptr<TLane>> lanes_;     // extra connections, numbered from 2
};
