# shellcheck shell=bash
# Helpers for the scripts that run inside the test machine. Sourced.

# fail MESSAGE: ends the test with the message.
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# wait_for SECONDS COMMAND...: polls COMMAND until it succeeds; status 1 when
# SECONDS pass first.
wait_for() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [[ $SECONDS -lt $deadline ]] || return 1
        sleep 0.1
    done
}

# wait_until SECONDS WHAT COMMAND...: as wait_for, but fails naming WHAT.
wait_until() {
    local seconds=$1 what=$2
    shift 2
    wait_for "$seconds" "$@" || fail "$what: not within $seconds s"
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

# The modules of an update run: addresses 1 and 3, in ascending id order.
# shellcheck disable=SC2034 # used by the scripts that source this file
readonly e2e_module_ids=(0x208 0x218)

# make_firmware FILE: a small valid S-record file (S0 header, S1 data, S9 end)
# for modules named K3B7.
make_firmware() {
    awk 'function byte(text, i) { return index("0123456789ABCDEF", substr(text, i, 1)) * 16 \
                                         + index("0123456789ABCDEF", substr(text, i + 1, 1)) - 17 }
         function rec(type, text,    count, sum, i) {
             count = length(text) / 2 + 1
             sum = count
             for (i = 1; i <= length(text); i += 2)
                 sum += byte(text, i)
             printf "S%d%02X%s%02X\r\n", type, count, text, 255 - sum % 256
         }
         BEGIN {
             rec(0, "00004B334237")              # "K3B7"
             for (a = 0; a < 96; a += 16) {
                 data = ""
                 for (i = 0; i < 16; i++)
                     data = data sprintf("%02X", (a * 7 + i * 13) % 256)
                 rec(1, sprintf("%04X", a) data)
             }
             rec(9, "0000")
         }' > "$1"
}
