#!/bin/bash
# The harness hands back what the command inside the machine printed and the
# exit code it ended with; otherwise every test in the machine would pass. The
# first boot hangs (hang-once-qemu.sh): the harness must stop it and boot again.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build_dir=${1:?usage: check-harness.sh BUILD_DIR}

real_qemu=$(command -v "${TARV_VM_QEMU:-qemu-system-x86_64}") || exit 77
mark=$build_dir/tests/vm/runs/harness.hung
rm -f "$mark"
rc=0
output=$(TARV_VM_QEMU=$here/hang-once-qemu.sh TARV_VM_REAL_QEMU=$real_qemu TARV_VM_HANG_MARK=$mark \
    TARV_VM_BOOT_LIMIT=30 "$here/run-in-vm.sh" --name harness --env 'TARV_PROBE=two words' "$build_dir" -- \
    bash -c 'echo "out:$TARV_PROBE"; echo "err:$(cat /sys/class/net/vcan1/type)" >&2; touch "$TARV_VM_RESULTS/made"; exit 3' 2>&1) || rc=$?
[[ $rc == 77 ]] && exit 77
[[ $rc == 3 ]] || { echo "FAIL: exit code $rc, expected the command's 3: $output" >&2; exit 1; }
grep -qx 'out:two words' <<< "$output" || { echo "FAIL: standard output lost: $output" >&2; exit 1; }
grep -qx 'err:280' <<< "$output" || { echo "FAIL: standard error lost: $output" >&2; exit 1; }
[[ -f $build_dir/tests/vm/runs/harness/made ]] || { echo "FAIL: the run folder is not writable" >&2; exit 1; }
[[ -f $mark ]] || { echo "FAIL: the hanging first boot never started" >&2; exit 1; }
grep -q 'booting once more' <<< "$output" || { echo "FAIL: no second boot after the hang: $output" >&2; exit 1; }
echo "harness: output, exit code and run folder come back from the machine, also after a boot that hung"
