#pragma once
// Complete downloads committed (made durable, then renamed over the PC name) while the
// batch goes on with the next files. Made durable one by one on the batch's own thread, a
// file of a few KB waited for a flush of the file system's journal that, on a disk busy with
// other writes, took longer than its transfer many times over (0.3 ms quiet, 3 ms and more
// busy, where the file itself took 1 ms). A worker thread makes durable what has gathered as
// one group, with one sync of the file system where that suits (FileSystemSync), so one flush
// of the disk serves many files. Each file is still durable before its name is replaced,
// exactly as a single download's.
//
// The renames, and the outcomes, happen on the caller's thread only, in Collect and
// CommitAll: a rename on the worker waited for the folder's lock while the batch created its
// next file there, and the kernel spent that wait spinning, a fifth of a small-file batch's
// processor time.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class TDownloadTarget;

class TDownloadCommits {
public:
    // Held, not yet committed, at most: each holds a descriptor, well under the usual limit of
    // 1024. A busy disk may take 300 ms for one group: 64 then capped a batch at 200 files/s.
    static constexpr std::size_t MaxHeld = 256;
    // Files that come close together wait for each other to share one sync of the file system
    // (FileSystemSync): a group is taken when this many are held, or this long after its first.
    // Even a quick disk's fsync took as long as a small file's transfer, so each file made a
    // group of its own, a flush and two wake-ups of the worker apiece.
    static constexpr std::size_t GroupFiles = 32;
    static constexpr std::chrono::milliseconds GroupWait{5};

    // Told of each committed file: its PC name and the error ("" when it was saved).
    using Outcome = std::function<void(const std::string &pcName, const std::string &error)>;

    TDownloadCommits() = default;
    ~TDownloadCommits();                           // commits what is still held, then stops the worker
    TDownloadCommits(const TDownloadCommits &) = delete;
    TDownloadCommits &operator=(const TDownloadCommits &) = delete;

    void SetOutcome(Outcome outcome) { outcome_ = std::move(outcome); }
    // Takes a complete, checked download: its writing to disk starts now, its commit on the
    // worker. Waits while MaxHeld are held already.
    void Hold(std::unique_ptr<TDownloadTarget> target);
    // A held file of this PC name not yet committed: its partial file is locked until then.
    bool Holds(const std::string &pcName);
    void Collect();                                // renames and reports what the worker has settled
    void CommitAll();                              // waits for every held file, then renames and reports

private:
    struct TDone {
        std::unique_ptr<TDownloadTarget> target;   // settled, to be renamed (none when settling failed)
        std::string pcName;                        // the file's PC name
        std::string error;                         // why its commit failed, "" so far
    };
    void Work();                                   // the worker: settles what is held, group by group
    void Finish(std::vector<TDone> done);          // renames each settled file, and reports each in order

    Outcome outcome_;                              // told of each commit
    std::mutex lock_;                              // guards everything below
    std::condition_variable changed_;              // a group was committed: room to hold, or all done
    std::condition_variable work_;                 // the worker's: a file to take, a full group, haste or the end
    std::deque<std::unique_ptr<TDownloadTarget>> held_; // oldest first, not yet taken by the worker
    std::vector<std::string> committing_;          // PC names of the group the worker is settling
    std::vector<TDone> done_;                      // settled, not yet renamed and reported
    bool hurry_ = false;                           // CommitAll waits: what is held is taken at once
    bool stop_ = false;                            // the worker ends
    std::thread worker_;                           // started with the first held file
};
