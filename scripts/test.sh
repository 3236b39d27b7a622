#!/usr/bin/env bash
# The whole test suite, as CI runs it: set-up if needed; the suite; the Windows build's tests under
# Wine (scripts/build-windows.sh); the suite again under
# AddressSanitizer + UndefinedBehaviorSanitizer (a clang build with coverage instrumentation, which
# then also builds the fuzz targets); the test programs that start threads under ThreadSanitizer;
# every fuzz target for 30 s. Each stage prints its duration.
#   QUILLON_QUICK_CHECKS=1 stops after the AddressSanitizer stage.
set -euo pipefail
cd "$(dirname "$0")/.."
# ccache keys on paths relative to the checkout, so a fresh clone elsewhere reuses earlier builds.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
stage_start=$SECONDS
stage_done() { echo "== $1 took $((SECONDS - stage_start)) s"; stage_start=$SECONDS; }
./scripts/setup.sh
stage_done "set-up and build"
jobs=$(nproc)

echo "== test suite"
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 300
stage_done "test suite"

echo "== Windows: quillon.dll, the reference host and the tests cross-built, run under Wine"
./scripts/build-windows.sh
# A headless Wine prefix of the build's own; wineserver kept running and Wine's background
# processes started with their standard streams apart from ctest's pipes (which they would
# otherwise inherit, so that test discovery waits for them).
export WINEPREFIX="$PWD/build-win64/wine" WINEDEBUG=-all
unset DISPLAY
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i </dev/null >/dev/null 2>&1
# A fresh prefix leaves wineboot's server running for a moment, and a run cut short may have left a
# persistent one: a second server would be refused. Wait for the first, end a lasting one.
timeout 30 wineserver -w || wineserver -k
wineserver -p
wine cmd /c exit </dev/null >/dev/null 2>&1
windows_status=0
# Wine now and then fails to start a program at all (no output, ends at once): a test that fails is
# run once more, and fails the stage only when it fails again.
ctest --test-dir build-win64 --output-on-failure -j "$jobs" --timeout 300 --repeat until-pass:2 || windows_status=$?
wineserver -k || true
unset WINEPREFIX WINEDEBUG
[ "$windows_status" -eq 0 ] || exit "$windows_status"
stage_done "Windows build and tests under Wine"

echo "== test suite under AddressSanitizer + UndefinedBehaviorSanitizer"
CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_FUZZ=ON >/dev/null
ninja -C build-asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 600
stage_done "AddressSanitizer suite"

if [ "${QUILLON_QUICK_CHECKS:-0}" = "1" ]; then
  echo "== ThreadSanitizer and fuzzing stages skipped (QUILLON_QUICK_CHECKS=1)"
  exit 0
fi

echo "== threaded tests under ThreadSanitizer"
threaded='-(thread|channels|io|ptz|properties|e2e|faults)$'
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_SANITIZE=thread >/dev/null
ninja -C build-tsan quillon test_thread test_channels test_io test_ptz test_properties test_e2e test_faults
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-tsan --output-on-failure -j "$jobs" --timeout 600 -L "$threaded"
stage_done "ThreadSanitizer threaded tests"

echo "== fuzz targets, 30 s each"
QUILLON_FUZZ_BUILD=build-asan ./scripts/fuzz.sh 30
stage_done "fuzzing"
