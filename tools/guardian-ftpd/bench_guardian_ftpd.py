#!/usr/bin/python3
"""Prints figures for the NonStop-style server on loopback, with ftplib as the client:
LIST time for a large subvolume, binary and ASCII transfer rates. No pass/fail."""

import ftplib
import io
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
MIB = 1 << 20


class Sink:
    def __init__(self):
        self.n = 0

    def write(self, data):
        self.n += len(data)


def main():
    files = int(os.environ.get("BENCH_FILES", "1000"))
    size = int(os.environ.get("BENCH_MIB", "128")) * MIB
    work = tempfile.mkdtemp(prefix="gftpd-bench.")
    proc = subprocess.Popen([sys.executable, os.path.join(HERE, "guardian_ftpd.py"), "--root",
                             os.path.join(work, "root"), "--port", "0", "--user", "B",
                             "--password", "b"], stdout=subprocess.PIPE, text=True)
    try:
        port = int(proc.stdout.readline().rsplit(":", 1)[1])
        ftp = ftplib.FTP(timeout=60)
        ftp.connect("127.0.0.1", port)
        ftp.login("B", "b")

        ftp.cwd("ZMANY")
        t = time.perf_counter()
        for i in range(files):
            ftp.storbinary(f"STOR F{i:06d},100", io.BytesIO(b"x" * 64))
        t = time.perf_counter() - t
        print(f"STOR of {files} small files into one subvolume: {files / t:.0f} files/s")
        best = None
        for _ in range(3):
            t = time.perf_counter()
            lines = []
            ftp.retrlines("LIST", lines.append)
            best = min(best or 1e9, time.perf_counter() - t)
        print(f"LIST of {len(lines) - 1} files: {best * 1000:.1f} ms (best of 3)")

        ftp.cwd("ZBIG")
        block = os.urandom(MIB)
        for mode in ("binary", "ascii"):
            data = block if mode == "binary" else (b"0123456789abcdefghij" * 50 + b"\n") * 1040
            data = data[:MIB]
            reader = io.BytesIO(data * (size // MIB))
            t = time.perf_counter()
            if mode == "binary":
                ftp.storbinary("STOR BIG", reader, blocksize=256 * 1024)
            else:
                # storlines would rewrite every line; send the bytes under TYPE A as they are.
                ftp.voidcmd("TYPE A")
                with ftp.transfercmd("STOR BIG") as conn:
                    while chunk := reader.read(256 * 1024):
                        conn.sendall(chunk)
                ftp.voidresp()
            up = time.perf_counter() - t
            sink = Sink()
            t = time.perf_counter()
            if mode == "binary":
                ftp.retrbinary("RETR BIG", sink.write, blocksize=256 * 1024)
            else:
                ftp.voidcmd("TYPE A")
                with ftp.transfercmd("RETR BIG") as conn:
                    while True:
                        chunk = conn.recv(256 * 1024)
                        if not chunk:
                            break
                        sink.write(chunk)
                ftp.voidresp()
            down = time.perf_counter() - t
            print(f"{mode:6} STOR {size / MIB / up:7.1f} MiB/s, RETR {sink.n / MIB / down:7.1f} MiB/s"
                  f" ({size // MIB} MiB)")
        ftp.quit()
    finally:
        proc.terminate()
        proc.wait(10)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
