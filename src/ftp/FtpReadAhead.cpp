#include "ftp/FtpReadAhead.h"

#include <algorithm>
#include <cstring>

TReadAhead::TReadAhead(QIODevice &File)
    : FFile(File)
    , FBuf(std::make_unique_for_overwrite<char[]>(ReadBytes))
{
}

const char *TReadAhead::Next(qint64 Max, qint64 &Count)
{
    Max = std::min(Max, ReadBytes);
    while (FEnd - FStart < Max && !FEof) {
        // The unsent tail moves to the front: a few bytes, once per ReadBytes.
        if (FStart > 0) {
            std::memmove(FBuf.get(), FBuf.get() + FStart, size_t(FEnd - FStart));
            FEnd -= FStart;
            FStart = 0;
        }
        const qint64 n = FFile.read(FBuf.get() + FEnd, ReadBytes - FEnd);
        if (n < 0) {
            Count = -1;
            return nullptr;
        }
        FEof = n == 0;
        FEnd += n;
    }
    Count = std::min(Max, FEnd - FStart);
    const char *Block = FBuf.get() + FStart;
    FStart += Count;
    return Block;
}
