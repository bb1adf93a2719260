#include "ftp/FtpGatheredWrites.h"

#include <cstring>

TGatheredWrites::TGatheredWrites(QIODevice &File)
    : FFile(File)
    // Not zeroed: every download has one, and clearing 256 KB cost a small file more than its data.
    , FBuf(std::make_unique_for_overwrite<char[]>(GatherBytes))
{
}

bool TGatheredWrites::Write(const char *Data, qint64 Len)
{
    if (FUsed + Len > GatherBytes && !Flush())
        return false;
    if (Len >= GatherBytes) // larger than the room: straight to the file
        return FFile.write(Data, Len) == Len;
    std::memcpy(FBuf.get() + FUsed, Data, size_t(Len));
    FUsed += Len;
    return FUsed < GatherBytes || Flush();
}

bool TGatheredWrites::Flush()
{
    const qint64 Len = FUsed;
    FUsed = 0; // what failed to go is reported, not offered again
    return Len == 0 || FFile.write(FBuf.get(), Len) == Len;
}
