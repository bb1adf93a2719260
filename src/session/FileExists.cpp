#include "session/FileExists.h"
#include "session/KeywordLookup.h"

#include <array>

namespace {

constexpr std::array<std::string_view, 3> kRuleNames = {"Ask", "Overwrite", "Skip"};

} // namespace

std::string FileExistsRuleName(FileExistsRule rule)
{
    return std::string(kRuleNames[std::size_t(rule)]);
}

std::optional<FileExistsRule> ParseFileExistsRule(std::string_view text)
{
    const int found = LookupKeyword(text, kRuleNames, true);
    if (found <= 0)
        return std::nullopt;
    return FileExistsRule(found - 1);
}

std::optional<FileExistsAnswer> TFileExistsChoice::Decided(bool canResume, bool canRename) const
{
    switch (rule_) {
    case FileExistsRule::Overwrite:
        return canResume ? FileExistsAnswer::Resume : FileExistsAnswer::Overwrite;
    case FileExistsRule::Skip:
        return FileExistsAnswer::Skip;
    case FileExistsRule::Ask:
        break;
    }
    if ((forAll_ == FileExistsAnswer::Resume && !canResume) || (forAll_ == FileExistsAnswer::Rename && !canRename))
        return std::nullopt;
    return forAll_;
}

void TFileExistsChoice::Remember(const FileExistsReply &reply)
{
    if (reply.ForAll)
        forAll_ = reply.Answer;
}

std::string FreePcName(std::string_view pcName, const std::function<bool(const std::string &)> &taken)
{
    // After the first character: a hidden name's leading period is no extension.
    std::size_t split = pcName.find_first_of(".,", 1);
    if (split == std::string_view::npos)
        split = pcName.size();
    for (int n = 1; n <= 9999; ++n) {
        const std::string candidate =
            std::string(pcName.substr(0, split)) + std::to_string(n) + std::string(pcName.substr(split));
        if (!taken(candidate))
            return candidate;
    }
    return {};
}
