#pragma once
// Reads of an upload's local file in large pieces, handed out a block at a time: the file's
// own 16 KB buffer cost a read per 16 KB and a copy of every byte on its way to the block
// sent. A block handed out stays valid until the next call.

#include <QIODevice>

#include <memory>

class TReadAhead {
public:
    static constexpr qint64 ReadBytes = 262144;   // bytes asked of the file at a time

    explicit TReadAhead(QIODevice &File);         // the file must outlive this object
    // The next Max bytes at most: their start, and Count (0 at the end of the file, -1 when
    // reading failed). Fewer than Max only at the end of what the file gives.
    const char *Next(qint64 Max, qint64 &Count);

private:
    QIODevice &FFile;                             // the local file
    std::unique_ptr<char[]> FBuf;                 // ReadBytes of room
    qint64 FStart = 0;                            // first byte not yet handed out
    qint64 FEnd = 0;                              // end of the bytes read
    bool FEof = false;                            // the file gave no more
};
