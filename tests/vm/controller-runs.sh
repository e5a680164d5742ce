#!/bin/bash
# Inside the test machine: runs over can0 and can1, two emulated SJA1000
# controllers on one bus driven by the kernel's own drivers (kvaser_pci,
# sja1000), with tarvCanFlash on one end through the socketcan plugin.
#
#   controller-runs.sh BUILD_DIR CASE...
#
# The cases run one after the other in this machine:
#   update:LINE:KBITS         tarvCanFlash updates two modules on the far end
#                             of the bus at KBITS, from canLINE; judged like
#                             the vcan runs (socketcan-e2e.sh).
#   configure                 can0 is down at another rate; the flasher (root
#                             here, libsocketcan installed) sets the run's rate
#                             (1000 kbit/s), brings can0 up and updates.
#   mismatch                  can0 runs at 250 kbit/s, the run at 125: exit 1
#                             and an "Error:" line naming can0 and both rates.
#   down                      can0 is down, and the flasher lacks the right to
#                             configure it: exit 1 and an "Error:" line.
#   lost:LINE                 canLINE goes down during the run: the run ends
#                             with "Error: CAN-Connection lost" and exit 2.
#   rxdrops                   sockets get the kernel's least receive buffer and
#                             can1 floods the bus while the flasher waits for a
#                             log-on: the frames its socket lost are logged.
#
# qemu's bus has no bit timing, so each controller is paced at its bit rate
# by a token bucket whose queue holds what a real adapter holds, about 2 ms of
# frames; the flasher's start-up sweeps overflow it.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lib.sh
source "$here/lib.sh"

build_dir=${1:?usage: controller-runs.sh BUILD_DIR CASE...}
shift
bin=$(realpath "$build_dir/bin")
results=${TARV_VM_RESULTS:?run me with run-in-vm.sh}
firmware=$results/K3B7_100.hex
make_firmware "$firmware"

# controller_at DEVICE BITRATE: DEVICE up at BITRATE, paced with a short queue.
controller_at() {
    ip link set "$1" down
    ip link set "$1" type can bitrate "$2"
    ip link set "$1" up
    # A fresh queue: its drop count is this run's.
    tc qdisc del dev "$1" root 2> /dev/null || true
    tc qdisc add dev "$1" root tbf rate "$(($2 / 1000))kbit" burst 64 latency 2ms
}

# queue_drops DEVICE: frames the pacing queue of DEVICE refused.
queue_drops() {
    tc -s qdisc show dev "$1" | awk '/dropped/ { sub(",", "", $7); print $7; exit }'
}

# bitrate_of DEVICE: the rate the kernel has for DEVICE.
bitrate_of() {
    ip -details link show "$1" | awk '$1 == "bitrate" { print $2; exit }'
}

is_up() {
    ip -br link show "$1" | grep -q '\bUP\b'
}

# A bench of both controllers without traces, for runs that must not start.
plain_bench() {
    local ini=$1
    {
        echo '[adapter.line0]'
        echo 'index = 0'
        echo 'driver = pcan_usb'
        echo 'backend = qt'
        echo 'plugin = socketcan'
        echo 'interface = can0'
        echo
        echo '[adapter.line1]'
        echo 'index = 1'
        echo 'driver = pcan_usb'
        echo 'backend = qt'
        echo 'plugin = socketcan'
        echo 'interface = can1'
    } > "$ini"
}

# expect_refusal DIR PATTERN: the run in DIR ended with exit code 1, an
# "Error:" line matching PATTERN and an "Error:" line last, sending nothing.
expect_refusal() {
    local dir=$1 pattern=$2 rc
    rc=$(cat "$dir/flasher.rc")
    [[ $rc == 1 ]] || { echo "FAIL: exit code $rc, expected 1; standard error: $(cat "$dir/flasher.err")" >&2; return 1; }
    grep -Eq "^Error: $pattern" "$dir/flasher.err" ||
        { echo "FAIL: no line \"Error: $pattern\" in: $(cat "$dir/flasher.err")" >&2; return 1; }
    [[ $(grep -v '^\s*$' "$dir/flasher.err" | tail -n 1) == Error:* ]] ||
        { echo "FAIL: standard error does not end with an Error: line" >&2; return 1; }
    [[ ! -s $dir/candump-can0.log ]] || { echo "FAIL: frames on can0: $(head -n 3 "$dir/candump-can0.log")" >&2; return 1; }
    grep -E '^Error:' "$dir/flasher.err"
}

