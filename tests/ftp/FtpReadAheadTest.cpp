// An upload's reads ahead: the blocks handed out are the file's bytes, in order, whatever the
// block size against the read size, and they keep them while their chunk is held (a socket
// queues them without a copy); the end comes as 0, a failing file as -1.
#include "ftp/FtpReadAhead.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>

#include <memory>
#include <string>
#include <vector>

namespace {

struct TReadRow {
    const char *Name;
    qint64 FileBytes;
    qint64 Block;
};

void PrintTo(const TReadRow &R, std::ostream *Os) { *Os << R.Name; }

QByteArray Bytes(qint64 Len)
{
    QByteArray b(Len, '\0');
    for (qint64 i = 0; i < Len; ++i)
        b[i] = char(i * 131 % 251);
    return b;
}

} // namespace

class ReadAhead : public testing::TestWithParam<TReadRow> {};

TEST_P(ReadAhead, blocksAreTheFilesBytesInOrderThenTheEnd)
{
    QByteArray Content = Bytes(GetParam().FileBytes);
    QBuffer File(&Content);
    ASSERT_TRUE(File.open(QIODevice::ReadOnly));
    TReadAhead R(File);
    struct THeld {
        std::shared_ptr<const char[]> Chunk;
        const char *Block;
        qint64 Count;
    };
    std::vector<THeld> Held; // every block, with its chunk, until the end
    qint64 Total = 0, Count = 0;
    for (int Turns = 0; Turns < 1000000; ++Turns) {
        const char *Block = R.Next(GetParam().Block, Count);
        ASSERT_GE(Count, 0);
        if (Count == 0)
            break;
        if (Total + Count < Content.size()) {
            ASSERT_EQ(Count, GetParam().Block) << "short only at the end, at " << Total;
        }
        const char *Start = R.Chunk().get();
        ASSERT_TRUE(Block >= Start && Block + Count <= Start + TReadAhead::ReadBytes) << "inside its chunk";
        Held.push_back({R.Chunk(), Block, Count});
        Total += Count;
    }
    std::string Got;
    for (const THeld &H : Held)
        Got.append(H.Block, size_t(H.Count));
    EXPECT_TRUE(Got == Content.toStdString()) << Got.size() << " of " << Content.size();
    EXPECT_EQ(R.Next(GetParam().Block, Count), R.Next(GetParam().Block, Count)) << "the end stays the end";
    EXPECT_EQ(Count, 0);
}

constexpr qint64 RB = TReadAhead::ReadBytes;
INSTANTIATE_TEST_SUITE_P(Table, ReadAhead,
                         testing::Values(TReadRow{"empty", 0, 1514},
                                         TReadRow{"oneShortBlock", 100, 1514},
                                         TReadRow{"blocksAcrossManyReads", 3 * RB + 777, 1514},
                                         TReadRow{"blockDividesTheReadSize", 2 * RB, 4096},
                                         TReadRow{"blockAsLargeAsTheRoom", RB + 1, RB}),
                         [](const testing::TestParamInfo<TReadRow> &I) { return std::string(I.param.Name); });

TEST(ReadAheadFailure, unreadableFileGivesMinusOne)
{
    QBuffer File; // never opened: every read fails
    TReadAhead R(File);
    qint64 Count = 0;
    R.Next(1514, Count);
    EXPECT_EQ(Count, -1);
}

TEST(ReadAheadAcrossFiles, theNextFileReusesAFreeChunkAndNeverOneStillHeld)
{
    QByteArray First = Bytes(100), Second = Bytes(300).right(200), Third = Bytes(50);
    QBuffer A(&First), B(&Second), C(&Third);
    for (QBuffer *F : {&A, &B, &C})
        ASSERT_TRUE(F->open(QIODevice::ReadOnly));
    TReadAhead R;
    qint64 Count = 0;
    R.Next(1514, Count);
    EXPECT_EQ(Count, -1) << "no file started";

    R.Start(A);
    const char *BlockA = R.Next(1514, Count);
    ASSERT_EQ(Count, 100);
    std::shared_ptr<const char[]> HeldA = R.Chunk(); // a socket still queues A's block
    R.Stop();
    R.Next(1514, Count);
    EXPECT_EQ(Count, -1) << "stopped";

    R.Start(B);
    const char *BlockB = R.Next(1514, Count);
    ASSERT_EQ(Count, 200);
    EXPECT_NE(R.Chunk().get(), HeldA.get()) << "A's chunk is still held";
    EXPECT_EQ(std::string(BlockA, 100), First.toStdString()) << "A's block kept its bytes";
    EXPECT_EQ(std::string(BlockB, 200), Second.toStdString());
    const char *ChunkB = R.Chunk().get();
    R.Stop();

    HeldA.reset();
    R.Start(C);
    const char *BlockC = R.Next(1514, Count);
    ASSERT_EQ(Count, 50);
    EXPECT_TRUE(R.Chunk().get() == ChunkB || R.Chunk().get() == BlockA) << "a free chunk, not a new one";
    EXPECT_EQ(std::string(BlockC, 50), Third.toStdString());
    R.Next(1514, Count);
    EXPECT_EQ(Count, 0);
}
