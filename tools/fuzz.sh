#!/usr/bin/env bash
# Builds the FTP reply fuzzer with clang's libFuzzer (address and undefined-behaviour
# sanitizers on) and runs it for a bounded time, then prints its figures.
# Usage: tools/fuzz.sh [seconds]   (default 60)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-60}
out=$root/build-fuzz
mkdir -p "$out/corpus"
qtinc=$(dirname "$(find /usr/include -path '*qt6/QtCore/qglobal.h' -print -quit)")
clang++ -std=c++20 -O1 -g -DQT_NO_VERSION_TAGGING -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root/src" -I"$(dirname "$qtinc")" -I"$qtinc" -fPIC \
    "$root/tests/fuzz/ftp_reply_fuzzer.cpp" "$root/src/ftp/FtpReplyParser.cpp" \
    -o "$out/ftp_reply_fuzzer"
# A few seeds shaped like real dialogue.
printf '\x01\x20220-Welcome\r\n220 ready\r\n\x10257 "/a""b" ok\r\n' > "$out/corpus/seed1"
printf '\x00\x08213 4096\n\x30331 pw\r\n230 ok\r\n' > "$out/corpus/seed2"
"$out/ftp_reply_fuzzer" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=1024 \
    -print_final_stats=1 "$out/corpus" 2>&1 | tee "$out/last-run.log" | grep -E '^(stat::|Done|INFO: -max_total_time|==)' || true
# libFuzzer's exit status is lost in the pipe: a crash leaves a crash- file and an error line.
if grep -qE 'ERROR: (libFuzzer|AddressSanitizer|UndefinedBehaviorSanitizer)|runtime error' "$out/last-run.log"; then
    echo "fuzzing found a fault: see $out/last-run.log" >&2
    exit 1
fi
