#pragma once
// Download and upload batches: many files, one after another, each with its mode switch, its
// name rule and its own count, behind the progress dialog with Cancel. The windows are seen
// through TransferBatchWindow and TransferProgressView only, so batches run without a display.
#include "session/ConnectionSettings.h"
#include "session/DownloadCommits.h"
#include "session/FileExists.h"
#include "session/LogSink.h"
#include "session/PartOrigin.h"
#include "session/TransferRules.h"

#include <QtGlobal>

#include <cstddef>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

class TDownloadTarget;
class TFtpClient;
class TProgressReporter;
class TransferProgressView;

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
};

// Counts of a finished batch.
struct BatchResult {
    int Ok = 0;              // files moved
    int Failed = 0;          // files that failed
    int Skipped = 0;         // files left alone because their target exists
    std::vector<std::string> Failures; // "NAME: why" of each failed file, as logged
    bool Stopped = false;    // the batch ended early (lost session, cancel, refused type, exception)
};

class TTransferBatch {
public:
    TTransferBatch(TFtpClient &client, TransferBatchWindow &window, TransferProgressView &dialog,
                   TProgressReporter &progress);

    // Downloads the host files of these remote list lines, in order, into the current folder.
    BatchResult Download(const std::vector<std::string> &listingLines);
    // Uploads these PC paths (bare names in the current folder, or full paths) in order.
    BatchResult Upload(const std::vector<std::string> &paths);

private:
    void Begin();                                      // log clearing; counts to zero
    // While another request waits, the whole batch is refused and every file counted failed.
    bool RefusedWhileBusy(std::size_t files, const char *verb);
    // `step` for each of `count` items until the batch stops (an exception stops it with an
    // error box), then EndDialog.
    void RunSteps(std::size_t count, const std::function<void(std::size_t)> &step);
    void ShowDialogForBatch(std::size_t index);        // each file: its number; the first one: dialog up, window off
    bool SwitchMode(TransferMode mode);                // TYPE when the mode changed; quits on failure
    void DownloadLine(const std::string &line, std::size_t index); // file number index of a download
    // Receives one host file into the target: resumed in binary when a part of that very
    // origin is there, else from the start.
    bool Fetch(TDownloadTarget &target, const TPartOrigin &origin, TransferMode mode);
    // The answer for a file whose target exists: the setting, an answer for all, or the question.
    FileExistsAnswer WhenExists(const std::string &text, bool canResume, const std::string &freeName);
    // The PC name a download writes: its own, a free one (Rename), or "" when it is skipped.
    std::string DownloadName(const std::string &pcName, const std::string &hostName, qint64 size, bool &fresh);
    void UploadPath(const std::string &path, std::size_t index);   // file number index of an upload
    // Lists the host's names once before an upload batch that may have to ask; a listing that
    // fails while connected leaves its error in hostNamesError_.
    void ListHostNames();
    // The host name an upload sends to: its own, a free one (Rename), or "" when it is skipped.
    std::string UploadName(const std::string &hostName, const std::string &pcName, qint64 size);
    void Skip(const std::string &text);                // a file left alone: counted and logged
    void StartFile(const char *verb, const std::string &name, qint64 size); // the dialog's file line
    void Fail(const std::string &why);                 // a file refused here: counted and logged
    // A file the client failed: its name and the client's error, or the lost session (which stops).
    void CountFailure(const std::string &what, const std::string &name);
    void EndDialog();                                  // dialog hidden, window on again
    void Summary(const char *verb, bool failed, int direction); // the log line, sound and marker

    TFtpClient &client_;
    TransferBatchWindow &window_;
    TransferProgressView &dialog_;
    TProgressReporter &progress_;
    TransferModeSwitcher switcher_;                    // the mode the server was last asked for
    BatchResult result_;                               // counts of the running batch
    std::vector<qint64> sizes_;                        // listed size of each file of the batch
    TDownloadCommits commits_;                         // complete downloads not yet renamed into place
    TFileExistsChoice existsChoice_{FileExistsRule::Ask}; // the batch's rule for taken names
    std::set<std::string> hostNames_;                  // upload: names on the host (upper case), and those sent
    std::string hostNamesError_;                       // upload: why the host's names are unknown
};
