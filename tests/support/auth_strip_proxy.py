#!/usr/bin/env python3
"""A loopback FTP proxy for the tests that answers AUTH itself, as someone on the path who
wants the login in clear would.

    auth_strip_proxy.py --target-port N --mode-file PATH

Listens on a free port of 127.0.0.1; the first line on stdout is
"auth-strip-proxy listening on 127.0.0.1:PORT". Each new client connection reads PATH: "relay"
passes everything on (TLS included); any other text is the reply sent to the client's AUTH in
place of the server's. Every command line the client sends in clear is printed as "C: <line>".
Stops when stdin closes (the test that started it ended)."""

import argparse
import socket
import sys
import threading


def shut(sock):
    try:
        sock.shutdown(socket.SHUT_WR)
    except OSError:
        pass


def pump(src, dst):
    try:
        while True:
            data = src.recv(65536)
            if not data:
                break
            dst.sendall(data)
    except OSError:
        pass
    shut(dst)


def from_client(client, server, reply):
    pending = b""
    try:
        while True:
            data = client.recv(65536)
            if not data:
                break
            pending += data
            while b"\n" in pending:
                line, pending = pending.split(b"\n", 1)
                text = line.rstrip(b"\r").decode("latin-1")
                print("C: " + text, flush=True)
                if not text.upper().startswith("AUTH"):
                    server.sendall(line + b"\n")
                elif reply is None:
                    # The handshake follows: bytes only from here on.
                    server.sendall(line + b"\n" + pending)
                    pump(client, server)
                    return
                else:
                    client.sendall(reply.encode("latin-1") + b"\r\n")
    except OSError:
        pass
    shut(server)


def serve(client, args):
    with open(args.mode_file, encoding="latin-1") as f:
        mode = f.read().strip()
    server = socket.create_connection(("127.0.0.1", args.target_port))
    threading.Thread(target=pump, args=(server, client), daemon=True).start()
    from_client(client, server, None if mode == "relay" else mode)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--target-port", type=int, required=True)
    p.add_argument("--mode-file", required=True)
    args = p.parse_args()
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    print("auth-strip-proxy listening on 127.0.0.1:%d" % listener.getsockname()[1], flush=True)

    def accept():
        while True:
            client, _ = listener.accept()
            threading.Thread(target=serve, args=(client, args), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    sys.stdin.read()


if __name__ == "__main__":
    main()
