#!/usr/bin/env bash
# Figures for the NonStop-style FTP server (tools/guardian-ftpd) on loopback.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
echo "== guardian-ftpd"
/usr/bin/python3 "$root/tools/guardian-ftpd/bench_guardian_ftpd.py"
