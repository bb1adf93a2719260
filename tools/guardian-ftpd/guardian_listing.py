"""LIST lines in the layout of the NonStop server: the name left-aligned, an "O" in
column 12 for a file that is open, the file code ending in column 17 (so it never
starts before column 14, where clients read it), the EOF ending in column 34, then
date, time, owner and security."""

import time

HEADING = "File         Code             EOF  Last Modification    Owner  RWEP"

_MONTHS = ("Jan", "Feb", "Mar", "Apr", "May", "Jun",
           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec")

NAME_WIDTH = 11    # 8 characters of name and at least 3 blanks, then the open mark
CODE_WIDTH = 4
EOF_WIDTH = 17


def format_time(mtime):
    """"dd-Mon-yy HH:MM:SS" in local time, the day not padded, English month names."""
    t = time.localtime(mtime)
    return (f"{t.tm_mday}-{_MONTHS[t.tm_mon - 1]}-{t.tm_year % 100:02d} "
            f"{t.tm_hour:02d}:{t.tm_min:02d}:{t.tm_sec:02d}")


def format_line(info):
    mark = "O" if info.opened else " "
    return (f"{info.name:<{NAME_WIDTH}}{mark} {info.code:>{CODE_WIDTH}}"
            f" {info.eof:>{EOF_WIDTH - 1}} {format_time(info.mtime)}"
            f" {info.owner} \"{info.security}\"")


def format_summary(files):
    total = sum(f.eof for f in files)
    return f"Total of {len(files)} file(s), {total} byte(s)"


def format_listing(files, summary=False):
    """The whole LIST answer as lines (without line ends)."""
    lines = [HEADING] + [format_line(f) for f in files]
    if summary:
        lines.append(format_summary(files))
    return lines
