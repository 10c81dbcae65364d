#!/usr/bin/env bash
# Times pixmoor-batch reading the benchmark photos (those of
# batch_vs_peers.sh, bench/bench_photos.sh) converted to WebP, LZW TIFF, HEIC
# and AVIF, beside vipsthumbnail on the same files and beside the decode
# floor, in one run: every photo to 1920 wide (landscape) or 1080 high
# (portrait), JPEG quality 80, once pinned to one core and once with each
# tool's defaults.
#
#   bench/foreign_vs_peers.sh              # everything, three runs per row
#   RUNS=5 bench/foreign_vs_peers.sh       # more runs
#   LIMIT=3 RUNS=1 bench/foreign_vs_peers.sh   # a smoke run: the first three photos
#   FORMATS="webp tiff"                    # only these sets (of webp tiff heic avif)
#   SKIP_STOP=1                            # leave out the Stop figure
#   STOP_TRIALS=5                          # Stop trials per file
#
# The sets, made once from each JPEG photo into bench/scratch/foreign/<format>/:
#   webp  cwebp -q 90 photo.jpg                       (libwebp 1.2, lossy)
#   tiff  vips copy photo.jpg photo.tif[compression=lzw,predictor=horizontal]
#         (libvips 8.14: 8-bit RGB strips, LZW with the horizontal predictor)
#   heic  heif-enc -q 90 photo.jpg                    (libheif 1.15 with x265, 4:2:0, no thumbnail)
#   avif  avifenc -s 8 --min 0 --max 63 -a end-usage=q -a cq-level=13 photo.jpg
#         (libavif 0.11 with libaom, speed 8, the JPEG's chroma subsampling;
#         quantizer 13 of 63 is quality 80 of libavif 1.x's -q, which maps
#         0-100 linearly onto quantizers 63-0)
#
# Rows, each the median of RUNS runs after one warm-up, timed with
# /usr/bin/time -f '%e %U %S %M': wall time, CPU time (user + system) and
# peak RSS. One core is `taskset -c 0` with `--jobs 1` for the companion and
# VIPS_CONCURRENCY=1 for vipsthumbnail; both cores is every tool's defaults.
# The floor is build-bench-foreign/bench/foreign_decode_floor: each library
# decoding the same files whole in one process, and nothing else.
#
# What the figures of the companion hold: its spawner (pixmoor-decode
# --spawner) forks a helper per picture and reaps it, and the companion
# reaps the spawner as it exits, so its CPU time includes the helpers' and
# the peak RSS that time reports (the waited process's rusage) is the
# largest of the companion, the spawner and the helpers. Its own peak, the figure the memory
# goal is about, is read from /proc/PID/status (VmHWM) every 5 ms during one
# more, untimed run per job, and so is the largest helper's.
#
# A format the companion does not read yet (it answers "unsupported") prints
# "not read" in its rows; its peers and floor are still timed.
#
# Then the Stop figure: a 8192 x 6144 (50-megapixel) HEIC and LZW TIFF, the
# first landscape photo tiled (vips replicate and crop, then heif-enc -q 90 /
# vips copy as above), each given to pixmoor-batch alone. One run left to
# finish gives the time from its pixmoor-decode child's appearance in /proc
# to its exit; each trial then sends SIGTERM (as Ctrl+C would stop it) half that time after the child
# appears (in the middle of the decode) and times from the signal to the
# companion's exit (median and range of the trials).
#
# Builds pixmoor-batch, pixmoor-decode and the floor in build-bench-foreign
# (Release) and works in bench/scratch/ (git-ignored).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
scratch="$here/scratch"
runs=${RUNS:-3}
limit=${LIMIT:-0}
formats=(${FORMATS:-webp tiff heic avif})
build="$root/build-bench-foreign"
program="$build/src/companion/pixmoor-batch"
floor_program="$build/bench/foreign_decode_floor"
self="$here/$(basename "${BASH_SOURCE[0]}")"
sets="$scratch/foreign"

log() { printf '%s\n' "$*" >&2; }
extension() { case "$1" in tiff) echo tif ;; *) echo "$1" ;; esac; }

