# Helpers for the scripts that run inside the test machine. Sourced.

# fail MESSAGE: ends the test with the message.
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# wait_until SECONDS WHAT COMMAND...: polls COMMAND until it succeeds; fails
# naming WHAT when SECONDS pass first.
wait_until() {
    local seconds=$1 what=$2
    shift 2
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        [[ $SECONDS -lt $deadline ]] || fail "$what: not within $seconds s"
        sleep 0.1
    done
}

# can_receivers DEVICE: how many raw sockets receive on DEVICE. The kernel
# lists a socket here once it is bound, so a reader is ready when it shows up.
can_receivers() {
    awk -v dev="$1" '$1 == dev && $NF == "raw" { n++ } END { print n + 0 }' /proc/net/can/rcvlist_all
}

# has_receivers DEVICE N: at least N raw sockets receive on DEVICE.
has_receivers() {
    [[ $(can_receivers "$1") -ge $2 ]]
}

# line_count FILE: lines in FILE, 0 when it does not exist.
line_count() {
    if [[ -f $1 ]]; then wc -l < "$1"; else echo 0; fi
}

# has_lines FILE N: FILE holds at least N lines.
has_lines() {
    [[ $(line_count "$1") -ge $2 ]]
}

# stop_process PID: SIGTERM and wait; its exit status does not matter.
stop_process() {
    kill "$1" 2> /dev/null || true
    wait "$1" 2> /dev/null || true
}
