#!/bin/bash
# Inside the test machine: the kernel's CAN stack carries a frame from cansend
# to candump on vcan0 and keeps vcan1 apart from it.
set -euo pipefail
# shellcheck source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

out=${TARV_VM_RESULTS:?run me with run-in-vm.sh}/smoke
mkdir -p "$out"

for bus in vcan0 vcan1; do
    [[ $(cat "/sys/class/net/$bus/type") == 280 ]] || fail "$bus is not a CAN device"
    ip -br link show "$bus" | grep -q '\bUP\b' || fail "$bus is not up"
done

candump -L vcan0 > "$out/vcan0.log" &
dump0=$!
candump -L vcan1 > "$out/vcan1.log" &
dump1=$!
wait_until 20 "candump listening on vcan0" has_receivers vcan0 1
wait_until 20 "candump listening on vcan1" has_receivers vcan1 1

cansend vcan1 7FF#0102
cansend vcan0 123#DEADBEEF
wait_until 20 "frame on vcan0 recorded" has_lines "$out/vcan0.log" 1
wait_until 20 "frame on vcan1 recorded" has_lines "$out/vcan1.log" 1
stop_process "$dump0"
stop_process "$dump1"

log_line='^\([0-9]+\.[0-9]{6}\) %s %s$'
# shellcheck disable=SC2059
grep -Eq "$(printf "$log_line" vcan0 '123#DEADBEEF')" "$out/vcan0.log" ||
    fail "vcan0 record: $(cat "$out/vcan0.log")"
# shellcheck disable=SC2059
grep -Eq "$(printf "$log_line" vcan1 '7FF#0102')" "$out/vcan1.log" ||
    fail "vcan1 record: $(cat "$out/vcan1.log")"
[[ $(line_count "$out/vcan0.log") == 1 ]] || fail "vcan0 carried more than its frame: $(cat "$out/vcan0.log")"
[[ $(line_count "$out/vcan1.log") == 1 ]] || fail "vcan1 carried more than its frame: $(cat "$out/vcan1.log")"
echo "smoke: vcan0 and vcan1 carry frames through the kernel CAN stack"