# ---- The jobs timed (run as `foreign_vs_peers.sh --run NAME FORMAT`, so
# that /usr/bin/time and taskset see a program; from inside the format's
# folder). The single-program jobs exec it: the process timed is the tool. ----
ours_args=(--quiet --mode rel --landscape-width 1920 --portrait-height 1080 --format jpg --quality 8 --prefix bench_)
ours() { exec "$program" "${ours_args[@]}" "${files[@]}"; }
ours_one() { exec "$program" "${ours_args[@]}" --jobs 1 "${files[@]}"; }
vips_thumb() {
  ((${#landscape[@]} == 0)) || vipsthumbnail --size 1920x -o "$scratch/out/%s.jpg[Q=80]" "${landscape[@]}"
  ((${#portrait[@]} == 0)) || vipsthumbnail --size x1080 -o "$scratch/out/%s.jpg[Q=80]" "${portrait[@]}"
}
floor() { exec "$floor_program" "${files[@]}"; }

load_lists() {
  mapfile -t files <"$sets/$1/all.txt"
  mapfile -t landscape <"$sets/$1/landscape.txt"
  mapfile -t portrait <"$sets/$1/portrait.txt"
}

if [[ "${1:-}" == --run ]]; then
  load_lists "$3"
  cd "$sets/$3"
  "$2"
  exit
fi

# ---- Tools -------------------------------------------------------------
need_install=()
for pair in vipsthumbnail:libvips-tools cwebp:webp heif-enc:libheif-examples avifenc:libavif-bin \
            convert:imagemagick /usr/bin/time:time taskset:util-linux bc:bc cmake:cmake ninja:ninja-build; do
  command -v "${pair%%:*}" >/dev/null 2>&1 || need_install+=("${pair#*:}")
done
for lib in libheif libavif libwebp libtiff-4; do
  pkg-config --exists "$lib" || need_install+=("$(case $lib in libtiff-4) echo libtiff-dev ;; *) echo "$lib-dev" ;; esac)")
done
if ((${#need_install[@]})); then
  log "installing: ${need_install[*]}"
  apt-get install -y --no-install-recommends "${need_install[@]}" >/dev/null 2>&1 ||
    { apt-get update >/dev/null && apt-get install -y --no-install-recommends "${need_install[@]}" >/dev/null; }
fi

# ---- Our program and the floor, optimised --------------------------------
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPIXMOOR_GUI=OFF >/dev/null
ninja -C "$build" -j2 pixmoor-batch pixmoor-decode foreign_decode_floor >/dev/null

# ---- Photos and their conversions ------------------------------------------
source "$here/bench_photos.sh"
fetch_photos
photos="$scratch/photos"
mapfile -t names < <(cd "$photos" && find . -maxdepth 1 -name '*.jpg' ! -name 'bench_*' -printf '%f\n' | sort)
((limit > 0)) && names=("${names[@]:0:limit}")

convert_to() {  # FORMAT JPEG OUTPUT
  case "$1" in
    webp) cwebp -quiet -q 90 "$2" -o "$3" ;;
    tiff) vips copy "$2" "$3[compression=lzw,predictor=horizontal]" ;;
    heic) heif-enc -q 90 -o "$3" "$2" >/dev/null ;;
    avif) avifenc -s 8 --min 0 --max 63 -a end-usage=q -a cq-level=13 "$2" "$3" >/dev/null ;;
  esac
}
megapixels=0
for format in "${formats[@]}"; do
  mkdir -p "$sets/$format"
  all=() landscape=() portrait=()
  for name in "${names[@]}"; do
    out="${name%.jpg}.$(extension "$format")"
    if [[ ! -s "$sets/$format/$out" ]]; then
      log "making $format/$out"
      convert_to "$format" "$photos/$name" "$sets/$format/.partial.$out" && mv "$sets/$format/.partial.$out" "$sets/$format/$out"
    fi
    all+=("$out")
    read -r w h < <(vipsheader -f width "$photos/$name" | tr '\n' ' '; vipsheader -f height "$photos/$name")
    [[ $format == "${formats[0]}" ]] && megapixels=$((megapixels + w * h))
    if ((w >= h)); then landscape+=("$out"); else portrait+=("$out"); fi
  done
  printf '%s\n' "${all[@]}" >"$sets/$format/all.txt"
  printf '%s' "${landscape[@]/%/$'\n'}" >"$sets/$format/landscape.txt"
  printf '%s' "${portrait[@]/%/$'\n'}" >"$sets/$format/portrait.txt"
done
log "photos: ${#names[@]}, $((megapixels / 1000000)) megapixels, as ${formats[*]}"

# ---- Timing ---------------------------------------------------------------
declare -A wall cpu rss own_peak helper_peak status
median() { sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
reset_outputs() { rm -rf "$scratch/out"; mkdir -p "$scratch/out"; find "$sets" -name 'bench_*' -delete; }
one_core() { echo taskset -c 0 env VIPS_CONCURRENCY=1 "$self" --run "$1" "$2"; }
all_cores() { echo "$self" --run "$1" "$2"; }

# measure KEY WRAP JOB FORMAT: medians of `runs` timed runs after a warm-up.
measure() {
  local key=$1 walls=() cpus=() rsses=() e u s m
  shift
  reset_outputs; $("$@") >/dev/null 2>&1 || { log "$key failed"; status[$key]=failed; return 0; }
  for ((i = 0; i < runs; i++)); do
    reset_outputs
    /usr/bin/time -f '%e %U %S %M' -o "$scratch/time.txt" $("$@") >/dev/null 2>&1
    read -r e u s m <"$scratch/time.txt"
    walls+=("$e"); cpus+=("$(echo "$u + $s" | bc)"); rsses+=("$m")
  done
  wall[$key]=$(printf '%s\n' "${walls[@]}" | median)
  cpu[$key]=$(printf '%s\n' "${cpus[@]}" | median)
  rss[$key]=$(printf '%s\n' "${rsses[@]}" | median)
  log "$(printf '%-26s wall %6.2f s  cpu %6.2f s  rss %5d MiB' "$key" "${wall[$key]}" "${cpu[$key]}" \
    $((${rss[$key]%.*} / 1024)))"
}

# The VmHWM of PID and the largest of its children's, sampled until it ends.
hwm() { awk '/^VmHWM/ {print $2}' "/proc/$1/status" 2>/dev/null || true; }
# helpers_of PID: the companion's decode helpers, forks of its spawner.
helpers_of() {
  local spawner child
  for spawner in $(cat /proc/"$1"/task/*/children 2>/dev/null); do
    for child in $(cat /proc/"$spawner"/task/*/children 2>/dev/null); do
      [[ "$(cat /proc/"$child"/comm 2>/dev/null)" == pixmoor-decode ]] && echo "$child"
    done
  done
}
sample_peaks() {  # PID -> "own helper" in KiB
  local pid=$1 own=0 helper=0 value child
  while [[ -r /proc/$pid/status ]] && value=$(hwm "$pid") && [[ -n "$value" ]]; do
    ((value > own)) && own=$value
    for child in $(helpers_of "$pid"); do
      value=$(hwm "$child")
      [[ -n "$value" ]] && ((value > helper)) && helper=$value
    done
    sleep 0.005
  done
  echo "$own $helper"
}
# peaks KEY WRAP JOB FORMAT: one untimed run, its peaks sampled.
peaks() {
  local key=$1 pid
  shift
  reset_outputs
  $("$@") >/dev/null 2>&1 &
  pid=$!
  read -r "own_peak[$key]" "helper_peak[$key]" < <(sample_peaks "$pid")
  wait "$pid" || true
}

# Whether the companion reads FORMAT: one run with --json; "ok", "not read"
# (a picture answered "unsupported") or "failed: REASONS".
probe() {
  local reasons
  reset_outputs
  reasons=$(cd "$sets/$1" && mapfile -t files <all.txt && "$program" "${ours_args[@]}" --json "${files[@]}" 2>/dev/null |
    grep -o '"reason": *"[a-z-]*"' | sed 's/.*"\([a-z-]*\)"$/\1/' | sort | uniq -c | tr -s ' ' | paste -sd, -) || true
  if [[ -z "$reasons" ]]; then echo ok
  elif [[ "$reasons" == *unsupported* ]]; then echo "not read"
  else echo "failed:$reasons"; fi
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for format in "${formats[@]}"; do
  status[$format]=$(probe "$format")
  log "$format: $( [[ ${status[$format]} == ok ]] && echo "the companion reads every file" || echo "${status[$format]}")"
  for mode in one default; do
    wrap=all_cores job=ours; [[ $mode == one ]] && wrap=one_core job=ours_one
    if [[ ${status[$format]} == ok ]]; then
      measure "pixmoor-batch/$mode/$format" $wrap $job "$format"
      peaks "pixmoor-batch/$mode/$format" $wrap $job "$format"
    fi
    measure "vipsthumbnail/$mode/$format" $wrap vips_thumb "$format"
    measure "floor/$mode/$format" $wrap floor "$format"
  done
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
reset_outputs

ratio() { [[ -n "${1:-}" && -n "${2:-}" ]] && printf '%.2f' "$(echo "scale=4; $1 / $2" | bc)" || echo -; }
mib() { [[ -n "${1:-}" ]] && echo $((${1%.*} / 1024)) || echo -; }
printf '\nload average before the timings: %s, after: %s\n' "$load_before" "$load_after"
printf '%-28s %8s %8s %8s %10s %10s\n' "tool/threads/format" "wall s" "cpu s" "RSS MiB" "own MiB" "helper MiB"
for format in "${formats[@]}"; do
  for mode in one default; do
    for tool in pixmoor-batch vipsthumbnail floor; do
      key="$tool/$mode/$format"
      if [[ $tool == pixmoor-batch && ${status[$format]} != ok ]]; then
        printf '%-28s %s\n' "$key" "${status[$format]}"
      elif [[ ${status[$key]:-} == failed ]]; then
        printf '%-28s %s\n' "$key" "failed"
      else
        printf '%-28s %8.2f %8.2f %8d %10s %10s\n' "$key" "${wall[$key]}" "${cpu[$key]}" "$(mib "${rss[$key]}")" \
          "$(mib "${own_peak[$key]:-}")" "$(mib "${helper_peak[$key]:-}")"
      fi
    done
  done
done
printf '(RSS: what /usr/bin/time reports, for the companion the largest of it and its helpers; own and helper:\n'
printf ' the companion'"'"'s VmHWM and its largest helper'"'"'s, sampled every 5 ms in one more run)\n'

printf '\nOne core, per format (wall-time ratios of this run; load average %s before, %s after):\n' \
  "$load_before" "$load_after"
printf '  %-8s %12s %12s %14s %16s\n' format ours/floor "ours/floor cpu" ours/vipsthumb "ours own peak"
for format in "${formats[@]}"; do
  if [[ ${status[$format]} != ok ]]; then
    printf '  %-8s %s\n' "$format" "${status[$format]}"
    continue
  fi
  o="pixmoor-batch/one/$format"
  printf '  %-8s %12s %12s %14s %12s MiB\n' "$format" "$(ratio "${wall[$o]}" "${wall[floor/one/$format]:-}")" \
    "$(ratio "${cpu[$o]}" "${cpu[floor/one/$format]:-}")" "$(ratio "${wall[$o]}" "${wall[vipsthumbnail/one/$format]:-}")" \
    "$(mib "${own_peak[$o]}")"
done
printf '  (targets: ours/floor <= 1.10, ours/vipsthumbnail <= 0.80, own peak <= 64 MiB on every job)\n'
printf 'Both cores, own peak per format:'
for format in "${formats[@]}"; do
  [[ ${status[$format]} == ok ]] && printf ' %s %s MiB' "$format" "$(mib "${own_peak[pixmoor-batch/default/$format]}")"
done
printf '\n'

# ---- Stop in the middle of a 50-megapixel decode ----------------------------
[[ -n "${SKIP_STOP:-}" ]] && exit 0
big="$scratch/foreign-big"
mkdir -p "$big"
stop_trials=${STOP_TRIALS:-5}
if [[ ! -s "$big/tiled.jpg" ]]; then
  first=$(head -1 "$sets/${formats[0]}/landscape.txt")
  first_jpeg=$(cd "$photos" && ls "${first%.*}".jpg)
  w=$(vipsheader -f width "$photos/$first_jpeg"); h=$(vipsheader -f height "$photos/$first_jpeg")
  vips replicate "$photos/$first_jpeg" "$big/replicated.v" $(((8192 + w - 1) / w)) $(((6144 + h - 1) / h))
  vips crop "$big/replicated.v" "$big/tiled.jpg[Q=95]" 0 0 8192 6144
  rm -f "$big/replicated.v"
fi

# stop_once FILE [DELAY]: with DELAY, SIGTERM DELAY seconds after the helper
# appears and "SECONDS STATUS" from the signal to the companion's exit;
# without, the seconds from the helper's appearance to the exit. Or a word.
stop_once() {
  local pid helper="" child waited=0 t0 t1 code=0
  rm -f "$big"/bench_*
  (cd "$big" && exec "$program" "${ours_args[@]}" "$1") >/dev/null 2>&1 &
  pid=$!
  while [[ -z "$helper" ]] && ((waited < 6000)); do
    for child in $(helpers_of "$pid"); do helper=$child; done
    [[ -n "$helper" ]] || { sleep 0.005; waited=$((waited + 1)); }
    [[ -d /proc/$pid ]] || break
  done
  if [[ -z "$helper" ]]; then wait "$pid" || true; echo "no-helper"; return; fi
  if [[ -z "${2:-}" ]]; then
    t0=$EPOCHREALTIME
    wait "$pid" || code=$?
    echo "$(echo "$EPOCHREALTIME - $t0" | bc) $code"
    return
  fi
  sleep "$2"
  if [[ ! -d /proc/$helper ]]; then wait "$pid" || true; echo "helper-done-before-signal"; return; fi
  t0=$EPOCHREALTIME
  # SIGTERM, not SIGINT: a script's background job starts with SIGINT
  # ignored, and the companion leaves a signal its caller ignores ignored.
  kill -TERM "$pid"
  wait "$pid" || code=$?
  t1=$EPOCHREALTIME
  [[ -d /proc/$helper && "$(cat /proc/"$helper"/comm 2>/dev/null)" == pixmoor-decode ]] && { echo "helper-left"; return; }
  ls "$big"/bench_* >/dev/null 2>&1 && { echo "output-written"; return; }
  echo "$(echo "$t1 - $t0" | bc) $code"
}
printf '\nStop in the middle of the decode to exit, %d trials, 8192 x 6144:\n' "$stop_trials"
for file in big.heic big.tif; do
  format=heic; [[ $file == big.tif ]] && format=tiff
  if [[ ${status[$format]:-not in FORMATS} != ok ]]; then
    printf '  %-9s %s\n' "$file" "${status[$format]:-not in FORMATS}"
    continue
  fi
  if [[ ! -s "$big/$file" ]]; then
    log "making the 50-megapixel $file"
    convert_to "$format" "$big/tiled.jpg" "$big/.partial.$file" && mv "$big/.partial.$file" "$big/$file"
  fi
  times=() notes=()
  read -r whole code < <(stop_once "$big/$file")
  if [[ ! "$whole" =~ ^[0-9.]+$ || $code != 0 ]]; then
    printf '  %-9s the run left to finish failed: %s %s\n' "$file" "$whole" "$code"
    continue
  fi
  delay=$(echo "scale=3; $whole / 2" | bc)
  for ((t = 0; t < stop_trials; t++)); do
    read -r seconds code < <(stop_once "$big/$file" "$delay")
    if [[ "$seconds" =~ ^[0-9.]+$ ]]; then times+=("$seconds"); notes+=("exit $code"); else notes+=("$seconds"); fi
  done
  if ((${#times[@]})); then
    printf '  %-9s median %4.0f ms (range %s ms; %s; signal %.2f s into a run of %.2f s from the helper'"'"'s start)\n' "$file" \
      "$(echo "$(printf '%s\n' "${times[@]}" | median) * 1000" | bc)" \
      "$(printf '%s\n' "${times[@]}" | sort -g | awk 'NR == 1 {lo = $1} {hi = $1} END {printf "%.0f-%.0f", lo * 1000, hi * 1000}')" \
      "$(printf '%s\n' "${notes[@]}" | sort | uniq -c | tr -s ' ' | paste -sd, -)" "$delay" "$whole"
  else
    printf '  %-9s no trial timed (%s)\n' "$file" "$(printf '%s\n' "${notes[@]}" | sort | uniq -c | tr -s ' ' | paste -sd, -)"
  fi
done
printf '  (target: within 100 ms)\n'
rm -f "$big"/bench_*
