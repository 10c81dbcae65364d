#!/usr/bin/env bash
# Times pixmoor-batch against the tools people would use instead for the same
# job: every photo to 1920 wide (landscape) or 1080 high (portrait), JPEG
# quality 80, once pinned to one core and once with each tool's defaults.
#
#   bench/batch_vs_peers.sh            # everything, five runs per row
#   RUNS=3 bench/batch_vs_peers.sh     # fewer runs
#   SKIP_PSNR=1 SKIP_PNG=1 SKIP_BIG=1  # leave out the quality, PNG and huge-picture parts
#
# Installs its peers with apt-get, fetches Debian's Plasma wallpaper package
# with `apt-get download` (Debian's archive is all it needs), and works in
# bench/scratch/ (git-ignored). Prints median wall time, CPU time (user +
# system) and peak resident memory per tool, our ratio to each peer, and the
# floor: libjpeg-turbo's djpeg decoding every photo at full size plus cjpeg
# -quality 80 encoding the outputs, also timed in paired rounds with our
# one-core run (see paired). Then a 16000 x 12000 baseline JPEG (the
# photos tiled, made with pnmtile and cjpeg) reduced to 1920 wide, beside
# djpeg decoding it, and the targets: every ratio from this one run, with
# the load average before and after.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
scratch="$here/scratch"
runs=${RUNS:-5}
build="$root/build-bench-batch"
program="$build/src/companion/pixmoor-batch"
self="$here/$(basename "${BASH_SOURCE[0]}")"

log() { printf '%s\n' "$*" >&2; }

# ---- The jobs timed (run as `batch_vs_peers.sh --run NAME`, so that
# /usr/bin/time and taskset see a program; from inside the photo folder) ----
ours() { "$program" --quiet --mode rel --landscape-width 1920 --portrait-height 1080 --format jpg --quality 8 \
  --prefix bench_ "${files[@]}"; }
ours_png() { "$program" --quiet --mode rel --landscape-width 1920 --portrait-height 1080 --format png \
  --prefix bench_ "${files[@]}"; }
