"""Guardian name rules, as tables."""

import pytest

from guardian_names import (FileTarget, GuardianNameError, Subvol, parse_file,
                            parse_subvol, parse_template)

HOME = Subvol("$DATA01", "ZDEMO")


@pytest.mark.parametrize("text, expected", [
    ("PROGC", FileTarget(HOME, "PROGC")),
    ("progc", FileTarget(HOME, "PROGC")),
    (" A1 ", FileTarget(HOME, "A1")),
    ("ABCDEFGH", FileTarget(HOME, "ABCDEFGH")),
    ("MYOBJ,100", FileTarget(HOME, "MYOBJ", 100)),
    ("NAME,100,4,28,978", FileTarget(HOME, "NAME", 100, (4, 28, 978))),
    ("NAME,0", FileTarget(HOME, "NAME", 0)),
    ("NAME,65535,4", FileTarget(HOME, "NAME", 65535, (4,))),
    ("zsrc.prog", FileTarget(Subvol("$DATA01", "ZSRC"), "PROG")),
    ("$data02.backup.prog,101", FileTarget(Subvol("$DATA02", "BACKUP"), "PROG", 101)),
])
def test_file_names_accepted(text, expected):
    assert parse_file(text, HOME) == expected


@pytest.mark.parametrize("text, why", [
    ("", "missing"),
    ("1ABC", "must begin with a letter"),
    ("ABCDEFGHI", "longer than 8"),
    ("PROG.C.X.Y", "too many parts"),
    ("PROG_C", "only letters and digits"),
    ("A-B", "only letters and digits"),
    ("ÄBC", "only letters and digits"),
    ("../ETC", "too many parts"),
    ("A/B", "only letters and digits"),
    ("$DATA01.PROG", "no subvolume"),
    ("ZSRC.1X", "must begin with a letter"),
    ("X.$VOL.NAME", "too many parts"),
    ("$TOOLONGV.SUB.NAME", "longer than 7"),
    ("$1VOL.SUB.NAME", "letter after"),
    ("$.SUB.NAME", "missing its name"),
    ("NAME,", "file code is empty"),
    ("NAME,ABC", "not a decimal number"),
    ("NAME,-1", "not a decimal number"),
    ("NAME,65536", "outside 0 to 65535"),
    ("NAME,100,0", "primary extent 0 is outside"),
    ("NAME,100,4,,978", "secondary extent is empty"),
    ("NAME,100,4,28,978,5", "only a file code and three extent"),
])
def test_file_names_refused_with_reason(text, why):
    with pytest.raises(GuardianNameError, match=why):
        parse_file(text, HOME)


@pytest.mark.parametrize("text, expected", [
    ("$DATA01.ZSRC", Subvol("$DATA01", "ZSRC")),
    ("$data02.Backup", Subvol("$DATA02", "BACKUP")),
    ("zsrc", Subvol("$DATA01", "ZSRC")),
    ("$A.B", Subvol("$A", "B")),
])
def test_subvolumes_accepted(text, expected):
    assert parse_subvol(text, HOME) == expected


@pytest.mark.parametrize("text", ["", "$DATA01", "$DATA01.", "A.B", "$DATA01.Z.X", "/tmp",
                                  "..", "ZDEMO9999", "$DATA01.1X", "DATA01.ZDEMO"])
def test_subvolumes_refused(text):
    with pytest.raises(GuardianNameError):
        parse_subvol(text, HOME)


@pytest.mark.parametrize("text, expected", [
    ("", (HOME, None)),
    ("-la", (HOME, None)),
    ("$DATA02.BACKUP", (Subvol("$DATA02", "BACKUP"), None)),
    ("prog*", (HOME, "PROG*")),
    ("-l ZSRC.?ROG", (Subvol("$DATA01", "ZSRC"), "?ROG")),
])
def test_list_templates(text, expected):
    assert parse_template(text, HOME) == expected


@pytest.mark.parametrize("text", ["A B", "PROG[1]", "$DATA01", "ZSRC."])
def test_list_templates_refused(text):
    with pytest.raises(GuardianNameError):
        parse_template(text, HOME)
