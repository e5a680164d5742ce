#!/bin/bash
# check-run.sh must pass a sound run and catch every kind of fault it is there
# for. A sound record comes from a run on line 1 of the simulated bench (no
# virtual machine needed), whose bus trace stands in for candump's record; each
# case spoils one copy of it.
#
#   check-faults.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lib.sh
source "$here/lib.sh"

build_dir=$(realpath "${1:?usage: check-faults.sh BUILD_DIR}")
bin=$build_dir/bin
work=$build_dir/tests/vm/check-faults
rm -rf "$work"
mkdir -p "$work/sound"
sound=$work/sound
firmware=$work/K3B7_100.hex
make_firmware "$firmware"

cat > "$sound/bench.ini" <<INI
[adapter.line0]
index = 0
driver = pcan_usb
backend = sim
trace = flasher-vcan0.log
trace_name = vcan0

[adapter.line1]
index = 1
driver = pcan_usb
backend = sim
trace = flasher-vcan1.log
trace_name = vcan1

[module.first]
adapter = 1
address = 1
name = K3B7
send_offset = 5
image = module-0x208.s3

[module.second]
adapter = 1
address = 3
name = K3B7
send_offset = 4
image = module-0x218.s3
INI

rc=0
TARVCAN_CONFIG=$sound/bench.ini timeout 300 "$bin/tarvCanFlash" PCAN_USB 125 1 "$firmware" CLOSE_AUTO \
    < /dev/null > "$sound/flasher.out" 2> "$sound/flasher.err" || rc=$?
echo "$rc" > "$sound/flasher.rc"
# The modules live inside the interface here; the simulated bus's trace holds
# every frame on it, as candump would.
echo 0 > "$sound/modsim.rc"
cp "$sound/flasher-vcan1.log" "$sound/candump-vcan1.log"
: > "$sound/candump-vcan0.log"

# nth_line FILE PATTERN N: number of the Nth line of FILE matching PATTERN.
# Status 1 when there is none.
nth_line() {
    local number
    number=$(grep -nE "$2" "$1" | sed -n "${3}p" | cut -d: -f1)
    [[ -n $number ]] && echo "$number"
}

# swap_lines FILE A B: lines A and B of FILE trade places.
swap_lines() {
    awk -v a="$2" -v b="$3" '{ line[NR] = $0 }
        END { t = line[a]; line[a] = line[b]; line[b] = t; for (i = 1; i <= NR; i++) print line[i] }' \
        "$1" > "$1.tmp"
    mv "$1.tmp" "$1"
}

# Spoilers: each changes the copy of the record in the current folder, or
# returns 1 when the record does not allow it. They run without errexit.
spoil_none() { :; }
spoil_flasher_exit() { echo 1 > flasher.rc; }
spoil_modsim_exit() { echo 1 > modsim.rc; }
spoil_lost_sent_frame() {
    local n
    n=$(nth_line candump-vcan1.log ' 209#' 3) && sed -i "${n}d" candump-vcan1.log
}
spoil_candump_dropped() {
    spoil_lost_sent_frame && echo "DROPCOUNT: dropped 1 CAN frame on 'vcan1' socket (total drops 1)" >> candump-vcan1.log
}
spoil_changed_module_frame() {
    local n
    n=$(nth_line flasher-vcan1.log ' 20D#1500$' 2) && sed -i "${n}s/#1500$/#1501/" flasher-vcan1.log
}
spoil_swapped_sent_frames() {
    local first second
    first=$(nth_line candump-vcan1.log ' 209#' 5) || return 1
    second=$(nth_line candump-vcan1.log ' 209#' 6) || return 1
    # Two equal frames would swap unnoticed; the case needs two that differ.
    [[ $(sed -n "${first}p" candump-vcan1.log | cut -d' ' -f3) != $(sed -n "${second}p" candump-vcan1.log | cut -d' ' -f3) ]] ||
        return 1
    swap_lines candump-vcan1.log "$first" "$second"
}
# A frame to a module and the module's answer, recorded the other way round.
spoil_interleaving() {
    local answer
    answer=$(awk '/ 209#/ { request = NR } / 20D#/ && request == NR - 1 { print NR; exit }' candump-vcan1.log)
    [[ -n $answer ]] || return 1
    swap_lines candump-vcan1.log "$((answer - 1))" "$answer"
}
spoil_extended_id() {
    local n
    n=$(nth_line candump-vcan1.log ' 209#' 1) && sed -i "${n}s/ 209#/ 00000209#/" candump-vcan1.log
}
spoil_line_bits_on_wire() {
    local n
    n=$(nth_line candump-vcan1.log ' 208#' 1) && sed -i "${n}s/ 208#/ 1208#/" candump-vcan1.log
}
spoil_frame_on_other_bus() { echo '(1700000000.000000) vcan0 004#F415E6' > candump-vcan0.log; }
spoil_traced_on_other_bus() { echo '(1700000000.000000) vcan0 004#F415E6' > flasher-vcan0.log; }
spoil_missing_progress() {
    local n
    n=$(nth_line flasher.out '^Compare ID 1218 ' 2) && sed -i "${n}d" flasher.out
}
spoil_no_line_bits() { grep -q '^Flash ID 1208 ' flasher.out && sed -i 's/^Flash ID 1208 /Flash ID 208 /' flasher.out; }
spoil_repeat_after_timeout() {
    local n
    n=$(nth_line flasher.out '^Flash ID 1208 ' 3) || return 1
    sed -i "${n}p" flasher.out
    echo '"" Timeout, repeating line: "S1130010..." ' >> flasher.err
}
spoil_unannounced_repeat() {
    local n
    n=$(nth_line flasher.out '^Compare ID 1218 ' 2) && sed -i "${n}p" flasher.out
}
spoil_newline_after_timing() { echo >> flasher.out; }
spoil_no_completion() { grep -q 'completed\. $' flasher.err && sed -i '/completed\. $/d' flasher.err; }
spoil_missing_image() { rm module-0x218.s3; }
spoil_short_image() { sed -i 3d module-0x208.s3; }

