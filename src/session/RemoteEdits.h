#pragma once
// Editing host files in the PC's editor. Each edit downloads the host file (in the mode its
// file code calls for) into a private folder, opens it in the editor, and uploads every save
// back to the same host file with its file code, after checking that nobody changed the host
// file meanwhile. An upload goes to a temporary name first and replaces the original only
// once complete, so a cut connection never leaves a half-written host file.
//
// The edits run on a connection of their own (a copy of the browsing session's settings),
// driven through the engine's asynchronous requests: the browsing session stays free for the
// user, and its synchronous waits never see an edit's request. Requests of the edits run one
// at a time, in the order asked; a save made meanwhile waits in the queue, never dropped.
//
// Files: RemoteEdits.cpp holds the edits, the watching of their files and the public
// operations; RemoteEditJobs.cpp the queue and the FTP steps of an open and an upload.
#include "ftp/FtpClient.h"
#include "session/EditFolders.h"
#include "session/ConnectionSettings.h"
#include "session/EditRules.h"
#include "session/LogSink.h"
#include "session/TransferRules.h"

#include <QByteArray>
#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTime>
#include <QTimer>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

// Where the edits connect: the browsing session's settings, copied when an edit starts.
struct TEditConnection {
    std::string HostName;              // the FTP server (the target host behind a proxy)
    std::string Port;                  // its port
    std::string UserID;
    std::string Password;
    std::string ProxyName;             // empty: direct
    bool Passive = false;              // data connection mode
    TFtpEncryption Encryption = ftpEncryptNone;
    std::string TrustedFingerprint;    // the certificate the browsing session accepted, if any
    bool operator==(const TEditConnection &) const = default;
};

// The browsing client's connection as an edit copies it.
TEditConnection EditConnectionOf(const TCustomFtpCli &client);

enum class EditState { Opening, Opened, Uploading, Uploaded, Failed, ChangedOnHost };

// One host file being edited, as the edits panel shows it.
struct TEditEntry {
    int Id = 0;
    TEditConnection Connection;
    std::string Subvol;                // the host subvolume ($VOL.SUBVOL)
    std::string HostName;              // the host file; a "save as" moves the edit to the new name
    std::int32_t FileCode = 0;
    TransferMode Mode = TransferMode::Binary;
    bool ConvertLineEnds = true;       // ASCII: LF on the PC copy, CR LF on the wire (kept while edited)
    QString Folder;                    // the edit's private folder
    QString PcPath;                    // the PC copy the editor works on
    HostFileStamp Seen;                // the host file's listing when opened or last uploaded
    QByteArray Synced;                 // digest of the text the host has from this edit
    EditState State = EditState::Opening;
    std::string Reason;                // why it failed
    QTime UploadedAt;                  // time of the last upload
    bool UploadWanted = false;         // a save waits for its upload
    bool AwaitingAnswer = false;       // the change-on-host question is open
    bool Force = false;                // the next upload overwrites a host change (answered)
    std::string SaveAsName;            // the next upload goes to this new host name (answered)
};

enum class HostChangeAnswer { Overwrite, SaveAsNewName, Cancel };

class TRemoteEdits : public QObject {
    Q_OBJECT
public:
    // Starts the editor on a PC copy; false with a message when it could not be started.
    using EditorOpener = std::function<bool(const QString &path, std::string &error)>;

    // folderBase: where the private folders go (EditFolderBase() in the program).
    TRemoteEdits(LogSink &log, QString folderBase, QObject *parent = nullptr);
    ~TRemoteEdits() override;          // finished copies removed, unfinished ones kept

    void SetEditor(const std::string &editor) { editor_ = editor; } // the Editor setting in force
    void SetLineEnds(LineEnds ends) { lineEnds_ = ends; } // AsciiLineEnds, for the edits opened next
    void SetOpener(EditorOpener opener) { opener_ = std::move(opener); } // replaces the editor start
    void SetSettleMs(int ms) { settleMs_ = ms; } // how long a saved file must stay unchanged

    // Starts editing the host file of a remote list line in `subvol`; the PC name follows the
    // download name rules of `naming`. A file already being edited opens in the editor again.
    // Returns the edit's id, or 0 when refused (the reason is logged).
    int Edit(const TEditConnection &connection, const std::string &subvol, const std::string &listingLine,
             const TransferOptions &naming);
    // The user's answer to HostChanged; newName only for SaveAsNewName.
    void AnswerHostChange(int id, HostChangeAnswer answer, const std::string &newName = {});
    void OpenAgain(int id);            // the editor once more on the PC copy
    void UploadAgain(int id);          // the PC copy goes up again (after a failure)
    // Stops editing: the PC copy is removed, unless its text is not on the host yet (then it
    // stays, and its place is logged).
    void EndEditing(int id);

