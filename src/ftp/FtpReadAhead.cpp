#include "ftp/FtpReadAhead.h"

#include <algorithm>
#include <cstring>

void TReadAhead::Start(QIODevice &File)
{
    FFile = &File;
    FStart = FEnd = 0;
    FEof = false;
    FBuf = nullptr;
    FBuf = FreeChunk();
}

std::shared_ptr<const char[]> TReadAhead::FreeChunk()
{
    for (const auto &Chunk : FChunks)
        if (Chunk.use_count() == 1)
            return Chunk;
    // A socket holds at most its queue's worth: a few chunks serve a whole upload.
    FChunks.push_back(std::make_shared_for_overwrite<char[]>(ReadBytes));
    return FChunks.back();
}

const char *TReadAhead::Next(qint64 Max, qint64 &Count)
{
    if (!FFile) {
        Count = -1;
        return nullptr;
    }
    Max = std::min(Max, ReadBytes);
    while (FEnd - FStart < Max && !FEof) {
        // The unsent tail moves to the front of a chunk nobody holds: a few bytes, once per
        // ReadBytes. Blocks handed out before keep their bytes where they are.
        if (FStart > 0) {
            const std::shared_ptr<const char[]> Old = FBuf;
            FBuf = nullptr;
            FBuf = FreeChunk();
            std::memmove(Room(), Old.get() + FStart, size_t(FEnd - FStart));
            FEnd -= FStart;
            FStart = 0;
        }
        const qint64 n = FFile->read(Room() + FEnd, ReadBytes - FEnd);
        if (n < 0) {
            Count = -1;
            return nullptr;
        }
        // A file's read asks the platform again until it has all or the end (QFile): less
        // than asked is the end, and asking once more cost two reads per small file.
        FEof = n == 0 || (n < ReadBytes - FEnd && !FFile->isSequential());
        FEnd += n;
    }
    Count = std::min(Max, FEnd - FStart);
    const char *Block = Room() + FStart;
    FStart += Count;
    return Block;
}
