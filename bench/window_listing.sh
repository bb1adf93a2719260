#!/usr/bin/env bash
# Lists a subvolume of 10,000 files from the NonStop-style server into the main window's
# remote list (offscreen) and with the bare engine's Dir, in the same run, and measures the
# processor time of the connected window left idle for 10 s.
#   window_listing.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
program=$build/bench/window_listing
files=${ZARVEL_BENCH_FILES:-10000}
rounds=${ZARVEL_BENCH_ROUNDS:-5}

work=$(mktemp -d "${TMPDIR:-/tmp}/window-listing.XXXXXX")
. "$root/tools/guardian-ftpd/start_server.sh"
cleanup() {
    guardian_stop
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The subvolume: files F00001... with file codes 101, 100 and 700 in turn, 100 bytes each.
/usr/bin/python3 - "$work/root" "$files" <<'PY'
import json, os, sys
root, count = sys.argv[1], int(sys.argv[2])
folder = os.path.join(root, "$DATA01", "BIG")
os.makedirs(folder)
catalog = {}
for i in range(1, count + 1):
    name = f"F{i:05d}"
    with open(os.path.join(folder, name), "wb") as f:
        f.write(b"x" * 100)
    catalog[name] = {"code": (101, 100, 700)[i % 3]}
with open(os.path.join(folder, ".catalog.json"), "w") as f:
    json.dump(catalog, f)
PY

guardian_start "$work" --root "$work/root" --user BENCH --password bench --home '$DATA01.BIG'
port=$guardian_port

echo "== main window listing: $files files, $rounds rounds each"
engine=$("$program" engine 127.0.0.1 "$port" BENCH bench '$DATA01.BIG' "$rounds")
window=$("$program" window 127.0.0.1 "$port" BENCH bench '$DATA01.BIG' "$rounds" 10)
echo "$engine"
echo "$window"
e=$(echo "$engine" | sed -n 's/.*median \([0-9.]*\) ms.*/\1/p')
w=$(echo "$window" | sed -n 's/^window:.*median \([0-9.]*\) ms.*/\1/p')
awk -v e="$e" -v w="$w" 'BEGIN { printf "window / engine listing time: %.2f (aim: at most 1.50)\n", w / e }'
