#!/bin/busybox sh
# The guest's first process, from the initramfs. It lays the host's root file
# system, read-only over virtio-9p, under a tmpfs overlay, links the kernel's
# modules from the host's cache into it, mounts the run folder (writable, for
# results) at its host path, and runs the guest script there. Then it powers
# the guest off. The kernel hands the settings below over as environment:
#   VALVE_GUEST   the guest script (a path on the host)
#   VALVE_RUN     the run folder on the host
#   VALVE_MODULES the kernel's module tree in the host's cache
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

for module in $(cat /modules.list); do insmod "/modules/$module"; done

mkdir -p /host /layer /root
mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000,cache=loose,ro hostroot /host
mount -t tmpfs -o mode=0755 tmpfs /layer
mkdir -p /layer/upper /layer/work
mount -t overlay overlay -o lowerdir=/host,upperdir=/layer/upper,workdir=/layer/work /root

release=$(uname -r)
mkdir -p "/root/lib/modules"
ln -sfn "$VALVE_MODULES" "/root/lib/modules/$release"
mkdir -p "/root$VALVE_RUN"
mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 run "/root$VALVE_RUN"
for fs in proc sys dev; do mount --move "/$fs" "/root/$fs"; done

# The host's busybox stays the first process, so that the guest powers off
# whatever the script does.
exec switch_root /root /bin/busybox sh -c \
  'bash "$VALVE_GUEST"; echo "guest script ended with $?"; sync; busybox poweroff -f'
