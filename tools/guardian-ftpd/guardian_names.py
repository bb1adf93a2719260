"""Guardian name rules: volumes, subvolumes, file names, LIST templates and the
",code[,primary,secondary,maxextents]" suffix that STOR and APPE accept.

Everything here is pure text handling; a refused name raises GuardianNameError whose
message says why, ready to go into a 5xx reply."""

from dataclasses import dataclass
from typing import Optional, Tuple

MAX_PART = 8       # file and subvolume names
MAX_VOLUME = 7     # characters after the "$"
MAX_FILE_CODE = 65535
MAX_EXTENT = 65535


class GuardianNameError(ValueError):
    """A name the host would refuse; the message says why."""


@dataclass(frozen=True)
class Subvol:
    volume: str   # "$DATA01"
    subvol: str   # "ZDEMO"

    def __str__(self):
        return f"{self.volume}.{self.subvol}"


@dataclass(frozen=True)
class FileTarget:
    subvol: Subvol
    name: str                       # upper case, never holds the suffix
    code: Optional[int] = None      # None: no code given
    extents: Tuple[int, ...] = ()   # primary, secondary, maximum (any leading part)

    def __str__(self):
        return f"{self.subvol}.{self.name}"


def _is_alnum(text):
    return text.isascii() and text.isalnum()


def check_part(text, what="file"):
    """A file or subvolume name: 1 to 8 letters and digits, a letter first."""
    if not text:
        raise GuardianNameError(f"{what} name is missing")
    if not _is_alnum(text):
        raise GuardianNameError(f'{what} name "{text}" may hold only letters and digits')
    if not text[0].isalpha():
        raise GuardianNameError(f'{what} name "{text}" must begin with a letter')
    if len(text) > MAX_PART:
        raise GuardianNameError(f'{what} name "{text}" is longer than {MAX_PART} characters')
    return text.upper()


def check_volume(text):
    """A volume name: "$" and 1 to 7 letters and digits, a letter first."""
    if not text.startswith("$"):
        raise GuardianNameError(f'volume name "{text}" must begin with "$"')
    rest = text[1:]
    if not rest:
        raise GuardianNameError('volume name "$" is missing its name')
    if not _is_alnum(rest):
        raise GuardianNameError(f'volume name "{text}" may hold only letters and digits after "$"')
    if not rest[0].isalpha():
        raise GuardianNameError(f'volume name "{text}" must have a letter after "$"')
    if len(rest) > MAX_VOLUME:
        raise GuardianNameError(f'volume name "{text}" is longer than {MAX_VOLUME} characters after "$"')
    return text.upper()


def parse_subvol(text, current):
    """A CWD target: "$VOL.SUBVOL", or "SUBVOL" on the current volume."""
    text = text.strip()
    if not text:
        raise GuardianNameError("subvolume name is missing")
    parts = text.split(".")
    if parts[0].startswith("$"):
        if len(parts) != 2:
            raise GuardianNameError(f'"{text}" is not of the form $VOLUME.SUBVOLUME')
        return Subvol(check_volume(parts[0]), check_part(parts[1], "subvolume"))
    if len(parts) != 1:
        raise GuardianNameError(f'"{text}" is not a subvolume name (SUBVOL or $VOLUME.SUBVOL)')
    return Subvol(current.volume, check_part(parts[0], "subvolume"))


def _qualified(parts, current, text):
    """Splits "[$VOL.][SUBVOL.]LAST" into (Subvol, LAST) without checking LAST."""
    if len(parts) == 1:
        return current, parts[0]
    if len(parts) == 2:
        if parts[0].startswith("$"):
            raise GuardianNameError(f'"{text}" names a volume but no subvolume')
        return Subvol(current.volume, check_part(parts[0], "subvolume")), parts[1]
    if len(parts) == 3:
        if not parts[0].startswith("$"):
            raise GuardianNameError(f'"{text}" has too many parts for a file name')
        return Subvol(check_volume(parts[0]), check_part(parts[1], "subvolume")), parts[2]
    raise GuardianNameError(f'"{text}" has too many parts for a file name')


def _number(field, what, low, high):
    if not field:
        raise GuardianNameError(f"{what} is empty")
    if not (field.isascii() and field.isdigit()):
        raise GuardianNameError(f'{what} "{field}" is not a decimal number')
    value = int(field)
    if not low <= value <= high:
        raise GuardianNameError(f"{what} {value} is outside {low} to {high}")
    return value


def parse_file(text, current, allow_suffix=True):
    """A file target: "[$VOL.][SUBVOL.]NAME", with an optional ",code[,pri,sec,max]"."""
    text = text.strip()
    body, comma, suffix = text.partition(",")
    if comma and not allow_suffix:
        raise GuardianNameError(f'"{text}": a file code suffix is not allowed here')
    subvol, name = _qualified(body.split("."), current, text)
    name = check_part(name, "file")
    code = None
    extents = ()
    if comma:
        fields = suffix.split(",")
        if len(fields) > 4:
            raise GuardianNameError(
                f'"{text}": only a file code and three extent sizes may follow the name')
        code = _number(fields[0].strip(), "file code", 0, MAX_FILE_CODE)
        labels = ("primary extent", "secondary extent", "maximum extents")
        extents = tuple(_number(f.strip(), label, 1, MAX_EXTENT)
                        for f, label in zip(fields[1:], labels))
    return FileTarget(subvol, name, code, extents)


def parse_template(text, current):
    """A LIST/NLST argument: empty (the current subvolume), "$VOL.SUBVOL", or a file
    template "[$VOL.][SUBVOL.]PATTERN" where "*" and "?" are wild. ls-style options
    that some clients send ("-l", "-la") are ignored. Returns (Subvol, pattern or None)."""
    words = [w for w in text.split() if not w.startswith("-")]
    if not words:
        return current, None
    if len(words) > 1:
        raise GuardianNameError(f'"{text}" holds more than one name')
    word = words[0]
    parts = word.split(".")
    if len(parts) == 2 and parts[0].startswith("$"):
        return parse_subvol(word, current), None
    subvol, pattern = _qualified(parts, current, word)
    if not pattern:
        raise GuardianNameError(f'"{word}" ends without a file name')
    if len(pattern) > MAX_PART or not all(_is_alnum(c) or c in "*?" for c in pattern):
        raise GuardianNameError(f'"{pattern}" is not a file name template')
    return subvol, pattern.upper()
