#!/usr/bin/env bash
# The real-stack test. Boots Debian's own kernel under QEMU (TCG, no KVM
# needed) on the host's root file system, with QEMU's FTDI chip on an xHCI
# bus wired to unit_bridge, and runs guest.sh's cases there on BUILD_DIR.
# Prints one line a case and "N passed, N failed". Each case's log and result
# stay in RUN_DIR/results; the panel's idle wake-ups go beside the cache for
# perf_report. Exit code: 0 when every case passed, 1 otherwise; with
# --fixture, 0 whenever every case came to a verdict (CTest then reports each
# case as a test of its own, through result.sh).
# Usage: run.sh [--fixture] BUILD_DIR RUN_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
fixture=0
if [ "${1:-}" = --fixture ]; then
  fixture=1
  shift
fi
build=$(cd "$1" && pwd)
run=$(mkdir -p "$2" && cd "$2" && pwd)
case "$build$run$here" in
*[[:space:]]*)
  echo "real-stack test cannot run: the paths go on the kernel's command line and must not hold blanks" >&2
  exit 1
  ;;
esac

rm -rf "${run:?}"/*
"$here/prepare.sh" "$run/cache.env" || exit 1
source "$run/cache.env"

sockets=$(mktemp -d /tmp/valve-realstack.XXXXXX) # Unix socket paths must be short
bridge=""
stop_bridge() {
  [ -n "$bridge" ] && kill "$bridge" 2>/dev/null && wait "$bridge" 2>/dev/null
  rm -rf "$sockets"
}
trap stop_bridge EXIT
"$build/tests/realstack/unit_bridge" "$sockets/line" "$sockets/control" 2>"$run/bridge.log" &
bridge=$!
for _ in $(seq 50); do
  [ -S "$sockets/line" ] && [ -S "$sockets/control" ] && break
  sleep 0.1
done
if [ ! -S "$sockets/control" ]; then
  echo "real-stack test cannot run: unit_bridge did not start" >&2
  cat "$run/bridge.log" >&2
  exit 1
fi

start=$SECONDS
timeout 480 qemu-system-x86_64 -accel tcg -cpu max -smp 1 -m 1536 \
  -nodefaults -no-reboot -display none -monitor none -serial "file:$run/console.log" \
  -kernel "$KERNEL" -initrd "$INITRD" \
  -append "console=ttyS0 quiet panic=-1 VALVE_GUEST=$here/guest.sh VALVE_RUN=$run VALVE_BUILD=$build VALVE_D2XX=$D2XX VALVE_MODULES=$MODULES" \
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
  -virtfs "local,path=$run,mount_tag=run,security_model=none" \
  -device qemu-xhci \
  -chardev "socket,id=line,path=$sockets/line,reconnect=1" \
  -device usb-serial,chardev=line,serial=NR000001,always-plugged=off \
  -device virtio-serial-pci \
  -chardev "socket,id=control,path=$sockets/control" \
  -device virtserialport,chardev=control,name=unit-control \
  -trace 'usb_serial_*' -D "$run/qemu-trace.log" 2>"$run/qemu.log"
qemu_exit=$?
echo "guest ran $((SECONDS - start)) s (QEMU exit code $qemu_exit)"

passed=0
failed=0
incomplete=0
for name in $(grep -oP '^run_case \K\w+' "$here/guest.sh"); do
  result="$run/results/$name.result"
  if [ ! -f "$result" ]; then
    echo "FAIL $name: no result (see $run/console.log)"
    failed=$((failed + 1))
    incomplete=1
  elif [ "$(head -1 "$result")" = pass ]; then
    echo "pass $name"
    passed=$((passed + 1))
  else
    echo "FAIL $name: $(tail -n +2 "$result" | paste -sd ';' | sed 's/;/; /g')"
    failed=$((failed + 1))
  fi
done

figure="$run/figures/panel_idle_wakeups_per_s"
if [ -s "$figure" ]; then
  mkdir -p "$CACHE/results"
  printf '{"panel_idle_wakeups_per_s": %s, "kernel": "%s", "measured": "%s"}\n' \
    "$(cat "$figure")" "$(basename "$MODULES")" "$(date -u +%Y-%m-%dT%H:%M:%SZ)" >"$CACHE/results/panel_idle.json"
fi

if [ $incomplete = 1 ]; then
  echo "The guest's console ended so:"
  tail -n 20 "$run/console.log"
fi
echo "$passed passed, $failed failed"
if [ $fixture = 1 ]; then
  exit $incomplete
fi
[ $failed = 0 ]
