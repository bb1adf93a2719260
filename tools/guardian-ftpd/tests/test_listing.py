"""LIST layout: the columns a NonStop client reads must be where it reads them."""

import io
import os
import time

import pytest

from guardian_listing import HEADING, format_line, format_listing
from guardian_store import FileInfo, format_owner


def client_fields(line):
    """Name, file code and EOF read the way the client reads them: the name before the
    first blank, the code as atol from the 14th character, the EOF as the number after it."""
    name = line.split(" ", 1)[0] if " " in line else ""
    rest = line[13:].lstrip()
    digits = ""
    for c in rest:
        if not c.isdigit():
            break
        digits += c
    code = int(digits or 0)
    eof = int(rest[len(digits):].split()[0])
    return name, code, eof


def info(name="ALV", code=101, eof=2522, when=(2002, 8, 27, 13, 57, 10), owner="155,106",
         security="nnnn", opened=False):
    mtime = time.mktime(when + (0, 0, -1))
    return FileInfo(name, code, eof, mtime, owner, security, opened)


def test_lines_match_the_hosts_own_layout():
    assert format_line(info()) == 'ALV           101             2522 27-Aug-02 13:57:10 155,106 "nnnn"'
    assert (format_line(info("IARPTS", 101, 16354, (2008, 3, 18, 15, 9, 12), format_owner(244, 10)))
            == 'IARPTS        101            16354 18-Mar-08 15:09:12 244, 10 "nnnn"')
    assert HEADING == "File         Code             EOF  Last Modification    Owner  RWEP"


def test_an_open_file_carries_an_o_between_name_and_code():
    line = format_line(info("TACLCSTM", 101, 101, (2001, 3, 4, 23, 50, 6), "255,255", "oooo", opened=True))
    assert line == 'TACLCSTM   O  101              101 4-Mar-01 23:50:06 255,255 "oooo"'
    assert line.split()[2] == "101" and client_fields(line) == ("TACLCSTM", 101, 101)


@pytest.mark.parametrize("name, code, eof", [
    ("A", 0, 0), ("ABCDEFGH", 101, 1), ("ABCDEFGH", 65535, 2**31 + 5), ("PROG", 7, 123456789),
])
def test_client_reads_name_code_and_eof_back(name, code, eof):
    line = format_line(info(name, code, eof))
    assert client_fields(line) == (name, code, eof)
    # The code may never start before the 14th character.
    assert line[:13].rstrip() == name


def test_day_is_not_padded_and_owner_may_hold_a_blank():
    line = format_line(info(when=(2026, 1, 5, 7, 8, 9), owner=format_owner(8, 1)))
    assert " 5-Jan-26 07:08:09 8,  1 \"nnnn\"" in line


def test_summary_line_only_when_asked():
    files = [info("A", eof=10), info("B", eof=32)]
    assert format_listing(files)[1:] == [format_line(f) for f in files]
    assert format_listing(files, summary=True)[-1] == "Total of 2 file(s), 42 byte(s)"


def test_served_listing_parses_and_shows_mtime(server, ftp):
    path = os.path.join(server.root, "$DATA01", "ZDEMO")
    ftp.storbinary("STOR OBJ,700", io.BytesIO(b"x" * 300))
    when = time.mktime((2019, 7, 4, 6, 5, 4, 0, 0, -1))
    os.utime(os.path.join(path, "OBJ"), (when, when))
    lines = []
    ftp.retrlines("LIST", lines.append)
    assert lines[0] == HEADING
    assert client_fields(lines[1]) == ("OBJ", 700, 300)
    assert "4-Jul-19 06:05:04" in lines[1]
