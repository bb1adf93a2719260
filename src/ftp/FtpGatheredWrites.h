#pragma once
// Writes to a download's local file gathered into large pieces: a write per received chunk
// (or per 16 KB of the file's own buffer) cost the page cache a good part of a download's
// processor time. A failed write is never lost: the Write that made it or Flush reports it.

#include <QIODevice>

#include <memory>

class TGatheredWrites {
public:
    static constexpr qint64 GatherBytes = 262144; // bytes gathered before they go to the file

    explicit TGatheredWrites(QIODevice &File);    // the file must outlive this object
    bool Write(const char *Data, qint64 Len);     // gathers; false when a write to the file failed
    bool Flush();                                 // writes what is gathered; false on failure
    qint64 Gathered() const { return FUsed; }     // bytes not yet written to the file

private:
    QIODevice &FFile;                             // the local file
    std::unique_ptr<char[]> FBuf;                 // GatherBytes of room
    qint64 FUsed = 0;                             // bytes gathered in FBuf
};