    const std::map<int, TEditEntry> &Entries() const { return entries_; }
    const TEditEntry *Find(int id) const;
    // Whether the entry's text may not be on the host: a failed or unanswered upload, one
    // running or waiting, or a save not yet settled.
    bool Unfinished(const TEditEntry &entry) const;
    int UnfinishedCount() const;
    // "opened", "uploading", "uploaded at 14:05", "failed: ...", "changed on host" ...
    static QString StateText(const TEditEntry &entry);
    bool Busy() const { return job_.has_value(); } // a request of the edits runs

Q_SIGNALS:
    void EntryChanged(int id);         // added, or its state changed
    void EntryRemoved(int id);
    void HostChanged(int id);          // the host file changed since it was seen: ask the user

private:
    struct Job {
        enum Kind { Open, Upload };
        Kind What;                             // download and open, or upload a save
        int Id;                                // the edit
    };
    using Step = void (TRemoteEdits::*)(bool ok);

    // ---- Edits and their files (RemoteEdits.cpp) ----
    TEditEntry *Entry(int id);
    void SetState(TEditEntry &entry, EditState state, const std::string &reason = {});
    void Watch(const TEditEntry &entry);           // the file and its folder (editors that save by rename)
    void PathChanged(const QString &path);         // the watcher: a save may be under way
    void Settled(int id);                          // the file stayed unchanged for settleMs_
    void WantUpload(TEditEntry &entry);            // queue its upload unless one waits already
    void OpenEditor(const TEditEntry &entry);
    void Discard(int id, bool keepCopy);           // forget the edit; remove its folder unless kept

    // ---- The queue and the FTP steps (RemoteEditJobs.cpp) ----
    void Enqueue(Job job);
    void RunNextJob();                             // starts the next job when none runs
    void Run(void (TCustomFtpCli::*request)(), Step next); // start a request; `next` takes its end
    void RequestDone(int error);                   // OnRequestDone
    void ConnectStep();                            // connect (again) when not connected to the job's host
    void AfterConnect(bool ok);
    void AfterCwd(bool ok);
    void ListStep(const std::string &name, Step next); // LIST of one name; lines into listing_
    void AfterOpenList(bool ok);
    void TypeStep();
    void AfterType(bool ok);
    void AfterGet(bool ok);
    void AfterUploadList(bool ok);
    void AfterStore(bool ok);
    void AfterRename(bool ok);
    void AfterDeleteOriginal(bool ok);
    void AfterSecondRename(bool ok);
    void AfterFinalList(bool ok);
    void AfterTemporaryDeleted(bool ok);
    void FailJob(const std::string &reason);       // the job ends failed; its entry shows why
    void EndJob();                                 // next job, from the event loop
    std::optional<std::string> ListedLine(const std::string &name) const; // listing_'s line of name
    std::string Target() const;                    // the host name the running upload replaces
    bool HostAnswered() const;                     // the last request failed on a reply, connection intact
    std::string Why() const;                       // the last request's failure, as the host or engine says

    LogSink &log_;
    QString folderBase_;                           // private folders go here
    std::string editor_;                           // the Editor setting
    LineEnds lineEnds_ = LineEnds::LF;             // the AsciiLineEnds setting
    EditorOpener opener_;                          // starts the editor
    int settleMs_ = 700;
    std::map<int, TEditEntry> entries_;
    std::map<int, std::unique_ptr<QTimer>> settle_; // per edit: restarted by every change
    QFileSystemWatcher watcher_;
    int nextId_ = 1;

    TFtpClient client_;                            // the edits' own connection; only its async requests
    std::optional<TEditConnection> connectedTo_;   // what client_ is logged in to
    std::deque<Job> jobs_;                         // waiting, in order
    std::optional<Job> job_;                       // running
    Step next_ = nullptr;                          // takes the running request's end
    std::string refusal_;                          // the engine refused to start the request
    std::vector<std::string> listing_;             // lines of the running LIST
    QString snapshot_;                             // the running upload's copy of the PC file
    QByteArray snapshotDigest_;
    std::string temporary_;                        // the running upload's temporary host name
    std::string failure_;                          // why the running upload failed (while cleaning up)
    QTimer watchdog_;                              // a request that hears nothing ends
};
