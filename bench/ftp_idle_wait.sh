#!/usr/bin/env bash
# Processor seconds of a 10 s synchronous wait for a silent FTP server.
# Usage: bench/ftp_idle_wait.sh BUILD_DIR [seconds]
set -euo pipefail
build=${1:?build directory}
"$build/bench/ftp_idle_wait" "${2:-10}"
