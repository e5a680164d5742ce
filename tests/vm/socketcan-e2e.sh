#!/bin/bash
# Inside the test machine: one complete update run over the kernel's CAN stack.
#
#   socketcan-e2e.sh BUILD_DIR LINE [FIRMWARE]
#
# The bench maps the USB driver's adapters to vcan0 (line 0) and vcan1 (line 1)
# through the socketcan plugin, with the interface's trace on. tarvModuleSim
# puts two modules on the bus of LINE, candump records both buses, and
# tarvCanFlash updates the modules; check-run.sh and tarvWireJudge judge the record.
#
# Other buses: TARV_E2E_BUSES names those of line 0 and line 1 (default
# "vcan0 vcan1"); TARV_E2E_PAIRED=1 when they are the two ends of one bus, and
# then the modules sit on the far end. TARV_E2E_KBITS is the run's bit rate
# (default 125), TARV_E2E_RUN the record's folder (default lineLINE).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lib.sh
source "$here/lib.sh"

build_dir=${1:?usage: socketcan-e2e.sh BUILD_DIR LINE [FIRMWARE]}
line=${2:?usage: socketcan-e2e.sh BUILD_DIR LINE [FIRMWARE]}
firmware=${3:-$here/../../examples/K3B7_421.hex}
[[ $line == 0 || $line == 1 ]] || fail "LINE must be 0 or 1"
bin=$(realpath "$build_dir/bin")
read -r -a buses <<< "${TARV_E2E_BUSES:-vcan0 vcan1}"
bus=${buses[$line]}
modules_bus=$bus
[[ ${TARV_E2E_PAIRED:-0} != 1 ]] || modules_bus=${buses[$((1 - line))]}
out=${TARV_VM_RESULTS:?run me with run-in-vm.sh}/${TARV_E2E_RUN:-line$line}
rm -rf "$out"
mkdir -p "$out"
# The recorders flush every frame; on the run folder each flush is a round
# trip to the host, which would slow them down. They write to memory, and the
# record goes to the run folder at the end, also when the script fails.
work=$(mktemp -d)
# A failed wait leaves no recorder or simulator behind for the next run.
dump0= dump1= sim=
trap 'for pid in $dump0 $dump1 $sim; do kill "$pid" 2> /dev/null || true; done; cp -r "$work"/. "$out"/' EXIT

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
interface = ${buses[0]}
trace = flasher-${buses[0]}.log
trace_name = ${buses[0]}

[adapter.line1]
index = 1
driver = pcan_usb
backend = qt
plugin = socketcan
interface = ${buses[1]}
trace = flasher-${buses[1]}.log
trace_name = ${buses[1]}
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
# -d records any frame it loses all the same. The error mask takes the
# controller's error frames (bus off among them) into the record.
candump -L -d -r 16777216 "${buses[0]},0:0,#FFFFFFFF" > "$work/candump-${buses[0]}.log" &
dump0=$!
candump -L -d -r 16777216 "${buses[1]},0:0,#FFFFFFFF" > "$work/candump-${buses[1]}.log" &
dump1=$!
wait_until 30 "candump listening on ${buses[0]}" has_receivers "${buses[0]}" 1
wait_until 30 "candump listening on ${buses[1]}" has_receivers "${buses[1]}" 1

"$bin/tarvModuleSim" --plugin socketcan --interface "$modules_bus" --ignore-stdin \
    "${module_options[@]}" > "$work/modsim.out" 2>&1 &
sim=$!
sim_ready() {
    grep -q '^tarvModuleSim ready' "$work/modsim.out" && return 0
    kill -0 "$sim" 2> /dev/null || fail "tarvModuleSim ended before it was ready: $(cat "$work/modsim.out")"
    return 1
}
wait_until 60 "tarvModuleSim ready on $modules_bus" sim_ready
wait_until 30 "tarvModuleSim listening on $modules_bus" has_receivers "$modules_bus" 2
echo "tarvModuleSim ready on $modules_bus after $SECONDS s"

started=$SECONDS
flash_rc=0
# Well within the machine's own time-out, so that a hung run still leaves its record.
TARVCAN_CONFIG=$work/bench.ini timeout 420 "$bin/tarvCanFlash" PCAN_USB "${TARV_E2E_KBITS:-125}" "$line" "$firmware" CLOSE_AUTO \
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
# The conversation itself, as candump saw it on the run's bus.
if "$bin/tarvWireJudge" --trace "$out/candump-$bus.log" --interface "$bus" --line "$line" --firmware "$firmware" \
    --file-name "$firmware" --out "$out/flasher.out" --err "$out/flasher.err" --exit-code "$flash_rc" \
    > "$out/wirejudge.out" 2>&1; then
    echo "line $line: the wire judge passes candump's record of $bus"
else
    echo "FAIL: the wire judge: $(cat "$out/wirejudge.out")" >&2
    rc=1
fi
exit "$rc"
