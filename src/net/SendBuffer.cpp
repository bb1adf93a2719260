#include "net/SendBuffer.h"

#include <algorithm>
#include <cstring>

TBuffer::TBuffer(int BufSize)
    : FBufSize(BufSize > 0 ? BufSize : DefaultBufSize)
{
    // Default-initialised: the block is written before it is read.
    FBuf.reset(new char[static_cast<size_t>(FBufSize)]);
}

void TBuffer::RewindIfDrained()
{
    if (FRdCount == FWrCount)
        FRdCount = FWrCount = 0;
}

int TBuffer::Write(const void *Data, int Len)
{
    const int n = std::clamp(Len, 0, FreeSpace());
    if (n > 0) {
        std::memcpy(FBuf.get() + FWrCount, Data, static_cast<size_t>(n));
        FWrCount += n;
    }
    return n;
}

int TBuffer::Read(void *Data, int Len)
{
    const int n = std::clamp(Len, 0, Count());
    if (n > 0)
        std::memcpy(Data, FBuf.get() + FRdCount, static_cast<size_t>(n));
    return Remove(n);
}

const char *TBuffer::Peek(int &Len) const
{
    Len = Count();
    return Len > 0 ? FBuf.get() + FRdCount : nullptr;
}

int TBuffer::Remove(int Len)
{
    const int n = std::clamp(Len, 0, Count());
    FRdCount += n;
    RewindIfDrained();
    return n;
}
