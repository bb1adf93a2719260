#!/usr/bin/env bash
# Batch benchmark on loopback against vsftpd (pyftpdlib when vsftpd cannot run):
#  1. one big file (default 1 GiB) downloaded and uploaded through the download/upload batch
#     with the progress dialog on screen (offscreen), beside the bare engine in the same run and
#     the same batch without progress events: MB/s, processor seconds, peak memory, the
#     batch/engine ratios; and the batch's peak memory
#     for a small file, to show it does not grow with the file;
#  2. 1,000 files of 4 KiB through the batches, beside lftp's mget/mput: files per second
#     and processor seconds.
# Every run is checked (cmp). Each round runs every tool back to back, so a ratio is taken
# within a round (the load of a shared machine changes between rounds) and the median of the
# per-round ratios is printed, beside each round's own figures. SIZE_MIB 0 skips part 1.
# MODE chooses the data connections of every tool: active (the default) or passive.
#   usage: bench/batch_transfer.sh BUILD_DIR [SIZE_MIB] [ROUNDS] [MODE]   (defaults 1024, 5, active)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
build=$(cd "${1:?usage: $0 BUILD_DIR [SIZE_MIB] [ROUNDS] [MODE]}" && pwd)
size_mib=${2:-${ZARVEL_BENCH_MIB:-1024}}
rounds=${3:-5}
mode=${4:-active}
case $mode in
    active) batch_mode=() lftp_passive=off ;;
    passive) batch_mode=(--passive) lftp_passive=on ;;
    *) echo "MODE is active or passive, not $mode" >&2; exit 2 ;;
esac
engine=$build/bench/zarvel-ftp-transfer
batch=$build/bench/zarvel-batch-transfer
py=/usr/bin/python3
user=zarvelftp
password=zarvel-ftp-test
servers=${ZARVEL_FTP_SERVERS_DIR:-/opt/zarvel-ftp-servers}
for b in "$engine" "$batch"; do [ -x "$b" ] || { echo "missing $b: build the bench targets first" >&2; exit 1; }; done
export QT_QPA_PLATFORM=offscreen

. "$here/lib/ftp_server.sh"
. "$here/lib/rounds.sh"
bench_work zarvel-batch-bench
serve=$work/serve
mkdir -p "$serve" "$work/dl" "$work/many-local"
start_ftp_server "$serve"
login=(--port "$port" --user "$user" --password "$password")
batch_login=("${login[@]}" "${batch_mode[@]}")

bytes=$((size_mib * 1048576))
echo "Preparing ${size_mib} MiB of random bytes and 1,000 files of 4 KiB ..." >&2
[ "$bytes" -gt 0 ] && head -c "$bytes" /dev/urandom >"$serve/big.bin"
head -c 4194304 /dev/urandom >"$serve/small.bin"
: >"$work/many.get"
for i in $(seq -w 1 1000); do
    head -c 4096 /dev/urandom >"$serve/s$i"
    cp "$serve/s$i" "$work/many-local/u$i"
    echo "s$i:4096" >>"$work/many.get"
