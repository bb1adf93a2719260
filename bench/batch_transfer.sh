#!/usr/bin/env bash
# Batch benchmark on loopback against vsftpd (pyftpdlib when vsftpd cannot run):
#  1. one big file (default 1 GiB) downloaded and uploaded through the download/upload batch
#     with the progress dialog on screen (offscreen), beside the bare engine in the same run and
#     the same batch without progress events: MB/s, processor seconds, peak memory, the
#     batch/engine ratios; and the batch's peak memory
#     for a small file, to show it does not grow with the file;
#  2. 1,000 files of 4 KiB through the batches, beside lftp's mget/mput: files per second.
# Every run is checked (cmp) and repeated; medians are printed.
#   usage: bench/batch_transfer.sh BUILD_DIR [SIZE_MIB] [RUNS]   (defaults 1024 and 3)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
build=$(cd "${1:?usage: $0 BUILD_DIR [SIZE_MIB] [RUNS]}" && pwd)
size_mib=${2:-${ZARVEL_BENCH_MIB:-1024}}
runs=${3:-3}
engine=$build/bench/zarvel-ftp-transfer
batch=$build/bench/zarvel-batch-transfer
py=/usr/bin/python3
user=zarvelftp
password=zarvel-ftp-test
servers=${ZARVEL_FTP_SERVERS_DIR:-/opt/zarvel-ftp-servers}
for b in "$engine" "$batch"; do [ -x "$b" ] || { echo "missing $b: build the bench targets first" >&2; exit 1; }; done
export QT_QPA_PLATFORM=offscreen

. "$here/lib/ftp_server.sh"
bench_work zarvel-batch-bench
serve=$work/serve
mkdir -p "$serve" "$work/dl" "$work/many-local"
start_ftp_server "$serve"
login=(--port "$port" --user "$user" --password "$password")

bytes=$((size_mib * 1048576))
echo "Preparing ${size_mib} MiB of random bytes and 1,000 files of 4 KiB ..." >&2
head -c "$bytes" /dev/urandom >"$serve/big.bin"
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
head -c "$bytes" /dev/zero >"$work/warm" && rm -f "$work/warm"

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# measure KEY CHECK_CMD -- COMMAND...: appends "secs cpu kib" to $work/KEY after a checked run
measure() {
    local key=$1 check=$2; shift 3
    local secs cpus kib code
    sync
    read -r secs cpus kib code < <(cd "$work/dl" && "$py" "$here/measure.py" "$@")
    [ "$code" = 0 ] || { echo "$key: exit $code" >&2; exit 1; }
    eval "$check" || { echo "$key: result differs" >&2; exit 1; }
    echo "$secs $cpus $kib" >>"$work/$key"
}
col() { awk -v c="$2" '{ print $c }' "$work/$1" | median; }

# engine: the bare engine in a console program; quiet: the batch in the windowed program with
# the dialog shown but no progress events; batch: the batch as the user runs it.
cp "$serve/big.bin" "$work/bigup"
for r in $(seq "$runs"); do
    for tool in engine quiet batch; do
        rm -f "$work/dl/big.bin"
        case $tool in
            engine) measure engine-get 'cmp -s "$serve/big.bin" "$work/dl/big.bin"' -- "$engine" "${login[@]}" --active get big.bin big.bin ;;
            quiet) measure quiet-get 'cmp -s "$serve/big.bin" "$work/dl/big.bin"' -- "$batch" "${login[@]}" --no-progress get "big.bin:$bytes" ;;
            batch) measure batch-get 'cmp -s "$serve/big.bin" "$work/dl/big.bin"' -- "$batch" "${login[@]}" get "big.bin:$bytes" ;;
        esac
        rm -f "$work/dl/big.bin" "$serve/up.bin" "$serve/bigup"
        case $tool in
            engine) measure engine-put 'cmp -s "$serve/big.bin" "$serve/up.bin"' -- "$engine" "${login[@]}" --active put "$serve/big.bin" up.bin ;;
            quiet) measure quiet-put 'cmp -s "$serve/big.bin" "$serve/bigup"' -- "$batch" "${login[@]}" --no-progress put "$work/bigup" ;;
            batch) measure batch-put 'cmp -s "$serve/big.bin" "$serve/bigup"' -- "$batch" "${login[@]}" put "$work/bigup" ;;
        esac
        rm -f "$serve/up.bin" "$serve/bigup"
    done
