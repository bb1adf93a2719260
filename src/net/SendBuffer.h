// One block of a socket's send queue: a fixed-capacity byte area filled at the back and
// drained from the front. A drained block rewinds to its start so it can be refilled.
// A shared block holds no copy: it points into memory its owner keeps alive until it is sent.
#pragma once

#include <memory>

class TBuffer {
public:
    static constexpr int DefaultBufSize = 1514; // one Ethernet frame; also the queue's block size

    // Capacity BufSize; 0 or less means DefaultBufSize.
    explicit TBuffer(int BufSize = DefaultBufSize);
    // A shared block of Len bytes at Data, inside Owner's memory; it takes no Write.
    TBuffer(std::shared_ptr<const char[]> Owner, const char *Data, int Len);

    bool Shared() const { return FOwner != nullptr; }
    // Takes Len more bytes of a shared block when they follow its own in the same memory.
    bool Extend(const std::shared_ptr<const char[]> &Owner, const char *Data, int Len);

    int BufSize() const { return FBufSize; }        // capacity in bytes
    int Count() const { return FWrCount - FRdCount; } // bytes stored and not yet removed
    int FreeSpace() const { return FBufSize - FWrCount; } // bytes Write can still store

    // Stores min(Len, FreeSpace()) bytes and returns that count (0 when full).
    int Write(const void *Data, int Len);
    // Copies min(Len, Count()) bytes out and removes them; returns the count.
    int Read(void *Data, int Len);
    // The unsent bytes and their count in Len (nullptr and 0 when empty).
    const char *Peek(int &Len) const;
    // Drops min(Len, Count()) bytes from the front; returns the count.
    int Remove(int Len);

private:
    void RewindIfDrained();

    std::unique_ptr<char[]> FBuf; // storage
    std::shared_ptr<const char[]> FOwner; // a shared block's memory, released once drained
    const char *FData = nullptr;  // the bytes: FBuf's, or inside FOwner's
    int FBufSize;                 // capacity (a shared block: its bytes)
    int FWrCount = 0;             // WritePos: one past the last stored byte
    int FRdCount = 0;             // ReadPos: first byte not yet sent
};
