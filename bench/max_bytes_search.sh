#!/usr/bin/env bash
# What --max-bytes costs: the benchmark photos (bench/bench_photos.sh) to 1920
# wide or 1080 high at quality 8, each in JPEG and WebP, under byte limits
# from generous to tight, beside the same plan without a limit.
#
#   bench/max_bytes_search.sh                 # limits 400K 200K 100K 50K
#   LIMITS="300K 80K" bench/max_bytes_search.sh
#
# Per format and limit: how many encodes each picture took and the time of
# the exact plan (`--dry-run=exact`: decoded, resized and encoded in memory,
# nothing written) against the same plan without a limit. The encodes are
# counted from the quality each picture got: sizes grow with the quality, so
# the search's steps follow from it (one encode at quality 8; when it does
# not fit, a bisection over 0..7; when even 0 does not fit, the shrinking
# starts from the bisection's trial at 0: one encode per step, at least one).
# Builds pixmoor-batch in build-bench-batch (Release); reads bench/scratch/photos.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
scratch="$here/scratch"
limits=(${LIMITS:-400K 200K 100K 50K})

source "$here/bench_photos.sh"
fetch_photos
build_batch_bench pixmoor-batch pixmoor-decode
cd "$photos"
files=(*.jpg)

# Encodes the bisection over low..high makes before it settles on `best`
# (-1: none fits).
bisection_steps() {
  local low=$1 high=$2 best=$3 steps=0 middle
  while ((low <= high)); do
    middle=$(((low + high) / 2))
    steps=$((steps + 1))
    if ((middle <= best)); then low=$((middle + 1)); else high=$((middle - 1)); fi
  done
  echo "$steps"
}

plan() {  # FORMAT [--max-bytes N]: JSON lines of the exact plan, and its wall time on stderr
  local start=$EPOCHREALTIME
  "$program" --json --dry-run=exact --mode rel --landscape-width 1920 --portrait-height 1080 --quality 8 \
    --format "$1" --prefix bench_ "${@:2}" "${files[@]}" 2>/dev/null || true
  echo "$(echo "$EPOCHREALTIME - $start" | bc)" >&2
}

printf '%d photos, quality 8, 1920 wide or 1080 high\n' "${#files[@]}"
printf '%-5s %-6s %9s %9s %9s %9s %8s\n' format limit encodes/pic max shrunk "time" "x plain"
for format in jpg webp; do
  plain=$( { plan "$format" >/dev/null; } 2>&1)
  printf '%-5s %-6s %9s %9s %9s %8.2fs %8s\n' "$format" none 1.00 1 0 "$plain" 1.00
  for limit in "${limits[@]}"; do
    seconds=$( { plan "$format" --max-bytes "$limit" >"$here/scratch/max_bytes.json"; } 2>&1)
    total=0 most=0 shrunk=0 pictures=0
    while read -r quality width height want_width want_height; do
      [[ "$quality" == null ]] && continue
      encodes=1
      if ((quality < 8)); then encodes=$((1 + $(bisection_steps 0 7 "$quality"))); fi
      if ((width < want_width || height < want_height)); then
        # Shrunk: the bisection found nothing, then the shrinking's steps
        # (at least one; the exact count is not in the report).
        encodes=$((1 + $(bisection_steps 0 7 -1) + 1))
        shrunk=$((shrunk + 1))
      fi
      total=$((total + encodes)); pictures=$((pictures + 1))
      ((encodes > most)) && most=$encodes
    done < <(python3 -c '
import json, sys
for line in open(sys.argv[1]):
    o = json.loads(line)
    if o.get("type") != "picture" or o["outcome"] != "planned":
        continue
    w, h = o["source_width"], o["source_height"]
    want = (1920, round(h * 1920 / w)) if w >= h else (round(w * 1080 / h), 1080)
    print(o.get("quality"), o["output_width"], o["output_height"], want[0] - 1, want[1] - 1)
' "$here/scratch/max_bytes.json")
    printf '%-5s %-6s %9.2f %9d %9d %8.2fs %8.2f\n' "$format" "$limit" "$(echo "scale=4; $total / $pictures" | bc)" \
      "$most" "$shrunk" "$seconds" "$(echo "scale=4; $seconds / $plain" | bc)"
  done
done
printf '(goal: at most 4 encodes per picture on average)\n'
