#pragma once
// Download and upload batches: many files, one after another, each with its mode switch, its
// name rule and its own count, behind the progress dialog with Cancel. The windows are seen
// through TransferBatchWindow and TransferProgressView only, so batches run without a display.
#include "session/BatchWork.h"
#include "session/ConnectionSettings.h"
#include "session/DownloadCommits.h"
#include "session/FileExists.h"
#include "session/LogSink.h"
#include "session/PartOrigin.h"
#include "session/TransferRules.h"

#include <QtGlobal>

#include <cstddef>
#include <optional>
#include <map>
#include <set>
#include <string>
#include <vector>

class TBatchConnections;
class TDownloadTarget;
class TFtpClient;
class TProgressReporter;
class TransferProgressView;
class TBatchMemory;

// The two sounds of a batch's end.
enum class BatchSound { Confirmation, Warning };

// The end of a batch that failed, shown where the user looks (a dialog a screen reader reads).
struct FailureReport {
    std::string Title;              // "Failed downloads" or "Failed uploads"
    std::string Summary;            // the batch's summary line
    std::vector<std::string> Lines; // each failed file and why, in the batch's order
    std::string Status;             // the status bar afterwards: the summary and where to look
};

// What a batch needs of the main window.
class TransferBatchWindow : public LogSink {
public:
    virtual bool IsConnected() const = 0;                     // a session is open (cleared when it closes)
    virtual TransferOptions CurrentTransferOptions() = 0;     // the four transfer controls, read per file
    virtual const GeneralSettings &CurrentGeneralSettings() = 0; // log level, sounds, markers
    virtual void ClearLogWindow() = 0;                        // at the start of a batch with LogLevel 0
    virtual void SetMainWindowEnabled(bool on) = 0;           // off while the batch runs
    virtual void RefreshPcFiles() = 0;                        // re-read the PC file list
    virtual bool ListTandemFiles() = 0;                       // list the remote subvolume again
    virtual void ShowErrorBox(const std::string &text) = 0;   // the application's standard error box
    virtual void PlaySound(BatchSound sound) = 0;             // end-of-batch sound
    // The question about a file whose target exists; modal, answered before the file moves.
    virtual FileExistsReply AskFileExists(const FileExistsQuestion &question) = 0;
    // Lists the failed files at the end of a batch; modal.
    virtual void ShowFailures(const FailureReport &report) = 0;
    // The user cancelled the running batch: a session lost since is not opened again.
    virtual bool Cancelled() const = 0;
    // Opens the lost browsing session again (login, the subvolume it was in) without asking
    // anything; whether it is open.
    virtual bool ReconnectSession() = 0;
};

// Counts of a finished batch.
struct BatchResult {
    int Ok = 0;              // files moved
    int Failed = 0;          // files that failed
    int Skipped = 0;         // files left alone because their target exists
    std::vector<std::string> Failures; // "NAME: why" of each failed file, as logged
    bool Stopped = false;    // the batch ended early (lost session, cancel, refused type, exception)
};

// The batch runs its files on the browsing session's client, one after another, through the
// synchronous operations; given extra connections (TBatchConnections), those take files from
// the same list meanwhile, and the batch ends once the last of them is back.
class TTransferBatch : public TBatchWork {
public:
    TTransferBatch(TFtpClient &client, TransferBatchWindow &window, TransferProgressView &dialog,
                   TProgressReporter &progress, TBatchConnections *extras = nullptr);

    // Keeps each batch in `memory` from now on (TBatchMemory), so an unfinished one can be
    // finished later; none: nothing is kept.
    void RememberIn(TBatchMemory *memory) { memory_ = memory; }

    // Downloads the host files of these remote list lines, in order, into the current folder.
    BatchResult Download(const std::vector<std::string> &listingLines);
    // Uploads these PC paths (bare names in the current folder, or full paths) in order.
    BatchResult Upload(const std::vector<std::string> &paths);

