#pragma once
// Where a download is written: a hidden partial file beside the PC name, renamed over that
// name only when the download succeeded. A refused, failed, cancelled or cut-off download thus
// never empties or half-overwrites a file the user already has. The partial file is named from
// the PC name, so a binary download that failed half-way can be resumed by the next one.
//
// The partial file is opened once, never through a symbolic link, and only as a regular file
// of this user with no other link; the FTP client writes to that descriptor, never to the path,
// so nothing another local user swaps in at the name can receive the data. It stays 0600
// until it is complete.
#include "session/PartOrigin.h"

#include <QtGlobal>

#include <string>

struct stat;

class TDownloadTarget {
public:
    // Makes the written file durable and closes it: 0, or -1 with errno. fileSystemSynced:
    // its whole file system was synced since it was written (FileSystemSync). A seam for tests.
    using FileFinisher = int (*)(int handle, bool fileSystemSynced);
    // fsync, or after a file-system sync only the write errors that sync met in this file;
    // then close. Either step failing fails.
    static int SyncAndClose(int handle, bool fileSystemSynced);

    // pcName: a plain file name (see IsUnsafePcName) in the current folder.
    explicit TDownloadTarget(std::string pcName, FileFinisher finish = &SyncAndClose);
    ~TDownloadTarget();                           // closes; removes the partial file unless kept or committed
    TDownloadTarget(const TDownloadTarget &) = delete;
    TDownloadTarget &operator=(const TDownloadTarget &) = delete;

    // The mode a download gets that replaces `old` (lstat's, null when there was none):
    // the old mode only from a regular file of `user`, without setuid, setgid and sticky
    // bits and without group or other write the umask takes away; else the umask's mode.
    static unsigned ReplacementMode(const struct stat *old, unsigned user, unsigned umask);

    // The hidden name of the partial file of a PC name.
    static std::string PartialNameFor(const std::string &pcName);

    // Opens the partial file left by an earlier download, or makes a new, empty one. False
    // with a message when the folder takes no new file, the PC name is a read-only file
    // (which a download must not replace), or the partial name holds anything but a file of
    // ours (a link, a pipe, another user's file) or one another download is writing.
    bool Open(std::string &error);
    int Handle() const { return handle_; }        // for the FTP client; owned here
    const std::string &PartialName() const { return partial_; }
    const std::string &PcName() const { return pcName_; }
    unsigned long long Device() const { return device_; } // of the file system holding it
    qint64 Size() const;                          // bytes in the partial file now (-1: unknown)
    bool StartOver(std::string &error);           // empties the partial file
    // The origin recorded beside the partial file when it was kept, if any: a part is
    // resumed only from the origin it was left by.
    std::optional<TPartOrigin> PartOrigin() const;
    // The bytes stay for a later resume, with their origin beside them. A part whose origin
    // cannot be written is removed: no later download could tell where it came from.
    void KeepPartial(const TPartOrigin &origin);
    // Starts writing the file to disk without waiting: a group of files started so is then
    // made durable by one flush of the file system's journal rather than one per file.
    void StartWriteback();
    // Gives the file its final mode, makes it durable and replaces the PC name with it in one
    // step. False with a message, the PC name untouched, and the partial file removed.
    bool Commit(std::string &error) { return Settle(error) && Rename(error); }
    // Commit in two steps: the final mode, durable, closed; then the PC name replaced. Each
    // fails as Commit does. fileSystemSynced goes to the finisher.
    bool Settle(std::string &error, bool fileSystemSynced = false);
    bool Rename(std::string &error);

private:
    bool StillOurs() const;                       // the name still holds the file we opened
    void Discard();                               // closes and removes the partial file
    void RemoveOrigin();                          // the origin file, when there may be one

    std::string pcName_;                          // the name the user gets
    std::string partial_;                         // the partial file's name
    std::string origin_;                          // the name of the file with the part's origin
    FileFinisher finish_;                         // fsync and close, or a test's stand-in
    int handle_ = -1;                             // the partial file, open for writing
    unsigned long long device_ = 0, inode_ = 0;   // identity of that file
    unsigned finalMode_ = 0600;                   // the existing PC file's mode, or a new file's
    bool keep_ = false;                           // leave the partial file for a resume
    bool mayHaveOrigin_ = false;                  // a part was found, or its origin written
};
