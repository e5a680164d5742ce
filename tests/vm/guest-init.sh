#!/bin/busybox sh
# shellcheck shell=dash
# First process of the test machine. Loads the kernel modules listed in
# /modules/order, mounts the host's root filesystem read-only at /host and the
# run folder writable over the same path inside it, brings up vcan0 and vcan1,
# runs /job.sh of the run folder in chroot /host and powers off. The
# controllers can0 and can1 stay down: each job sets their bit rate.
#
# Run folder files written here:
#   output  the job's standard output and standard error
#   rc      the job's exit code (absent when the machine failed before the job)
#   booted  empty, as soon as the run folder is reached
#   timing  "boot <s>", "job <s>" and "accel <kvm|tcg>" lines

/bin/busybox --install -s /bin
export PATH=/bin

mkdir -p /proc /sys /dev /host /results
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

say() { echo "guest-init: $*" > /dev/console; }

# Power off at once on failure; without an rc file the host reports the machine
# as broken, never as a passing job.
die() {
    say "$*"
    [ -d /results/. ] && echo "$*" >> /results/guest-error
    sync
    poweroff -f
}

for module in $(cat /modules/order); do
    insmod "/modules/$module.ko" || die "cannot load module $module"
done

# A large message size lets the Qt libraries load in few round trips; loose
# caching is safe because nothing changes the host's files during a run.
opts=trans=virtio,version=9p2000.L,msize=512000
mount -t 9p -o "$opts,ro,cache=loose" host /host || die "cannot mount the host filesystem"
mount -t 9p -o "$opts" results /results || die "cannot mount the run folder"
# The host's boot watch waits for this.
: > /results/booted

mount -t proc proc /host/proc
mount -t sysfs sysfs /host/sys
mount -t devtmpfs devtmpfs /host/dev
mkdir -p /host/dev/pts /host/dev/shm
mount -t devpts devpts /host/dev/pts
mount -t tmpfs tmpfs /host/dev/shm
# A build or source folder of the host under /tmp or /run stays visible
# through the fresh file systems laid over those two.
for top in tmp run; do
    mkdir -p "/keep/$top"
    mount -o bind "/host/$top" "/keep/$top"
done
mount -t tmpfs -o mode=1777 tmpfs /host/tmp
mount -t tmpfs -o mode=755 tmpfs /host/run
while read -r kept; do
    [ -n "$kept" ] && [ -d "/keep$kept" ] || continue
    mkdir -p "/host$kept"
    mount -o bind "/keep$kept" "/host$kept" || die "cannot keep $kept visible"
done < /results/keep-paths

run_dir=$(cat /results/host-path)
[ -d "/host$run_dir" ] || die "run folder $run_dir not visible in the host filesystem"
mount -o bind /results "/host$run_dir" || die "cannot bind the run folder"

ip link set lo up
for bus in vcan0 vcan1; do
    ip link add dev "$bus" type vcan || die "cannot create $bus"
    ip link set "$bus" up || die "cannot bring up $bus"
done

accel=tcg
dmesg | grep -q 'Hypervisor detected: KVM' && accel=kvm
read -r boot_end _ < /proc/uptime
say "ready after $boot_end s ($accel), running the job"

( chroot /host /bin/bash "$run_dir/job.sh" < /dev/null; echo $? > /results/rc ) 2>&1 \
    | tee /results/output > /dev/console

read -r job_end _ < /proc/uptime
job_time=$(echo "$job_end $boot_end" | awk '{ printf "%.2f", $1 - $2 }')
printf 'boot %s\njob %s\naccel %s\n' "$boot_end" "$job_time" "$accel" > /results/timing
sync
poweroff -f
