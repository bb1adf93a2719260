#pragma once
// Progress of one transfer as the progress dialog shows it: the percentage, the rate and the
// count text, and the reporter that turns the FTP client's progress events into dialog
// updates. The engine reports every few kilobytes; the reporter keeps the count and the rate
// exact but repaints the dialog at most every RepaintInterval, so watching costs no speed.
#include "net/CoarseClock.h"

#include <QtGlobal>

#include <chrono>
#include <string>

// What a batch and the progress reporter see of the "File Transfer" dialog.
class TransferProgressView {
public:
    virtual ~TransferProgressView() = default;
    virtual void SetFileInfo(const std::string &text, qint64 total) = 0; // file line and size; shows 0 moved
    virtual void ShowProgress(qint64 count, const std::string &text) = 0; // bar, percentage and count text
    virtual bool IsShown() const = 0;                                     // visible on screen
    virtual void ShowDialog() = 0;                                        // show, not modal
    virtual void HideDialog() = 0;                                        // hide without aborting anything
    virtual void ShowBatchProgress(const std::string &text) = 0;          // the batch's line (BatchProgressText)
};

// count * 100 / total, truncated; 100 when the total is 0 or less (an empty file). Exact for
// every 64-bit count and total; above 100 when more arrived than announced.
qint64 ProgressPercent(qint64 count, qint64 total);

// "17920 (12.35 kbps)": the count and the rate in bytes per millisecond (so the unit shown as
// kbps is thousands of bytes per second), two decimals with a period whatever the locale.
std::string ProgressStatusText(qint64 count, double bytesPerMs);

// "1:05" or "2:03:07": whole seconds to move `bytes` at the rate, rounded up; empty while no
// rate is known (0 or less).
std::string RemainingTimeText(qint64 bytes, double bytesPerMs);

// The batch's line: "File 2 of 5, 1024 of 4096 bytes", then ", 0:03 remaining" once a rate
// is known.
std::string BatchProgressText(int fileNumber, int fileCount, qint64 done, qint64 total, double bytesPerMs);

// The rate of the current file, sampled at most once a second, and the repaint throttle.
class TProgressMeter {
public:
    using Clock = TCoarseClock;                   // read for every block of a transfer
    static constexpr std::chrono::milliseconds RepaintInterval{40};

    void ResetRate() { rate_ = 0; }               // at the start of a batch: 0.00 until sampled
    void StartFile(Clock::time_point now);        // before each file: new sample, count 0
    // One progress event. The rate becomes the bytes since the last sample over the time since
    // it once more than a second has passed; until then the previous rate stands (the previous
    // file's during the first second of a file). True when the dialog is due for a repaint.
    bool Sample(qint64 count, Clock::time_point now);
    void MarkShown(Clock::time_point now) { lastShown_ = now; dirty_ = false; } // a repaint happened
    bool HasUnshownCount() const { return dirty_; } // a count arrived after the last repaint
    double Rate() const { return rate_; }         // bytes per millisecond

private:
    Clock::time_point sampleStart_{};             // time of the last rate sample
    qint64 sampleCount_ = 0;                      // count at the last rate sample
    double rate_ = 0;                             // bytes per millisecond over the last sample interval
    Clock::time_point lastShown_{};               // time of the last repaint
    bool dirty_ = false;                          // counts arrived since the last repaint
};

// Feeds the dialog from the FTP client's progress events (FTPCLIProgress) and the batch.
class TProgressReporter {
public:
    explicit TProgressReporter(TransferProgressView &view) : view_(view) {}

    // The dialog was just shown for a batch of this many files and bytes (listed sizes).
    void StartBatch(int fileCount = 0, qint64 totalBytes = 0);
    // The batch takes up its next file (moved, failed or skipped alike), of this listed size.
    void NextFile(qint64 size);
    void OtherFileTaken();                        // another connection took the batch's next file
    void OtherFileDone(qint64 size);              // and ended it (moved or failed), of this listed size
    void StartFile();                             // the batch gave the dialog a new file line
    void Report(qint64 count);                    // one progress event of the running transfer
    void Flush();                                 // show the last count if a repaint was skipped

private:
    void Show(TProgressMeter::Clock::time_point now);
    void ShowBatch();                             // the batch's line with the count so far

    TransferProgressView &view_;                  // the dialog
    TProgressMeter meter_;                        // rate and throttle
    qint64 count_ = 0;                            // count of the last event
    int fileCount_ = 0;                           // files in the batch
    int fileNumber_ = 0;                          // the file under way, from 1
    qint64 totalBytes_ = 0;                       // the batch's listed bytes
    qint64 doneBytes_ = 0;                        // listed bytes of the files ended before this one
    qint64 fileSize_ = 0;                         // listed size of this file
};
