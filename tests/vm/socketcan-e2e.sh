#!/bin/bash
# Inside the test machine: one complete update run over the kernel's CAN stack.
#
#   socketcan-e2e.sh BUILD_DIR LINE [FIRMWARE]
#
# The bench maps the USB driver's adapters to vcan0 (line 0) and vcan1 (line 1)
# through the socketcan plugin, with the interface's trace on. tarvModuleSim
# puts two modules on the bus of LINE, candump records both buses, and
# tarvCanFlash updates the modules; check-run.sh judges the record.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lib.sh
source "$here/lib.sh"

build_dir=${1:?usage: socketcan-e2e.sh BUILD_DIR LINE [FIRMWARE]}
line=${2:?usage: socketcan-e2e.sh BUILD_DIR LINE [FIRMWARE]}
firmware=${3:-$here/../../examples/K3B7_421.hex}
[[ $line == 0 || $line == 1 ]] || fail "LINE must be 0 or 1"
bin=$(realpath "$build_dir/bin")
bus=vcan$line
out=${TARV_VM_RESULTS:?run me with run-in-vm.sh}/line$line
rm -rf "$out"
mkdir -p "$out"
# The recorders flush every frame; on the run folder each flush is a round
# trip to the host, which would slow them down. They write to memory, and the
# record goes to the run folder at the end, also when the script fails.
work=$(mktemp -d)
trap 'cp -r "$work"/. "$out"/' EXIT

if [[ ! -f $firmware ]]; then
    firmware=$work/K3B7_100.hex
    make_firmware "$firmware"
fi
firmware=$(realpath "$firmware")

# Both adapters of the USB driver, in the order of their lines.
cat > "$work/bench.ini" <<INI
[adapter.line0]
index = 0
driver = pcan_usb
backend = qt
plugin = socketcan
interface = vcan0
trace = flasher-vcan0.log
trace_name = vcan0

[adapter.line1]
index = 1
driver = pcan_usb
backend = qt
plugin = socketcan
interface = vcan1
trace = flasher-vcan1.log
trace_name = vcan1
INI

# The modules answer from their id + 5 and + 4 in turn, the two offsets
# modules use.
module_options=()
offset=5
for id in "${e2e_module_ids[@]}"; do
    module_options+=(--module "address=$(((id - 0x200) / 8)),name=K3B7,serial=$((120000 + id)),send_offset=$offset,image=$work/module-$id.s3")
    offset=$((9 - offset))
done

# A large receive buffer carries candump over the pauses of a busy machine;
# -d records any frame it loses all the same.
candump -L -d -r 16777216 vcan0 > "$work/candump-vcan0.log" &
dump0=$!
candump -L -d -r 16777216 vcan1 > "$work/candump-vcan1.log" &
dump1=$!
wait_until 30 "candump listening on vcan0" has_receivers vcan0 1
wait_until 30 "candump listening on vcan1" has_receivers vcan1 1

"$bin/tarvModuleSim" --plugin socketcan --interface "$bus" --ignore-stdin \
    "${module_options[@]}" > "$work/modsim.out" 2>&1 &
sim=$!
sim_ready() {
    grep -q '^tarvModuleSim ready' "$work/modsim.out" && return 0
    kill -0 "$sim" 2> /dev/null || fail "tarvModuleSim ended before it was ready: $(cat "$work/modsim.out")"
    return 1
}
wait_until 60 "tarvModuleSim ready on $bus" sim_ready
wait_until 30 "tarvModuleSim listening on $bus" has_receivers "$bus" 2
echo "tarvModuleSim ready on $bus after $SECONDS s"

started=$SECONDS
flash_rc=0
# Well within the machine's own time-out, so that a hung run still leaves its record.
TARVCAN_CONFIG=$work/bench.ini timeout 420 "$bin/tarvCanFlash" PCAN_USB 125 "$line" "$firmware" CLOSE_AUTO \
    < /dev/null > "$work/flasher.out" 2> "$work/flasher.err" || flash_rc=$?
echo "$flash_rc" > "$work/flasher.rc"
echo "tarvCanFlash on line $line: exit code $flash_rc after $((SECONDS - started)) s"

sim_rc=0
kill -TERM "$sim"
wait "$sim" || sim_rc=$?
echo "$sim_rc" > "$work/modsim.rc"

# Everything the flasher traced has been on the bus already; candump may still
# be writing it out.
wait_for 30 has_lines "$work/candump-$bus.log" "$(line_count "$work/flasher-$bus.log")" || true
stop_process "$dump0"
stop_process "$dump1"

cp -r "$work"/. "$out"/
started=$SECONDS
rc=0
"$here/check-run.sh" "$out" "$line" "$firmware" "$bin" || rc=$?
echo "record checked in $((SECONDS - started)) s"
exit "$rc"
