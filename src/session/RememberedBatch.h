#pragma once
// A batch that did not finish, kept on disk so that the next connection to the same site can
// finish it, whether the batch failed, was cancelled, or the program was closed or killed. The
// file holds the batch's whole list once, then one line per file as it is done (appended, so a
// program killed mid-batch leaves every file it finished marked); at the batch's end it is
// rewritten with what is left, or removed.
#include <QFile>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// A batch as it is remembered.
struct TRememberedBatch {
    std::string Host, Port, User;   // the site it ran against
    std::string Subvol;             // the host subvolume it ran in
    std::string PcFolder;           // the PC folder it ran in
    bool Download = true;           // else an upload
    std::vector<std::string> Items; // listing lines (download) or PC paths (upload) not done yet

    bool SameSite(const std::string &host, const std::string &port, const std::string &user) const
    {
        return Host == host && Port == port && User == user;
    }
};

// "4 files of the last download were not transferred: Finish now?"
std::string RememberedBatchQuestion(const TRememberedBatch &batch);

// The batch in the file at `path`, without the files marked done; none when there is no file,
// it cannot be read, or nothing is left.
std::optional<TRememberedBatch> LoadRememberedBatch(const std::string &path);
void ForgetRememberedBatch(const std::string &path);   // removes the file

// The running batch's file: written whole at the start, one line per file done, rewritten at
// the end. Every step is best effort: a file that cannot be written only loses the memory.
class TBatchMemory {
public:
    explicit TBatchMemory(std::string path) : path_(std::move(path)) {}
    void Start(const TRememberedBatch &batch);      // the whole list, nothing done
    void Done(std::size_t index);                   // item `index` of the list moved or skipped
    void Finish();                                  // what is left, or no file when nothing is

private:
    bool Write(const TRememberedBatch &batch);      // written to a temporary file, then renamed

    std::string path_;
    TRememberedBatch batch_;                        // the list as started
    std::vector<bool> done_;                        // per item
    QFile journal_;                                 // the file, open for appending done lines
};
