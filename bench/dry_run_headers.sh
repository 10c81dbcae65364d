#!/usr/bin/env bash
# Times `pixmoor-batch --dry-run` (headers only) on a folder of 2,000 small
# JPEG photos, beside its floor: `head` reading the first 64 KiB of every
# file in one process (as much as the plan may read of each), and the
# exact plan of the same folder (thumbnails 320 wide) for scale. The files
# are read from the page cache after the first run.
#
#   bench/dry_run_headers.sh                       # builds a Release companion first
#   PROGRAM=build/src/companion/pixmoor-batch bench/dry_run_headers.sh
#   RUNS=9 COUNT=5000 bench/dry_run_headers.sh
#
# Works in bench/scratch/headers (git-ignored). Prints the median wall time
# of each, per thousand pictures, and the load average at the start.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
runs=${RUNS:-5}
count=${COUNT:-2000}
photo=${PHOTO:-$root/tests/data/jpeg/good/pil_flower.jpg}  # 480 x 360, EXIF block, 32 KiB
folder="$here/scratch/headers"

program=${PROGRAM:-}
if [[ -z "$program" ]]; then
  build="$root/build-bench-batch"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPIXMOOR_GUI=OFF >/dev/null
  ninja -C "$build" -j2 pixmoor-batch >/dev/null
  program="$build/src/companion/pixmoor-batch"
fi

if [[ ! -f "$folder/.complete-$count" ]]; then
  rm -rf "$folder"
  mkdir -p "$folder"
  for ((i = 0; i < count; ++i)); do cp "$photo" "$folder/photo_$(printf '%05d' "$i").jpg"; done
  touch "$folder/.complete-$count"
fi

# Median wall time in milliseconds of `runs` runs of the command given.
median_ms() {
  local times=()
  for ((r = 0; r < runs; ++r)); do
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1 || true
    end=$(date +%s%N)
    times+=($(((end - start) / 1000000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'
}

plan() { "$program" --dry-run --quiet --landscape-width 320 --portrait-height 320 "$folder"; }
plan_exact() { "$program" --dry-run=exact --quiet --landscape-width 320 --portrait-height 320 "$folder"; }
floor() { (cd "$folder" && head -q -c 65536 -- photo_*.jpg); }

read -r load _ </proc/loadavg
echo "pictures: $count   runs: $runs   load average: $load   cores: $(nproc)"
for job in plan floor plan_exact; do
  ms=$(median_ms "$job")
  awk -v job="$job" -v ms="$ms" -v n="$count" 'BEGIN { printf "%-11s %7d ms  %7.1f ms per 1000 pictures\n", job, ms, ms * 1000 / n }'
done
