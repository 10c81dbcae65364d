#!/usr/bin/env bash
# Times our JPEG decode against libjpeg-turbo's own djpeg on the same
# 12-megapixel file in the same run.
#
#   bench/decode_vs_djpeg.sh [build folder] [djpeg runs]
#
# decode_bench makes the picture (4256 x 2832, quality 90) and measures
# DecodeIntoStore (file already in memory), LoadFile (read + decode, as a
# batch does) and LibjpegAlone (the library into a plain buffer). djpeg then
# decodes the very same file with the same settings (accurate integer IDCT,
# fancy upsampling) to /dev/null. Figures are CPU time (user + system), which
# a busy machine disturbs less than wall time; the median of the runs counts.
# Needs djpeg (Debian package libjpeg-turbo-progs).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
runs=${2:-15}
command -v djpeg >/dev/null || { echo "decode_vs_djpeg: djpeg not found (apt install libjpeg-turbo-progs)" >&2; exit 1; }

if [[ ! -x "$build/bench/decode_bench" ]]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPIXMOOR_GUI=OFF >/dev/null
  ninja -C "$build" -j2 decode_bench
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
photo="$tmp/photo.jpg"

PIXMOOR_BENCH_JPEG="$photo" "$build/bench/decode_bench" --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true --benchmark_format=json --benchmark_out="$tmp/bench.json" >/dev/null

# Median CPU milliseconds of one benchmark, from Google Benchmark's JSON.
ours() {
  awk -v want="$1_median" '
    /"name":/ { name = $0; sub(/.*"name": "/, "", name); sub(/".*/, "", name); sub(/\/min_time:[0-9.]*/, "", name) }
    /"cpu_time":/ && name == want { v = $2; sub(/,/, "", v); printf "%.2f\n", v; exit }' "$tmp/bench.json"
}

# djpeg: CPU milliseconds (user + system) of each run, median taken.
TIMEFORMAT='%3U %3S'
for ((i = 0; i < runs; ++i)); do
  { time djpeg -dct int -outfile /dev/null "$photo" 2>/dev/null; } 2>>"$tmp/djpeg.times"
done
djpeg_ms=$(awk '{ print ($1 + $2) * 1000 }' "$tmp/djpeg.times" | sort -n | awk '{ v[NR] = $1 } END { printf "%.2f\n", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')

megapixels=$(awk 'BEGIN { printf "%.3f", 4256 * 2832 / 1e6 }')
decode_ms=$(ours DecodeIntoStore)
load_ms=$(ours LoadFile)
library_ms=$(ours LibjpegAlone)

report() {
  awk -v name="$1" -v ms="$2" -v mp="$megapixels" -v base="$djpeg_ms" \
    'BEGIN { printf "%-28s %8.2f ms  %7.1f MP/s  %+6.1f%% against djpeg\n", name, ms, mp / (ms / 1000), (ms / base - 1) * 100 }'
}
echo "JPEG decode, $megapixels MP, $(stat -c %s "$photo") bytes, CPU time, median"
report "djpeg (process, to /dev/null)" "$djpeg_ms"
report "LibjpegAlone" "$library_ms"
report "DecodeIntoStore" "$decode_ms"
report "LoadFile (read + decode)" "$load_ms"
