#!/usr/bin/env bash
# The titles a desktop shows (_NET_WM_NAME, read with xprop) are exactly the captions: the
# real program under a virtual X server, connected to the NonStop-style server, then the
# server gone. Offscreen tests only see windowTitle(), not what Qt hands the window system.
#   check_window_titles.sh ZARVEL_BINARY SOURCE_DIR
# Exits 77 (skipped) with the reason when no virtual X server can start.
set -euo pipefail
zarvel=$(realpath "${1:?usage: check_window_titles.sh ZARVEL_BINARY SOURCE_DIR}")
source_dir=${2:?usage: check_window_titles.sh ZARVEL_BINARY SOURCE_DIR}

for tool in xvfb-run Xvfb xprop xwininfo; do
    command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
done
if ! xvfb-run -a -s '-screen 0 800x600x24' true >/dev/null 2>&1; then
    echo "SKIPPED: Xvfb cannot start here"
    exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/zarvel-titles.XXXXXX")
inner=$work/inner.sh
trap 'rm -rf "$work"' EXIT

# Runs inside the virtual display.
cat >"$inner" <<'INNER'
set -euo pipefail
zarvel=$1 source_dir=$2 work=$3
server_pid= zarvel_pid=
stop() {
    for pid in $zarvel_pid $server_pid; do
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
}
trap stop EXIT
fail() {
    echo "FAILED: $*"
    xwininfo -root -children 2>&1 | sed -n '5,$p'
    cat "$work/zarvel.out"
    exit 1
}

/usr/bin/python3 "$source_dir/tools/guardian-ftpd/guardian_ftpd.py" --root "$work/root" --port 0 \
    --user DEV.MGR --password demo --home '$DATA01.ZDEMO' --demo >"$work/server.out" 2>&1 &
server_pid=$!
port=
for _ in $(seq 100); do
    line=$(head -n 1 "$work/server.out" 2>/dev/null || true)
    case "$line" in "guardian-ftpd listening on 127.0.0.1:"*) port=${line##*:}; break ;; esac
    sleep 0.1
done
[ -n "$port" ] || fail "the FTP server did not start: $(cat "$work/server.out")"

export XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=xcb
mkdir -p "$XDG_CONFIG_HOME"
(cd "$work" && exec "$zarvel" HostName 127.0.0.1 HostPort "$port" UserID DEV.MGR Password demo \
    InitialSubvol '$DATA01.ZDEMO' Encryption None AutoConnect) >"$work/zarvel.out" 2>&1 &
zarvel_pid=$!

# The title of window $1 as a desktop reads it.
net_wm_name() { xprop -id "$1" _NET_WM_NAME 2>/dev/null | sed -n 's/^_NET_WM_NAME(UTF8_STRING) = "\(.*\)"$/\1/p'; }

# The mapped top-level window whose _NET_WM_NAME starts with "Zarvel".
main_window() {
    local id
    for id in $(xwininfo -root -children 2>/dev/null | grep -o '^ *0x[0-9a-f]*'); do
        xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' || continue
        case "$(net_wm_name "$id")" in Zarvel*) echo "$id"; return ;; esac
    done
}

window= title=
for _ in $(seq 150); do
    sleep 0.2
    window=$(main_window)
    [ -n "$window" ] && title=$(net_wm_name "$window")
    [ "$title" = "Zarvel - 127.0.0.1:$port" ] && break
done
[ "$title" = "Zarvel - 127.0.0.1:$port" ] || fail "connected title is \"$title\", not \"Zarvel - 127.0.0.1:$port\""

# The server goes: the session ends and the caption returns to "Zarvel".
kill -TERM "$server_pid"
wait "$server_pid" 2>/dev/null || true
server_pid=
for _ in $(seq 150); do
    sleep 0.2
    title=$(net_wm_name "$window")
    [ "$title" != "Zarvel - 127.0.0.1:$port" ] && break
done
[ "$title" = "Zarvel" ] || fail "title after the session ended is \"$title\", not \"Zarvel\""
echo "window titles as shown: \"Zarvel - 127.0.0.1:$port\", then \"Zarvel\""
INNER
xvfb-run -a -s '-screen 0 1280x800x24' bash "$inner" "$zarvel" "$source_dir" "$work"
