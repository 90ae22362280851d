#!/usr/bin/env bash
# The real-stack cases, run inside the guest on the host's own build. The
# unit sits behind QEMU's FTDI chip; the host's bridge answers orders about it
# on a virtio serial port (see unit_bridge.cpp). Each case writes
# results/NAME.result ("pass", or "fail" and the checks that failed) and
# results/NAME.log into the run folder, which the host reads.
# The kernel hands over VALVE_RUN, VALVE_BUILD and VALVE_D2XX (see run.sh).
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export XDG_RUNTIME_DIR=/run/user/0 QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
results=$VALVE_RUN/results
valvectl=$VALVE_BUILD/app/valvectl
panel_program=$VALVE_BUILD/app/valve-panel
adapter='QEMU USB SERIAL'
serial=NR000001 # the serial number run.sh gives QEMU's chip
operator=valve-operator
mkdir -p "$results"

# --- the checks -------------------------------------------------------------

failures=()
check() { # what, command...: the command must succeed
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
  else
    echo "FAILED: $what"
    failures+=("$what")
  fi
}

run_case() { # name (of the function that checks it)
  local name=$1
  failures=()
  echo "== $name" >/dev/console
  "$name" >"$results/$name.log" 2>&1
  if [ ${#failures[@]} -eq 0 ]; then
    echo pass >"$results/$name.result"
  else
    printf 'fail\n' >"$results/$name.result"
    printf '%s\n' "${failures[@]}" >>"$results/$name.result"
  fi
}

# Runs a command with a time limit, keeping its standard output in $out, its
# standard error in $err and its exit code in $code; shows all three.
capture() {
  local files
  files=$(mktemp -d)
  timeout 60 "$@" >"$files/out" 2>"$files/err"
  code=$?
  out=$(cat "$files/out")
  err=$(cat "$files/err")
  rm -rf "$files"
  printf '$ %s\n%s\n[stderr]\n%s\n[exit %s]\n' "$*" "$out" "$err" "$code"
}

# Polls a condition twice a second for up to `seconds`.
within() { # seconds, command...
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.5
  done
}

contains() { [[ $1 == *"$2"* ]]; }
# A line that says D2XX left the adapter to libftdi1.
names_libftdi1_adapter() { grep 'D2XX' <<<"$1" | grep 'libftdi1' | grep -q "$adapter"; }
tty_present() { udevadm settle -t 10 && [ -c /dev/ttyUSB0 ]; }
tty_gone() { [ ! -e /dev/ttyUSB0 ]; }
valvectl_has_d2xx() { grep -q libftd2xx.so "/proc/$(pgrep -x valvectl)/maps"; }
adapter_on_bus() { udevadm settle -t 10 && grep -qx 0403 /sys/bus/usb/devices/*/idVendor; }
# Command prefixes: with FTDI's D2XX on the library path; as a user without root.
d2xx=(env "LD_LIBRARY_PATH=$VALVE_D2XX")
as_operator=(setpriv --reuid="$operator" --regid=users --init-groups env -u XDG_RUNTIME_DIR)

# --- the unit, through the host's bridge --------------------------------------

unit() { # order: prints the bridge's answer
  local answer
  echo "$*" >&5 && read -r -t 10 answer <&5 && printf '%s\n' "$answer"
}
unit_position() { unit state | awk '{ print $2 }'; }
unit_heard() { contains "$(unit received)" "${1//\\r/%0D}"; } # the bridge percent-encodes, CR as %0D
unit_heard_nothing() {
  local heard
  heard=$(unit received) && [ -z "$heard" ]
}
# The last command captured succeeded and printed just where the unit is.
prints_position() { [ "$code" = 0 ] && [ -n "$out" ] && [ "$out" = "$(unit_position)" ]; }

panel_alive() { [ -e "/proc/$panel" ] && ! grep -q '^State:.*zombie' "/proc/$panel/status"; }

# Pulls the adapter out and puts it back in, and waits until ftdi_sio has it.
replug() {
  unit unplug >/dev/null && within 10 tty_gone && unit replug >/dev/null && within 20 tty_present
}

# The adapter as Debian leaves it: bound to ftdi_sio, no program holding it.
fresh_adapter() {
  tty_present || replug
}

# A user without root, in group plugdev. Written straight into the files: the
# host's /etc/shadow, which useradd would need, may be closed to the guest.
add_operator() {
  echo "$operator:x:1500:100::/nonexistent:/usr/sbin/nologin" >>/etc/passwd
  awk -F: -v OFS=: -v user="$operator" '$1 == "plugdev" { $4 = $4 == "" ? user : $4 "," user } 1' \
    /etc/group >/tmp/group && cat /tmp/group >/etc/group
}

# --- the cases ----------------------------------------------------------------

libftdi1_list_status_move() {
  unit forget >/dev/null
  capture "$valvectl" list
  check "list shows the adapter free" [ "$out" = "$adapter	serial $serial	free" ]
  trace_before=$(stat -c %s "$VALVE_RUN/qemu-trace.log")
  capture "$valvectl" status
  trace_after=$(stat -c %s "$VALVE_RUN/qemu-trace.log")
  check "status exits 0 and prints the unit's position" prints_position
  capture "$valvectl" move 7
  check "move 7 exits 0" [ "$code" = 0 ]
  check "the unit is at position 7" [ "$(unit_position)" = 7 ]
  check "the unit heard a status request and the move" unit_heard 'S\rP07\r'
}

# The chip's settings as QEMU saw them while valvectl status ran: the last of
# each kind is what the unit's line ran at.
line_settings() {
  local settings
  settings=$(tail -c +"$((trace_before + 1))" "$VALVE_RUN/qemu-trace.log" | head -c "$((trace_after - trace_before))")
  printf '%s\n' "$settings" | grep usb_serial_set_
  check "baud rate 19200" grep -q 'baud rate 19200$' <<<"$(grep usb_serial_set_baud <<<"$settings" | tail -1)"
  check "8 data bits, no parity, 1 stop bit" grep -q 'parity N, data bits 8, stop bits 1$' \
    <<<"$(grep usb_serial_set_data <<<"$settings" | tail -1)"
  check "no flow control" grep -q 'flow control 0$' <<<"$(grep usb_serial_set_flow_control <<<"$settings" | tail -1)"
}

# libftdi1 takes the adapter from ftdi_sio while it works and gives it back.
tty_handed_back() {
  fresh_adapter
  printf '0,2\n1.5,3\n' >/tmp/two-steps.routine
  timeout 60 "$valvectl" run /tmp/two-steps.routine >/tmp/run.out 2>&1 &
  local run=$!
  check "the run reaches the unit" within 20 unit_heard 'P02\r'
  check "/dev/ttyUSB0 is gone while valvectl holds the adapter" tty_gone
  wait $run
  check "the run exits 0" [ $? = 0 ]
  cat /tmp/run.out
  check "/dev/ttyUSB0 is back after valvectl closed the adapter" within 10 tty_present
}

tty_held_elsewhere() {
  fresh_adapter
  # shellcheck disable=SC2217 # it only keeps the tty open, as a terminal program would
  sleep 120 </dev/ttyUSB0 &
  local holder=$!
  check "the other program has /dev/ttyUSB0 open" within 10 test "/proc/$holder/fd/0" -ef /dev/ttyUSB0
  unit forget >/dev/null
  capture "$valvectl" list
  check "list shows the adapter open elsewhere" [ "$out" = "$adapter	serial $serial	open elsewhere" ]
  capture "$valvectl" status
  check "status exits 1" [ "$code" = 1 ]
  check "not a byte reached the unit" unit_heard_nothing
  check "the other program keeps /dev/ttyUSB0" [ -c /dev/ttyUSB0 ]
  kill $holder
  wait $holder 2>/dev/null
}

d2xx_with_ftdi_sio_bound() {
  fresh_adapter
  capture "${d2xx[@]}" "$valvectl" list
  check "list shows the adapter free" [ "$out" = "$adapter	serial $serial	free" ]
  capture "${d2xx[@]}" "$valvectl" status
  check "status exits 0 and prints the unit's position" prints_position
  check "the log names the adapter libftdi1 serves" names_libftdi1_adapter "$err"
  check "/dev/ttyUSB0 is back afterwards" within 10 tty_present
}

# The panel's start-up, and valvectl through the panel's socket.
panel_start() {
  fresh_adapter
  "$panel_program" --log-file "$VALVE_RUN/panel-events.log" >"$results/panel.out" 2>&1 &
  panel=$!
  check "the panel finds the unit at start-up" \
    within 60 grep -q 'Found 1 Nerra unit through USB' "$VALVE_RUN/panel-events.log"
  check "the panel listens on its socket" within 20 test -S "$XDG_RUNTIME_DIR/valve-panel.socket"
  capture "$valvectl" list
  check "list shows the adapter held by the panel" [ "$out" = "$adapter	serial $serial	held by the running panel" ]
  capture "$valvectl" --panel status
  check "status through the panel exits 0 and prints the unit's position" prints_position
  capture "$valvectl" move 4
  check "move 4 goes through the panel" contains "$err" 'through the running panel'
  check "the unit is at position 4" [ "$(unit_position)" = 4 ]
  measure_idle_wakeups
}

# Voluntary context switches of all the panel's threads over 10 s, with the
# adapter open and nothing to do: the idle wake-ups a second.
measure_idle_wakeups() {
  local before after
  sleep 1
  before=$(panel_wakeups) && sleep 10 && after=$(panel_wakeups) && panel_alive || return
  mkdir -p "$VALVE_RUN/figures"
  awk -v n=$((after - before)) 'BEGIN { printf "%.1f\n", n / 10 }' >"$VALVE_RUN/figures/panel_idle_wakeups_per_s"
  echo "idle wake-ups a second: $(cat "$VALVE_RUN/figures/panel_idle_wakeups_per_s")"
}
panel_wakeups() { cat "/proc/$panel"/task/*/status | awk '/^voluntary_ctxt_switches/ { n += $2 } END { print n }'; }

panel_unplug_during_wait() {
  unit silent >/dev/null
  unit forget >/dev/null
  timeout 60 "$valvectl" --panel status >/tmp/wait.out 2>&1 &
  local waiting=$!
  check "the request reaches the silent unit" within 20 unit_heard 'S\r'
  unit unplug >/dev/null
  wait $waiting
  local code=$?
  cat /tmp/wait.out
  check "valvectl exits 1" [ $code = 1 ]
  unit speak >/dev/null
  check "the panel lives on" panel_alive
}

panel_replug_reconnects() {
  unit replug >/dev/null
  check "the adapter is back on the bus" within 20 adapter_on_bus
  capture "$valvectl" --panel status
  reconnect_out=$out
  check "the next command reconnects, exits 0 and prints the position first" \
    [ "$code:$(head -1 <<<"$out")" = "0:$(unit_position)" ]
  check "the panel holds the adapter again" tty_gone
}

# What a script reads from that command: the position, and none of the
# link's lines about the reconnect.
reconnect_stdout_only_result() {
  printf '%s\n' "$reconnect_out"
  check "standard output holds only the position" [ "$reconnect_out" = "$(unit_position)" ]
}

# A log-out while a routine runs through the panel.
panel_sigterm_hands_tty_back() {
  check "the panel holds the adapter" tty_gone
  printf '0,5\n600,6\n' >/tmp/long.routine
  unit forget >/dev/null
  timeout 60 "$valvectl" --panel run /tmp/long.routine >/tmp/long-run.out 2>&1 &
  local run=$!
  check "the routine's first move reaches the unit" within 20 unit_heard 'P05\r'
  kill -TERM "$panel"
  (sleep 20 && kill -KILL "$panel") 2>/dev/null &
  local stopper=$!
  wait "$panel"
  local code=$?
  kill $stopper 2>/dev/null
  check "the panel exits 0 within 20 s" [ "$code" = 0 ]
  check "/dev/ttyUSB0 is back" within 10 tty_present
  check "the panel's socket is gone" [ ! -e "$XDG_RUNTIME_DIR/valve-panel.socket" ]
  check "the kept log says the run was stopped by SIGTERM" grep -qi 'stopped.*SIGTERM' "$VALVE_RUN/panel-events.log"
  wait $run
  check "valvectl's run through the panel ends with exit 1" [ $? = 1 ]
  cat "$results/panel.out" /tmp/long-run.out
}

non_root_without_rule() {
  fresh_adapter
  add_operator
  ls -l /dev/bus/usb/*/*
  unit forget >/dev/null
  capture "${as_operator[@]}" "$valvectl" status
  check "status exits 1" [ "$code" = 1 ]
  check "the permission line names the adapter" contains "$err" "No permission to open the USB adapter \"$adapter\""
  check "not a byte reached the unit" unit_heard_nothing
}

non_root_with_rule() {
  cp "$source_dir/packaging/60-valve-panel-ftdi.rules" /etc/udev/rules.d/
  udevadm control --reload-rules
  check "the adapter is replugged" replug
  ls -l /dev/bus/usb/*/*
  capture "${as_operator[@]}" "$valvectl" status
  check "status exits 0 and prints the unit's position" prints_position
  check "/dev/ttyUSB0 is back afterwards" within 10 tty_present
}

d2xx_without_ftdi_sio() {
  rmmod ftdi_sio usbserial
  check "ftdi_sio is gone" within 10 tty_gone
  capture "${d2xx[@]}" "$valvectl" list
  check "list shows the adapter free" [ "$out" = "$adapter	serial $serial	free" ]
  capture "${d2xx[@]}" "$valvectl" status
  check "status exits 0 and prints the unit's position" prints_position
  printf '0,5\n1,9\n' >/tmp/d2xx.routine
  unit forget >/dev/null
  "${d2xx[@]}" timeout 60 "$valvectl" run /tmp/d2xx.routine >/tmp/d2xx-run.out 2>&1 &
  local run=$!
  check "the run reaches the unit" within 20 unit_heard 'P05\r'
  check "the run goes through FTDI's library" valvectl_has_d2xx
  wait $run
  check "the run exits 0" [ $? = 0 ]
  cat /tmp/d2xx-run.out
  check "the unit heard both moves" unit_heard 'P09\r'
  check "the unit is at position 9" [ "$(unit_position)" = 9 ]
}

# --- the guest's system --------------------------------------------------------

mount -t tmpfs -o mode=0755 tmpfs /run
mkdir -p /run/user && mkdir -m 0700 "$XDG_RUNTIME_DIR"
/lib/systemd/systemd-udevd --daemon
modprobe -a xhci_pci virtio_console
udevadm trigger --action=add --subsystem-match=usb --subsystem-match=virtio-ports --subsystem-match=tty
udevadm settle -t 30
exec 5<>/dev/virtio-ports/unit-control

run_case libftdi1_list_status_move
run_case line_settings
run_case tty_handed_back
run_case tty_held_elsewhere
run_case d2xx_with_ftdi_sio_bound
run_case panel_start
run_case panel_unplug_during_wait
run_case panel_replug_reconnects
run_case reconnect_stdout_only_result
run_case panel_sigterm_hands_tty_back
run_case non_root_without_rule
run_case non_root_with_rule
run_case d2xx_without_ftdi_sio
