#!/bin/bash
# Runs one command inside a small virtual machine that has a real kernel CAN
# stack (vcan0 and vcan1 up; can0 and can1, two emulated SJA1000 controllers
# on one bus, down and unconfigured), and returns the command's output and
# exit code.
#
# The machine boots Debian's own kernel (fetched once with apt-get download into
# a cache outside the build tree, so a fresh build does not fetch it again)
# from a busybox initramfs, sees this machine's root filesystem
# read-only over 9p and runs the command in chroot there, so it uses the very
# programs and libraries built here. Only the run folder is writable.
#
# Exit codes: the command's own; 77 when qemu is not available (test skipped);
# 125 when the machine could not run the command (boot failure, time-out).
set -euo pipefail

readonly SKIP=77
readonly BROKEN=125
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# The leaves of the module graph; their dependencies come from the modules.
readonly root_modules=(virtio_pci 9pnet_virtio 9p can-raw vcan kvaser_pci sch_tbf)

usage() {
    cat <<EOF
Usage: $(basename "$0") [options] BUILD_DIR -- COMMAND [ARG...]

Runs COMMAND in a virtual machine with the SocketCAN buses vcan0 and vcan1,
and the controllers can0 and can1 (kvaser_pci, SJA1000) on one emulated bus.
Inside, the environment variable TARV_VM_RESULTS names a writable folder
(BUILD_DIR/tests/vm/runs/NAME) whose files remain after the run.

Options:
  --name NAME          run folder name (default: manual)
  --timeout SECONDS    stop the machine after this long (default: 300)
  --env NAME=VALUE     set a variable for COMMAND (repeatable)
  --verbose            show the machine's console while it runs
  -h, --help           this text

Environment:
  TARV_VM_QEMU         the qemu binary (default: qemu-system-x86_64)
  TARV_VM_ACCEL        kvm or tcg (default: kvm after a trial boot works with it)
  TARV_VM_CACHE        where the kernel is kept between builds
                       (default: \${XDG_CACHE_HOME:-~/.cache}/tarvcanflash/vm)
  TARV_VM_KERNEL_DEB   a linux-image-*.deb to unpack instead of downloading one
                       while the cache holds no kernel yet
  TARV_VM_BOOT_LIMIT   seconds the guest may take to reach its run folder
                       before the machine is stopped and booted once more
                       (default: 120)
EOF
}

fail() {
    echo "vm: $*" >&2
    exit "$BROKEN"
}

run_name=manual
timeout_s=300
verbose=0
extra_env=()
while [[ $# -gt 0 ]]; do
    case $1 in
        --name) run_name=${2:?}; shift 2 ;;
        --timeout) timeout_s=${2:?}; shift 2 ;;
        --env) extra_env+=("${2:?}"); shift 2 ;;
        --verbose) verbose=1; shift ;;
        -h|--help) usage; exit 0 ;;
        -*) usage >&2; exit 2 ;;
        *) break ;;
    esac
