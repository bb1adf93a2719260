#!/usr/bin/env bash
# TWSocket against a plain blocking send/recv pair over loopback: 1 GiB, three rounds.
#   bash bench/wsocket_loopback.sh BUILD_DIR [MiB] [rounds]
set -euo pipefail
build=${1:-build}
"$build/bench/bench_wsocket_loopback" "${2:-1024}" "${3:-3}"
