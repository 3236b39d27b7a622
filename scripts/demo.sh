#!/usr/bin/env bash
# The main job: the reference host's demo against the built-in camera simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x build/tools/host/quillon-host ] || ./scripts/setup.sh
ninja -C build >/dev/null
exec build/tools/host/quillon-host demo --out out/demo "$@"
