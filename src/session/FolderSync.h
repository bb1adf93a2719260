#pragma once
// Compare and synchronize: the PC folder (the process's current folder, as for every
// transfer) against one host subvolume, over a connection of its own. It drives the
// asynchronous FTP engine step by step from OnRequestDone and reports through signals; it
// never waits in a loop of its own, so the window stays live and a click or a lost session
// arrives between two steps, never inside one.
//
// Files: FolderSync.cpp holds the connection, the comparison and the step machinery;
// FolderSyncActions.cpp the uploads, downloads and deletes of a run.
#include "ftp/FtpClient.h"
#include "session/CompareSides.h"
#include "session/ConnectionSettings.h"
#include "session/FileCodeMemory.h"
#include "session/FolderComparison.h"
#include "session/SyncPlan.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class LogSink;
class TDownloadTarget;
struct TTlsPeerInfo;

// Everything a comparison needs, copied when it starts.
struct FolderSyncSetup {
    ConnectionSettings Connection;        // a copy of the browsing session's
    std::string Subvolume;                // entered after the login; empty stays where the login starts
    TransferOptions Options;              // the transfer controls: modes and names
    std::function<bool(std::string_view)> PcFilter; // the PC filter; empty lets every file through
    std::string TandemCodes;              // the Tandem filter's codes; empty lets every file through
    std::int32_t HostTimeOffset = 0;      // minutes the host's clock runs ahead of the PC's
    GeneralSettings General;              // the marker files
    int Timeout = 15;                     // seconds a step may go without news from the server
    // A certificate OpenSSL did not verify: whether to go on. Unset refuses it.
    std::function<bool(const TTlsPeerInfo &)> AcceptCertificate;
};

// Counts of a finished run.
struct SyncResult {
    int Uploaded = 0;
    int Downloaded = 0;
    int Deleted = 0;
    int Failed = 0;
    bool Stopped = false; // the connection was lost or the run cancelled
};

// "3 file(s) uploaded, 1 file(s) downloaded, 0 file(s) deleted", and on failure
// ". Failed to synchronize N file(s)" after it.
std::string SyncSummaryText(const SyncResult &result);

class TFolderSync : public QObject {
    Q_OBJECT
public:
    // log takes the dialogue (level 2), per-file failures (0) and the summary (1); it must
    // outlive this object.
    TFolderSync(FolderSyncSetup setup, LogSink &log, QObject *parent = nullptr);
    // Closes the connection without QUIT; nothing is reported any more.
    ~TFolderSync() override;

    // Connects, enters the subvolume, lists it, reads the folder and compares: Compared or
    // CompareFailed follows, from the event loop.
    void Compare();
    // After Compared: runs the ticked actions as one batch on the same connection; each
    // reports ActionStarted and ActionEnded, then Finished.
    void Run(std::vector<SyncAction> actions);
    // Aborts the running step; the run ends as stopped.
    void Cancel();
    // QUIT; Closed follows. Without a connection Closed follows at once (from the loop).
    void Close();

    const std::vector<PcFile> &PcFiles() const { return pcFiles_; }
    const std::vector<HostFile> &HostFiles() const { return hostFiles_; }
    const std::vector<ComparedFile> &Rows() const { return rows_; }
    const std::vector<std::string> &ListingLines() const { return listing_; } // the subvolume's file lines
    const std::vector<SyncAction> &Actions() const { return actions_; }       // of the run
    const SyncResult &Result() const { return result_; }
    std::vector<SyncAction> Plan(SyncDirection direction, bool deletes) const; // over Rows()

Q_SIGNALS:
    void Compared();
    void CompareFailed(const std::string &why);
    void ActionStarted(int index);                            // Actions()[index] begins
    void BytesMoved(qint64 count);                            // of the running transfer, so far
    void ActionEnded(int index, const std::string &error);    // empty error: done
    void Finished();                                          // the run is over: Result()
    void Closed();

private:
    using Step = void (TFolderSync::*)(bool ok);
    // Starts an operation of the engine; `then` runs when it ends (a refusal ends it too).
    void Start(void (TCustomFtpCli::*operation)(), Step then);
    void RequestDone(int error);          // the engine's OnRequestDone
    void Deliver(unsigned sequence, bool ok); // to the step waiting, when it is still that one
    void Later(std::function<void()> work);   // from the event loop, never inside the caller
    void ConfigureClient();
    void Connected(bool ok);
    void Entered(bool ok);
    void Listed(bool ok);
    void FailCompare(const std::string &why);
    void ListingLine(std::string &line);  // OnDisplayFile while a listing runs
    void QuitDone(bool ok);

    // A run (FolderSyncActions.cpp).
    void Next();                          // the next action, or the end
    void SwitchMode(TransferMode mode);   // TYPE when the mode changed, then Transfer
    void TypeSet(bool ok);
    void Transfer();                      // the running action's upload or download
    void Downloaded(bool ok);
    void Uploaded(bool ok);
    void Relisted(bool ok);               // the uploaded file's new listing line
    void HostDeleted(bool ok);
    void DeletePc();
    void End(const std::string &error);   // the running action is over
    void Finish();
    const SyncAction &Running() const { return actions_[std::size_t(index_)]; }

    FolderSyncSetup setup_;
    LogSink &log_;
    TCustomFtpCli client_;                 // this capability's own connection
    THostClock clock_;                     // the host's listed times on the PC's clock
    QTimer watchdog_;                      // a step without news for Timeout seconds is aborted
    Step then_ = nullptr;                  // the step waiting for the running operation
    unsigned sequence_ = 0;                // counts operations started, so a late report finds no taker
    std::string refusal_;                  // what the engine refused in the starting call
    bool cancelled_ = false;               // Cancel was asked for
    std::vector<std::string> listing_;     // lines of the last listing, heading dropped
    bool heading_ = false;                 // the next listing line is the heading
    std::vector<PcFile> pcFiles_;
    std::vector<HostFile> hostFiles_;
    std::vector<ComparedFile> rows_;
    FileCodeMap codes_;                    // kept beside the folder
    std::vector<SyncAction> actions_;      // of the run, ticked ones only
    int index_ = -1;                       // the running action
    std::optional<TransferMode> lastMode_; // the representation the server was last asked for
    std::unique_ptr<TDownloadTarget> target_; // the running download's file
    SyncResult result_;
};
