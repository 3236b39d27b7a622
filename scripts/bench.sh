#!/usr/bin/env bash
# Builds the benchmarks (Release) and runs each with repetitions, printing after each program a table
# that sets the driver's figures beside their anchors (libjpeg-turbo, memcpy, curl) with the ratio and
# the target of every row. The figures are medians of REPS repetitions (default 5); CPU times unless a
# table says otherwise. Machine load is printed first: on a shared machine the ratios are what counts.
#   scripts/bench.sh [REPS] [FILTER]   FILTER: part of a program name (mxpeg, multipart, http, capture)
set -euo pipefail
cd "$(dirname "$0")/.."
# ccache keys on paths relative to the checkout, so a fresh clone elsewhere reuses earlier builds.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
reps="${1:-5}"
filter="${2:-}"
build=build-bench

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLON_BENCH=ON -DQUILLON_TESTS=OFF >/dev/null
ninja -C "$build" bench_mxpegconvertbench bench_multipartparserbench bench_httpreadbench bench_capturecpubench quillon >/dev/null

echo "machine: $(nproc) cores, load average: $(cut -d' ' -f1-3 /proc/loadavg)"
run() {
  local name="$1"
  shift
  case "$name" in *"$filter"*) ;; *) return 0 ;; esac
  echo
  echo "== $name $*"
  "$build/bench/$name" --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true "$@"
}
run bench_mxpegconvertbench
run bench_multipartparserbench
run bench_httpreadbench
# Each repetition streams for about ten seconds per configuration.
run bench_capturecpubench --benchmark_repetitions="$(( reps < 3 ? reps : 3 ))"
