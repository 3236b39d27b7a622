#!/usr/bin/env bash
# Runs a command against a fresh Linux camera simulator on 127.0.0.1 and stops the simulator
# afterwards. Every "@PORT@" in the command becomes the simulator's port.
#   with-camsim.sh <quillon-camsim> [simulator options] -- <command> [arguments]
set -euo pipefail
camsim=$1
shift
sim_args=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  sim_args+=("$1")
  shift
done
[ $# -gt 0 ] || { echo "with-camsim: no command after --" >&2; exit 2; }
shift

coproc SIM { exec "$camsim" --port 0 "${sim_args[@]}" 2>&1; }
sim_pid=$SIM_PID
trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true' EXIT
# The simulator prints its URL first ("http://127.0.0.1:<port>"); wait for it, at most 10 s.
url=""
read -r -t 10 url <&"${SIM[0]}" || true
port=${url##*:}
case $port in
  '' | *[!0-9]*) echo "with-camsim: the simulator did not start (said: '$url')" >&2; exit 1 ;;
esac
args=()
for a in "$@"; do args+=("${a//@PORT@/$port}"); done
"${args[@]}"
