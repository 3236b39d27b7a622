#!/bin/sh
# quillon-host as installed: runs the reference host from lib/quillon/. The driver keeps its PTZ
# presets in the folder of the running host program; a user who cannot write that folder runs a copy
# of the program from their own state folder (beside a link to the installed module), so that their
# presets live there.
set -eu
here=$(dirname "$(readlink -f "$0")")
lib=$here/../lib/quillon
if [ -w "$lib" ] || [ -z "${HOME:-}" ]; then
  exec "$lib/quillon-host" "$@"
fi
state=${XDG_STATE_HOME:-$HOME/.local/state}/quillon
mkdir -p "$state"
ln -sf "$(readlink -f "$lib/libquillon.so")" "$state/libquillon.so"
if ! cmp -s "$lib/quillon-host" "$state/quillon-host"; then
  cp "$lib/quillon-host" "$state/quillon-host.$$"
  mv -f "$state/quillon-host.$$" "$state/quillon-host"
fi
exec "$state/quillon-host" "$@"
