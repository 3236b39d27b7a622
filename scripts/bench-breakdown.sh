#!/usr/bin/env bash
# Where the capture threads' CPU time goes per picture: N cameras of 1280x960 at 25 pictures/s
# (default 4, 10 s per window) stream through the reference host from the capture benchmark's replay
# camera while perf counts this process's system calls per thread and samples its call stacks.
# Each sample is charged to the first stage found walking its stack from the leaf towards the thread's
# start (so memcpy called by the parser counts as parsing, a kernel copy under recv as socket work);
# a stage's share of the module's samples times the module's CPU time per picture (measured in a
# window without perf, which slows the threads it watches) gives its cost.
#   scripts/bench-breakdown.sh [mjpeg|mxpeg ...] [CAMERAS] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
types=()
while [ $# -gt 0 ] && { [ "$1" = mjpeg ] || [ "$1" = mxpeg ]; }; do types+=("$1"); shift; done
[ ${#types[@]} -gt 0 ] || types=(mjpeg mxpeg)
cameras="${1:-4}"
seconds="${2:-10}"
build=build-bench
./scripts/install-missing.sh bench-breakdown linux-perf

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLON_BENCH=ON -DQUILLON_TESTS=OFF >/dev/null
ninja -C "$build" bench_capturecpubench quillon >/dev/null
echo "machine: $(nproc) cores, load average: $(cut -d' ' -f1-3 /proc/loadavg)"

for type in "${types[@]}"; do
  out="$build/breakdown-$type"
  rm -rf "$out" && mkdir -p "$out"
  "$build/bench/bench_capturecpubench" --breakdown "$type" "$out" "$cameras" "$seconds"
  main=$(awk '$1 == "main_thread" { print $2 }' "$out/window.txt")
  echo
  echo "== $type: $cameras cameras, two windows of $seconds s"
  # System calls of the module's threads per picture (perf stat -x, --per-thread: "comm-tid,count,,event,...").
  awk -F, -v main="$main" -v pictures="$(awk '$1 == "syscall_window_pictures" { print $2 }' "$out/window.txt")" '
    /^#/ || NF < 4 { next }
    { n = split($1, a, "-"); if (a[n] == main) next; sum[$4] += $2 }
    END {
      printf "system calls per picture (%d pictures):", pictures
      for (e in sum) { name = e; sub(/.*:(sys_enter_)?/, "", name); printf "  %s %.1f", name, sum[e] / pictures }
      printf "\n"
    }' "$out/syscalls.csv"
  perf script -i "$out/perf.data" -F tid,period,ip,sym 2>/dev/null | awk -v main="$main" \
      -v pictures="$(awk '$1 == "clean_window_pictures" { print $2 }' "$out/window.txt")" \
      -v cpu="$(awk '$1 == "clean_window_cpu_ns" { print $2 }' "$out/window.txt")" '
    function stage(sym) {
      if (sym ~ /CountingSink|VideoSink::DeliverSample/) return "host sink"
      if (sym ~ /ProcessSensorText|FindSensorSection/) return "sensor-text search"
      if (sym ~ /AllocateSample|ReleaseSample|DeliverPicture|MediaSample::/) return "sample allocation and copy"
      if (sym ~ /TileScanCache|MxPEGScanDecoderCore|MxPEGScanToJPEGConverter|JpegScanWriter|mxcpcHuffman/) return "conversion"
      if (sym ~ /AppendSegment|FrameComplete/) return "picture buffer (segments appended)"
      if (sym ~ /MxPEGParser/) return "MxPEG parsing (copy into its buffer)"
      if (sym ~ /CJpegMediaParser|CHttpMediaParser/) return "multipart parsing (copy into its buffer)"
      if (sym ~ /TcpSocket|__libc_recv|recvfrom|__poll|^poll/) return "socket reads and waits"
      if (sym ~ /platform::http|CHttpClient|HttpReadData|HttpQueryDataAvailable|ReadStreamChunk/) return "HTTP layer (copy into the read buffer)"
      return ""
    }
    # A sample: a header line "tid period" then one line per frame, leaf first, then a blank line.
    /^[ \t]*[0-9]+[ \t]+[0-9]+[ \t]*$/ { tid = $1; period = $2; found = ""; inSample = 1; next }
    inSample && NF == 0 {
      if (tid != main) { total += period; cost[found == "" ? "capture loop, locks, clocks, rest" : found] += period }
      inSample = 0; next
    }
    inSample && found == "" { line = $0; sub(/^[ \t]*[0-9a-f]+[ \t]+/, "", line); found = stage(line) }
    END {
      if (inSample && tid != main) { total += period; cost[found == "" ? "capture loop, locks, clocks, rest" : found] += period }
      if (total == 0 || pictures == 0) { print "no samples of the module"; exit 1 }
      printf "%-42s %7s %12s\n", "stage", "share", "us/picture"
      for (s in cost) printf "%-42s %6.1f%% %12.1f\n", s, 100 * cost[s] / total, cost[s] / total * cpu / 1000 / pictures | "sort -k1,1"
      close("sort -k1,1")
      printf "%-42s %6.1f%% %12.1f   (window without perf: %d pictures, %.1f ms of module CPU; %d samples)\n", "total", 100, cpu / 1000 / pictures, pictures, cpu / 1e6, total / 100000
    }'
done
