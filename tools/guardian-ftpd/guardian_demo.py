"""Sample subvolumes for the demo: edit files with C and TAL-like source, object
files, data files, names that map to PC extensions, and enough files to scroll.
The content is the same on every run."""

import os
import random
import time

from guardian_names import Subvol
from guardian_store import format_owner

_C_MAIN = """\
/* prog.c - reads a customer file and prints a balance report */
#include <stdio.h>
#include <stdlib.h>
#include "progh"

int main(int argc, char *argv[])
{
    struct customer c;
    long total = 0;
    FILE *in = fopen(argc > 1 ? argv[1] : "custfile", "r");

    if (in == NULL) {
        perror("custfile");
        return EXIT_FAILURE;
    }
    while (read_customer(in, &c) == 0) {
        printf("%-8s %10ld\\n", c.id, c.balance);
        total += c.balance;
    }
    printf("total    %10ld\\n", total);
    fclose(in);
    return EXIT_SUCCESS;
}
"""

_C_HEADER = """\
/* prog.h - customer record */
#ifndef PROG_H
#define PROG_H
#include <stdio.h>

struct customer {
    char id[9];
    long balance;
};

int read_customer(FILE *in, struct customer *c);

#endif
"""

_C_UTIL = """\
/* util.c - record reading helpers */
#include <string.h>
#include "progh"

int read_customer(FILE *in, struct customer *c)
{
    char line[80];
    if (fgets(line, sizeof line, in) == NULL)
        return -1;
    memset(c, 0, sizeof *c);
    return sscanf(line, "%8s %ld", c->id, &c->balance) == 2 ? 0 : -1;
}
"""

_MAKEFILE = """\
# makefile - builds PROG from PROGC and UTILC
CFLAGS = -Wextensions -Wsystype=guardian

prog: progo utilo
\tnld -o prog progo utilo

progo: progc progh
\tccomp progc -o progo $(CFLAGS)

utilo: utilc progh
\tccomp utilc -o utilo $(CFLAGS)
"""

_TAL = """\
! TALSRC - counts the records of a file
?SOURCE $SYSTEM.SYSTEM.EXTDECS0 (OPEN, READ, CLOSE, WRITE)
INT .buffer[0:39];
INT file^num, count := 0, error;

PROC main^proc MAIN;
BEGIN
  CALL OPEN(buffer, file^num);
  WHILE NOT error DO
  BEGIN
    CALL READ(file^num, buffer, 80);
    IF < THEN error := 1 ELSE count := count + 1;
  END;
  CALL CLOSE(file^num);
END;
"""

_TACL = """\
== BUILDIT - runs the make file and reports the result
?TACL MACRO
#FRAME
#PUSH result
#SET result [#MAKE makefile]
#OUTPUT Build finished: [result]
#UNFRAME
"""

_OWNERS = [format_owner(155, 106), format_owner(244, 10), format_owner(255, 255),
           format_owner(100, 1)]
_SECURITY = ["nnnn", "NUNU", "OOOO", "AOAO"]


def _text(*lines):
    return "".join(line + "\n" for line in lines)


def _records(rng, count, width):
    """Fixed-width customer records, the kind of thing a code 180 file holds."""
    return "".join(f"C{rng.randrange(10**6):07d} {rng.randrange(-5000, 90000):>{width}}\n"
                   for _ in range(count))


def _binary(rng, size):
    return bytes(rng.randrange(256) for _ in range(size))


def _files(rng):
    """(subvolume, name, code, content) for every sample file."""
    home = [
        ("PROGC", 101, _C_MAIN), ("PROGH", 101, _C_HEADER), ("UTILC", 101, _C_UTIL),
        ("MAKEFILE", 101, _MAKEFILE), ("TALSRC", 101, _TAL), ("BUILDIT", 101, _TACL),
        ("README", 101, _text("Demo subvolume for Zarvel.",
                              "Edit files have code 101; PROGO and UTILO are objects.")),
        ("PROGO", 100, _binary(rng, 4096)), ("UTILO", 100, _binary(rng, 2048)),
        ("TALOBJ", 100, _binary(rng, 1536)), ("PROG", 700, _binary(rng, 12288)),
        ("PROGE", 800, _binary(rng, 16384)),
        ("CUSTFILE", 180, _records(rng, 40, 8)), ("CUSTDATA", 0, _binary(rng, 3000)),
        ("EMPTY", 0, b""),
    ]
    # Enough edit and data files to make the list scroll.
    for i in range(1, 31):
        if i % 3:
            home.append((f"SRC{i:02d}C", 101,
                         _text(f"/* module {i} */", f"int module{i}(void) {{ return {i}; }}")))
        else:
            home.append((f"LOG{i:02d}", 180, _records(rng, i, 6)))
    tools = [("COPYC", 101, _text("/* copy.c */", "int main(void) { return 0; }")),
             ("COPY", 800, _binary(rng, 8192)), ("LIBO", 100, _binary(rng, 6000))]
    data = [(f"DAY{i:03d}", 180 if i % 2 else 0,
             _records(rng, 10 + i, 8) if i % 2 else _binary(rng, 500 + i)) for i in range(1, 9)]
    return [("ZDEMO", home), ("ZTOOLS", tools), ("ZDATA", data)]


def fill_demo(store, home):
    """Writes the sample files into the home volume (home's subvolume gets the main
    set) and a second, small volume $DATA02."""
    rng = random.Random(7)
    base = time.mktime((2024, 3, 5, 9, 41, 7, 0, 0, -1))
    groups = _files(rng)
    groups[0] = (home.subvol, groups[0][1])
    step = 0
    for subvol_name, files in groups:
        subvol = Subvol(home.volume, subvol_name)
        _write_subvol(store, subvol, files, base, step, rng)
        step += len(files)
    # A log being written, as a host always has one: its listing line carries the "O".
    store.set_attributes(Subvol(home.volume, home.subvol), "LOG30", opened=True)
    backup = Subvol("$DATA02", "BACKUP")
    _write_subvol(store, backup, [("PROGC", 101, _C_MAIN), ("PROGO", 100, _binary(rng, 4096))],
                  base, step, rng)


def _write_subvol(store, subvol, files, base, step, rng):
    store.prepare_store(subvol)
    for i, (name, code, content) in enumerate(files):
        path = store.file_path(subvol, name)
        with open(path, "wb") as f:
            f.write(content.encode("ascii") if isinstance(content, str) else content)
        # Spread the dates over months so single-digit days show up.
        mtime = base + (step + i) * 86400 * 3 + rng.randrange(86400)
        os.utime(path, (mtime, mtime))
        store.set_attributes(subvol, name, code=code, owner=_OWNERS[(step + i) % len(_OWNERS)],
                             security=_SECURITY[(step + i) % len(_SECURITY)])
