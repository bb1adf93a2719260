// The rules for a transfer whose target exists: which answer applies without a question, and
// the free PC name a Rename saves under.
#include "session/FileExists.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>

namespace {

using Answer = FileExistsAnswer;

TEST(FileExistsChoice, settingDecidesFirstThenAnAnswerForAllThatTheFileCanTake)
{
    struct Row {
        FileExistsRule rule;
        std::optional<FileExistsReply> earlier; // a reply given for an earlier file
        bool canResume, canRename;
        std::optional<Answer> decided;          // nothing: ask
    };
    const Row rows[] = {
        {FileExistsRule::Ask, std::nullopt, true, true, std::nullopt},
        // Overwrite by setting keeps the old behaviour: a kept part is resumed.
        {FileExistsRule::Overwrite, std::nullopt, false, true, Answer::Overwrite},
        {FileExistsRule::Overwrite, std::nullopt, true, true, Answer::Resume},
        {FileExistsRule::Skip, FileExistsReply{Answer::Overwrite, true}, true, true, Answer::Skip},
        // An answer for one file only is not remembered.
        {FileExistsRule::Ask, FileExistsReply{Answer::Overwrite, false}, false, true, std::nullopt},
        {FileExistsRule::Ask, FileExistsReply{Answer::Overwrite, true}, true, true, Answer::Overwrite},
        {FileExistsRule::Ask, FileExistsReply{Answer::Skip, true}, false, false, Answer::Skip},
        // For all, but not possible for this file: ask again.
        {FileExistsRule::Ask, FileExistsReply{Answer::Resume, true}, false, true, std::nullopt},
        {FileExistsRule::Ask, FileExistsReply{Answer::Resume, true}, true, true, Answer::Resume},
        {FileExistsRule::Ask, FileExistsReply{Answer::Rename, true}, false, false, std::nullopt},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const Row &row = rows[i];
        TFileExistsChoice choice(row.rule);
        if (row.earlier)
            choice.Remember(*row.earlier);
        EXPECT_EQ(choice.Decided(row.canResume, row.canRename), row.decided) << "row " << i;
    }
}

TEST(FileExistsChoice, ruleWordsAreReadInAnyCaseOrAsUniquePrefix)
{
    EXPECT_EQ(ParseFileExistsRule("overwrite"), FileExistsRule::Overwrite);
    EXPECT_EQ(ParseFileExistsRule("S"), FileExistsRule::Skip);
    EXPECT_EQ(ParseFileExistsRule(""), std::nullopt);
    EXPECT_EQ(ParseFileExistsRule("replace"), std::nullopt);
    EXPECT_EQ(FileExistsRuleName(FileExistsRule::Ask), "Ask");
}

TEST(FreeNames, digitsGoBeforeTheExtensionOrTheFileCode)
{
    const std::set<std::string> pcTaken = {"PROG.C", "PROG1.C", "MYOBJ,100", "README"};
    const auto pc = [&](const std::string &name) { return pcTaken.count(name) > 0; };
    EXPECT_EQ(FreePcName("PROG.C", pc), "PROG2.C");
    EXPECT_EQ(FreePcName("MYOBJ,100", pc), "MYOBJ1,100");
    EXPECT_EQ(FreePcName("README", pc), "README1");
    EXPECT_EQ(FreePcName(".profile", pc), ".profile1") << "a leading period is no extension";
}

} // namespace
