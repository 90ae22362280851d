#!/usr/bin/env bash
# Fills the real-stack test's cache, outside the tree, and writes the paths it
# holds to OUT as shell assignments:
#   KERNEL   Debian's own kernel (the package linux-image-amd64 depends on)
#   MODULES  its module tree, with depmod run on it
#   INITRD   a busybox initramfs that boots into the host's root file system
#   D2XX     FTDI's D2XX for Linux, linked into a libftd2xx.so
# Whatever is cached already is taken as it is: a second run fetches nothing.
# Usage: prepare.sh OUT
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$1
home=${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}
cache=${VALVE_REALSTACK_CACHE:-${XDG_CACHE_HOME:-$home/.cache}/valve-panel/realstack}
d2xx_package=ftdi-d2xx@1.3.1 # ships lib/Linux/libftd2xx.a, D2XX 1.4.24 for x86-64
# Work folders sit in the cache (so that finished ones are moved, not
# copied, into place) and go when the script ends, however it ends.
rm -rf "$cache/tmp"
mkdir -p "$cache/tmp"
trap 'rm -rf "$cache/tmp"' EXIT

fail() {
  echo "real-stack test cannot run: $*" >&2
  exit 1
}

need() { # command, Debian package
  command -v "$1" >/dev/null || [ -x "/usr/sbin/$1" ] || [ -x "/sbin/$1" ] ||
    fail "$1 is missing (Debian package $2; scripts/install-deps.sh installs it)"
}

# The kernel package's name, from the apt lists; refreshed once when the
# lists are empty or name a package the mirror no longer has.
kernel_package() {
  { apt-cache depends linux-image-amd64 2>/dev/null || true; } | awk '/Depends: linux-image-/ { print $2; exit }'
}

refresh_apt_lists() { # what failed without it
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo -n"
  $sudo apt-get update -qq >&2 || fail "$1, and apt-get update failed"
}

fetch_kernel() { # package, folder
  local package=$1 folder=$2 work
  work=$(mktemp -d "$cache/tmp/kernel.XXXXXX")
  if ! (cd "$work" && apt-get download -q "$package" >&2); then
    refresh_apt_lists "apt-get download $package failed"
    (cd "$work" && apt-get download -q "$package" >&2) || fail "apt-get download $package failed"
  fi
  dpkg-deb -x "$work"/*.deb "$work"
  rm -f "$work"/*.deb
  local release
  release=$(basename "$(ls -d "$work"/lib/modules/*)")
  /sbin/depmod -b "$work" "$release" || fail "depmod failed on $package"
  chmod 0755 "$work"
  rm -rf "$cache"/linux-image-* # a kernel linux-image-amd64 no longer depends on
  mv "$work" "$folder"
}

# What the initramfs needs to reach the host's root: virtio, 9p and overlayfs,
# in load order.
initramfs_modules() { # tree, release
  /sbin/modprobe -d "$1" -S "$2" -a --show-depends virtio_pci 9pnet_virtio 9p overlay |
    awk '$1 == "insmod" && !seen[$2]++ { print $2 }'
}

build_initramfs() { # tree, release, file
  local tree=$1 release=$2 file=$3 work module
  work=$(mktemp -d "$cache/tmp/initramfs.XXXXXX")
  mkdir -p "$work/root/bin" "$work/root/modules" "$work/root/proc" "$work/root/sys" "$work/root/dev"
  cp /bin/busybox "$work/root/bin/busybox"
  install -m 0755 "$here/init.sh" "$work/root/init"
  local modules
  modules=$(initramfs_modules "$tree" "$release")
  [ "$(wc -l <<<"$modules")" -ge 9 ] || fail "the kernel's modules for virtio, 9p and overlayfs are not all there"
  for module in $modules; do
    cp "$module" "$work/root/modules/"
    basename "$module" >>"$work/root/modules.list"
  done
  (cd "$work/root" && find . | busybox cpio -o -H newc -R 0:0 2>/dev/null | gzip -1) >"$work/initramfs"
  rm -f "$cache"/initramfs-*.cpio.gz # earlier ones are of no more use
  mv "$work/initramfs" "$file"
  rm -rf "$work"
}

fetch_d2xx() { # folder
  local folder=$1 work
  need npm npm
  work=$(mktemp -d "$cache/tmp/d2xx.XXXXXX")
  (cd "$work" && npm pack --silent "$d2xx_package" >/dev/null) || fail "npm pack $d2xx_package failed"
  tar -xzf "$work"/*.tgz -C "$work" package/lib/Linux/libftd2xx.a package/inc
  mkdir -p "$work/lib"
  cc -shared -o "$work/lib/libftd2xx.so" -Wl,--whole-archive "$work/package/lib/Linux/libftd2xx.a" \
    -Wl,--no-whole-archive -lpthread -lrt -ldl || fail "linking libftd2xx.so failed"
  mv "$work/package/inc" "$work/include"
  rm -rf "$work/package" "$work"/*.tgz
  chmod 0755 "$work"
  mv "$work" "$folder"
}

need qemu-system-x86_64 qemu-system-x86
need busybox busybox-static
need depmod kmod
need /lib/systemd/systemd-udevd udev
busybox --list | grep -x cpio >/dev/null || fail "busybox has no cpio (Debian package busybox-static)"

package=$(kernel_package)
if [ -z "$package" ]; then
  refresh_apt_lists "no package linux-image-amd64 in the apt lists"
  package=$(kernel_package)
  [ -n "$package" ] || fail "no package linux-image-amd64 in the apt lists"
fi
kernel_dir="$cache/$package"
[ -d "$kernel_dir" ] || fetch_kernel "$package" "$kernel_dir"
release=$(basename "$(ls -d "$kernel_dir"/lib/modules/*)")

key=$( (sha256sum "$here/init.sh" /bin/busybox; echo "$release") | sha256sum | cut -c1-16)
initrd="$cache/initramfs-$release-$key.cpio.gz"
[ -f "$initrd" ] || build_initramfs "$kernel_dir" "$release" "$initrd"

d2xx_dir="$cache/${d2xx_package/@/-}"
[ -f "$d2xx_dir/lib/libftd2xx.so" ] || fetch_d2xx "$d2xx_dir"

cat >"$out" <<EOF
CACHE=$cache
KERNEL=$kernel_dir/boot/vmlinuz-$release
MODULES=$kernel_dir/lib/modules/$release
INITRD=$initrd
D2XX=$d2xx_dir/lib
EOF
