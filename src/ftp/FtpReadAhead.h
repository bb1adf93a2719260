#pragma once
// Reads of an upload's local file in large pieces, handed out a block at a time: the file's
// own 16 KB buffer cost a read per 16 KB and a copy of every byte on its way to the block
// sent. A block handed out lies in Chunk(): it stays as it is while anyone holds that chunk,
// so a socket may queue it without a copy.

#include <QIODevice>

#include <memory>
#include <vector>

class TReadAhead {
public:
    static constexpr qint64 ReadBytes = 262144;   // bytes asked of the file at a time

    TReadAhead() = default;
    explicit TReadAhead(QIODevice &File) { Start(File); }
    // Reads File from its position on, until Stop: the file must last until then. The chunks
    // of the files before are kept for it, so a batch of small files allocates nothing.
    void Start(QIODevice &File);
    void Stop() { FFile = nullptr; }
    // The next Max bytes at most: their start, and Count (0 at the end of the file, -1 when
    // reading failed or no file is started). Fewer than Max only at the end of the file.
    const char *Next(qint64 Max, qint64 &Count);
    const std::shared_ptr<const char[]> &Chunk() const { return FBuf; } // holds the last block

private:
    std::shared_ptr<const char[]> FreeChunk();   // one nobody else holds, for the next read
    char *Room() const { return const_cast<char *>(FBuf.get()); } // ours to write while unshared

    QIODevice *FFile = nullptr;                   // the local file
    std::shared_ptr<const char[]> FBuf;           // ReadBytes of room: the chunk read into now
    std::vector<std::shared_ptr<const char[]>> FChunks; // every chunk made, reused once free
    qint64 FStart = 0;                            // first byte not yet handed out
    qint64 FEnd = 0;                              // end of the bytes read
    bool FEof = false;                            // the file gave no more
};
