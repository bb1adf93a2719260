#pragma once
// Where a download is written: a fresh temporary file beside the PC name, renamed over that
// name only when the download succeeded. A refused, failed, cancelled or cut-off download thus
// never empties or half-overwrites a file the user already has; the temporary file is removed.
#include <string>

class TDownloadTarget {
public:
    // pcName: a plain file name (see IsUnsafePcName) in the current folder.
    explicit TDownloadTarget(std::string pcName);
    ~TDownloadTarget();                           // removes the temporary file unless committed
    TDownloadTarget(const TDownloadTarget &) = delete;
    TDownloadTarget &operator=(const TDownloadTarget &) = delete;

    // Makes the empty temporary file (permissions as for a new file, or those of the existing
    // PC file). False with a message when the folder takes no new file or the PC name is a
    // read-only file, which a download must not replace.
    bool Create(std::string &error);
    const std::string &TemporaryName() const { return temporary_; } // for the FTP client
    // Replaces the PC name with the downloaded file in one step. False with a message.
    bool Commit(std::string &error);

private:
    std::string pcName_;                          // the name the user gets
    std::string temporary_;                       // the file being written; empty once committed
};
