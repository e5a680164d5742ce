#!/bin/bash
# Judges the record of one update run of two modules on LINE:
#
#   check-run.sh RUN_DIR LINE FIRMWARE BIN_DIR
#
# RUN_DIR holds what socketcan-e2e.sh records there: flasher.rc, flasher.out,
# flasher.err, modsim.rc, modsim.out, the images module-<id>.s3, the flasher's
# traces flasher-vcanN.log and candump's records candump-vcanN.log. Derived
# files go to RUN_DIR/check. Exit code 0 when the run is sound, 1 otherwise,
# with every problem found on standard error. TARV_E2E_BUSES and
# TARV_E2E_PAIRED name other buses as for socketcan-e2e.sh; the far end of a
# paired bus must have carried the same frames.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lib.sh
source "$here/lib.sh"

run=${1:?usage: check-run.sh RUN_DIR LINE FIRMWARE BIN_DIR}
line=${2:?}
firmware=${3:?}
bin=${4:?}
[[ $line == 0 || $line == 1 ]] || fail "LINE must be 0 or 1"
read -r -a buses <<< "${TARV_E2E_BUSES:-vcan0 vcan1}"
bus=${buses[$line]}
other=${buses[$((1 - line))]}
work=$run/check
rm -rf "$work"
mkdir -p "$work"

problems=0
problem() {
    echo "FAIL: $*" >&2
    problems=$((problems + 1))
}

# file_or_empty FILE: FILE's content, nothing when it does not exist.
file_or_empty() {
    [[ -f $1 ]] && cat "$1"
    return 0
}

# --- exit codes and console lines ------------------------------------------

flash_rc=$(file_or_empty "$run/flasher.rc")
sim_rc=$(file_or_empty "$run/modsim.rc")
if [[ $flash_rc != 0 ]]; then
    problem "tarvCanFlash exit code ${flash_rc:-unknown}; its standard error ends with:
$(file_or_empty "$run/flasher.err" | tail -n 20)"
fi
[[ $sim_rc == 0 ]] || problem "tarvModuleSim exit code ${sim_rc:-unknown}: $(file_or_empty "$run/modsim.out")"

# The progress lines of a run without repeats: per module in ascending id order, one
# "Flash " and then one "Compare " line per file line, then the post-flash
# announcement. The id is the module id with the line in bits 12 to 15; the
# percentage is the file position after the line, plus 0.05, to one decimal.
expected_progress() {
    local id prefix phase
    for id in "${e2e_module_ids[@]}"; do
        prefix=$(printf '%x' $(((line << 12) | id)))
        for phase in Flash Compare; do
            awk -v phase="$phase" -v id="$prefix" -v size="$(stat -c %s "$firmware")" '
                { position += length($0) + 1
                  if (position > size) position = size
                  text = $0; sub(/\r$/, "", text); gsub(/[ \t]+/, " ", text)
                  sub(/^ /, "", text); sub(/ $/, "", text)
                  printf "%s ID %s %.1f%% %s\n", phase, id, position * 100 / size + 0.05, substr(text, 1, 30) }
            ' "$firmware"
        done
        printf '\nPostFlash \n'
    done
}
expected_progress > "$work/progress.expected"
file_or_empty "$run/flasher.out" | grep -E '^(Flash |Compare |PostFlash |$)' > "$work/progress.actual" || true
# A module's answer that comes late on a busy machine makes the flasher send
# the line again, which prints its progress line again; the protocol allows
# that, provided the flasher says why on standard error.
uniq "$work/progress.actual" > "$work/progress.once"
diff -u "$work/progress.expected" "$work/progress.once" > "$work/progress.diff" ||
    problem "progress lines differ from a clean run of $(basename "$firmware") (expected vs actual):
$(head -n 20 "$work/progress.diff")"
repeats=$(($(line_count "$work/progress.actual") - $(line_count "$work/progress.once")))
notices=$(file_or_empty "$run/flasher.err" | grep -c 'repeating line:' || true)
if [[ $repeats -gt $notices ]]; then
    problem "$repeats progress lines repeated, but only $notices repeats announced on standard error"
elif [[ $repeats -gt 0 ]]; then
    echo "note: $repeats lines sent again; the flasher announced $notices repeats"
fi
grep -sqxF "Programflash from hex file: $firmware" "$run/flasher.out" ||
    problem "no \"Programflash from hex file: \" line naming the file"
last=$(file_or_empty "$run/flasher.out" | tail -c 200 | tail -n 1)
[[ $last =~ ^Finish:\ Update\ Process\ needed\ [0-9]+\ seconds\.$ ]] ||
    problem "the output does not end with the timing line: \"$last\""
