#!/usr/bin/env bash
# Installs what the panel needs to build, test and run on Debian 12.
# Does nothing when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qcoro-qt6-dev libftdi1-dev libgtest-dev libgmock-dev
  qt6-charts-dev libqt6opengl6-dev  # the Runs window's chart of each run (Qt Charts needs Qt OpenGL's CMake files)
  libusb-1.0-0-dev                # the emulated FTDI chip's stand-in libusb
  libgrpc++-dev libprotobuf-dev   # the SiLA 2 server: gRPC and protobuf,
  protobuf-compiler protobuf-compiler-grpc python3  # its services derived from the Feature Definitions,
  libavahi-client-dev libssl-dev  #   its mDNS announcement and its certificate
  avahi-daemon avahi-utils iproute2  # the discovery test, in a network namespace of its own
  clang libclang-rt-14-dev        # the fuzz targets (libFuzzer)
  xvfb xauth                      # the panel and its screenshots without a display
  dbus-daemon                     # a private message bus for the sleep-lock and priority tests
  rtkit                           # RealtimeKit: a run's raised priority, tested against its daemon
  fonts-symbola                   # control pictures (CR as ␍) in the Traffic window
  qemu-system-x86 busybox-static  # the real-stack test: Debian's kernel under QEMU,
  kmod udev                       #   its initramfs, modules and udevd
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
# The real-stack test fetches FTDI's D2XX with npm; Node.js may bring its own.
command -v npm >/dev/null || missing+=(npm)
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
