"""The Guardian namespace kept in a folder: ROOT/$VOL/SUBVOL/NAME, one folder per
volume and subvolume, names in upper case. Each subvolume keeps the file codes (and
owner, security, extents and the open flag) of its files in a small catalog file beside them, replaced
atomically on every change so a crash never leaves a half-written catalog."""

import json
import logging
import os
import tempfile
from dataclasses import dataclass
from typing import Optional, Tuple

from guardian_names import GuardianNameError, check_part, check_volume

CATALOG = ".catalog.json"   # a leading "." can never be a Guardian name

log = logging.getLogger("guardian-ftpd")


@dataclass(frozen=True)
class FileInfo:
    name: str
    code: int
    eof: int          # size in bytes
    mtime: float      # seconds since the epoch
    owner: str        # "group,user" as shown, e.g. "244, 10"
    security: str     # four characters, e.g. "nnnn"
    opened: bool = False   # open for writing by a process on the host (a log being written)
    extents: Tuple[int, ...] = ()   # primary, secondary, maximum given when it was made


def format_owner(group, user):
    """Owner as the host shows it: the user number right-aligned in three places."""
    return f"{group},{user:>3}"


def _valid(check, text):
    try:
        return check(text) == text
    except GuardianNameError:
        return False


class GuardianStore:
    def __init__(self, root, owner="100,  1", security="nnnn"):
        self.root = os.path.abspath(root)
        self.owner = owner
        self.security = security

    # --- volumes and subvolumes

    def volumes(self):
        """Volumes that exist: the upper-case volume folders under the root."""
        try:
            entries = os.listdir(self.root)
        except OSError:
            return []
        return sorted(e for e in entries
                      if _valid(check_volume, e) and os.path.isdir(os.path.join(self.root, e)))

    def has_volume(self, volume):
        return os.path.isdir(os.path.join(self.root, volume))

    def add_volume(self, volume):
        os.makedirs(os.path.join(self.root, check_volume(volume)), exist_ok=True)

    def subvolumes(self, volume):
        path = os.path.join(self.root, volume)
        try:
            entries = os.listdir(path)
        except OSError:
            return []
        return sorted(e for e in entries
                      if _valid(lambda t: check_part(t, "subvolume"), e)
                      and os.path.isdir(os.path.join(path, e)))

    def subvol_dir(self, subvol):
        return os.path.join(self.root, subvol.volume, subvol.subvol)

    def subvol_exists(self, subvol):
        return os.path.isdir(self.subvol_dir(subvol))

    def make_subvol(self, subvol):
        """Creates the subvolume's folder; false when it existed already."""
        path = self.subvol_dir(subvol)
        if os.path.isdir(path):
            return False
        os.makedirs(path)
        return True

    def remove_subvol(self, subvol):
        """Removes an empty subvolume; refuses (OSError) one that still holds files."""
        if self.files(subvol):
            raise OSError(f"subvolume {subvol} still holds files")
        path = self.subvol_dir(subvol)
        if os.path.isdir(path):
            try:
                os.remove(os.path.join(path, CATALOG))
            except FileNotFoundError:
                pass
            os.rmdir(path)

    # --- files

    def file_path(self, subvol, name):
        return os.path.join(self.subvol_dir(subvol), name)

    def read_catalog(self, subvol):
        path = os.path.join(self.subvol_dir(subvol), CATALOG)
        try:
            with open(path, encoding="utf-8") as f:
                data = json.load(f)
        except FileNotFoundError:
            return {}
        except (OSError, ValueError) as err:
            data = err
        if isinstance(data, dict):
            return data
        # Set a damaged catalog aside rather than overwrite it with the next change.
        log.warning("catalog %s unreadable (%s); kept as %s, its files show file code 0",
                    path, data if isinstance(data, Exception) else "not an object", path + ".bad")
        try:
            os.replace(path, path + ".bad")
        except OSError:
            pass
        return {}

    def write_catalog(self, subvol, catalog):
        """Writes the catalog through a temporary file and a rename, dropping the
        entries of files that no longer exist."""
        folder = self.subvol_dir(subvol)
        present = {n: v for n, v in catalog.items() if os.path.isfile(os.path.join(folder, n))}
        fd, tmp = tempfile.mkstemp(prefix=".catalog.", suffix=".tmp", dir=folder)
        try:
            with os.fdopen(fd, "w", encoding="utf-8") as f:
                json.dump(present, f, indent=1, sort_keys=True)
                f.flush()
                os.fsync(f.fileno())
            os.replace(tmp, os.path.join(folder, CATALOG))
        except BaseException:
            try:
                os.remove(tmp)
            except OSError:
                pass
            raise

    def _info(self, subvol, name, entry):
        st = os.stat(self.file_path(subvol, name))
        entry = entry if isinstance(entry, dict) else {}
        code = entry.get("code", 0)
        return FileInfo(name=name,
                        code=code if isinstance(code, int) else 0,
                        eof=st.st_size,
                        mtime=st.st_mtime,
                        owner=str(entry.get("owner", self.owner)),
                        security=str(entry.get("security", self.security)),
                        opened=entry.get("open") is True,
                        extents=tuple(e for e in entry.get("extents", ()) if isinstance(e, int)))

    def files(self, subvol):
        """The subvolume's files sorted by name; an absent subvolume is empty."""
        folder = self.subvol_dir(subvol)
        try:
            entries = os.listdir(folder)
        except OSError:
            return []
        catalog = self.read_catalog(subvol)
        result = []
        for name in sorted(entries):
            if _valid(check_part, name) and os.path.isfile(os.path.join(folder, name)):
                try:
                    result.append(self._info(subvol, name, catalog.get(name)))
                except OSError:
                    pass   # removed while we looked
        return result

    def lookup(self, subvol, name) -> Optional[FileInfo]:
        if not os.path.isfile(self.file_path(subvol, name)):
            return None
        return self._info(subvol, name, self.read_catalog(subvol).get(name))

    def prepare_store(self, subvol):
        """Makes the subvolume's folder so a file can be created in it."""
        os.makedirs(self.subvol_dir(subvol), exist_ok=True)

    def set_attributes(self, subvol, name, code: Optional[int] = None,
                       extents: Optional[Tuple[int, ...]] = None, owner=None, security=None,
                       opened=None):
        catalog = self.read_catalog(subvol)
        entry = dict(catalog.get(name) or {})
        if code is not None:
            entry["code"] = code
        entry.setdefault("code", 0)
        if extents:
            entry["extents"] = list(extents)
        elif extents is not None:
            entry.pop("extents", None)   # a new file with the default extents
        entry["owner"] = owner if owner is not None else entry.get("owner", self.owner)
        entry["security"] = security if security is not None else entry.get("security", self.security)
        if opened is not None:
            entry["open"] = opened
        catalog[name] = entry
        self.write_catalog(subvol, catalog)

    def remove(self, subvol, name):
        os.remove(self.file_path(subvol, name))
        catalog = self.read_catalog(subvol)
        catalog.pop(name, None)
        self.write_catalog(subvol, catalog)

    def rename(self, source, target, code: Optional[int] = None):
        """Renames source (subvol, name) to target (subvol, name) on one volume,
        carrying its catalog entry; the target must not exist."""
        (src_sv, src_name), (dst_sv, dst_name) = source, target
        if src_sv.volume != dst_sv.volume:
            raise OSError("a file cannot be renamed to another volume")
        dst_path = self.file_path(dst_sv, dst_name)
        same_file = (src_sv, src_name) == (dst_sv, dst_name)
        if not same_file and os.path.exists(dst_path):
            raise FileExistsError(f"{dst_sv}.{dst_name} already exists")
        entry = dict(self.read_catalog(src_sv).get(src_name) or {})
        if code is not None:
            entry["code"] = code
        self.prepare_store(dst_sv)
        if not same_file:
            os.rename(self.file_path(src_sv, src_name), dst_path)
            catalog = self.read_catalog(src_sv)
            catalog.pop(src_name, None)
            self.write_catalog(src_sv, catalog)
        catalog = self.read_catalog(dst_sv)
        catalog[dst_name] = entry
        self.write_catalog(dst_sv, catalog)
