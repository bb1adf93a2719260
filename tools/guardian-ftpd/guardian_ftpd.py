#!/usr/bin/env python3
"""A NonStop-style FTP server (Guardian personality) for Zarvel's demo and tests.

    guardian_ftpd.py --root DIR --port N --user U --password P --home '$DATA01.ZDEMO'
                     [--demo] [--summary] [--empty-heading] [--start-oss | --oss-only]
                     [--owner G,U] [--security RWEP] [--verbose]
                     [--tls CERT KEY] [--address 127.0.0.1|::1] [--max-logins N]
                     [--drop-after BYTES]

With a single --user and no --password, the password is taken from the environment
variable GUARDIAN_FTPD_PASSWORD, which other users cannot see in the process list.

Listens on 127.0.0.1 only (or, with --address ::1, on IPv6 loopback only); --port 0 picks
a free port. The first line on stdout is "guardian-ftpd listening on 127.0.0.1:PORT" (or
"[::1]:PORT"). SIGTERM or SIGINT stops it cleanly."""

import argparse
import logging
import os
import signal
import stat
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.log import config_logging
from pyftpdlib.servers import FTPServer

from guardian_demo import fill_demo
from guardian_handler import GuardianDataChannel, GuardianHandler
from guardian_names import GuardianNameError, Subvol, check_part, check_volume
from guardian_store import GuardianStore, format_owner

# Loopback only: the server is for the demo and the tests, never for the network.
LISTEN_ADDRESSES = ("127.0.0.1", "::1")


def _home(text):
    parts = text.split(".")
    try:
        if len(parts) != 2:
            raise GuardianNameError(f'"{text}" is not of the form $VOLUME.SUBVOLUME')
        return Subvol(check_volume(parts[0]), check_part(parts[1], "subvolume"))
    except GuardianNameError as err:
        raise argparse.ArgumentTypeError(str(err))


def _owner(text):
    group, comma, user = text.partition(",")
    try:
        g, u = int(group), int(user)
    except ValueError:
        raise argparse.ArgumentTypeError(f'owner "{text}" is not GROUP,USER')
    if not (comma and 0 <= g <= 255 and 0 <= u <= 255):
        raise argparse.ArgumentTypeError(f'owner "{text}" is not GROUP,USER (0 to 255 each)')
    return format_owner(g, u)


def _security(text):
    if len(text) != 4:
        raise argparse.ArgumentTypeError(f'security "{text}" is not four characters')
    return text


def parse_args(argv):
    p = argparse.ArgumentParser(description="NonStop-style FTP server (Guardian personality)")
    p.add_argument("--root", required=True, help="folder that holds the volumes")
    p.add_argument("--port", type=int, default=0, help="port on the address (0: a free one)")
    p.add_argument("--address", choices=LISTEN_ADDRESSES, default="127.0.0.1",
                   help="loopback address to listen on, IPv4 or IPv6")
    p.add_argument("--user", action="append", required=True,
                   help="user name (repeat with --password for more users)")
    p.add_argument("--password", action="append", default=[],
                   help="that user's password (one user may take it from GUARDIAN_FTPD_PASSWORD)")
    p.add_argument("--home", type=_home, default=_home("$DATA01.ZDEMO"),
                   help="subvolume every session starts in")
    p.add_argument("--demo", action="store_true",
                   help="fill a root that holds no volume with sample subvolumes")
    p.add_argument("--summary", action="store_true", help="end every LIST with a summary line")
    p.add_argument("--empty-heading", action="store_true",
                   help="answer LIST of an empty subvolume with the heading alone, not 550")
    p.add_argument("--start-oss", action="store_true",
                   help="sessions start in the OSS file system (PWD answers /G/volume/subvolume)")
    p.add_argument("--oss-only", action="store_true",
                   help="sessions start in OSS and QUOTE GUARDIAN is refused")
    p.add_argument("--drop-after", type=int, default=0, metavar="BYTES",
                   help="test fault: cut each session once, this many bytes into a download")
    p.add_argument("--max-logins", type=int, default=0,
                   help="logged-in sessions at once per client address; another login gets 530 (0: no limit)")
    p.add_argument("--owner", type=_owner, default=_owner("100,1"),
                   help="owner GROUP,USER of new files")
    p.add_argument("--security", type=_security, default="nnnn",
                   help="security string of new files")
    p.add_argument("--verbose", action="store_true", help="log the FTP dialogue on stderr")
    p.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"),
                   help="offer explicit FTP over TLS (AUTH TLS) with this certificate and key (PEM)")
    args = p.parse_args(argv)
    # From the environment, the password stays out of the process list (argv is public).
    env_password = os.environ.get("GUARDIAN_FTPD_PASSWORD")
    if not args.password and len(args.user) == 1 and env_password:
        args.password = [env_password]
    if len(args.user) != len(args.password):
        p.error("give one --password for each --user (or one user and GUARDIAN_FTPD_PASSWORD)")
    if not 0 <= args.port <= 65535:
        p.error("--port must be 0 to 65535")
    return args


