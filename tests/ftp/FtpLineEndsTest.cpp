#include "ftp/FtpLineEnds.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct LineEndsRow {
    std::string wire;   // as it travels: NVT-ASCII
    std::string local;  // as this PC keeps it
};

// Converts `text` cut into chunks at every position in `cuts`.
template <typename Converter>
std::string InChunks(const std::string &text, const std::vector<std::size_t> &cuts)
{
    Converter converter;
    std::string out;
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        converter.Convert(std::string_view(text).substr(from, cut - from), out);
        from = cut;
    }
    converter.Convert(std::string_view(text).substr(from), out);
    if constexpr (requires { converter.Finish(out); })
        converter.Finish(out);
    return out;
}

// Whole, cut once at every place, and one byte a chunk: a line end split between two reads
// or blocks must come out as if it had not been.
template <typename Converter>
void ExpectEveryCutGives(const std::string &in, const std::string &expected)
{
    SCOPED_TRACE(testing::PrintToString(in));
    EXPECT_EQ(InChunks<Converter>(in, {}), expected);
    std::vector<std::size_t> everyByte;
    for (std::size_t cut = 0; cut <= in.size(); ++cut) {
        EXPECT_EQ(InChunks<Converter>(in, {cut}), expected) << "cut at " << cut;
        everyByte.push_back(cut);
    }
    EXPECT_EQ(InChunks<Converter>(in, everyByte), expected);
}

} // namespace

TEST(FtpLineEnds, downloadsTurnCrLfIntoLfAndKeepEveryOtherByte)
{
    const LineEndsRow rows[] = {
        {"", ""},
        {"one\r\ntwo\r\n", "one\ntwo\n"},
        {"no line end", "no line end"},
        // A CR without LF is data (an overstrike, a binary byte), and so is a bare LF.
        {"a\rb\r", "a\rb\r"},
        {"a\nb\n", "a\nb\n"},
        {"\r\r\n", "\r\n"},
        {"\r\n\r\n\r\n", "\n\n\n"},
        {"x\r\n\r", "x\n\r"},
        {std::string("\0\r\n\xff", 4), std::string("\0\n\xff", 3)},
    };
    for (const LineEndsRow &row : rows)
        ExpectEveryCutGives<FtpCrLfToLf>(row.wire, row.local);
}

TEST(FtpLineEnds, uploadsEndEveryLineInCrLfAndSendCrLfFilesUnchanged)
{
    const LineEndsRow rows[] = {
        {"", ""},
        {"one\r\ntwo\r\n", "one\ntwo\n"},
        {"one\r\ntwo\r\n", "one\r\ntwo\r\n"},   // already CR LF: not a byte added
        {"mixed\r\nends\r\n", "mixed\r\nends\n"},
        {"\r\n\r\n", "\n\n"},
        {"a\rb", "a\rb"},
        {"\r\r\n", "\r\r\n"},                    // a CR before the LF counts, wherever it came from
        {"last line", "last line"},
    };
    for (const LineEndsRow &row : rows)
        ExpectEveryCutGives<FtpLfToCrLf>(row.local, row.wire);
}
