// The host's name rules, checked before an upload sends anything, and the free host name a
// Rename gives.
#include "session/GuardianNames.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

TEST(GuardianNames, nameAndSuffixBreakingTheHostsRulesAreRefusedWithTheRule)
{
    struct Row {
        const char *host;
        const char *problem; // "" when the host takes it; else a part of the text
    };
    const Row rows[] = {
        {"PROGC", ""},
        {"a1234567", ""},
        {"MYOBJ,100", ""},
        {"X,65535", ""},
        {"DATA,0,10,20,30", ""},   // file code and extent sizes
        {"", "the host name is empty"},
        {",101", "the host name is empty"},
        {"verylongnametxt", "\"verylongnametxt\" is longer than 8 characters"},
        {"1PROG", "does not begin with a letter"},
        {"PROG_X", "holds other characters than letters and digits"},
        {"PROG-X", "holds other characters than letters and digits"},
        {"A,65536", "the file code \"65536\" is not a number from 0 to 65535"},
        {"A,", "the file code \"\" is not"},
        {"A,-1", "the file code \"-1\" is not"},
        {"A,101X", "the file code \"101X\" is not"},
        {"A,100,70000", "the extent size \"70000\" is not a number from 0 to 65535"},
    };
    for (const Row &row : rows) {
        const std::string problem = GuardianNameProblem(row.host);
        if (*row.problem == '\0')
            EXPECT_EQ(problem, "") << row.host;
        else
            EXPECT_NE(problem.find(row.problem), std::string::npos) << row.host << ": " << problem;
    }
    // The rule itself is named, not only the fault.
    EXPECT_NE(GuardianNameProblem("1PROG").find("1 to 8 letters and digits, a letter first"), std::string::npos);
}

TEST(GuardianNames, freeHostNameKeepsEightCharactersAndTheCodeSuffix)
{
    const std::set<std::string> taken = {"VERYLONG", "VERYLON1", "PROGC"};
    const auto inUse = [&](const std::string &name) { return taken.count(name) > 0; };
    EXPECT_EQ(FreeHostName("VERYLONG", inUse), "VERYLON2");
    EXPECT_EQ(FreeHostName("progc,101", inUse), "progc1,101");
    EXPECT_EQ(FreeHostName("X", [](const std::string &) { return true; }), "") << "none free";
}

} // namespace
