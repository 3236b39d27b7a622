#!/usr/bin/env bash
# End to end against the Linux camera simulator on 127.0.0.1: the same scenario with the Linux
# reference host and with quillon-host.exe under Wine (probe, MJPEG and MxPEG recording, digital
# I/O, a PTZ preset round trip). Pictures recorded from the same simulator seed and the preset
# file the module writes must be byte for byte the same on both systems.
#   e2e.sh <quillon-camsim> <Linux quillon-host> <wine> <quillon-host.exe> <work folder>
set -euo pipefail
camsim=$1 linux_host=$2 wine=$3 windows_host=$4 work=$5
here=$(cd "$(dirname "$0")" && pwd)
seed=7
pictures=5
preset=Mobotix_0003C50A1B2C.preset   # the simulator's MAC address names it

rm -rf "$work"
mkdir -p "$work"
failures=0
fail() { echo "e2e: FAILED: $*"; failures=$((failures + 1)); }

# scenario <name> <host command...>: every step against a fresh simulator with the same seed.
scenario() {
  local name=$1
  shift
  local out=$work/$name host_dir
  host_dir=$(dirname "${@: -1}")
  mkdir -p "$out/mjpeg" "$out/mxpeg"
  rm -f "$host_dir/$preset"
  export QUILLON_HOST_STATE=$out/params
  local h=("$@")
  "$here/with-camsim.sh" "$camsim" --seed $seed -- \
    "${h[@]}" record http://127.0.0.1:@PORT@ --seconds 2 --keep $pictures --out "$out/mjpeg" >"$out/record-mjpeg.txt" 2>&1 ||
    fail "$name: MJPEG recording (see $out/record-mjpeg.txt)"
  "$here/with-camsim.sh" "$camsim" --seed $seed -- \
    "${h[@]}" record http://127.0.0.1:@PORT@ --stream mxpeg --seconds 2 --keep $pictures --out "$out/mxpeg" \
    >"$out/record-mxpeg.txt" 2>&1 || fail "$name: MxPEG recording (see $out/record-mxpeg.txt)"
  # One simulator for probe, PTZ and I/O: the probe's parameters are stored for its port.
  local script='u=http://127.0.0.1:@PORT@
    "$@" probe $u && "$@" ptz $u preset add Door && "$@" ptz $u preset add Window &&
    "$@" ptz $u preset remove Door && "$@" ptz $u preset list && "$@" io $u --seconds 1 --set 0=2'
  "$here/with-camsim.sh" "$camsim" --seed $seed --inputs 2 --outputs 2 -- bash -c "$script" bash "${h[@]}" \
    >"$out/control.txt" 2>&1 || fail "$name: probe, PTZ or I/O (see $out/control.txt)"
  if [ -f "$host_dir/$preset" ]; then cp "$host_dir/$preset" "$out/"; else fail "$name: no preset file $host_dir/$preset"; fi
  # What both hosts print, without the port and the progress lines.
  grep -v -e 'DRIVER IS OPENED' -e '^camera ' -e 'parameters stored for' "$out/control.txt" | tr -d '\r' >"$out/control-cmp.txt" || true
}

scenario linux "$linux_host"
scenario windows "$wine" "$windows_host"

for stream in mjpeg mxpeg; do
  n=0
  for f in "$work/linux/$stream"/*.jpg; do
    [ -e "$f" ] || continue
    n=$((n + 1))
    cmp -s "$f" "$work/windows/$stream/$(basename "$f")" || fail "$stream picture $(basename "$f") differs"
  done
  [ $n -eq $pictures ] || fail "$stream: $n of $pictures pictures recorded on Linux"
  [ "$(ls "$work/windows/$stream" | wc -l)" -eq $pictures ] || fail "$stream: not $pictures pictures on Windows"
  echo "e2e: $stream: $n pictures compared"
done
cmp -s "$work/linux/$preset" "$work/windows/$preset" || fail "preset files differ"
grep -q 'ptz: 1 preset(s)' "$work/windows/control-cmp.txt" && grep -q '  0: Window' "$work/windows/control-cmp.txt" ||
  fail "the preset round trip on Windows did not leave exactly Window"
grep -q 'SetOutput(0, 2) -> queued' "$work/windows/control-cmp.txt" || fail "the output switch was not queued on Windows"
grep -q 'input(s), .* output(s)' "$work/windows/control-cmp.txt" || fail "no I/O counts on Windows"
diff -u "$work/linux/control-cmp.txt" "$work/windows/control-cmp.txt" || fail "probe, PTZ or I/O output differs"
if [ $failures -ne 0 ]; then
  echo "e2e: $failures failure(s); outputs in $work"
  exit 1
fi
echo "e2e: passed: pictures and preset file byte-identical, probe, PTZ and I/O alike"
