#include "session/PasswordScrambling.h"

#include <gtest/gtest.h>
#include <string>

namespace {

// Bytes 1..255 cycled from a start value, so every byte value occurs in the longer texts.
std::string Bytes(size_t length, int start)
{
    std::string text;
    for (size_t i = 0; i < length; ++i)
        text.push_back(static_cast<char>(1 + (start + int(i)) % 255));
    return text;
}

TEST(ScramblePassword, roundTripsEveryLengthAndByteForSeveralKeys)
{
    const std::vector<std::string> keys = {"", "DEV.MGR", "A", std::string(300, 'k'), Bytes(64, 7)};
    for (const std::string &key : keys) {
        for (size_t length = 0; length <= 64; ++length) {
            for (int start : {0, 100, 200}) {
                const std::string text = Bytes(length, start);
                std::string scrambled = "untouched";
                ScramblePassword(key, text, scrambled);
                if (text.empty()) {
                    EXPECT_EQ(scrambled, "untouched") << "an empty text must leave the result alone";
                    continue;
                }
                SCOPED_TRACE("key length " + std::to_string(key.size()) + ", text length "
                             + std::to_string(length) + ", start " + std::to_string(start));
                ASSERT_EQ(scrambled.size(), text.size());
                std::string back;
                ScramblePassword(key, scrambled, back);
                EXPECT_EQ(back, text);
            }
        }
    }
}

TEST(ScramblePassword, longPasswordIsNeitherCutNorCorruptedOnceKeyPasses255)
{
    // Empty key: k starts at length + 1 = 300 and reaches 353 at byte 53; 353 mod 256 is 'a',
    // so that byte scrambles to zero. The result must keep it and every byte after it.
    const std::string text(299, 'a');
    std::string scrambled;
    ScramblePassword("", text, scrambled);
    ASSERT_EQ(scrambled.size(), text.size());
    EXPECT_EQ(scrambled.find('\0'), 53u);
    std::string back;
    ScramblePassword("", scrambled, back);
    EXPECT_EQ(back, text);
}

TEST(ScramblePassword, knownVectorsForEmptyKeyAndByteEqualToRunningKey)
{
    std::string out;
    // Empty key: k = length + 1 = 4, then 5, 6.
    ScramblePassword("", "abc", out);
    EXPECT_EQ(out, std::string({char('a' ^ 4), char('b' ^ 5), char('c' ^ 6)}));
    // A byte equal to k passes unchanged and does not advance k.
    ScramblePassword("", std::string("\x04zz"), out);
    EXPECT_EQ(out, std::string({char(4), char('z' ^ 4), char('z' ^ 5)}));
    // Key "A": k = 1 xor 65 = 64.
    ScramblePassword("A", "pw", out);
    EXPECT_EQ(out, std::string({char('p' ^ 64), char('w' ^ 65)}));
    // A key whose length and bytes cancel out also falls back to length + 1.
    ScramblePassword(std::string("\x01"), "ab", out);
    EXPECT_EQ(out, std::string({char('a' ^ 3), char('b' ^ 4)}));
}

TEST(ScramblePassword, otherUserIDGivesOtherTextWithoutError)
{
    std::string stored;
    ScramblePassword("OPS.ONE", "secret", stored);
    std::string other;
    ScramblePassword("OPS.TWO", stored, other);
    EXPECT_EQ(other.size(), 6u);
    EXPECT_NE(other, "secret");
}

} // namespace
