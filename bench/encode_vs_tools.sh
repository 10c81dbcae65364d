#!/usr/bin/env bash
# WebP and AVIF output against the libraries' own tools, in one run: three of
# the benchmark photos (bench/bench_photos.sh) made 12-megapixel PNGs
# (4240 x 2830, vips resize), each written as WebP at quality 8 and as AVIF
# at quality 8 by pixmoor-batch (at the picture's own size, so nothing is
# resampled) and by cwebp and avifenc at the settings that give the same
# bytes. Both sides read the same PNG through libpng, so the difference is
# what each does around the same encoder.
#
#   bench/encode_vs_tools.sh           # three runs per row, pinned to one core
#   RUNS=5 bench/encode_vs_tools.sh
#
# Rows are the median wall time per picture of RUNS interleaved runs, each
# `taskset -c 0`. Builds pixmoor-batch in build-bench-batch (Release).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
scratch="$here/scratch"
work="$scratch/encode_vs_tools"
runs=${RUNS:-3}

source "$here/bench_photos.sh"
fetch_photos
build_batch_bench pixmoor-batch
mkdir -p "$work"
cd "$work"
mapfile -t sources < <(ls "$photos"/*.jpg | head -3)
pictures=()
for source in "${sources[@]}"; do
  name=$(basename "${source%.*}").png
  [[ -s "$name" ]] || vips thumbnail "$source" "$name" 4240 --height 2830 --size force >/dev/null 2>&1
  pictures+=("$name")
done

seconds() {  # COMMAND...: wall seconds of one run on core 0
  local start=$EPOCHREALTIME
  taskset -c 0 "$@" >/dev/null 2>&1
  echo "$EPOCHREALTIME - $start" | bc
}
median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

declare -A times
for ((run = 0; run < runs; run++)); do
  for picture in "${pictures[@]}"; do
    size=$(vipsheader -f width "$picture")x$(vipsheader -f height "$picture")
    base=${picture%.png}
    times[ours_webp]+="$(seconds "$program" --quiet --format webp --quality 8 --size "$size" --prefix o_ "$picture") "
    times[cwebp]+="$(seconds cwebp -quiet -q 85 -m 4 -sharp_yuv "$picture" -o "t_$base.webp") "
    times[ours_avif]+="$(seconds "$program" --quiet --format avif --quality 8 --size "$size" --prefix o_ "$picture") "
    times[avifenc]+="$(seconds avifenc -s 8 -j 1 --min 9 --max 9 --minalpha 9 --maxalpha 9 -y 420 -r full \
      "$picture" "t_$base.avif") "
  done
done

printf '%d pictures of 12 megapixels, %d runs each, one core (load average %s)\n' "${#pictures[@]}" "$runs" \
  "$(cut -d' ' -f1-3 /proc/loadavg)"
for pair in "ours_webp cwebp" "ours_avif avifenc"; do
  read -r ours tool <<<"$pair"
  a=$(tr ' ' '\n' <<<"${times[$ours]}" | grep . | median)
  b=$(tr ' ' '\n' <<<"${times[$tool]}" | grep . | median)
  printf '  %-10s %6.2f s   %-8s %6.2f s   ratio %.2f\n' "$ours" "$a" "$tool" "$b" "$(echo "scale=4; $a / $b" | bc)"
done
printf '  (goal: within 1.05x of the tool, the same library doing the same work)\n'
