#!/usr/bin/env bash
# Builds every libFuzzer target (clang, ASan+UBSan, coverage feedback), writes the seed corpora from
# the camera simulator, then runs each target for SECONDS (default 30). Fails on any crash, leak,
# sanitizer report or time-out. Corpora grow in fuzz/corpus-<target>/ (git-ignored); findings go to
# build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
build=build-fuzz

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLON_FUZZ=ON -DQUILLON_TESTS=OFF >/dev/null
ninja -C "$build" fuzz_all
"$build/fuzz/fuzz_make_seeds" fuzz

mkdir -p "$build/findings"
status=0
for target in "$build"/fuzz/fuzz_*; do
  name="$(basename "$target")"
  [ "$name" = fuzz_make_seeds ] && continue
  [ -x "$target" ] || continue
  corpus="fuzz/corpus-${name#fuzz_}"
  mkdir -p "$corpus"
  echo "== $name for ${seconds}s"
  log="$build/findings/$name.log"
  # -rss_limit_mb: a parser that holds far more than its limits is a finding too.
  if ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/findings/$name-" "$corpus" >"$log" 2>&1; then
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)|cov: ' "$log" | tail -n 3 || true
  else
    echo "FAILED: $name (see $log)"
    tail -n 40 "$log"
    status=1
  fi
done
exit "$status"
