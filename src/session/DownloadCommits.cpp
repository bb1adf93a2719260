#include "session/DownloadCommits.h"

#include "session/DownloadTarget.h"

TDownloadCommits::~TDownloadCommits()
{
    CommitAll();
}

void TDownloadCommits::Hold(std::unique_ptr<TDownloadTarget> target, Clock::time_point now)
{
    if (held_.empty())
        oldest_ = now;
    target->StartWriteback();
    held_.push_back(std::move(target));
    if (held_.size() >= MaxHeld)
        CommitAll();
    else
        CommitIfDue(now);
}

void TDownloadCommits::CommitIfDue(Clock::time_point now)
{
    if (!held_.empty() && now - oldest_ >= MaxWait)
        CommitAll();
}

bool TDownloadCommits::Holds(const std::string &pcName) const
{
    for (const auto &target : held_)
        if (target->PcName() == pcName)
            return true;
    return false;
}

void TDownloadCommits::CommitAll()
{
    // Taken out first: an outcome handler that throws leaves nothing half-committed behind.
    std::vector<std::unique_ptr<TDownloadTarget>> group;
    group.swap(held_);
    for (auto &target : group) {
        std::string error;
        const bool saved = target->Commit(error);
        if (outcome_)
            outcome_(target->PcName(), saved ? std::string() : error);
    }
}
