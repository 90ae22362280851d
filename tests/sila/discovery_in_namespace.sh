#!/bin/sh
# The SiLA 2 server's mDNS announcement, seen by avahi-browse, with a real
# avahi-daemon in a private network and mount namespace of its own: a dummy
# interface, a private system bus, nothing leaves the namespace.
#   discovery_in_namespace.sh VALVECTL SILA_RENAME
# Exit 0: announced as it should be; 1: not; 77: cannot run here (skipped).
set -eu
valvectl=$1
rename=$2
skip() { echo "skipped: $1"; exit 77; }
for tool in unshare ip avahi-daemon avahi-browse dbus-daemon; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
if [ "${IN_SILA_NAMESPACE:-}" != 1 ]; then
  IN_SILA_NAMESPACE=1 unshare -n -m sh "$0" "$@" 2>&1 || {
    status=$?
    [ "$status" -eq 77 ] || [ "$status" -eq 1 ] && exit "$status"
    skip "unshare -n -m is not allowed here"
  }
  exit 0
fi

work=$(mktemp -d)
pids=""
finish() {
  for pid in $pids; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap finish EXIT
mount --make-rprivate / || skip "no private mounts"
mount -t tmpfs none /run || skip "cannot mount over /run"
mkdir -p /run/dbus /run/avahi-daemon
ip link set lo up
# A dummy interface, or where the kernel has none, a pair of virtual ends.
if ! ip link add sila0 type dummy 2>/dev/null; then
  ip link add sila0 type veth peer name sila1 || skip "neither dummy nor veth interfaces"
  ip link set sila1 up
fi
ip addr add 10.203.0.1/24 dev sila0
ip link set sila0 multicast on up

cat >"$work/bus.conf" <<'CONF'
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=/run/dbus/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/><allow own="*"/><allow send_destination="*"/><allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile &
pids="$pids $!"
cat >"$work/avahi.conf" <<'CONF'
[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=sila0
enable-dbus=yes
[publish]
publish-workstation=no
CONF

export XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=offscreen
# A server on loopback only is not announced.
"$valvectl" serve --sim --sila 127.0.0.1:0 --sila-insecure 2>"$work/loopback.err" &
pids="$pids $!"
# The network server starts before the daemon: it says so once, serves, and
# is announced when the daemon comes.
sleep 0.5
"$valvectl" serve --sim --sila 10.203.0.1:0 --sila-open 2>"$work/network.err" &
pids="$pids $!"
sleep 1
avahi-daemon -f "$work/avahi.conf" --no-drop-root --no-chroot --no-rlimits --no-proc-title 2>"$work/avahi.err" &
pids="$pids $!"

found=""
for _ in $(seq 1 40); do
  found=$(avahi-browse -rtp _sila._tcp 2>/dev/null | grep '^=' || true)
  [ -n "$found" ] && break
  sleep 0.25
done
failed=0
check() { if ! eval "$2"; then echo "FAILED: $1"; failed=1; fi; }
uuid=$(grep -o '[0-9a-f]\{8\}-[0-9a-f-]\{27\}' "$work/network.err" | head -1 || true)
check "announced by avahi-browse" '[ -n "$found" ]'
check "the instance is the server UUID" 'echo "$found" | grep -q "$uuid"'
check "TXT: version" 'echo "$found" | grep -q "\"version=1\."'
check "TXT: server_name" 'echo "$found" | grep -q "\"server_name="'
check "TXT: the certificate" 'echo "$found" | grep -q "\"ca0=-----BEGIN CERTIFICATE-----\""'
check "no daemon told once" '[ "$(grep -c "No Avahi daemon runs" "$work/network.err")" -eq 1 ]'
check "loopback not announced" 'grep -q "not announced on the network" "$work/loopback.err"'
check "only one server announced" '[ "$(echo "$found" | wc -l)" -eq 1 ]'
# A name set by a client is announced anew.
port=$(grep -o 'on 10\.203\.0\.1:[0-9]*' "$work/network.err" | head -1 | cut -d: -f2)
"$rename" "10.203.0.1:$port" "$XDG_CONFIG_HOME/valve-panel/sila/$uuid-cert.pem" "Bench-9" || true
renamed=""
for _ in $(seq 1 40); do
  renamed=$(avahi-browse -rtp _sila._tcp 2>/dev/null | grep '^=' | grep '"server_name=Bench-9"' || true)
  [ -n "$renamed" ] && break
  sleep 0.25
done
check "a new name announced" '[ -n "$renamed" ]'
if [ "$failed" -ne 0 ]; then
  echo "--- browse"; echo "$found"
  echo "--- network server"; cat "$work/network.err"
  echo "--- avahi"; cat "$work/avahi.err"
  exit 1
fi
echo "announced: $found"