# refused_run DIR COMMAND-PREFIX...: a run on line 0 at 125 kbit/s that
# should never start, with candump watching can0 when it is up (candump ends
# on an interface that is down).
refused_run() {
    local dir=$1 rc=0 dump=
    shift
    mkdir -p "$dir"
    plain_bench "$dir/bench.ini"
    : > "$dir/candump-can0.log"
    if is_up can0; then
        candump -L can0 > "$dir/candump-can0.log" &
        dump=$!
        wait_until 30 "candump listening on can0" has_receivers can0 1
    fi
    TARVCAN_CONFIG=$dir/bench.ini timeout 120 "$@" "$bin/tarvCanFlash" PCAN_USB 125 0 "$firmware" CLOSE_AUTO \
        < /dev/null > "$dir/flasher.out" 2> "$dir/flasher.err" || rc=$?
    echo "$rc" > "$dir/flasher.rc"
    [[ -z $dump ]] || stop_process "$dump"
}

# modules_on DEVICE DIR: tarvModuleSim with two modules on DEVICE, ready;
# its process id in sim.
modules_on() {
    "$bin/tarvModuleSim" --plugin socketcan --interface "$1" --ignore-stdin \
        --module "address=1,name=K3B7,image=$2/module-0x208.s3" \
        --module "address=3,name=K3B7,send_offset=4,image=$2/module-0x218.s3" > "$2/modsim.out" 2>&1 &
    sim=$!
    wait_until 60 "tarvModuleSim ready on $1" grep -q '^tarvModuleSim ready' "$2/modsim.out"
}

case_update() {
    local line=$1 kbits=$2 dev=can$1 rc=0
    local name=update-line$line-${kbits}k
    controller_at can0 $((kbits * 1000))
    controller_at can1 $((kbits * 1000))
    TARV_E2E_BUSES="can0 can1" TARV_E2E_PAIRED=1 TARV_E2E_KBITS=$kbits TARV_E2E_RUN=$name \
        "$here/socketcan-e2e.sh" "$build_dir" "$line" "$firmware" || rc=$?
    local drops
    ip -s -s -d link show can0 > "$results/$name/link-can0.txt"
    ip -s -s -d link show can1 > "$results/$name/link-can1.txt"
    drops=$(queue_drops "$dev")
    echo "$name: the pacing queue of $dev refused $drops frames, the flasher sent them again"
    # At 125 kbit/s the queue holds 5 frames, and the start-up sweeps overflow it.
    if [[ $kbits == 125 && ${drops:-0} == 0 ]]; then
        echo "FAIL: $name: the queue never overflowed, so the run tested nothing of it" >&2
        rc=1
    fi
    # Anything the stand-in had to give up shows on standard error.
    if grep -E 'lost:|refused|dropped' "$results/$name/flasher.err"; then
        echo "FAIL: $name: the stand-in gave frames up" >&2
        rc=1
    fi
    return "$rc"
}

case_configure() {
    local dir=$results/configure rc=0 id
    mkdir -p "$dir"
    controller_at can0 1000000
    controller_at can1 1000000
    ip link set can0 down
    ip link set can0 type can bitrate 500000
    plain_bench "$dir/bench.ini"
    modules_on can1 "$dir"
    TARVCAN_CONFIG=$dir/bench.ini timeout 300 "$bin/tarvCanFlash" PCAN_USB 1000 0 "$firmware" CLOSE_AUTO \
        < /dev/null > "$dir/flasher.out" 2> "$dir/flasher.err" || rc=$?
    stop_process "$sim"
    [[ $rc == 0 ]] || { echo "FAIL: exit code $rc: $(tail -n 5 "$dir/flasher.err")" >&2; return 1; }
    is_up can0 && [[ $(bitrate_of can0) == 1000000 ]] ||
        { echo "FAIL: can0 is not up at 1000000 bit/s: $(ip -details link show can0)" >&2; return 1; }
    for id in 0x208 0x218; do
        "$bin/tarvModuleSim" --verify "$firmware" "$dir/module-$id.s3" || return 1
    done
    echo "can0 set to 1000000 bit/s and brought up by the flasher"
}

