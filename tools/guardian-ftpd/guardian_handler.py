"""The FTP side: pyftpdlib's handler taught the Guardian namespace.

pyftpdlib keeps doing what it does well (login, PORT/PASV/EPSV, the data connection,
CR LF on TYPE A downloads, REST, ABOR); the commands that name files or subvolumes
are parsed here with the Guardian rules instead of as Unix paths, and LIST answers
in the NonStop layout."""

import fnmatch
import logging
import os
import sys
import time

from pyftpdlib.filesystems import AbstractedFS, FilesystemError
from pyftpdlib.handlers import FTPHandler, proto_cmds

from guardian_extents import FileFull, ExtentLimitedFile, capacity

from guardian_listing import format_listing
from guardian_names import GuardianNameError, parse_file, parse_subvol, parse_template

# Commands of a Unix file tree that have no Guardian meaning here.
_DROPPED = {"MLSD", "MLST", "MFMT", "STOU", "SITE CHMOD"}

# Commands whose argument names a file or subvolume: they are parsed here, never
# by pyftpdlib's path mapping. The value is the reply code for a refused name: 553
# where a name is to be created, 550 where one is looked up.
_NAMED = {
    "CWD": 550, "XCWD": 550, "CDUP": 550, "XCUP": 550,
    "LIST": 550, "NLST": 550, "STAT": 550,
    "RETR": 550, "SIZE": 550, "MDTM": 550, "DELE": 550, "RNFR": 550,
    "STOR": 553, "APPE": 553, "RNTO": 553, "MKD": 553, "XMKD": 553,
    "RMD": 550, "XRMD": 550,
}

_ALIASES = {"XCWD": "CWD", "XCUP": "CDUP", "XMKD": "MKD", "XRMD": "RMD"}


def _sentence(text):
    text = text[:1].upper() + text[1:]
    return text if text.endswith(".") else text + "."


class GuardianFS(AbstractedFS):
    """Holds the session's current subvolume; cwd reads "$VOL.SUBVOL"."""

    def __init__(self, root, cmd_channel):
        super().__init__(root, cmd_channel)
        self.subvol = cmd_channel.home_subvol
        self._cwd = str(self.subvol)

    def set_subvol(self, subvol):
        self.subvol = subvol
        self._cwd = str(subvol)

    def ftp2fs(self, ftppath):
        try:
            target = parse_file(ftppath, self.subvol)
        except GuardianNameError as err:
            raise FilesystemError(str(err))
        return self.cmd_channel.store.file_path(target.subvol, target.name)

    def fs2ftp(self, fspath):
        rel = os.path.relpath(fspath, self.root)
        return ".".join(rel.split(os.sep)) if not rel.startswith("..") else fspath


class GuardianDataChannel:
    """Data channel mixin. A TYPE A upload is stored with the CR LF it travelled with, as a
    NonStop host keeps it (pyftpdlib would turn it into LF); TYPE A downloads still go out
    with CR LF, whichever line ends the stored file has. A write past the file's extents
    ends the upload with the host's File Full."""

    def enable_receiving(self, type, cmd):
        super().enable_receiving(type, cmd)
        self._data_wrapper = None

    def handle_error(self):
        # pyftpdlib wraps the write's exception in its own; the File Full is its cause.
        cause = sys.exc_info()[1]
        full = cause.args[0] if cause is not None and cause.args else None
        if not isinstance(full, FileFull):
            super().handle_error()
            return
        self._resp = (f"452 {full}", logging.getLogger("pyftpdlib").info)
        self.close()


class _CutProducer:
    """A file's bytes up to a limit; then the session is cut (GuardianHandler._cut)."""

    def __init__(self, producer, limit, cut):
        self.producer, self.left, self.cut = producer, limit, cut

    def more(self):
        if self.left <= 0:
            self.cut()
            return b""
        data = self.producer.more()
        self.left -= len(data)
        return data[:len(data) + min(self.left, 0)] if data else data


