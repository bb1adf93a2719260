# Sourced by scripts that run the NonStop-style FTP server in the background for a while.
#   guardian_start WORK ARG...   starts guardian_ftpd.py --port 0 ARG... with its stdout in
#                                WORK/stdout and its log in WORK/server.log; sets guardian_pid
#                                and guardian_port, or prints the log and returns 1
#   guardian_stop                SIGTERM and wait, if it still runs
guardian_pid=
guardian_port=

guardian_start() {
    local work=$1 line
    shift
    /usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/guardian_ftpd.py" --port 0 "$@" \
        >"$work/stdout" 2>"$work/server.log" &
    guardian_pid=$!
    # The first line on stdout names the port.
    for _ in $(seq 100); do
        line=$(head -n 1 "$work/stdout" 2>/dev/null || true)
        case "$line" in
            "guardian-ftpd listening on 127.0.0.1:"*) guardian_port=${line##*:}; return 0 ;;
        esac
        kill -0 "$guardian_pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "the NonStop-style FTP server did not start:" >&2
    cat "$work/server.log" >&2
    return 1
}

guardian_stop() {
    if [ -n "$guardian_pid" ] && kill -0 "$guardian_pid" 2>/dev/null; then
        kill -TERM "$guardian_pid" 2>/dev/null || true
        wait "$guardian_pid" 2>/dev/null || true
    fi
}