done
rm -f "$work/bigup"
measure batch-small 'cmp -s "$serve/small.bin" "$work/dl/small.bin"' -- "$batch" "${login[@]}" get small.bin:4194304

# 1,000 files of 4 KiB.
lftp_base="set ftp:ssl-allow no; set xfer:clobber on; set ftp:passive-mode off; set net:max-retries 1; open -u $user,$password -p $port 127.0.0.1"
check_many_get='[ "$(ls "$work/dl" | grep -c "^s[0-9]")" = 1000 ] && cmp -s "$serve/s0500" "$work/dl/s0500"'
check_many_put='[ "$(ls "$serve" | grep -c "^u")" = 1000 ] && cmp -s "$work/many-local/u0500" "$serve/u0500"'
for r in $(seq "$runs"); do
    rm -f "$work/dl"/s*
    measure batch-mget "$check_many_get" -- "$batch" "${login[@]}" get "@$work/many.get"
    rm -f "$work/dl"/s*
    measure lftp-mget "$check_many_get" -- lftp -c "$lftp_base; mget s[0-9]*"
    rm -f "$serve"/u*
    measure batch-mput "$check_many_put" -- "$batch" "${login[@]}" put "@$work/many.put"
    rm -f "$serve"/u*
    measure lftp-mput "$check_many_put" -- lftp -c "$lftp_base; lcd $work/many-local; mput u*"
    rm -f "$serve"/u*
done

rate() { awk -v b="$bytes" -v s="$(col "$1" 1)" 'BEGIN { printf "%.0f", b / 1e6 / s }'; }
fps() { awk -v s="$(col "$1" 1)" 'BEGIN { printf "%.0f", 1000 / s }'; }
mib() { awk -v k="$(col "$1" 3)" 'BEGIN { printf "%.1f", k / 1024 }'; }
echo "Batch benchmark on loopback against $server, active data connections, medians of $runs runs"
echo
echo "$size_mib MiB, one file"
printf '  %-30s %8s %8s %10s\n' "" "MB/s" "cpu s" "peak MiB"
for key in engine-get quiet-get batch-get engine-put quiet-put batch-put; do
    printf '  %-30s %8s %8s %10s\n' "$key" "$(rate "$key")" "$(col "$key" 2)" "$(mib "$key")"
done
awk -v g="$(rate batch-get)" -v eg="$(rate engine-get)" -v p="$(rate batch-put)" -v ep="$(rate engine-put)" \
    'BEGIN { printf "  batch/engine rate: download %.2f, upload %.2f\n", g / eg, p / ep }'
# Processor time is steadier than elapsed time on a shared machine.
awk -v g="$(col batch-get 2)" -v eg="$(col engine-get 2)" -v p="$(col batch-put 2)" -v ep="$(col engine-put 2)" \
    'BEGIN { printf "  engine/batch processor time: download %.2f, upload %.2f\n", eg / g, ep / p }'
echo "  batch peak memory: 4 MiB file $(mib batch-small) MiB, $size_mib MiB file $(mib batch-get) MiB"
echo
echo "1,000 files of 4 KiB"
printf '  %-30s %8s %8s\n' "" "files/s" "cpu s"
for key in batch-mget lftp-mget batch-mput lftp-mput; do
    printf '  %-30s %8s %8s\n' "$key" "$(fps "$key")" "$(col "$key" 2)"
done
awk -v a="$(fps batch-mget)" -v b="$(fps lftp-mget)" -v c="$(fps batch-mput)" -v d="$(fps lftp-mput)" \
    'BEGIN { printf "  batch/lftp files per second: download %.2f, upload %.2f\n", a / b, c / d }'
