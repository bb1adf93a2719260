#pragma once
// Complete downloads whose commit (made durable, then renamed over the PC name) waits a
// moment, so that a group of small files pays one flush of the file system's journal instead
// of one each: a download made durable on its own cost a small file more than its transfer
// (fsync 0.3 to 3 ms for a 4 KiB file that arrived in 1 ms). Each held file's writing starts
// at once; the PC name is replaced only after its file is durable, as for a single download.
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TDownloadTarget;

class TDownloadCommits {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t MaxHeld = 64;               // files held at most
    static constexpr std::chrono::milliseconds MaxWait{100}; // the oldest held file waits at most this

    // Called with each committed file's PC name, and the error ("" when it was saved).
    using Outcome = std::function<void(const std::string &pcName, const std::string &error)>;

    TDownloadCommits() = default;
    ~TDownloadCommits();                                      // commits what is still held
    TDownloadCommits(const TDownloadCommits &) = delete;
    TDownloadCommits &operator=(const TDownloadCommits &) = delete;

    void SetOutcome(Outcome outcome) { outcome_ = std::move(outcome); }
    // Takes a complete, checked download and starts writing it to disk; commits the group
    // when it is full or its oldest file has waited MaxWait.
    void Hold(std::unique_ptr<TDownloadTarget> target, Clock::time_point now);
    // Commits the group once its oldest file has waited MaxWait (a long transfer in between).
    void CommitIfDue(Clock::time_point now);
    // A held file of this PC name: its partial file is locked until it is committed.
    bool Holds(const std::string &pcName) const;
    // Commits every held file, oldest first, reporting each to the outcome.
    void CommitAll();

private:
    std::vector<std::unique_ptr<TDownloadTarget>> held_;      // oldest first
    Clock::time_point oldest_{};                             // when the oldest was held
    Outcome outcome_;                                        // told of each commit
};
