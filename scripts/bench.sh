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
ninja -C "$build" bench_mxpegconvertbench bench_multipartparserbench bench_httpreadbench bench_capturecpubench quillon quillon-host >/dev/null

echo "machine: $(nproc) cores, load average: $(cut -d' ' -f1-3 /proc/loadavg)"
run() {
  local name="$1"
  shift
  case "$name" in *"$filter"*) ;; *) return 0 ;; esac
  echo
  echo "== $name $*"
  "$build/bench/$name" --benchmark_repetitions="$reps" "$@"
}
run bench_mxpegconvertbench
run bench_multipartparserbench
run bench_httpreadbench
# Each repetition streams for about ten seconds per configuration (1, 4 and 16 cameras, and curl).
run bench_capturecpubench

# Many channels in one host: every requested picture must arrive. Met when every channel's rate over the
# window rounds to the requested 10.0 pictures/s.
case load in *"$filter"*)
  echo
  echo "== quillon-host load --channels 64 (640x480, 10 pictures/s, MJPEG and MxPEG mixed, 60 s)"
  "$build/tools/host/quillon-host" load --channels 64 --seconds 60 | tee "$build/load.txt" | grep -v '^load: \['
  awk '/^load: delivered/ { split($0, a, "per channel "); split(a[2], r, "\\.\\."); slowest = r[1] + 0 }
       /^load: CPU per stream-second/ { cpu = $5 }
       END { printf "load row: slowest channel %.2f pictures/s of 10 requested, %s ms CPU per stream-second: target 100%% delivered %s\n",
             slowest, cpu, (slowest >= 9.95 ? "met" : "MISSED") }' "$build/load.txt"
  ;;
esac
