// Gathered writes of a download's local file: the file ends up with exactly the bytes
// written, in order, whatever the piece sizes; a failing file is reported, never silently.
#include "ftp/FtpGatheredWrites.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <string>
#include <vector>

namespace {

struct TPieces {
    const char *Name;
    std::vector<qint64> Sizes;
};

void PrintTo(const TPieces &P, std::ostream *Os) { *Os << P.Name; }

std::string Bytes(qint64 Len, qint64 From)
{
    std::string s(size_t(Len), '\0');
    for (qint64 i = 0; i < Len; ++i)
        s[size_t(i)] = char((From + i) * 131 % 251);
    return s;
}

} // namespace

class GatheredWrites : public testing::TestWithParam<TPieces> {};

TEST_P(GatheredWrites, fileHoldsEveryPieceInOrderAfterFlush)
{
    QTemporaryDir Dir;
    QFile File(Dir.filePath("f"));
    ASSERT_TRUE(File.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    TGatheredWrites W(File);
    std::string Expected;
    for (qint64 Len : GetParam().Sizes) {
        const std::string Piece = Bytes(Len, qint64(Expected.size()));
        ASSERT_TRUE(W.Write(Piece.data(), Len));
        Expected += Piece;
    }
    EXPECT_LT(W.Gathered(), TGatheredWrites::GatherBytes);
    ASSERT_TRUE(W.Flush());
    EXPECT_EQ(W.Gathered(), 0);
    File.close();
    ASSERT_TRUE(File.open(QIODevice::ReadOnly));
    EXPECT_TRUE(File.readAll().toStdString() == Expected);
}

constexpr qint64 G = TGatheredWrites::GatherBytes;
INSTANTIATE_TEST_SUITE_P(Table, GatheredWrites,
                         testing::Values(TPieces{"nothing", {}},
                                         TPieces{"chunksOf2048", std::vector<qint64>(300, 2048)},
                                         TPieces{"exactlyFull", {G / 2, G / 2, 10}},
                                         TPieces{"oddAcrossTheEdge", {G - 1, 2, 2047, 1}},
                                         TPieces{"biggerThanTheRoom", {5, G + 7, 3}}),
                         [](const testing::TestParamInfo<TPieces> &I) { return std::string(I.param.Name); });

// A full disk: small writes are found failing when they reach the file (Flush), a write
// that reaches it at once is refused by that call.
TEST(GatheredWritesFailure, fullDiskIsReportedByFlushOrByTheWriteThatReachedIt)
{
    QFile Full("/dev/full");
    ASSERT_TRUE(Full.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    TGatheredWrites W(Full);
    const std::string Small = Bytes(2048, 0);
    EXPECT_TRUE(W.Write(Small.data(), 2048));
    EXPECT_FALSE(W.Flush());
    const std::string Big = Bytes(G, 0);
    EXPECT_FALSE(W.Write(Big.data(), G));
}
