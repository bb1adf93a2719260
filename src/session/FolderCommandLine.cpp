#include "session/FolderCommandLine.h"

#include "session/CommandLine.h"

std::string ParseFolderCommand(std::string_view commandLine, FolderCommand &command)
{
    const std::vector<std::string> words = SplitCommandLine(commandLine);
    std::size_t next = 1;
    if (words.empty() || (words[0] != "--compare" && words[0] != "--sync"))
        return "Give --compare or --sync first";
    command.Sync = words[0] == "--sync";
    if (command.Sync) {
        const auto direction = words.size() > 1 ? ParseSyncDirection(words[1]) : std::nullopt;
        if (!direction)
            return "--sync takes up, down or both";
        command.Direction = *direction;
        next = 2;
    }
    for (std::size_t i = next; i < words.size(); ++i) {
        if (words[i] == "--delete")
            command.Delete = true;
        else if (words[i] == "--dry-run")
            command.DryRun = true;
        else
            command.Keywords += (command.Keywords.empty() ? "" : " ") + words[i];
    }
    if ((command.Delete || command.DryRun) && !command.Sync)
        return "--delete and --dry-run go with --sync";
    // Both ways every one-sided file is copied: nothing is only on a target side.
    if (command.Delete && command.Direction == SyncDirection::Both)
        return "--delete goes with --sync up or --sync down";
    return {};
}