imagemagick() {
  ((${#landscape[@]} == 0)) || mogrify -path "$scratch/out" -resize 1920x -quality 80 "${landscape[@]}"
  ((${#portrait[@]} == 0)) || mogrify -path "$scratch/out" -resize x1080 -quality 80 "${portrait[@]}"
}
graphicsmagick() {
  ((${#landscape[@]} == 0)) || gm mogrify -output-directory "$scratch/out" -resize 1920x -quality 80 "${landscape[@]}"
  ((${#portrait[@]} == 0)) || gm mogrify -output-directory "$scratch/out" -resize x1080 -quality 80 "${portrait[@]}"
}
vips_thumb() {
  ((${#landscape[@]} == 0)) || vipsthumbnail --size 1920x -o "$scratch/out/%s.jpg[Q=80]" "${landscape[@]}"
  ((${#portrait[@]} == 0)) || vipsthumbnail --size x1080 -o "$scratch/out/%s.jpg[Q=80]" "${portrait[@]}"
}
floor_decode() { for f in "${files[@]}"; do djpeg -outfile /dev/null "$f"; done; }
floor_encode() { for f in "$scratch"/floor-ppm/*.ppm; do cjpeg -quality 80 -outfile /dev/null "$f"; done; }
huge_ours() { (cd "$scratch/big" && rm -f bench_huge.jpg && "$program" --quiet --mode rel --landscape-width 1920 \
  --portrait-height 1080 --format jpg --quality 8 --prefix bench_ huge.jpg); }
huge_djpeg() { djpeg -outfile /dev/null "$scratch/big/huge.jpg"; }
floor_png_encode() { for f in "$scratch"/floor-png-ppm/*.ppm; do pnmtopng -compression 9 -nofilter "$f" >/dev/null; done; }

load_lists() {
  mapfile -t files <"$scratch/all.txt"
  mapfile -t landscape <"$scratch/landscape.txt"
  mapfile -t portrait <"$scratch/portrait.txt"
}

if [[ "${1:-}" == --run ]]; then
  load_lists
  cd "$scratch/photos"
  "$2"
  exit
fi

# ---- Tools -------------------------------------------------------------
need_install=()
for pair in convert:imagemagick gm:graphicsmagick vipsthumbnail:libvips-tools djpeg:libjpeg-turbo-progs \
            /usr/bin/time:time pnmtopng:netpbm pngtopnm:netpbm pnmtile:netpbm taskset:util-linux cmake:cmake ninja:ninja-build; do
  command -v "${pair%%:*}" >/dev/null 2>&1 || need_install+=("${pair#*:}")
done
if ((${#need_install[@]})); then
  log "installing: ${need_install[*]}"
  apt-get install -y --no-install-recommends "${need_install[@]}" >/dev/null 2>&1 ||
    { apt-get update >/dev/null && apt-get install -y --no-install-recommends "${need_install[@]}" >/dev/null; }
fi

# ---- Our program, optimised ---------------------------------------------
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPIXMOOR_GUI=OFF >/dev/null
ninja -C "$build" -j2 pixmoor-batch >/dev/null

# ---- Photos -------------------------------------------------------------
source "$here/bench_photos.sh"
fetch_photos
photos="$scratch/photos"
mapfile -t files < <(cd "$photos" && find . -maxdepth 1 -name '*.jpg' ! -name 'bench_*' -printf '%f\n' | sort)
landscape=() portrait=()
megapixels=0
for f in "${files[@]}"; do
  read -r w h < <(identify -format '%w %h\n' "$photos/$f" 2>/dev/null)
  megapixels=$((megapixels + w * h))
  if ((w >= h)); then landscape+=("$f"); else portrait+=("$f"); fi
done
printf '%s\n' "${files[@]}" >"$scratch/all.txt"
printf '%s\n' "${landscape[@]}" >"$scratch/landscape.txt"
printf '%s\n' "${portrait[@]}" >"$scratch/portrait.txt"
[[ ${#portrait[@]} -gt 0 ]] || : >"$scratch/portrait.txt"
log "photos: ${#files[@]} (${#landscape[@]} landscape, ${#portrait[@]} portrait), $((megapixels / 1000000)) megapixels"

# ---- Timing ---------------------------------------------------------------
# measure NAME COMMAND...: runs the command `runs` times (after one warm-up)
# and records the medians of wall time, CPU time and peak RSS of the run.
declare -A wall cpu rss
median() { sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
reset_outputs() { rm -rf "$scratch/out"; mkdir -p "$scratch/out"; find "$photos" -name 'bench_*' -delete; }
measure() {
  local name=$1; shift
  local walls=() cpus=() rsses=()
  reset_outputs; $("$@") >/dev/null 2>&1 || { log "$name failed"; return 1; }
  for ((i = 0; i < runs; i++)); do
    reset_outputs
    /usr/bin/time -f '%e %U %S %M' -o "$scratch/time.txt" $("$@") >/dev/null 2>&1
    read -r e u s m <"$scratch/time.txt"
    walls+=("$e"); cpus+=("$(echo "$u + $s" | bc)"); rsses+=("$m")
  done
  wall[$name]=$(printf '%s\n' "${walls[@]}" | median)
  cpu[$name]=$(printf '%s\n' "${cpus[@]}" | median)
  rss[$name]=$(printf '%s\n' "${rsses[@]}" | median)
  log "$(printf '%-28s wall %6.2f s  cpu %6.2f s  rss %5d MiB' "$name" "${wall[$name]}" "${cpu[$name]}" $((${rss[$name]%.*} / 1024)))"
}

# paired NAME OURS_JOB FLOOR_ENCODE_JOB: `runs` rounds on one core, each
# timing our job, then the floor's decode and its encode, right after one
# another; the median and range of the rounds' ratios. The speed of this
# shared machine drifts by 10-20% within minutes, which the medians of
# rows measured minutes apart do not cancel; a round's three runs share it.
declare -A paired_ratio paired_range
time_once() {
  reset_outputs
  /usr/bin/time -f '%e' -o "$scratch/time.txt" $(one_core "$1") >/dev/null 2>&1
  cat "$scratch/time.txt"
}
paired() {
  local name=$1 ours_job=$2 encode_job=$3 ratios=() a d e
  for ((i = 0; i < runs; i++)); do
    a=$(time_once "$ours_job"); d=$(time_once floor_decode); e=$(time_once "$encode_job")
    ratios+=("$(echo "scale=4; $a / ($d + $e)" | bc)")
  done
  paired_ratio[$name]=$(printf '%.2f' "$(printf '%s\n' "${ratios[@]}" | median)")
  paired_range[$name]=$(printf '%s\n' "${ratios[@]}" | sort -g | awk 'NR == 1 {lo = $1} {hi = $1} END {printf "%.2f-%.2f", lo, hi}')
  log "$(printf '%-28s paired ratio %s (rounds %s)' "$name" "${paired_ratio[$name]}" "${paired_range[$name]}")"
}

# one_core JOB / all_cores JOB: the command lines that measure times.
one_core() { echo taskset -c 0 env OMP_NUM_THREADS=1 VIPS_CONCURRENCY=1 MAGICK_THREAD_LIMIT=1 "$self" --run "$1"; }
all_cores() { echo "$self" --run "$1"; }
run_job() { "$self" --run "$1"; }

# The floor encodes the outputs at the size we make them: decode ours once.
rm -rf "$scratch/floor-ppm"; mkdir -p "$scratch/floor-ppm"
reset_outputs; run_job ours
for f in "$photos"/bench_*.jpg; do djpeg -outfile "$scratch/floor-ppm/$(basename "${f%.jpg}").ppm" "$f"; done

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for mode in one default; do
  wrap=all_cores; [[ $mode == one ]] && wrap=one_core
  measure "pixmoor-batch/$mode" $wrap ours
  measure "vipsthumbnail/$mode" $wrap vips_thumb
  measure "graphicsmagick/$mode" $wrap graphicsmagick
  measure "imagemagick/$mode" $wrap imagemagick
done
measure "floor-decode/one" one_core floor_decode
measure "floor-encode/one" one_core floor_encode
paired photo ours floor_encode
floor=$(echo "${wall[floor-decode/one]} + ${wall[floor-encode/one]}" | bc)

floor_cpu=$(echo "${cpu[floor-decode/one]} + ${cpu[floor-encode/one]}" | bc)
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
ratio() { printf '%.2f' "$(echo "scale=4; $1 / $2" | bc)"; }
mib() { echo $((${1%.*} / 1024)); }
printf '\nload average before the timings: %s, after: %s\n' "$load_before" "$load_after"
printf '%-22s %8s %8s %8s %10s %10s\n' "tool (threads)" "wall s" "cpu s" "RSS MiB" "ours/wall" "ours/cpu"
for mode in one default; do
  for tool in pixmoor-batch vipsthumbnail graphicsmagick imagemagick; do
    key="$tool/$mode"
    printf '%-22s %8.2f %8.2f %8d %10s %10s\n' "$key" "${wall[$key]}" "${cpu[$key]}" $((${rss[$key]%.*} / 1024)) \
      "$(ratio "${wall[pixmoor-batch/$mode]}" "${wall[$key]}")" "$(ratio "${cpu[pixmoor-batch/$mode]}" "${cpu[$key]}")"
  done
done
printf '%-22s %8.2f %8.2f %8s %10s %10s\n' "floor (djpeg+cjpeg)" "$floor" "$floor_cpu" "" \
  "$(ratio "${wall[pixmoor-batch/one]}" "$floor")" "$(ratio "${cpu[pixmoor-batch/one]}" "$floor_cpu")"
printf '  decode %.2f s, encode %.2f s (wall)\n' "${wall[floor-decode/one]}" "${wall[floor-encode/one]}"

# ---- A huge baseline JPEG reduced to 1920 wide --------------------------------
# Peak memory is the point: the picture is 16000 x 12000 (576 MB decoded).
if [[ -z "${SKIP_BIG:-}" ]]; then
  big="$scratch/big"
  if [[ ! -f "$big/huge.jpg" ]]; then
    mkdir -p "$big"
    djpeg -outfile "$big/tile.ppm" "$photos/${landscape[0]}"
    pnmtile 16000 12000 "$big/tile.ppm" | cjpeg -quality 90 -outfile "$big/huge.jpg"
    rm -f "$big/tile.ppm"
  fi
  measure huge-ours all_cores huge_ours
  measure huge-djpeg all_cores huge_djpeg
  rm -f "$scratch"/big/bench_*
  printf '\n16000 x 12000 baseline JPEG to 1920 wide: %.2f s, peak %d MiB; djpeg decoding it: %.2f s, peak %d MiB\n' \
    "${wall[huge-ours]}" "$(mib "${rss[huge-ours]}")" "${wall[huge-djpeg]}" "$(mib "${rss[huge-djpeg]}")"
fi

# ---- PNG output against its floor ------------------------------------------
if [[ -z "${SKIP_PNG:-}" ]]; then
  # The floor encodes the very pixels we write: level 9 takes longer on the
  # sharp pixels of a fresh reduction than on those of a decoded JPEG output.
  rm -rf "$scratch/floor-png-ppm"; mkdir -p "$scratch/floor-png-ppm"
  reset_outputs; run_job ours_png
  for f in "$photos"/bench_*.png; do
    pngtopnm "$f" 2>/dev/null >"$scratch/floor-png-ppm/$(basename "${f%.png}").ppm"
  done
  measure "pixmoor-batch-png/one" one_core ours_png
  measure "floor-png-encode/one" one_core floor_png_encode
  paired png ours_png floor_png_encode
  png_floor=$(echo "${wall[floor-decode/one]} + ${wall[floor-png-encode/one]}" | bc)
  png_floor_cpu=$(echo "${cpu[floor-decode/one]} + ${cpu[floor-png-encode/one]}" | bc)
  printf '\nPNG output, one core: %.2f s wall, %.2f s cpu; floor (djpeg + pnmtopng -compression 9 -nofilter)' \
    "${wall[pixmoor-batch-png/one]}" "${cpu[pixmoor-batch-png/one]}"
  printf ' %.2f s wall, %.2f s cpu; ratios %s wall, %s cpu\n' "$png_floor" "$png_floor_cpu" \
    "$(ratio "${wall[pixmoor-batch-png/one]}" "$png_floor")" "$(ratio "${cpu[pixmoor-batch-png/one]}" "$png_floor_cpu")"
fi

# ---- The targets, from this run ---------------------------------------------
printf '\nTargets (wall-time ratios of this run; load average %s before, %s after):\n' "$load_before" "$load_after"
target() { printf '  %-44s %8s   (target %s)\n' "$1" "$2" "$3"; }
target "one core vs the floor, medians of the rows" "$(ratio "${wall[pixmoor-batch/one]}" "$floor")" "<= 1.00"
target "one core vs the floor, paired rounds" "${paired_ratio[photo]}" "<= 1.00; rounds ${paired_range[photo]}"
target "one core vs vipsthumbnail on one core" \
  "$(ratio "${wall[pixmoor-batch/one]}" "${wall[vipsthumbnail/one]}")" "<= 0.55"
target "both cores vs the floor" "$(ratio "${wall[pixmoor-batch/default]}" "$floor")" "<= 0.65"
target "peak memory of the photo job, one core" "$(mib "${rss[pixmoor-batch/one]}") MiB" \
  "<= 64 MiB; djpeg alone peaks at $(mib "${rss[floor-decode/one]}") MiB"
target "peak memory of the photo job, both cores" "$(mib "${rss[pixmoor-batch/default]}") MiB" "<= 128 MiB"
[[ -n "${SKIP_BIG:-}" ]] ||
  target "peak memory, 16000 x 12000 JPEG to 1920 wide" "$(mib "${rss[huge-ours]}") MiB" "< 96 MiB"
[[ -n "${SKIP_PNG:-}" ]] ||
  target "PNG output vs its floor, one core, medians" "$(ratio "${wall[pixmoor-batch-png/one]}" "$png_floor")" "<= 1.00"
[[ -n "${SKIP_PNG:-}" ]] ||
  target "PNG output vs its floor, paired rounds" "${paired_ratio[png]}" "<= 1.00; rounds ${paired_range[png]}"

# ---- Quality: luma PSNR against an exact area average -----------------------
# The reference is our own resampling written losslessly (exact area
# averaging); each tool's JPEG is compared with it where the sizes agree.
if [[ -z "${SKIP_PSNR:-}" ]]; then
  ref="$scratch/ref"; rm -rf "$ref"; mkdir -p "$ref"
  reset_outputs; run_job ours_png
  for f in "$photos"/bench_*.png; do mv "$f" "$ref/$(basename "${f#"$photos"/bench_}")"; done
  psnr_of() {  # tool-output-folder name-pattern
    local total=0 count=0 value
    for r in "$ref"/*.png; do
      local stem; stem=$(basename "${r%.png}")
      local out; out=$(printf "$2" "$stem")
      [[ -f "$1/$out" ]] || continue
      [[ "$(identify -format '%wx%h' "$r" 2>/dev/null)" == "$(identify -format '%wx%h' "$1/$out" 2>/dev/null)" ]] || continue
      convert "$r" -grayscale Rec601Luma "$scratch/a.pgm" 2>/dev/null
      convert "$1/$out" -grayscale Rec601Luma "$scratch/b.pgm" 2>/dev/null
      value=$(compare -metric PSNR "$scratch/a.pgm" "$scratch/b.pgm" null: 2>&1 || true)
      [[ "$value" =~ ^[0-9.]+$ ]] || continue
      total=$(echo "$total + $value" | bc -l); count=$((count + 1))
    done
    ((count)) && printf '%.2f dB over %d photos' "$(echo "$total / $count" | bc -l)" "$count" || echo "no comparable photos"
  }
  printf '\nMean luma PSNR against the exact area average (JPEG quality 80):\n'
  reset_outputs; run_job ours; mkdir -p "$scratch/q-ours"; rm -f "$scratch"/q-ours/*; mv "$photos"/bench_*.jpg "$scratch/q-ours/"
  printf '  %-16s %s\n' pixmoor-batch "$(psnr_of "$scratch/q-ours" 'bench_%s.jpg')"
  for tool in vips_thumb graphicsmagick imagemagick; do
    reset_outputs; run_job "$tool" >/dev/null 2>&1
    printf '  %-16s %s\n' "$tool" "$(psnr_of "$scratch/out" '%s.jpg')"
  done
fi
reset_outputs
