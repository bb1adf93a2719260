"""Loopback FTP server for the tests: pyftpdlib on a free port of 127.0.0.1 (or ::1).

Prints "pyftpd listening on 127.0.0.1:PORT" (or "[::1]:PORT") as its first line, then
serves ROOT to one user with every permission until it is terminated.
"""
import argparse
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--address", choices=("127.0.0.1", "::1"), default="127.0.0.1")
    parser.add_argument("--log", default=None)
    parser.add_argument("--max-rate", type=int, default=0, help="bytes per second each way; 0: no limit")
    args = parser.parse_args()

    logging.basicConfig(filename=args.log, level=logging.INFO if args.log else logging.WARNING)
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    handler = FTPHandler
    handler.authorizer = authorizer
    handler.banner = "Zarvel test pyftpdlib ready."
    handler.masquerade_address = None
    if args.max_rate > 0:
        # a deliberately slow server, for waits that must cost no processor time
        dtp = ThrottledDTPHandler
        dtp.read_limit = args.max_rate
        dtp.write_limit = args.max_rate
        handler.dtp_handler = dtp
    server = FTPServer((args.address, args.port), handler)
    server.max_cons = 64
    shown = "[%s]" % args.address if ":" in args.address else args.address
    print("pyftpd listening on %s:%d" % (shown, server.address[1]), flush=True)
    try:
        server.serve_forever(handle_exit=True)
    finally:
        server.close_all()


if __name__ == "__main__":
    sys.exit(main())
