#!/usr/bin/env bash
# Builds every libFuzzer target (clang, ASan+UBSan, coverage feedback), writes the seed corpora from
# the camera simulator, then runs each target for SECONDS (default 30), as many at once as there are
# cores. Fails on any crash, leak, sanitizer report or time-out. Corpora grow in fuzz/corpus-<target>/
# (git-ignored); findings and logs go to <build>/findings/.
# The MxPEG targets get the dictionary of markers and segment names in fuzz/mxpeg.dict.
#   scripts/fuzz.sh [SECONDS]      QUILLON_FUZZ_BUILD=<dir> reuses a build configured with QUILLON_FUZZ=ON
#                                  QUILLON_FUZZ_ONLY=<pattern> runs only the targets whose name matches
set -euo pipefail
cd "$(dirname "$0")/.."
# ccache keys on paths relative to the checkout, so a fresh clone elsewhere reuses earlier builds.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
seconds="${1:-30}"
build="${QUILLON_FUZZ_BUILD:-build-fuzz}"

if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUILLON_FUZZ=ON -DQUILLON_TESTS=OFF >/dev/null
fi
grep -q '^QUILLON_FUZZ:BOOL=ON' "$build/CMakeCache.txt" || { echo "fuzz: $build is not a QUILLON_FUZZ build" >&2; exit 2; }
ninja -C "$build" fuzz_all
"$build/fuzz/fuzz_make_seeds" fuzz

mkdir -p "$build/findings"
run_one() {
  local target="$1" name corpus log
  local -a extra=()
  name="$(basename "$target")"
  corpus="fuzz/corpus-${name#fuzz_}"
  log="$build/findings/$name.log"
  mkdir -p "$corpus"
  # The stream target's inputs stay short (a few small frames): longer ones only repeat the same paths slower.
  case "$name" in
    fuzz_mxpegparserfuzz) extra=(-dict=fuzz/mxpeg.dict -max_len=3072) ;;
    fuzz_mxpeg*) extra=(-dict=fuzz/mxpeg.dict) ;;
  esac
  # -rss_limit_mb: a parser that holds far more than its limits is a finding too.
  if ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/findings/$name-" "${extra[@]}" "$corpus" >"$log" 2>&1; then
    local execs cov
    execs="$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}')"
    cov="$(grep -oE 'cov: [0-9]+' "$log" | tail -n 1 | awk '{print $2}')"
    printf '%-28s %3s s  %10s executions  coverage %6s  crashes 0\n' "$name" "$seconds" "${execs:-?}" "${cov:-?}"
  else
    echo "FAILED: $name (see $log)"
    tail -n 40 "$log"
    return 1
  fi
}

targets=()
for target in "$build"/fuzz/fuzz_*; do
  name="$(basename "$target")"
  [ "$name" = fuzz_make_seeds ] && continue
  [[ -n "${QUILLON_FUZZ_ONLY:-}" && ! "$name" =~ ${QUILLON_FUZZ_ONLY} ]] && continue
  [ -x "$target" ] && targets+=("$target")
done
jobs="$(nproc)"
status=0
pids=()
for target in "${targets[@]}"; do
  run_one "$target" &
  pids+=("$!")
  if [ "${#pids[@]}" -ge "$jobs" ]; then
    wait "${pids[0]}" || status=1
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
exit "$status"
