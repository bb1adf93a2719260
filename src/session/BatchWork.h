#pragma once
// A batch's files as its connections take them: one shared list, each file taken once by
// whichever connection is free, and every outcome counted by the batch, so the totals, the
// summary and the markers are those of one batch however many connections moved its files.
#include "session/LogSink.h"
#include "session/PartOrigin.h"
#include "session/TransferRules.h"

#include <QtGlobal>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

class TDownloadTarget;

// Milliseconds before the attempt-th reopening (from 1) of a connection lost during a batch:
// one second, doubled each time, at most a minute.
int RetryPauseMs(int attempt);

// One file of a batch on its way.
struct TBatchJob {
    std::size_t Index = 0;                     // position in the batch
    bool Download = true;                      // else an upload
    bool Main = false;                         // on the browsing session's client, which the dialog follows
    TransferMode Mode = TransferMode::Binary;  // representation type it goes in
    std::string HostName;                      // the name on the host
    std::string LocalName;                     // upload: the PC path; download: the partial file
    std::string PcName;                        // download: the PC name it is saved under
    bool Fresh = false;                        // download: overwrites the PC file, a kept part emptied
    qint64 Size = 0;                           // listed (download) or PC (upload) size
    qint64 ResumeAt = 0;                       // download: the kept part it goes on from (0: whole)
    TPartOrigin Origin;                        // download: the file a kept part of it comes from
    std::unique_ptr<TDownloadTarget> Target;   // download: where it is written
};

// What a connection of a batch asks of the batch.
class TBatchWork {
public:
    virtual ~TBatchWork() = default;
    // The next file nobody took yet, with its mode; none when the list is done or the batch
    // stopped.
    virtual std::optional<TBatchJob> TakeJob() = 0;
    // Names, checks and local file of a taken file; false when it failed here already
    // (counted, and logged through `log`).
    virtual bool StartJob(TBatchJob &job, LogSink &log) = 0;
    // The server refused to resume: the kept part is emptied for a whole transfer.
    virtual bool StartOver(TBatchJob &job, std::string &error) = 0;
    // Its connection was lost and opened again: a binary download goes on from its part,
    // anything else starts over. Throws when the part cannot be emptied.
    virtual void PrepareRetry(TBatchJob &job, LogSink &log) = 0;
    // The transfer ended: counted as the batch counts it. connected: the connection is still
    // open; error: its client's message.
    virtual void EndJob(TBatchJob &job, bool ok, bool connected, const std::string &error, LogSink &log) = 0;
};
