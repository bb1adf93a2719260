// Reply assembly and value extraction, by tables.
#include "ftp/FtpReplyParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct AssemblyRow {
    const char *name;
    bool acceptLF;
    std::vector<std::string> reads;      // bytes of each receive
    std::vector<std::string> lines;      // lines split off, in order
    int left;                            // bytes still held at the end
};

class ReplyAssembly : public testing::TestWithParam<AssemblyRow> {};

TEST_P(ReplyAssembly, SplitsLinesAcrossReads)
{
    const AssemblyRow &row = GetParam();
    FtpReplyBuffer buf;
    std::vector<std::string> got;
    for (const std::string &r : row.reads) {
        ASSERT_EQ(buf.Append(r.data(), int(r.size())), int(r.size()));
        std::string line;
        while (buf.NextLine(row.acceptLF, line) == FtpReplyBuffer::Line)
            got.push_back(line);
    }
    EXPECT_EQ(got, row.lines);
    EXPECT_EQ(buf.Length(), row.left);
}

INSTANTIATE_TEST_SUITE_P(Table, ReplyAssembly, testing::Values(
    AssemblyRow{"crlf", true, {"220 hi\r\n"}, {"220 hi"}, 0},
    AssemblyRow{"lfOnlyAccepted", true, {"220 a\n230 b\n"}, {"220 a", "230 b"}, 0},
    AssemblyRow{"lfOnlyNeverCompletesWithoutAcceptLF", false, {"220 a\n230 b\n"}, {}, 12},
    AssemblyRow{"crlfWithoutAcceptLF", false, {"220 a\r\n"}, {"220 a"}, 0},
    AssemblyRow{"loneCrDoesNotSplit", true, {"220 a\r230 b\r\n"}, {"220 a\r230 b"}, 0},
    AssemblyRow{"crSplitFromLf", false, {"220 a\r", "\n"}, {"220 a"}, 0},
    AssemblyRow{"byteByByte", true, {"2", "2", "0", " ", "x", "\r", "\n"}, {"220 x"}, 0},
    AssemblyRow{"severalRepliesOneRead", true, {"331 pw\r\n230 ok\r\n250-a\r\n250 b\r\n"},
                {"331 pw", "230 ok", "250-a", "250 b"}, 0},
    AssemblyRow{"partialTailKept", true, {"200 ok\r\n21"}, {"200 ok"}, 2},
    AssemblyRow{"trailingCrsStripped", true, {"200 ok\r\r\r\n"}, {"200 ok"}, 0},
    AssemblyRow{"emptyLines", true, {"\r\n\n200 x\n"}, {"", "", "200 x"}, 0},
    AssemblyRow{"nulDropped", true, {std::string("200 a\0b\r\n", 9)}, {"200 ab"}, 0},
    AssemblyRow{"nulOnlyRead", true, {std::string("\0\0", 2), "200 z\n"}, {"200 z"}, 0}),
    [](const testing::TestParamInfo<AssemblyRow> &i) { return std::string(i.param.name); });

TEST(ReplyAssemblyLimits, LongLineOverflowsInsteadOfHanging)
{
    FtpReplyBuffer buf;
    std::string big(5000, 'x');
    int taken = buf.Append(big.data(), int(big.size()));
    EXPECT_EQ(taken, FtpReplyBuffer::Capacity - 1);
    EXPECT_EQ(buf.Space(), 0);
    std::string line;
    EXPECT_EQ(buf.NextLine(true, line), FtpReplyBuffer::Overflow);
    // A full buffer that still holds a line end gives the line, then room again.
    FtpReplyBuffer full;
    std::string s = "200 ok\r\n" + std::string(FtpReplyBuffer::Capacity - 1 - 8, 'y');
    ASSERT_EQ(full.Append(s.data(), int(s.size())), int(s.size()));
    EXPECT_EQ(full.NextLine(true, line), FtpReplyBuffer::Line);
    EXPECT_EQ(line, "200 ok");
    EXPECT_EQ(full.Space(), 8);
    EXPECT_EQ(full.NextLine(true, line), FtpReplyBuffer::NeedMore);
}

struct CodeRow {
    const char *line;
    bool hasCode;
    int code;
    bool final;
};

class ReplyCode : public testing::TestWithParam<CodeRow> {};

TEST_P(ReplyCode, LeadingDigitsAndContinuation)
{
    const CodeRow &row = GetParam();
    int code = -1;
    std::size_t end = 0;
    EXPECT_EQ(FtpReplyLineCode(row.line, code, end), row.hasCode) << row.line;
    if (row.hasCode) {
        EXPECT_EQ(code, row.code) << row.line;
    }
    EXPECT_EQ(FtpIsFinalReplyLine(row.line), row.final) << row.line;
}

INSTANTIATE_TEST_SUITE_P(Table, ReplyCode, testing::Values(
    CodeRow{"220 ready", true, 220, true},
    CodeRow{"220-first", true, 220, false},
    CodeRow{"220", true, 220, true},
    CodeRow{"  220 indented", false, 0, false},
    CodeRow{"", false, 0, false},
    CodeRow{"text line", false, 0, false},
    CodeRow{"12 short", true, 12, true},
    CodeRow{"2200 long", true, 2200, true},
    CodeRow{"99999999999999999999 huge", true, 2147483647, true}));

struct ValueRow {
    const char *line;
    long long number;
    const char *quoted;
};

class ReplyValues : public testing::TestWithParam<ValueRow> {};

TEST_P(ReplyValues, NumberAndQuotedName)
{
    const ValueRow &row = GetParam();
    EXPECT_EQ(FtpReplyNumber(row.line), row.number) << row.line;
    EXPECT_EQ(FtpReplyQuotedName(row.line), row.quoted) << row.line;
}

INSTANTIATE_TEST_SUITE_P(Table, ReplyValues, testing::Values(
    ValueRow{"213 1234", 1234, ""},
    ValueRow{"213 \t 5000000000", 5000000000LL, ""},
    ValueRow{"213 +17x", 17, ""},
    ValueRow{"213 -5", -5, ""},
    ValueRow{"213 none", 0, ""},
    ValueRow{"213 99999999999999999999999", 9223372036854775807LL, ""},
    ValueRow{"257 \"/usr/a\" is current", 0, "/usr/a"},
    ValueRow{"257 \"say \"\"hi\"\"\" created", 0, "say \"hi\""},
    ValueRow{"257 \"\"\"\"", 0, "\""},
    ValueRow{"257 \"unterminated", 0, "unterminated"},
    ValueRow{"250 CWD command successful", 0, ""},
    ValueRow{"257 x \"late\"", 0, ""},
    ValueRow{"257 \"\"", 0, ""}));

TEST(CommandText, LineBreaksAreDetected)
{
    EXPECT_FALSE(FtpHasLineBreak("CWD $DATA.SUB"));
    EXPECT_TRUE(FtpHasLineBreak("DELE a\r\nRMD b"));
    EXPECT_TRUE(FtpHasLineBreak("x\n"));
    EXPECT_TRUE(FtpHasLineBreak("x\ry"));
}

} // namespace
