#!/bin/sh
# sysex_relay/bench/pipewire_bench.sh [build folder, default build]
#
# Runs sysex_relay_bench on a private PipeWire, the way most desktops now serve JACK clients:
# pipewire and wireplumber under a D-Bus session and a runtime folder of their own, so that
# neither the user's session nor another one's server is touched; the bench and its clients go
# through PipeWire's libjack (pw-jack) at 256 frames and 48 kHz, as on the private jackd.
set -eu
build=$(realpath "${1:-build}")
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR="$runtime"
unset PIPEWIRE_REMOTE JACK_DEFAULT_SERVER DBUS_SESSION_BUS_ADDRESS
dbus-run-session -- sh -eu -c '
  # Waits up to 10 s for a command to succeed.
  await() {
    tries=0
    until "$@" >/dev/null 2>&1; do
      tries=$((tries + 1))
      if [ $tries -gt 100 ]; then cat "$XDG_RUNTIME_DIR"/*.log >&2; return 1; fi
      sleep 0.1
    done
  }
  pipewire >"$XDG_RUNTIME_DIR/pipewire.log" 2>&1 &
  pipewire=$!
  # The settings metadata exists once the server serves; wireplumber started before gives up.
  await pw-metadata -n settings 0 clock.force-rate 48000
  pw-metadata -n settings 0 clock.force-quantum 256 >/dev/null
  wireplumber >"$XDG_RUNTIME_DIR/wireplumber.log" 2>&1 &
  wireplumber=$!
  await sh -c "pw-cli ls Client | grep -qi wireplumber"
  status=0
  pw-jack -s 48000 -p 256 "$1/bin/sysex_relay_bench" --running-server || status=$?
  kill $wireplumber $pipewire 2>/dev/null || true
  wait
  exit $status
' sh "$build"