done
chmod 644 "$serve"/*
[ "$server" = vsftpd ] && chown "$user" "$serve"/*
ls "$work/many-local"/u* >"$work/many.put"
# Freed memory costs kernel time to touch again here: warm it once for every tool alike.
head -c "$((bytes > 4194304 ? bytes : 4194304))" /dev/zero >"$work/warm" && rm -f "$work/warm"

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# measure KEY CHECK_CMD -- COMMAND...: appends "secs cpu kib" to $work/KEY after a checked run
measure() {
    local key=$1 check=$2; shift 3
    local secs cpus kib code
    sync
    forget_time_wait
    read -r secs cpus kib code < <(cd "$work/dl" && "$py" "$here/measure.py" "$@")
    [ "$code" = 0 ] || { echo "$key: exit $code" >&2; exit 1; }
    eval "$check" || { echo "$key: result differs" >&2; exit 1; }
    echo "$secs $cpus $kib" >>"$work/$key"
}
col() { awk -v c="$2" '{ print $c }' "$work/$1" | median; }
# last KEY COLUMN: the figure of the round just run
last() { tail -n 1 "$work/$1" | awk -v c="$2" '{ print $c }'; }
# ratio NAME A B COLUMN: A/B of the round just run (seconds: B/A, so above 1 means A is faster),
# kept under NAME and printed
ratio() {
    local r
    if [ "$4" = 1 ]; then
        r=$(awk -v a="$(last "$2" 1)" -v b="$(last "$3" 1)" 'BEGIN { printf "%.3f", b / a }')
    else
        r=$(awk -v a="$(last "$2" "$4")" -v b="$(last "$3" "$4")" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }')
    fi
    echo "$r" >>"$work/ratio-$1"
    printf '%s' "$r"
}
mratio() { median <"$work/ratio-$1"; }
rate() { awk -v b="$bytes" -v s="$(col "$1" 1)" 'BEGIN { printf "%.0f", b / 1e6 / s }'; }
fps() { awk -v s="${2:-$(col "$1" 1)}" 'BEGIN { printf "%.0f", 1000 / s }'; }
mib() { awk -v k="$(col "$1" 3)" 'BEGIN { printf "%.1f", k / 1024 }'; }

echo "Batch benchmark on loopback against $server, $mode data connections, $rounds round(s)"
if [ "$bytes" -gt 0 ]; then
    # engine: the bare engine in a console program; quiet: the batch in the windowed program
    # with the dialog shown but no progress events; batch: the batch as the user runs it.
    cp "$serve/big.bin" "$work/bigup"
    echo
    echo "$size_mib MiB, one file: per round, batch/engine rate and engine/batch processor time"
    for r in $(seq "$rounds"); do
        for tool in $(in_turn "$r" engine quiet batch); do
            rm -f "$work/dl/big.bin"
            case $tool in
                engine) measure engine-get 'cmp -s "$serve/big.bin" "$work/dl/big.bin"' -- "$engine" "${login[@]}" "--$mode" get big.bin big.bin ;;
                quiet) measure quiet-get 'cmp -s "$serve/big.bin" "$work/dl/big.bin"' -- "$batch" "${batch_login[@]}" --no-progress get "big.bin:$bytes" ;;
                batch) measure batch-get 'cmp -s "$serve/big.bin" "$work/dl/big.bin"' -- "$batch" "${batch_login[@]}" get "big.bin:$bytes" ;;
            esac
            rm -f "$work/dl/big.bin" "$serve/up.bin" "$serve/bigup"
            case $tool in
                engine) measure engine-put 'cmp -s "$serve/big.bin" "$serve/up.bin"' -- "$engine" "${login[@]}" "--$mode" put "$serve/big.bin" up.bin ;;
                quiet) measure quiet-put 'cmp -s "$serve/big.bin" "$serve/bigup"' -- "$batch" "${batch_login[@]}" --no-progress put "$work/bigup" ;;
                batch) measure batch-put 'cmp -s "$serve/big.bin" "$serve/bigup"' -- "$batch" "${batch_login[@]}" put "$work/bigup" ;;
            esac
            rm -f "$serve/up.bin" "$serve/bigup"
        done
        printf '  round %d: download rate %s, cpu %s; upload rate %s, cpu %s\n' "$r" \
            "$(ratio big-get batch-get engine-get 1)" "$(ratio big-get-cpu engine-get batch-get 2)" \
            "$(ratio big-put batch-put engine-put 1)" "$(ratio big-put-cpu engine-put batch-put 2)"
    done
    rm -f "$work/bigup"
    measure batch-small 'cmp -s "$serve/small.bin" "$work/dl/small.bin"' -- "$batch" "${batch_login[@]}" get small.bin:4194304
    echo "  medians:"
    printf '  %-30s %8s %8s %10s\n' "" "MB/s" "cpu s" "peak MiB"
    for key in engine-get quiet-get batch-get engine-put quiet-put batch-put; do
        printf '  %-30s %8s %8s %10s\n' "$key" "$(rate "$key")" "$(col "$key" 2)" "$(mib "$key")"
    done
    echo "  batch/engine rate: download $(mratio big-get), upload $(mratio big-put)"
    # Processor time is steadier than elapsed time on a shared machine.
    echo "  engine/batch processor time: download $(mratio big-get-cpu), upload $(mratio big-put-cpu)"
    echo "  batch peak memory: 4 MiB file $(mib batch-small) MiB, $size_mib MiB file $(mib batch-get) MiB"
fi

# 1,000 files of 4 KiB.
lftp_base="set ftp:ssl-allow no; set xfer:clobber on; set ftp:passive-mode $lftp_passive; set net:max-retries 1; open -u $user,$password -p $port 127.0.0.1"
check_many_get='[ "$(ls "$work/dl" | grep -c "^s[0-9]")" = 1000 ] && cmp -s "$serve/s0500" "$work/dl/s0500"'
check_many_put='[ "$(ls "$serve" | grep -c "^u")" = 1000 ] && cmp -s "$work/many-local/u0500" "$serve/u0500"'
echo
echo "1,000 files of 4 KiB: per round, files per second (batch, lftp, ratio) and processor seconds"
printf '  %-6s %-9s %8s %8s %7s %8s %8s %7s\n' round "" batch lftp ratio "batch s" "lftp s" ratio
# Each download batch gets a new, empty folder; the old ones go when the benchmark ends. Files
# deleted just before made the file system search past their inodes for every new file, and
# each tool paid for the files of the run before it.
downloads=0
fresh_dl() {
    downloads=$((downloads + 1))
    mv "$work/dl" "$work/dl-done.$downloads"
    mkdir "$work/dl"
}
many() {  # tool direction: one batch of 1,000 files
    case $1/$2 in
        batch/get) fresh_dl; measure batch-mget "$check_many_get" -- "$batch" "${batch_login[@]}" get "@$work/many.get" ;;
        lftp/get) fresh_dl; measure lftp-mget "$check_many_get" -- lftp -c "$lftp_base; mget s[0-9]*" ;;
        batch/put) rm -f "$serve"/u*; measure batch-mput "$check_many_put" -- "$batch" "${batch_login[@]}" put "@$work/many.put" ;;
        lftp/put) rm -f "$serve"/u*; measure lftp-mput "$check_many_put" -- lftp -c "$lftp_base; lcd $work/many-local; mput u*" ;;
    esac
}
for r in $(seq "$rounds"); do
    for dir in get put; do
        for tool in $(in_turn "$r" batch lftp); do many "$tool" "$dir"; done
    done
    rm -f "$serve"/u*
    for dir in get put; do
        label=download
        [ "$dir" = put ] && label=upload
        printf '  %-6s %-9s %8s %8s %7s %8s %8s %7s\n' "$r" "$label" \
            "$(fps "" "$(last batch-m$dir 1)")" "$(fps "" "$(last lftp-m$dir 1)")" "$(ratio small-$dir batch-m$dir lftp-m$dir 1)" \
            "$(last batch-m$dir 2)" "$(last lftp-m$dir 2)" "$(ratio small-$dir-cpu batch-m$dir lftp-m$dir 2)"
    done
done
echo "  medians:"
printf '  %-30s %8s %8s\n' "" "files/s" "cpu s"
for key in batch-mget lftp-mget batch-mput lftp-mput; do
    printf '  %-30s %8s %8s\n' "$key" "$(fps "$key")" "$(col "$key" 2)"
done
echo "  batch/lftp processor time: download $(mratio small-get-cpu), upload $(mratio small-put-cpu)"
echo "small files: download $(mratio small-get) of lftp, upload $(mratio small-put) of lftp"