class GuardianHandler(FTPHandler):
    # Set by the program before serving.
    store = None          # GuardianStore
    home_subvol = None    # Subvol where every session starts
    summary = False       # end each LIST with a summary line
    empty_heading = False # LIST of an empty subvolume: the heading alone instead of 550

    start_oss = False     # sessions start in the OSS file system (PWD answers a path)
    oss_only = False      # ... and may not switch to Guardian
    drop_after = 0        # test fault: each session is cut once, this many bytes into a download
    max_logins = 0        # test limit: logged-in sessions at once per client address (0: none)
    logins = {}           # client address -> its logged-in sessions, across all sessions
    _counted = False      # this session is one of them
    _dropped = False      # this session was cut already
    _cut_next = False     # the download being started is the one to cut
    _cutting = False      # the link is lost: nothing more is answered

    abstracted_fs = GuardianFS
    proto_cmds = {k: v for k, v in proto_cmds.items() if k not in _DROPPED}
    proto_cmds.update({
        "GUARDIAN": dict(perm=None, auth=True, arg=False, help="Syntax: GUARDIAN (use the Guardian file system)."),
        "OSS": dict(perm=None, auth=True, arg=False, help="Syntax: OSS (use the OSS file system)."),
    })
    banner = "guardian-ftpd NonStop-style FTP server ready."
    # Loopback demo and tests: a short pause after a bad password is enough.
    auth_failed_timeout = 0.5

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.in_oss = self.start_oss   # the file system this session is in

    # --- login limit

    def handle_auth_success(self, home, password, msg_login):
        count = GuardianHandler.logins.get(self.remote_ip, 0)
        if self.max_logins and count >= self.max_logins:
            self.respond("530 Too many sessions for this user.")
            return
        GuardianHandler.logins[self.remote_ip] = count + 1
        self._counted = True
        super().handle_auth_success(home, password, msg_login)

    def on_disconnect(self):
        if self._counted:
            self._counted = False
            GuardianHandler.logins[self.remote_ip] -= 1
        super().on_disconnect()

    # --- dispatch

    def pre_process_command(self, line, cmd, arg):
        if not (self.authenticated and cmd in _NAMED and cmd in self.proto_cmds):
            return super().pre_process_command(line, cmd, arg)
        if cmd == "STAT" and not arg:
            return super().pre_process_command(line, cmd, arg)
        self.logline("<- %s" % line)
        needs = self.proto_cmds[cmd]["arg"]
        if needs is True and not arg.strip():
            self.respond("501 Syntax error: command needs an argument.")
            return
        if needs is False and arg:
            self.respond("501 Syntax error: command does not accept arguments.")
            return
        self._last_response = ""
        method = getattr(self, "guardian_" + _ALIASES.get(cmd, cmd))
        try:
            method(arg.strip())
        except GuardianNameError as err:
            self.respond(f"{_NAMED[cmd]} {_sentence(str(err))}")
        except OSError as err:
            self.respond(f"550 {_sentence(err.strerror or str(err))}")
        if self._last_response:
            self.log_cmd(cmd, arg, int(self._last_response[:3]), self._last_response[4:])

    @property
    def _subvol(self):
        return self.fs.subvol

    def _known_volume(self, subvol):
        if self.store.has_volume(subvol.volume):
            return True
        self.respond(f"550 Volume {subvol.volume} does not exist.")
        return False

    def _existing(self, target):
        info = self.store.lookup(target.subvol, target.name)
        if info is None:
            self.respond(f"550 File {target} does not exist.")
        return info

    # --- subvolumes

    def guardian_CWD(self, arg):
        subvol = parse_subvol(arg, self._subvol) if arg else self.home_subvol
        if self._known_volume(subvol):
            self.fs.set_subvol(subvol)
            self.respond(f"250 CWD command successful, current subvolume is {subvol}.")

    def guardian_CDUP(self, arg):
        self.respond("550 A subvolume has no parent; use CWD $VOLUME.SUBVOLUME.")

    def ftp_PWD(self, line):
        if self.in_oss:
            path = f"/G/{self._subvol.volume[1:].lower()}/{self._subvol.subvol.lower()}"
            self.respond(f'257 "{path}" is the current directory.')
            return
        self.respond(f'257 "{self._subvol}" is the current subvolume.')

    def ftp_GUARDIAN(self, line):
        if self.oss_only:
            self.respond("502 GUARDIAN: this account may use the OSS file system only.")
            return
        self.in_oss = False
        self.respond("200 Guardian file system in use.")

    def ftp_OSS(self, line):
        self.in_oss = True
        self.respond("200 OSS file system in use.")

    def ftp_SITE_HELP(self, line):
        self.push("214-Commands beyond RFC 959 (send them with QUOTE):\r\n"
                  " GUARDIAN   use the Guardian file system: PWD answers $VOLUME.SUBVOLUME\r\n"
                  " OSS        use the OSS file system: PWD answers /G/volume/subvolume\r\n"
                  " STOR NAME,code[,primary,secondary,maxextents]   a new file's code and extents\r\n"
                  "            (pages of 2048 bytes; without them 4, 28, 978)\r\n")
        self.respond("214 End of SITE HELP.")

    def guardian_MKD(self, arg):
        subvol = parse_subvol(arg, self._subvol)
        if not self._known_volume(subvol):
            return
        if self.store.make_subvol(subvol):
            self.respond(f'257 "{subvol}" created.')
        else:
            self.respond(f"550 Subvolume {subvol} already exists.")

    def guardian_RMD(self, arg):
        subvol = parse_subvol(arg, self._subvol)
        if not self._known_volume(subvol):
            return
        if self.store.files(subvol):
            self.respond(f"550 Subvolume {subvol} still holds files.")
            return
        self.store.remove_subvol(subvol)
        self.respond(f"250 Subvolume {subvol} removed.")

    # --- listings

    def _listed_files(self, arg):
        """Files named by a LIST/NLST/STAT argument, or None after a refusal."""
        subvol, pattern = parse_template(arg, self._subvol)
        if not self._known_volume(subvol):
            return None, None
        files = self.store.files(subvol)
        if not files and not pattern and not self.empty_heading:
            # A subvolume exists only while it holds files: nothing to list is no file.
            self.respond("550 File not found")
            return None, None
        if pattern:
            files = [f for f in files if fnmatch.fnmatchcase(f.name, pattern)]
            if not files:
                self.respond(f"550 No file matches {subvol}.{pattern}.")
                return None, None
        return subvol, files

    def guardian_LIST(self, arg):
        subvol, files = self._listed_files(arg)
        if files is None:
            return
        lines = format_listing(files, self.summary)
        data = "".join(line + "\r\n" for line in lines).encode("utf-8", "replace")
        self.push_dtp_data(data, cmd="LIST")

    def guardian_NLST(self, arg):
        subvol, files = self._listed_files(arg)
        if files is None:
            return
        data = "".join(f.name + "\r\n" for f in files).encode("ascii")
        self.push_dtp_data(data, cmd="NLST")

    def guardian_STAT(self, arg):
        subvol, files = self._listed_files(arg)
        if files is None:
            return
        self.push(f"213-Status of {subvol}:\r\n")
        self.push("".join(f" {line}\r\n" for line in format_listing(files, self.summary)))
        self.respond("213 End of status.")

    # --- files

    def _inside_root(self, target, code):
        """pyftpdlib's own check is bypassed here (paths come from the store), so a link
        in the root must not reach a file outside it."""
        path = self.store.file_path(target.subvol, target.name)
        root = os.path.realpath(self.store.root)
        real = os.path.realpath(path)
        if real.startswith(root + os.sep):
            return path
        self.respond(f"{code} File {target} lies outside the server's root.")
        return None

    def guardian_RETR(self, arg):
        target = parse_file(arg, self._subvol)
        if self._existing(target):
            path = self._inside_root(target, 550)
            if path:
                self._cut_next = self.drop_after > 0 and not self._dropped
                self.ftp_RETR(path)

    def push_dtp_data(self, data, isproducer=False, file=None, cmd=None):
        if self._cut_next and isproducer:
            self._cut_next, self._dropped = False, True
            self.use_sendfile = False  # the cut needs the bytes to pass through the producer
            data = _CutProducer(data, self.drop_after, self._cut)
        super().push_dtp_data(data, isproducer, file, cmd)

    def _cut(self):
        """A lost link: the data connection ends where the cut fell, no reply follows, and the
        session closes a second later, when the client has surely read the bytes that came
        (a client that sees the session close first may drop them, and the tests that resume
        from the bytes kept would then depend on timing)."""
        self._cutting = True
        if self.data_channel is not None:
            self.data_channel.close()
        self.ioloop.call_later(1.0, self.close, _errback=self.handle_error)

    def respond(self, resp, logfun=logging.debug):
        if not self._cutting:
            super().respond(resp, logfun)

    def guardian_SIZE(self, arg):
        # The EOF in bytes whatever the TYPE, as LIST shows it.
        info = self._existing(parse_file(arg, self._subvol))
        if info:
            self.respond(f"213 {info.eof}")

    def guardian_MDTM(self, arg):
        info = self._existing(parse_file(arg, self._subvol))
        if info:
            self.respond("213 " + time.strftime("%Y%m%d%H%M%S", time.gmtime(info.mtime)))

    def guardian_DELE(self, arg):
        target = parse_file(arg, self._subvol)
        if self._existing(target):
            self.store.remove(target.subvol, target.name)
            self.respond(f"250 DELE command successful, {target} purged.")

    def _store(self, arg, append):
        target = parse_file(arg, self._subvol)
        if not self._known_volume(target.subvol):
            return
        existing = self.store.lookup(target.subvol, target.name)
        resumed = self._restart_position > 0
        if append and existing and target.code is not None and target.code != existing.code:
            self.respond(f"550 File {target} has file code {existing.code}, not {target.code}.")
            return
        self.store.prepare_store(target.subvol)
        path = self._inside_root(target, 553)
        if not path:
            return
        opened = self.ftp_APPE(path) if append else self.ftp_STOR(path)
        if opened is None:
            return
        # Extents are fixed when a file is made: an append or a resume keeps the old ones.
        extents = existing.extents if existing and (append or resumed) else target.extents
        self._limit_to_extents(target, capacity(extents))
        if target.code is not None:
            code = target.code
        elif existing and (append or resumed):
            code = existing.code
        else:
            # A new file: text sent as TYPE A becomes an edit file.
            code = 101 if self._current_type == "a" else 0
        if not (existing and (append or resumed)):
            self.store.set_attributes(target.subvol, target.name, code=code, extents=target.extents)
        else:
            self.store.set_attributes(target.subvol, target.name, code=code)

    def _limit_to_extents(self, target, limit):
        """The upload's file, opened by pyftpdlib, refuses to grow past `limit` bytes."""
        if self.data_channel is not None and self.data_channel.file_obj is not None:
            self.data_channel.file_obj = ExtentLimitedFile(self.data_channel.file_obj, limit, target)
        elif self._in_dtp_queue is not None:
            fd, cmd = self._in_dtp_queue
            self._in_dtp_queue = (ExtentLimitedFile(fd, limit, target), cmd)

    def guardian_STOR(self, arg):
        self._store(arg, append=False)

    def guardian_APPE(self, arg):
        self._store(arg, append=True)

    def guardian_RNFR(self, arg):
        self._rnfr = None
        target = parse_file(arg, self._subvol)
        if self._existing(target):
            self._rnfr = target
            self.respond("350 File exists, ready for destination name.")

    def guardian_RNTO(self, arg):
        source, self._rnfr = self._rnfr, None
        if source is None:
            self.respond("503 Bad sequence of commands: use RNFR first.")
            return
        target = parse_file(arg, self._subvol)
        if target.subvol.volume != source.subvol.volume:
            self.respond(f"553 File {source} cannot be renamed to another volume.")
            return
        try:
            self.store.rename((source.subvol, source.name), (target.subvol, target.name),
                              code=target.code)
        except FileExistsError:
            self.respond(f"550 File {target} already exists.")
            return
        self.respond(f"250 RNTO command successful, {source} renamed to {target}.")

    # --- others

    def ftp_TYPE(self, line):
        # "A N" (ASCII, non-print) is what some clients send for plain ASCII.
        if line.upper().replace(" ", "") == "AN":
            line = "A"
        super().ftp_TYPE(line)

    def ftp_SYST(self, line):
        self.respond("215 NONSTOP Guardian personality")

    def ftp_FEAT(self, line):
        features = ["EPSV", "MDTM", "REST STREAM", "SIZE"]
        self.push("211-Features supported:\r\n")
        self.push("".join(f" {f}\r\n" for f in features))
        self.respond("211 End FEAT.")