def private_root(root):
    """Makes the root folder (mode 0700) or checks the one there: it must be a folder of this
    user's that no one else may write, or another user could change what the server serves
    and stores. Returns why it cannot be used, or None."""
    try:
        os.makedirs(os.path.dirname(root), exist_ok=True)
        os.mkdir(root, 0o700)
        return None
    except FileExistsError:
        pass
    except OSError as err:
        return f"cannot make the root folder {root}: {err.strerror}"
    status = os.lstat(root)
    if not stat.S_ISDIR(status.st_mode) or status.st_uid != os.geteuid():
        return f"the root {root} is not a folder of yours"
    if status.st_mode & 0o022:
        return f"the root {root} may be written by other users (mode {stat.S_IMODE(status.st_mode):o})"
    return None


# A stop request only sets this flag: an exception raised from a signal handler can land in a
# destructor or a callback that swallows it, and the server then never ended.
_stop_requested = []


def _stop(signum, frame):
    _stop_requested.append(signum)


def _serve_until_stopped(server):
    while not _stop_requested:
        server.serve_forever(timeout=0.2, blocking=False, handle_exit=False)
    server.close_all()


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    config_logging(level=logging.INFO if args.verbose else logging.WARNING)

    root = os.path.abspath(args.root)
    problem = private_root(root)
    if problem:
        print(f"guardian-ftpd: {problem}", file=sys.stderr)
        return 2
    store = GuardianStore(root, owner=args.owner, security=args.security)
    if args.demo and not store.volumes():
        fill_demo(store, args.home)
    store.add_volume(args.home.volume)

    authorizer = DummyAuthorizer()
    for user, password in zip(args.user, args.password):
        authorizer.add_user(user, password, root, perm="elradfmw")

    bases, extra = (GuardianHandler,), {}
    if args.tls:
        # Debian's python3-openssl behind pyftpdlib's TLS handler; imported only when asked for.
        from guardian_tls import tls_handler_bases
        bases, extra = tls_handler_bases(GuardianHandler, *args.tls)
    handler = type("SessionHandler", bases, extra)
    handler.dtp_handler = type("SessionDTPHandler", (GuardianDataChannel, handler.dtp_handler), {})
    handler.authorizer = authorizer
    handler.store = store
    handler.home_subvol = args.home
    handler.summary = args.summary
    handler.empty_heading = args.empty_heading
    handler.start_oss = args.start_oss or args.oss_only
    handler.oss_only = args.oss_only
    handler.drop_after = args.drop_after
    handler.max_logins = args.max_logins

    server = FTPServer((args.address, args.port), handler)
    port = server.socket.getsockname()[1]
    signal.signal(signal.SIGTERM, _stop)
    signal.signal(signal.SIGINT, _stop)
    shown = f"[{args.address}]" if ":" in args.address else args.address
    print(f"guardian-ftpd listening on {shown}:{port}", flush=True)
    _serve_until_stopped(server)
    return 0


if __name__ == "__main__":
    sys.exit(main())