done
[[ $# -ge 3 && $2 == -- ]] || { usage >&2; exit 2; }
[[ $run_name =~ ^[A-Za-z0-9_.-]+$ ]] || fail "bad run name: $run_name"
[[ $timeout_s =~ ^[0-9]+$ ]] || fail "bad time-out: $timeout_s"
for assignment in "${extra_env[@]}"; do
    [[ $assignment =~ ^[A-Za-z_][A-Za-z0-9_]*= ]] || fail "bad --env: $assignment"
done
build_dir=$(realpath -e "$1") || fail "no build folder: $1"
shift 2
job=("$@")

# qemu's options take no commas in paths.
case $build_dir/ in
    *,*) fail "the build folder's path must not contain a comma: $build_dir" ;;
esac

qemu=${TARV_VM_QEMU:-qemu-system-x86_64}
if ! command -v "$qemu" > /dev/null; then
    echo "vm: $qemu not found (Debian package qemu-system-x86): cannot run the virtual machine, skipped" >&2
    exit "$SKIP"
fi
ldd /bin/busybox > /dev/null 2>&1 && fail "/bin/busybox is not static (Debian package busybox-static)"
[[ -x /bin/busybox ]] || fail "/bin/busybox missing (Debian package busybox-static)"
command -v cpio > /dev/null || fail "cpio missing (Debian package cpio)"

vm_dir=$build_dir/tests/vm
cache=${TARV_VM_CACHE:-${XDG_CACHE_HOME:-${HOME:?}/.cache}/tarvcanflash/vm}
run_dir=$vm_dir/runs/$run_name
mkdir -p "$cache" "$vm_dir/runs"

# Kernel: unpacked once into the cache; a lock keeps parallel runs from
# unpacking it twice.
kernel_root=$cache/kernel
fetch_kernel() {
    rm -rf "$kernel_root"
    mkdir -p "$kernel_root/download"
    local deb=${TARV_VM_KERNEL_DEB:-}
    if [[ -z $deb ]]; then
        local pkg
        pkg=$(apt-cache depends linux-image-amd64 2> /dev/null |
              awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ { print $2; exit }')
        [[ -n $pkg ]] || fail "apt-cache knows no kernel package behind linux-image-amd64"
        echo "vm: downloading $pkg" >&2
        (cd "$kernel_root/download" && apt-get download -q "$pkg" > /dev/null 2>&1) ||
            fail "apt-get download $pkg failed"
        deb=$(echo "$kernel_root"/download/*.deb)
    fi
    dpkg-deb -x "$deb" "$kernel_root/root" || fail "cannot unpack $deb"
    rm -rf "$kernel_root/download"
    touch "$kernel_root/ready"
}
exec 9> "$cache/lock"
flock 9
[[ -f $kernel_root/ready ]] || fetch_kernel
flock -u 9

vmlinuz=$(echo "$kernel_root"/root/boot/vmlinuz-*)
module_dir=$(echo "$kernel_root"/root/lib/modules/*)
[[ -f $vmlinuz && -d $module_dir ]] || fail "no kernel in $kernel_root; remove it to fetch again"

# module_file NAME: the module's file; '-' and '_' are the same in module names.
module_file() {
    find "$module_dir/kernel" -name "${1//[-_]/[-_]}.ko*" -print -quit
}

module_depends() {
    local file=$1
    case $file in
        *.ko.xz) xz -dc "$file" ;;
        *.ko.zst) zstd -dcq "$file" ;;
        *) cat "$file" ;;
    esac | tr '\0' '\n' | sed -n 's/^depends=//p' | tr ',' ' '
}

# Depth-first: every module follows the modules it depends on.
declare -A seen=()
load_order=()
visit() {
    local name=${1//-/_}
    [[ -n ${seen[$name]:-} ]] && return
    seen[$name]=1
    local file
    file=$(module_file "$name")
    if [[ -z $file ]]; then
        grep -q "/${name//_/[-_]}\.ko" "$module_dir/modules.builtin" 2> /dev/null && return
        fail "kernel module $name not found in $module_dir"
    fi
    local dep
    for dep in $(module_depends "$file"); do
        visit "$dep"
    done
    load_order+=("$name:$file")
}
for module in "${root_modules[@]}"; do
    visit "$module"
done

# build_initrd FILE: busybox, the guest's init and the modules in load order.
build_initrd() {
    local stage=$1.stage entry name file
    rm -rf "$stage"
    mkdir -p "$stage/bin" "$stage/modules"
    cp /bin/busybox "$stage/bin/busybox"
    install -m 755 "$here/guest-init.sh" "$stage/init"
    for entry in "${load_order[@]}"; do
        name=${entry%%:*}
        file=${entry#*:}
        case $file in
            *.ko.xz) xz -dc "$file" > "$stage/modules/$name.ko" ;;
            *.ko.zst) zstd -dcq "$file" > "$stage/modules/$name.ko" ;;
            *) cp "$file" "$stage/modules/$name.ko" ;;
        esac
        echo "$name" >> "$stage/modules/order"
    done
    (cd "$stage" && find . | cpio -o -H newc --quiet | gzip -1) > "$1"
    rm -rf "$stage"
}

# prepare_run DIR COMMAND...: an empty run folder holding the job script.
prepare_run() {
    local dir=$1 cwd=$PWD assignment
    shift
    rm -rf "$dir"
    mkdir -p "$dir"
    {
        echo "cd $(printf '%q' "$cwd") || exit $BROKEN"
        echo "export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"
        echo "export HOME=/tmp TMPDIR=/tmp LANG=C.UTF-8"
        echo "export TARV_VM_RESULTS=$(printf '%q' "$dir")"
        for assignment in "${extra_env[@]}"; do
            echo "export $(printf '%q' "$assignment")"
        done
        printf '%q ' exec "$@"
        echo
    } > "$dir/job.sh"
    echo "$dir" > "$dir/host-path"
    # The guest lays fresh file systems over /tmp and /run: the folders of
    # this run that lie there are bound back by their top entry.
    local path
    for path in "$build_dir" "$cwd"; do
        case $path/ in /tmp/*|/run/*) echo "$path" | cut -d/ -f1-3 ;; esac
    done > "$dir/keep-paths"
}

qemu_pid=
stop_qemu() {
    if [[ -n $qemu_pid ]]; then kill "$qemu_pid" 2> /dev/null || true; fi
}
trap stop_qemu EXIT
trap 'stop_qemu; exit 130' INT TERM

# A guest under software emulation has been seen to hang before its kernel
# printed anything; without a watch it would hold the test for its whole
# time-out.
readonly BOOT_HUNG=123
boot_limit=${TARV_VM_BOOT_LIMIT:-120}
[[ $boot_limit =~ ^[0-9]+$ ]] || fail "bad TARV_VM_BOOT_LIMIT: $boot_limit"

# watch_boot PID DIR: returns once the guest has reached its run folder or the
# machine has ended; fails, having stopped the machine, after boot_limit
# seconds without either.
watch_boot() {
    local pid=$1 dir=$2 waited=0
    while [[ ! -f $dir/booted ]] && kill -0 "$pid" 2> /dev/null; do
        if (( waited >= boot_limit )); then
            kill "$pid" 2> /dev/null || true
            return 1
        fi
        sleep 1
        waited=$(( waited + 1 ))
    done
}

# boot DIR ACCEL SECONDS CONSOLE: runs the machine on a prepared run folder;
# the result is qemu's exit code (124 on time-out, BOOT_HUNG when the guest
# never reached its run folder).
boot() {
    local dir=$1 accel=$2 seconds=$3 console=$4 rc=0
    local args=(
        -accel "$accel" -cpu max -smp 2 -m 1024
        -nographic -no-reboot
        -kernel "$vmlinuz" -initrd "$initrd"
        -append "console=ttyS0 panic=-1 quiet loglevel=3"
        -virtfs "local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap"
        -virtfs "local,path=$dir,mount_tag=results,security_model=none,multidevs=remap"
        # qemu's bus has no bit timing: frames pass at once, whatever rate
        # the controllers are set to.
        -object can-bus,id=canbus0
        -device kvaser_pci,canbus=canbus0
        -device kvaser_pci,canbus=canbus0
    )
    if [[ $verbose == 1 ]]; then
        timeout -k 10 "$seconds" "$qemu" "${args[@]}" < /dev/null > >(tee "$console" >&2) 2>&1 &
    else
        timeout -k 10 "$seconds" "$qemu" "${args[@]}" < /dev/null > "$console" 2>&1 &
    fi
    qemu_pid=$!
    local hung=0
    watch_boot "$qemu_pid" "$dir" || hung=1
    wait "$qemu_pid" || rc=$?
    qemu_pid=
    [[ $hung == 0 ]] || rc=$BOOT_HUNG
    return "$rc"
}

# KVM devices exist that hang or abort nested guests, so KVM is used only after
# a trial boot has worked with it; the verdict is kept per qemu and host kernel.
# Sets accel.
choose_accel() {
    accel=${TARV_VM_ACCEL:-}
    [[ -n $accel ]] && return
    accel=tcg
    [[ -r /dev/kvm && -w /dev/kvm ]] || return 0
    local key verdict_file=$cache/accel probe=$vm_dir/runs/.kvm-probe
    key="$("$qemu" --version | head -n 1) / $(uname -r)"
    if [[ -f $verdict_file && $(sed -n 1p "$verdict_file") == "$key" ]]; then
        accel=$(sed -n 2p "$verdict_file")
        return
    fi
    echo "vm: trying KVM" >&2
    local job_env=("${extra_env[@]}")
    extra_env=()
    prepare_run "$probe" true
    extra_env=("${job_env[@]}")
    # A failed trial may abort qemu; its job notice is no news.
    (boot "$probe" kvm 60 "$probe.console") 2> /dev/null || true
    [[ -f $probe/rc && $(cat "$probe/rc") == 0 ]] && accel=kvm
    echo "vm: using $accel from now on (verdict kept in $verdict_file)" >&2
    printf '%s\n%s\n' "$key" "$accel" > "$verdict_file"
    rm -rf "$probe" "$probe.console"
}

rm -rf "$run_dir.boot"
mkdir -p "$run_dir.boot"
initrd=$run_dir.boot/initramfs.cpio.gz
build_initrd "$initrd"

flock 9
choose_accel
flock -u 9

prepare_run "$run_dir" "${job[@]}"
console=$run_dir.boot/console.log
started=$(date +%s.%N)
qemu_rc=0
boot "$run_dir" "$accel" "$timeout_s" "$console" || qemu_rc=$?
if [[ $qemu_rc == "$BOOT_HUNG" ]]; then
    echo "vm: the guest did not reach its run folder within $boot_limit s; its console ends with:" >&2
    tail -n 5 "$console" >&2
    left=$(( timeout_s - boot_limit ))
    (( left > 0 )) || fail "no time left for a second boot"
    echo "vm: booting once more, for at most $left s" >&2
    prepare_run "$run_dir" "${job[@]}"
    qemu_rc=0
    boot "$run_dir" "$accel" "$left" "$console" || qemu_rc=$?
fi
total=$(echo "$(date +%s.%N) $started" | awk '{ printf "%.1f", $1 - $2 }')

if [[ ! -f $run_dir/rc ]]; then
    [[ $qemu_rc == 124 ]] && echo "vm: the machine did not finish within $timeout_s s" >&2
    [[ $qemu_rc == "$BOOT_HUNG" ]] && echo "vm: the second boot hung as well" >&2
    [[ -f $run_dir/guest-error ]] && echo "vm: $(cat "$run_dir/guest-error")" >&2
    echo "vm: the machine stopped before the command ended; its console ($console) ends with:" >&2
    tail -n 30 "$console" >&2
    [[ -f $run_dir/output ]] && { echo "vm: command output so far:" >&2; cat "$run_dir/output" >&2; }
    exit "$BROKEN"
fi

[[ $verbose == 1 ]] || cat "$run_dir/output"
rc=$(cat "$run_dir/rc")
declare -A timing=()
if [[ -f $run_dir/timing ]]; then
    while read -r key value; do timing[$key]=$value; done < "$run_dir/timing"
fi
echo "vm: boot ${timing[boot]:-?} s, command ${timing[job]:-?} s, total $total s (${timing[accel]:-?}); exit code $rc" >&2
exit "$rc"