    // TBatchWork: what the extra connections take and give back.
    std::optional<TBatchJob> TakeJob() override;
    bool StartJob(TBatchJob &job, LogSink &log) override;
    bool StartOver(TBatchJob &job, std::string &error) override;
    void PrepareRetry(TBatchJob &job, LogSink &log) override;
    void EndJob(TBatchJob &job, bool ok, bool connected, const std::string &error, LogSink &log) override;

private:
    void Begin();                                      // log clearing; counts to zero
    void Remember(bool download, const std::vector<std::string> &items); // the batch's list, in memory_
    void MarkDone(std::size_t index);                  // item `index` moved or skipped: not to be done again
    // While another request waits, the whole batch is refused and every file counted failed.
    bool RefusedWhileBusy(std::size_t files, const char *verb);
    // Begin, then the walk on the browsing client until the list is done or the batch stops
    // (an exception stops it with an error box), the extras' last files, then EndDialog.
    void RunWalk();
    void WaitForExtras();                              // the other connections' last files
    // The next file not yet taken (uploads: one whose path exists), with its mode; main: the
    // browsing client's, which the dialog follows.
    std::optional<TBatchJob> Take(bool main);
    void ShowDialogForBatch(std::size_t index);        // each file: its number; the first one: dialog up, window off
    bool SwitchMode(TransferMode mode);                // TYPE when the mode changed; quits on failure
    void RunMainFile(TBatchJob &job);                  // one file on the browsing client
    bool MoveOnMain(TBatchJob &job);                   // its transfer: RETR (REST first to resume) or STOR
    // The browsing session was open when the batch began and is lost now (not by Cancel, and
    // not given up on already).
    bool SessionLost() const;
    // The attempt-th reopening of the lost browsing session, after its pause; `during`: the
    // file it was lost during, if any. Whether the session is open again.
    bool ReopenSession(const std::string &during, int attempt);
    void RecoverSession();                             // between files and at the end: reopen a lost session
    void Pause(int ms);                                // the wait before a reopening; Cancel ends it
    bool NameJob(TBatchJob &job, LogSink &log);        // the name it takes (a taken one may ask); false: refused or skipped
    bool NameDownload(TBatchJob &job, LogSink &log);   // PC name: checked, or free, or skipped
    bool NameUpload(TBatchJob &job, LogSink &log);     // host name: checked, or free, or skipped
    bool OpenJob(TBatchJob &job, LogSink &log);        // download: partial file and resume offset
    // Receives one host file on the browsing client: resumed from job.ResumeAt when set.
    bool Fetch(TBatchJob &job);
    void EndDownload(TBatchJob &job, bool ok, bool connected, const std::string &error, LogSink &log);
    // The answer for a file whose target exists: the setting, an answer for all, or the question.
    FileExistsAnswer WhenExists(const std::string &text, bool canResume, const std::string &freeName);
    // The PC name a download writes: its own, a free one (Rename), or "" when it is skipped.
    std::string DownloadName(const std::string &pcName, const std::string &hostName, qint64 size, bool &fresh,
                             LogSink &log);
    // Lists the host's names once before an upload batch that may have to ask; a listing that
    // fails while connected leaves its error in hostNamesError_.
    void ListHostNames();
    // The host name an upload sends to: its own, a free one (Rename), or "" when it is skipped.
    std::string UploadName(const std::string &hostName, const std::string &pcName, qint64 size, LogSink &log);
    void Skip(const std::string &text, LogSink &log);  // a file left alone: counted and logged
    void StartFile(const char *verb, const std::string &name, qint64 size); // the dialog's file line
    void Fail(const std::string &why, LogSink &log);   // a file refused here: counted and logged
    // A failed file: logged; a lost browsing session stops the batch.
    void CountFailure(const TBatchJob &job, bool connected, const std::string &error, LogSink &log);
    // One connection serves a batch whose files share a name (the later replaces the earlier,
    // in list order) or may have to ask about a taken name (one question at a time, in order).
    bool OneConnectionOnly() const;
    void EndDialog();                                  // dialog hidden, window on again
    void Summary(const char *verb, bool failed, int direction); // the log line, sound and marker

    TFtpClient &client_;
    TransferBatchWindow &window_;
    TransferProgressView &dialog_;
    TProgressReporter &progress_;
    TBatchConnections *extras_;                        // the batch's other connections, if any
    TransferModeSwitcher switcher_;                    // the mode the server was last asked for
    BatchResult result_;                               // counts of the running batch
    bool download_ = true;                             // the running batch's direction
    const std::vector<std::string> *items_ = nullptr;  // its listing lines or PC paths
    std::size_t next_ = 0;                             // the first item nobody took yet
    bool startedConnected_ = false;                    // the browsing session was open at the start
    bool gaveUp_ = false;                              // its reopenings were used up: no more tries
    TBatchMemory *memory_ = nullptr;                   // where the running batch is kept, if anywhere
    std::map<std::string, std::size_t> held_;          // download: PC name -> item, until committed
    std::vector<qint64> sizes_;                        // listed size of each file of the batch
    TDownloadCommits commits_;                         // complete downloads not yet renamed into place
    TFileExistsChoice existsChoice_{FileExistsRule::Ask}; // the batch's rule for taken names
    std::set<std::string> hostNames_;                  // upload: names on the host (upper case), and those sent
    std::string hostNamesError_;                       // upload: why the host's names are unknown
};
