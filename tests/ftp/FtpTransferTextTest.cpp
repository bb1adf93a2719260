// Table tests of the data side's pure helpers: the 227 and 229 ports, the PORT and EPRT commands, the
// statistics line and the listing line splitter.
#include "ftp/FtpTransferText.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// ---- 227 replies ---------------------------------------------------------------------------

struct PasvCase {
    const char *reply;
    bool ok;
    int port;
};

class PasvPort : public testing::TestWithParam<PasvCase> {};

TEST_P(PasvPort, takesFifthAndSixthNumberOrFailsCleanly)
{
    const PasvCase &c = GetParam();
    quint16 port = 0;
    ASSERT_EQ(FtpPasvPort(c.reply, port), c.ok) << c.reply;
    if (c.ok) {
        EXPECT_EQ(port, c.port) << c.reply;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, PasvPort,
    testing::Values(PasvCase{"227 Entering Passive Mode (127,0,0,1,195,80).", true, 195 * 256 + 80},
                    PasvCase{"227 Entering Passive Mode (10,1,2,3,0,21)", true, 21},
                    PasvCase{"227 =(127,0,0,1,255,255)", true, 65535},
                    // the address numbers do not matter: they are never used
                    PasvCase{"227 (192,168,1,99,4,1)", true, 1025},
                    PasvCase{"227 ( 127, 0, 0, 1, 4, 1 )", true, 1025},
                    // malformed replies must fail, not produce a port
                    PasvCase{"227 Entering Passive Mode", false, 0},
                    PasvCase{"227 Entering Passive Mode 127,0,0,1,4,1", false, 0},
                    PasvCase{"227 (127,0,0,1,4)", false, 0},
                    PasvCase{"227 (127,0,0,1,4,1", false, 0},
                    PasvCase{"227 (127,0,0,1,,1)", false, 0},
                    PasvCase{"227 (127,0,0,1,256,1)", false, 0},
                    PasvCase{"227 (127,0,0,1,4,99999999999)", false, 0},
                    PasvCase{"227 (a,b,c,d,e,f)", false, 0},
                    PasvCase{"", false, 0}));

// ---- 229 replies (EPSV) --------------------------------------------------------------------

class EpsvPort : public testing::TestWithParam<PasvCase> {};

TEST_P(EpsvPort, takesThePortBetweenMatchingDelimitersOrFailsCleanly)
{
    const PasvCase &c = GetParam();
    quint16 port = 0;
    ASSERT_EQ(FtpPassivePort(c.reply, port), c.ok) << c.reply;
    if (c.ok) {
        EXPECT_EQ(port, c.port) << c.reply;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, EpsvPort,
    testing::Values(PasvCase{"229 Entering Extended Passive Mode (|||6446|)", true, 6446},
                    PasvCase{"229 (!!!1!)", true, 1},
                    PasvCase{"229 ok (###65535#).", true, 65535},
                    // a 227 still goes by its own rules
                    PasvCase{"227 (127,0,0,1,4,1)", true, 1025},
                    // wrong or mixed delimiters, a delimiter that is a digit or a blank
                    PasvCase{"229 (||6446|)", false, 0},
                    PasvCase{"229 (|||6446!)", false, 0},
                    PasvCase{"229 (|!|6446|)", false, 0},
                    PasvCase{"229 (11164461)", false, 0},
                    PasvCase{"229 (   6446 )", false, 0},
                    // port 0, above 65535, missing, not a number
                    PasvCase{"229 (|||0|)", false, 0},
                    PasvCase{"229 (|||65536|)", false, 0},
                    PasvCase{"229 (|||99999999999|)", false, 0},
                    PasvCase{"229 (||||)", false, 0},
                    PasvCase{"229 (|||x|)", false, 0},
                    // missing parentheses
                    PasvCase{"229 Entering Extended Passive Mode |||6446|", false, 0},
                    PasvCase{"229 (|||6446|", false, 0},
                    PasvCase{"229 (|||6446|.", false, 0},
                    PasvCase{"229 (", false, 0},
                    PasvCase{"229", false, 0}));

// ---- PORT and EPRT commands ----------------------------------------------------------------

TEST(EprtCommand, familyAddressAndPortBetweenBars)
{
    EXPECT_EQ(FtpEprtCommand(true, "::1", 6446), "EPRT |2|::1|6446|");
    EXPECT_EQ(FtpEprtCommand(true, "2001:db8::a", 65535), "EPRT |2|2001:db8::a|65535|");
    EXPECT_EQ(FtpEprtCommand(false, "10.0.0.1", 21), "EPRT |1|10.0.0.1|21|");
}

TEST(PortCommand, bytesOfAddressThenPortHighAndLow)
{
    EXPECT_EQ(FtpPortCommand(0xC0A80163u, 0xABCD, false), "PORT 192,168,1,99,171,205");
    EXPECT_EQ(FtpPortCommand(0x0A000001u, 21, false), "PORT 10,0,0,1,0,21");
    // over loopback the command names 127.0.0.1 whatever the local end is bound to
    EXPECT_EQ(FtpPortCommand(0x00000000u, 65535, true), "PORT 127,0,0,1,255,255");
}

// ---- Statistics line -----------------------------------------------------------------------

struct StatsCase {
    qint64 count;
    qint64 ms;
    const char *text;
};

class StatsLine : public testing::TestWithParam<StatsCase> {};

TEST_P(StatsLine, matchesTheLogFormat)
{
    EXPECT_EQ(FtpTransferStatsText(GetParam().count, GetParam().ms), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Counts, StatsLine,
    testing::Values(StatsCase{0, 0, "0 bytes received/sent in 0 seconds"},
                    StatsCase{0, 12, "0 bytes received/sent in 0 seconds (0 Bytes/sec)"},
                    StatsCase{1000, 500, "1000 bytes received/sent in 0 seconds (2000 Bytes/sec)"},
                    StatsCase{32767, 1000, "32767 bytes received/sent in 1 seconds (32767 Bytes/sec)"},
                    // above 32767 the division comes first
                    StatsCase{32768, 3000, "32768 bytes received/sent in 3 seconds (10000 Bytes/sec)"},
                    // a 3 GiB transfer: no 32-bit overflow of the count or the rate
                    StatsCase{3221225472LL, 2000,
                              "3221225472 bytes received/sent in 2 seconds (1610612000 Bytes/sec)"}));

// ---- Listing lines -------------------------------------------------------------------------

struct Split {
    std::vector<std::string> lines;
    std::vector<qint64> dropped;
    FtpListingTail tail;
};

// Feeds the chunks in order, then ends the listing when `finish` is set.
Split SplitChunks(const std::vector<std::string> &chunks, bool finish = false)
{
    Split s;
    const FtpListingLine onLine = [&](std::string &line) { s.lines.push_back(line); };
    const FtpListingDropped onDropped = [&](qint64 length) { s.dropped.push_back(length); };
    for (const std::string &chunk : chunks)
        FtpSplitListingChunk(chunk.data(), int(chunk.size()), s.tail, onLine, onDropped);
    if (finish)
        FtpFinishListing(s.tail, onLine, onDropped);
    return s;
}

TEST(ListingSplit, everyLineEndFormEndsALineAndRunsAreSkipped)
{
    const Split s = SplitChunks({"a\r\nb\nc\rd\r\n\r\n\ne\r\n"});
    EXPECT_EQ(s.lines, (std::vector<std::string>{"a", "b", "c", "d", "e"}));
    EXPECT_EQ(s.tail.part, "");
}

TEST(ListingSplit, lineEndsSplitBetweenChunksEndNoEmptyLine)
{
    // the LF of a CR LF pair split between two reads, and a longer run over three
    const Split s = SplitChunks({"x\r", "\nnext\r", "\n", "\r\nlast\n"});
    EXPECT_EQ(s.lines, (std::vector<std::string>{"x", "next", "last"}));
}

TEST(ListingSplit, unfinishedLineIsCarriedWholeAcrossChunksAndEndsWithTheListing)
{
    const std::string line(3000, 'q');
    Split s = SplitChunks({"whole\r\n" + line.substr(0, 100), line.substr(100, 2000), line.substr(2100)});
    EXPECT_EQ(s.lines, (std::vector<std::string>{"whole"}));
    EXPECT_EQ(s.tail.part, line);
    s = SplitChunks({"whole\r\n" + line.substr(0, 100), line.substr(100)}, true);
    EXPECT_EQ(s.lines, (std::vector<std::string>{"whole", line}));
}

TEST(ListingSplit, lineOverTheLimitIsSkippedWithItsLengthAndTheNextOneIsWhole)
{
    const std::string limit(std::size_t(FtpListingLineMax), 'k');
    // exactly at the limit it is kept, across chunks
    Split s = SplitChunks({limit.substr(0, 40000), limit.substr(40000) + "\n"});
    EXPECT_EQ(s.lines, std::vector<std::string>{limit});
    EXPECT_TRUE(s.dropped.empty());
    // one byte more, spread over three chunks: skipped, then the next line comes whole
    s = SplitChunks({limit.substr(0, 40000), limit.substr(40000), "k\r\nnext\r\n"});
    EXPECT_EQ(s.lines, std::vector<std::string>{"next"});
    EXPECT_EQ(s.dropped, std::vector<qint64>{FtpListingLineMax + 1});
    // an overlong last line without a line end is skipped at the end of the listing
    s = SplitChunks({"a\n" + limit, "kk"}, true);
    EXPECT_EQ(s.lines, std::vector<std::string>{"a"});
    EXPECT_EQ(s.dropped, std::vector<qint64>{FtpListingLineMax + 2});
}

} // namespace