[[ $(file_or_empty "$run/flasher.out" | tail -c 1 | od -An -c | tr -d ' ') != '\n' ]] ||
    problem "the timing line ends with a newline"
count=${#e2e_module_ids[@]}
grep -sqxF "$count  of  $count completed. " "$run/flasher.err" ||
    problem "no completion line for $count modules on standard error"

# --- images ----------------------------------------------------------------

for id in "${e2e_module_ids[@]}"; do
    verdict=$("$bin/tarvModuleSim" --verify "$firmware" "$run/module-$id.s3" 2>&1) ||
        problem "module $id image: $verdict"
done

# --- candump's record against the flasher's trace --------------------------

# hex(TEXT) in awk; the machine's awk may be mawk.
readonly awk_hex='function hex(text,    v, i) {
    v = 0
    for (i = 1; i <= length(text); i++)
        v = v * 16 + index("0123456789ABCDEF", toupper(substr(text, i, 1))) - 1
    return v
}'

# wire_frames FILE DIRECTION: ID#DATA of each candump log line (error frames
# left out: the flasher's trace has none from a real controller), only frames
# from the modules (DIRECTION "in") or only the others (DIRECTION "out"). The
# recorders may interleave the two directions differently, never one of them.
# The modules answer from their id + 4 or + 5; the flasher addresses a module
# at its id or id + 1 and broadcasts on words outside the module range, so
# bit 2 inside 0x200..0x3FF tells the two apart.
wire_frames() {
    file_or_empty "$1" | awk -v direction="$2" "$awk_hex"'
        { split($3, part, "#"); if (length(part[1]) != 3) next; id = hex(part[1])
          incoming = id >= 512 && id <= 1023 && int(id / 4) % 2 == 1
          if ((direction == "in") == incoming) print $3 }'
}
for direction in out in; do
    wire_frames "$run/flasher-$bus.log" "$direction" > "$work/trace-$direction.frames"
    wire_frames "$run/candump-$bus.log" "$direction" > "$work/candump-$direction.frames"
    [[ -s $work/trace-$direction.frames ]] || problem "the flasher's trace holds no frames ($direction)"
    diff -u "$work/trace-$direction.frames" "$work/candump-$direction.frames" > "$work/frames-$direction.diff" ||
        problem "frames ($direction): the flasher's trace and candump's record differ (trace vs candump):
$(head -n 20 "$work/frames-$direction.diff")"
done
echo "frames on $bus: $(line_count "$work/trace-out.frames") from the flasher," \
     "$(line_count "$work/trace-in.frames") from the modules"

# candump -d notes lost frames in its record.
drops=$(file_or_empty "$run/candump-$bus.log" | grep '^DROPCOUNT' || true)
[[ -z $drops ]] || problem "candump lost frames: $drops"

# Standard data frames only: three hex digits up to 7FF, at most 8 data bytes;
# and the kernel's error frames (candump -e), CAN_ERR_FLAG in eight digits.
readonly good_frame='^\([0-9]+\.[0-9]{6}\) [a-z0-9]+ ([0-7][0-9A-F]{2}#([0-9A-F]{2}){0,8}|2[0-9A-F]{7}#([0-9A-F]{2}){8})$'
frames_of() {
    file_or_empty "$1" | grep -v '^DROPCOUNT' || true
}
bad=$(frames_of "$run/candump-$bus.log" | grep -cvE "$good_frame" || true)
[[ $bad == 0 ]] || problem "$bad frames on $bus without a valid 11-bit identifier, for example:
$(frames_of "$run/candump-$bus.log" | grep -vE "$good_frame" | head -n 5)"

# The run's line alone carries frames. The far end of one bus carries them
# too, less what its controller lost when the machine took its interrupt too
# late (a receive overrun), which is no fault of the flasher's.
if [[ ${TARV_E2E_PAIRED:-0} == 1 ]]; then
    wire_frames "$run/candump-$other.log" out > "$work/far-out.frames"
    missed=$(($(line_count "$work/trace-out.frames") - $(line_count "$work/far-out.frames")))
    [[ $missed == 0 ]] || echo "note: candump on $other missed $missed of the flasher's frames"
elif [[ -s $run/candump-$other.log ]]; then
    problem "$other carried $(line_count "$run/candump-$other.log") frames of a run on line $line:
$(head -n 3 "$run/candump-$other.log")"
fi
[[ ! -s $run/flasher-$other.log ]] ||
    problem "the flasher traced frames on $other during a run on line $line"

if [[ $problems != 0 ]]; then
    echo "line $line: $problems problem(s); files in $run" >&2
    exit 1
fi
echo "line $line: both modules updated over $bus, candump agrees with the flasher's trace"
