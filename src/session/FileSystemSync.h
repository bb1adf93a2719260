#pragma once
// One sync of a whole file system for a group of complete downloads, in place of an fsync of
// each: each fsync flushed the disk's cache on its own, a flush per file (on a virtual disk
// about 0.1 ms of processor time each, on a disk without a protected cache a few ms of wait).
// Used only where it is sure to make every file as durable as its own fsync would (the file
// systems whose sync writes out every file's data, size and blocks, then flushes the disk)
// and cheap (little else waits to be written: a sync writes everyone's files, and must not
// make a batch wait for another program's big copy).
#include <QtGlobal>

#include <cstddef>
#include <string>

namespace FileSystemSync {

// More data than this waiting to be written, from anyone, and each file gets its own fsync.
constexpr qint64 MaxDirtyBytes = 64 * 1024 * 1024;

// Whether one sync suits a group of Files on a file system of type FsType (statfs) while
// DirtyBytes wait to be written (-1: unknown).
bool Suits(std::size_t Files, long FsType, qint64 DirtyBytes);

// The "Dirty:" figure of a /proc/meminfo text, in bytes; -1 when it has none.
qint64 DirtyBytes(const std::string &MemInfo);

// Syncs the file system of Handle for a group of Files, when that suits: true when it did
// and the sync reported no error. A file of the group counts as synced only on the same file
// system, and still has its own write errors to collect (TDownloadTarget::SyncAndClose).
bool SyncGroup(int Handle, std::size_t Files);

} // namespace FileSystemSync
