#include "session/DownloadCommits.h"

#include "session/DownloadTarget.h"
#include "session/FileSystemSync.h"

#include <algorithm>

TDownloadCommits::~TDownloadCommits()
{
    CommitAll();
    {
        std::lock_guard<std::mutex> guard(lock_);
        stop_ = true;
    }
    work_.notify_all();
    if (worker_.joinable())
        worker_.join();
}

void TDownloadCommits::Hold(std::unique_ptr<TDownloadTarget> target)
{
    target->StartWriteback();
    std::unique_lock<std::mutex> guard(lock_);
    if (!worker_.joinable())
        worker_ = std::thread([this] { Work(); });
    changed_.wait(guard, [this] { return held_.size() + committing_.size() < MaxHeld; });
    held_.push_back(std::move(target));
    // Woken only for the first file of a group and for a full one, not for every file.
    const bool wake = held_.size() == 1 || held_.size() == GroupFiles;
    guard.unlock();
    if (wake)
        work_.notify_one();
}

bool TDownloadCommits::Holds(const std::string &pcName)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (std::find(committing_.begin(), committing_.end(), pcName) != committing_.end())
        return true;
    if (std::any_of(done_.begin(), done_.end(), [&](const TDone &d) { return d.pcName == pcName; }))
        return true;
    return std::any_of(held_.begin(), held_.end(), [&](const auto &t) { return t->PcName() == pcName; });
}

void TDownloadCommits::Collect()
{
    std::vector<TDone> done;
    {
        std::lock_guard<std::mutex> guard(lock_);
        done.swap(done_);
    }
    Finish(std::move(done));
}

void TDownloadCommits::CommitAll()
{
    std::vector<TDone> done;
    {
        std::unique_lock<std::mutex> guard(lock_);
        hurry_ = true;
        work_.notify_one();
        changed_.wait(guard, [this] { return held_.empty() && committing_.empty(); });
        hurry_ = false;
        done.swap(done_);
    }
    Finish(std::move(done));
}

void TDownloadCommits::Finish(std::vector<TDone> done)
{
    for (TDone &d : done) {
        if (d.target)
            d.target->Rename(d.error);
        d.target.reset();
        if (outcome_)
            outcome_(d.pcName, d.error);
    }
}

void TDownloadCommits::Work()
{
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        work_.wait(guard, [this] { return stop_ || !held_.empty(); });
        if (held_.empty())
            return;
        work_.wait_for(guard, GroupWait, [this] { return stop_ || hurry_ || held_.size() >= GroupFiles; });
        // Everything gathered meanwhile is one group, made durable together.
        std::vector<std::unique_ptr<TDownloadTarget>> group;
        for (auto &t : held_) {
            committing_.push_back(t->PcName());
            group.push_back(std::move(t));
        }
        held_.clear();
        guard.unlock();
        std::vector<TDone> done;
        // One sync of the file system for the whole group where that suits, else an fsync each.
        const unsigned long long device = group.front()->Device();
        const bool synced = FileSystemSync::SyncGroup(group.front()->Handle(), group.size());
        for (auto &target : group) {
            std::string error;
            const bool settled = target->Settle(error, synced && target->Device() == device);
            std::string pcName = target->PcName();
            done.push_back({settled ? std::move(target) : nullptr, std::move(pcName), error});
            target.reset();
        }
        guard.lock();
        for (TDone &d : done)
            done_.push_back(std::move(d));
        committing_.clear();
        changed_.notify_all();
    }
}
