"""File extents: a Guardian file is made of a primary extent and up to maxextents - 1
secondary ones, sizes counted in pages of 2048 bytes, fixed when the file is made. A
file that would grow past them fails with File Full (error 45); STOR NAME,code,p,s,m
gives a new file larger ones."""

PAGE_BYTES = 2048
DEFAULT_EXTENTS = (4, 28, 978)   # primary, secondary (pages), maximum extents


def capacity(extents=()):
    """Bytes a file with these extents can hold; missing ones take the defaults."""
    primary, secondary, most = tuple(extents) + DEFAULT_EXTENTS[len(extents):]
    return (primary + secondary * (most - 1)) * PAGE_BYTES


class FileFull(OSError):
    """A write past the file's extents: the host's error 45."""


class ExtentLimitedFile:
    """An upload's file that refuses to grow past `limit` bytes. What fits is written, as
    on the host; the rest ends the upload with FileFull."""

    def __init__(self, file, limit, target):
        self._file = file
        self._limit = limit
        self._target = target

    def write(self, data):
        room = self._limit - self._file.tell()
        if len(data) <= room:
            return self._file.write(data)
        self._file.write(data[:max(room, 0)])
        raise FileFull(f"Write error on {self._target}: File Full (error 45).")

    def __getattr__(self, name):
        return getattr(self._file, name)
