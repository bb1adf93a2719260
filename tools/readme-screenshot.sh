#!/usr/bin/env bash
# Makes the README's picture of the connected main window: starts the demo (the NonStop-style
# server and Zarvel connected to it) under a virtual X server and photographs the window.
#   readme-screenshot.sh [ZARVEL_BINARY [OUTPUT_PNG]]
# Needs xvfb and imagemagick (tools/dev.sh screenshot installs them).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
zarvel=${1:-$root/build/src/app/zarvel}
output=${2:-$root/docs/main-window.png}
[ -x "$zarvel" ] || { echo "readme-screenshot.sh: $zarvel is not built" >&2; exit 1; }
mkdir -p "$(dirname "$output")"

inner=$(mktemp "${TMPDIR:-/tmp}/readme-screenshot.XXXXXX")
trap 'rm -f "$inner"' EXIT
# Runs inside the virtual display: the demo in the background, a picture once the splash
# (3 s) is gone and the listing is shown, then the demo ends with its server.
cat >"$inner" <<'INNER'
set -euo pipefail
demo=$1 zarvel=$2 output=$3
# A fixed folder on the PC side, so the picture does not show where it was made.
pcdir=$(mktemp -d "${TMPDIR:-/tmp}/zarvel-pc.XXXXXX")
printf 'int main(void) { return 0; }\n' >"$pcdir/prog.c"
printf '#define VERSION 3\n' >"$pcdir/prog.h"
printf 'hello\n' >"$pcdir/notes.txt"
(cd "$pcdir" && exec "$demo" "$zarvel") >/dev/null 2>&1 &
demo_pid=$!
# demo.sh waits for Zarvel in the foreground, so Zarvel (its child) is ended first; demo.sh
# then stops its server and returns.
trap 'pkill -TERM -P $demo_pid 2>/dev/null || true; wait $demo_pid 2>/dev/null || true; rm -rf "$pcdir"' EXIT
# The mapped top-level window whose title, as a desktop reads it, is exactly the connected
# caption. Hidden helper windows of Qt also carry a title (an untitled one gets the
# application's display name), so neither the first match nor the old WM_NAME will do.
connected_window() {
    local id
    for id in $(xwininfo -root -children 2>/dev/null | grep -o '^ *0x[0-9a-f]*'); do
        xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' || continue
        xprop -id "$id" _NET_WM_NAME 2>/dev/null | grep -qx '_NET_WM_NAME(UTF8_STRING) = "Zarvel - 127.0.0.1:[0-9]*"' \
            && { echo "$id"; return; }
    done
}
window=
for _ in $(seq 100); do
    sleep 0.2
    window=$(connected_window)
    [ -n "$window" ] && break
done
[ -n "$window" ] || { echo "readme-screenshot.sh: the connected window did not appear" >&2; exit 1; }
sleep 4
import -window "$window" "$output"
INNER
xvfb-run -a -s '-screen 0 1280x1024x24' bash "$inner" "$root/tools/guardian-ftpd/demo.sh" "$zarvel" "$output"
echo "readme-screenshot.sh: wrote $output"