case_mismatch() {
    local dir=$results/mismatch
    controller_at can0 250000
    controller_at can1 250000
    refused_run "$dir"
    expect_refusal "$dir" 'socketcan can0: the interface runs at 250000 bit/s, this run at 125000 bit/s' || return 1
    [[ $(bitrate_of can0) == 250000 ]] || { echo "FAIL: can0 runs at $(bitrate_of can0) bit/s now" >&2; return 1; }
}

case_down() {
    local dir=$results/down
    controller_at can0 125000
    ip link set can0 down
    # Root without the right to configure network interfaces.
    refused_run "$dir" setpriv --bounding-set -net_admin
    expect_refusal "$dir" 'socketcan can0: the interface is down \(125000 bit/s\), this run at 125000 bit/s' || return 1
    ! is_up can0 || { echo "FAIL: can0 came up" >&2; return 1; }
}

case_lost() {
    local line=$1 dir=$results/lost-line$1 rc=0
    local dev=can$line far=can$((1 - line))
    mkdir -p "$dir"
    controller_at can0 125000
    controller_at can1 125000
    plain_bench "$dir/bench.ini"
    modules_on "$far" "$dir"
    TARVCAN_CONFIG=$dir/bench.ini timeout 120 "$bin/tarvCanFlash" PCAN_USB 125 "$line" "$firmware" CLOSE_AUTO \
        < /dev/null > "$dir/flasher.out" 2> "$dir/flasher.err" &
    local flasher=$!
    wait_until 60 "the flash pass under way" grep -q '^Flash ID' "$dir/flasher.out"
    ip link set "$dev" down
    wait "$flasher" || rc=$?
    stop_process "$sim"
    [[ $rc == 2 ]] || { echo "FAIL: exit code $rc, expected 2: $(cat "$dir/flasher.err")" >&2; return 1; }
    grep -E '^Error: CAN-Connection lost ILLHW' "$dir/flasher.err" ||
        { echo "FAIL: no \"Error: CAN-Connection lost ILLHW\" line: $(cat "$dir/flasher.err")" >&2; return 1; }
}

case_rxdrops() {
    local dir=$results/rxdrops rc=0 old
    mkdir -p "$dir"
    controller_at can0 125000
    controller_at can1 125000
    plain_bench "$dir/bench.ini"
    old=$(sysctl -n net.core.rmem_default)
    sysctl -q -w net.core.rmem_default=2304
    TARVCAN_CONFIG=$dir/bench.ini timeout 120 "$bin/tarvCanFlash" PCAN_USB 125 0 "$firmware" CLOSE_AUTO \
        < /dev/null > "$dir/flasher.out" 2> "$dir/flasher.err" &
    local flasher=$!
    wait_until 60 "the flasher's socket on can0" has_receivers can0 1
    sysctl -q -w net.core.rmem_default="$old"
    # Unpaced, so that frames come faster than the flasher reads them.
    tc qdisc del dev can1 root
    cangen can1 -g 0 -i -n 300 -I 7FE -L 8
    wait "$flasher" || rc=$?
    grep -E 'can0: the kernel dropped [0-9]+ received frames' "$dir/flasher.err" ||
        { echo "FAIL: no drops logged (exit code $rc): $(cat "$dir/flasher.err")" >&2; return 1; }
}

failures=0
for entry in "$@"; do
    IFS=: read -r kind first second <<< "$entry"
    started=$SECONDS
    echo "=== $entry"
    rc=0
    case $kind in
        update) (case_update "$first" "$second") || rc=$? ;;
        configure) (case_configure) || rc=$? ;;
        mismatch) (case_mismatch) || rc=$? ;;
        down) (case_down) || rc=$? ;;
        lost) (case_lost "$first") || rc=$? ;;
        rxdrops) (case_rxdrops) || rc=$? ;;
        *) fail "unknown case: $entry" ;;
    esac
    if [[ $rc == 0 ]]; then
        echo "ok: $entry ($((SECONDS - started)) s)"
    else
        echo "FAIL: $entry ($((SECONDS - started)) s)"
        failures=$((failures + 1))
    fi
done
[[ $failures == 0 ]] || { echo "$failures of $# cases failed"; exit 1; }
echo "all $# cases passed"