# case | spoiler | what check-run.sh must say ("" = nothing: it passes)
cases=(
    "sound record|spoil_none|"
    "flasher failed|spoil_flasher_exit|tarvCanFlash exit code 1"
    "simulator failed|spoil_modsim_exit|tarvModuleSim exit code 1"
    "candump lost a frame of the flasher's|spoil_lost_sent_frame|frames (out)"
    "candump lost a frame and said so|spoil_candump_dropped|candump lost frames: DROPCOUNT"
    "trace changed a module's frame|spoil_changed_module_frame|frames (in)"
    "two frames of the flasher's swapped|spoil_swapped_sent_frames|frames (out)"
    "directions interleaved differently|spoil_interleaving|"
    "29-bit identifier on the wire|spoil_extended_id|without a valid 11-bit identifier"
    "line bits in the identifier on the wire|spoil_line_bits_on_wire|without a valid 11-bit identifier"
    "frame on the other bus|spoil_frame_on_other_bus|vcan0 carried 1 frames"
    "trace on the other bus|spoil_traced_on_other_bus|traced frames on vcan0"
    "progress line missing|spoil_missing_progress|progress lines differ"
    "progress id without line bits|spoil_no_line_bits|progress lines differ"
    "line sent again after a timeout|spoil_repeat_after_timeout|"
    "line sent again for no reason|spoil_unannounced_repeat|1 progress lines repeated, but only 0"
    "timing line ends with a newline|spoil_newline_after_timing|ends with a newline"
    "no completion line|spoil_no_completion|no completion line for 2 modules"
    "image missing|spoil_missing_image|module 0x218 image"
    "image lacks a record|spoil_short_image|module 0x208 image"
)

failures=0
number=0
for entry in "${cases[@]}"; do
    IFS='|' read -r name spoiler expected <<< "$entry"
    number=$((number + 1))
    copy=$work/case$number
    cp -r "$sound" "$copy"
    if ! (cd "$copy" && "$spoiler"); then
        echo "FAIL: $name: the record cannot be spoiled this way (the sound run differs from what the case expects)"
        failures=$((failures + 1))
        continue
    fi
    rc=0
    "$here/check-run.sh" "$copy" 1 "$firmware" "$bin" > "$copy.out" 2>&1 || rc=$?
    if [[ -z $expected && $rc != 0 ]]; then
        echo "FAIL: $name: check-run.sh rejected it:"
        cat "$copy.out"
        failures=$((failures + 1))
    elif [[ -n $expected && $rc == 0 ]]; then
        echo "FAIL: $name: check-run.sh passed it"
        failures=$((failures + 1))
    elif [[ -n $expected ]] && ! grep -qF "$expected" "$copy.out"; then
        echo "FAIL: $name: check-run.sh did not say \"$expected\":"
        cat "$copy.out"
        failures=$((failures + 1))
    else
        echo "ok: $name"
    fi
done
[[ $failures == 0 ]] || { echo "$failures of $number cases failed; files in $work"; exit 1; }
echo "all $number cases behave"
