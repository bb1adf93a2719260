#include "session/SyncPlan.h"

#include <algorithm>

namespace {

std::optional<SyncVerb> VerbFor(const ComparedFile &row, SyncDirection direction, bool deletes)
{
    const bool up = direction == SyncDirection::Up;
    switch (row.State) {
    case CompareState::Same:
        return std::nullopt;
    case CompareState::OnlyPc:
        if (direction == SyncDirection::Down)
            return deletes ? std::optional(SyncVerb::DeletePc) : std::nullopt;
        return SyncVerb::Upload;
    case CompareState::OnlyHost:
        if (up)
            return deletes ? std::optional(SyncVerb::DeleteHost) : std::nullopt;
        return SyncVerb::Download;
    case CompareState::NewerPc:
        return direction == SyncDirection::Down ? SyncVerb::Download : SyncVerb::Upload;
    case CompareState::NewerHost:
        return up ? SyncVerb::Upload : SyncVerb::Download;
    case CompareState::SizeDiffers:
        if (direction == SyncDirection::Both)
            return std::nullopt;
        return up ? SyncVerb::Upload : SyncVerb::Download;
    }
    return std::nullopt;
}

std::string Padded(std::string text, std::size_t width)
{
    if (text.size() < width)
        text.resize(width, ' ');
    return text;
}

} // namespace

std::optional<SyncDirection> ParseSyncDirection(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return char(std::tolower(c)); });
    if (lower == "up")
        return SyncDirection::Up;
    if (lower == "down")
        return SyncDirection::Down;
    if (lower == "both")
        return SyncDirection::Both;
    return std::nullopt;
}

std::vector<SyncAction> PlanSync(const std::vector<ComparedFile> &rows, const std::vector<PcFile> &pcFiles,
                                 const std::vector<HostFile> &hostFiles, SyncDirection direction, bool deletes)
{
    const bool oneWay = direction != SyncDirection::Both;
    std::vector<SyncAction> actions;
    for (const ComparedFile &row : rows) {
        const std::optional<SyncVerb> verb = VerbFor(row, direction, deletes && oneWay);
        if (!verb || (row.Clash && *verb == SyncVerb::Upload))
            continue;
        SyncAction action;
        action.Verb = *verb;
        action.PcName = row.PcName;
        action.HostName = *verb == SyncVerb::Upload ? row.UploadName : row.HostName;
        action.Mode = row.Mode;
        action.Code = row.Code;
        action.State = row.State;
        if (*verb == SyncVerb::Upload && row.Pc)
            action.Size = pcFiles[*row.Pc].Size;
        else if (*verb == SyncVerb::Download && row.Host)
            action.Size = hostFiles[*row.Host].Size;
        actions.push_back(std::move(action));
    }
    return actions;
}

std::string SyncActionText(const SyncAction &action)
{
    const std::string why = std::string(" (") + ModeWord(action.Mode) + ", " + CompareStateText(action.State) + ")";
    switch (action.Verb) {
    case SyncVerb::Upload:
        return "upload   " + action.PcName + " -> " + action.HostName + why;
    case SyncVerb::Download:
        return "download " + action.HostName + " -> " + action.PcName + why;
    case SyncVerb::DeleteHost:
        return "delete   " + action.HostName + " on the host";
    case SyncVerb::DeletePc:
        return "delete   " + action.PcName + " on the PC";
    }
    return {};
}

std::string ComparedFileText(const ComparedFile &row)
{
    constexpr std::size_t kStateWidth = 27, kNameWidth = 20;
    return Padded(CompareStateText(row.State), kStateWidth) + Padded(row.Pc ? row.PcName : "-", kNameWidth) +
           (row.Host ? row.HostName : "-");
}
