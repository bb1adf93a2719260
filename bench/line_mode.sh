#!/usr/bin/env bash
# TWSocket receiving short and long lines in line mode against LineMode off: 256 MiB, three rounds.
#   bash bench/line_mode.sh BUILD_DIR [MiB] [rounds]
set -euo pipefail
build=${1:-build}
"$build/bench/bench_line_mode" "${2:-256}" "${3:-3}"
