#!/usr/bin/env bash
# The live view in a real browser: Debian's chromium driven by puppeteer-core from the npm registry
# (nothing downloads a browser), and ffmpeg reading an MxPEG camera through /channel/0.mjpg.
# Installs what is missing (chromium, ffmpeg, node and npm with apt-get as root; the node modules
# with npm ci into BUILD_DIR/browser), then runs test_view. Exit 77 (skipped) only when no browser
# can be installed. The screenshot stays at BUILD_DIR/browser/view-screenshot.png.
#   scripts/browser-test.sh [BUILD_DIR]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
start=$SECONDS

need=()
[ -x /usr/bin/chromium ] || need+=(chromium)
[ -x /usr/bin/ffmpeg ] || need+=(ffmpeg)
command -v node >/dev/null || need+=(nodejs)
command -v npm >/dev/null || need+=(npm)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then
    echo "browser-test: installing ${need[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get -o DPkg::Lock::Timeout=300 update -qq
    apt-get -o DPkg::Lock::Timeout=300 install -y -qq --no-install-recommends "${need[@]}" >/dev/null || true
  fi
fi
if [ ! -x /usr/bin/chromium ] || ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "browser-test: SKIPPED: Debian's chromium, node or npm is missing and cannot be installed here"
  exit 77
fi

out=$build/browser
mkdir -p "$out"
# The node modules from the committed lock file; again only when the lock file changed.
if ! cmp -s tests/browser/package-lock.json "$out/package-lock.json" || [ ! -d "$out/node_modules/puppeteer-core" ]; then
  cp tests/browser/package.json tests/browser/package-lock.json "$out/"
  (cd "$out" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --ignore-scripts --no-audit --no-fund --loglevel=error)
fi
[ -x "$build/tests/test_view" ] || ninja -C "$build" test_view quillon
QUILLON_BROWSER_MODULES=$out/node_modules QUILLON_BROWSER_OUT=$out "$build/tests/test_view"
echo "browser-test: took $((SECONDS - start)) s; screenshot $out/view-screenshot.png"
