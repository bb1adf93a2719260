#!/usr/bin/env bash
# Compares a 10,000-file PC folder with a 10,000-file subvolume of the NonStop-style server,
# against listing that subvolume alone, in the same run.
#   folder_compare.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
program=$build/bench/folder_compare
files=${ZARVEL_BENCH_FILES:-10000}
rounds=${ZARVEL_BENCH_ROUNDS:-5}

work=$(mktemp -d "${TMPDIR:-/tmp}/folder-compare.XXXXXX")
. "$root/tools/guardian-ftpd/start_server.sh"
cleanup() {
    guardian_stop
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The subvolume: F00001... with codes 101, 100 and 700 in turn. The PC folder: the names each
# would download to, every tenth file newer and a hundred files only on the PC.
/usr/bin/python3 - "$work/root" "$work/pc" "$files" <<'PY'
import json, os, sys, time
root, pc, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
folder = os.path.join(root, "$DATA01", "BIG")
os.makedirs(folder)
os.makedirs(pc)
catalog = {}
then = int(time.time()) - 86400
for i in range(1, count + 1):
    name, code = f"F{i:05d}", (101, 100, 700)[i % 3]
    with open(os.path.join(folder, name), "wb") as f:
        f.write(b"x" * 100)
    os.utime(os.path.join(folder, name), (then, then))
    catalog[name] = {"code": code}
    pcname = name if code == 101 else f"{name},{code}"
    if i % 100 == 0:
        pcname = f"P{i:05d}.TXT"
    with open(os.path.join(pc, pcname), "wb") as f:
        f.write(b"x" * 100)
    stamp = then + (3600 if i % 10 == 0 else 0)
    os.utime(os.path.join(pc, pcname), (stamp, stamp))
with open(os.path.join(folder, ".catalog.json"), "w") as f:
    json.dump(catalog, f)
PY

guardian_start "$work" --root "$work/root" --user BENCH --password bench --home '$DATA01.BIG'
echo "== compare: $files host files, $files PC files, $rounds rounds each"
"$program" 127.0.0.1 "$guardian_port" BENCH bench '$DATA01.BIG' "$work/pc" "$rounds"
