#include "net/SendBuffer.h"

#include <algorithm>
#include <cstring>
#include <utility>

TBuffer::TBuffer(int BufSize)
    : FBufSize(BufSize > 0 ? BufSize : DefaultBufSize)
{
    // Default-initialised: the block is written before it is read.
    FBuf.reset(new char[static_cast<size_t>(FBufSize)]);
    FData = FBuf.get();
}

TBuffer::TBuffer(std::shared_ptr<const char[]> Owner, const char *Data, int Len)
    : FOwner(std::move(Owner)), FData(Data), FBufSize(std::max(Len, 0)), FWrCount(FBufSize)
{
}

bool TBuffer::Extend(const std::shared_ptr<const char[]> &Owner, const char *Data, int Len)
{
    if (!FOwner || Owner != FOwner || Data != FData + FWrCount || Len < 0)
        return false;
    FBufSize += Len;
    FWrCount += Len;
    return true;
}

void TBuffer::RewindIfDrained()
{
    if (FRdCount != FWrCount)
        return;
    FRdCount = FWrCount = 0;
    if (FOwner) { // the owner may use its memory again
        FOwner.reset();
        FData = nullptr;
        FBufSize = 0;
    }
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
        std::memcpy(Data, FData + FRdCount, static_cast<size_t>(n));
    return Remove(n);
}

const char *TBuffer::Peek(int &Len) const
{
    Len = Count();
    return Len > 0 ? FData + FRdCount : nullptr;
}

int TBuffer::Remove(int Len)
{
    const int n = std::clamp(Len, 0, Count());
    FRdCount += n;
    RewindIfDrained();
    return n;
}
