#!/usr/bin/env bash
# Builds the libFuzzer target over ImageStore::loadFromMemory (clang, with
# AddressSanitizer and UBSan) and runs it once per picture family, each with
# a seed corpus taken from tests/data.
#
#   scripts/fuzz.sh [seconds per family] [family ...]     families: bmp ico jpeg png budget
#
# "budget" takes the seeds of every family and runs the real limits (sides
# up to 32767, a memory budget of $PIXMOOR_FUZZ_BUDGET_MB, default 128) with
# any single allocation beyond that budget counted as a crash.
#
# Defaults: 600 seconds, every family. The growing corpora, crash files and
# logs stay in the build folder ($PIXMOOR_FUZZ_BUILD, default build-fuzz).
# Exits non-zero when a run finds a crash, a leak, a time-out or excess memory.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${PIXMOOR_FUZZ_BUILD:-$root/build-fuzz}
seconds=${1:-600}
[[ $# -gt 0 ]] && shift
families=("$@")
[[ ${#families[@]} -eq 0 ]] && families=(bmp ico jpeg png budget)
budget_mb=${PIXMOOR_FUZZ_BUDGET_MB:-128}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DPIXMOOR_FUZZ=ON -DPIXMOOR_SANITIZE=ON -DPIXMOOR_GUI=OFF -DPIXMOOR_TESTS=OFF -DPIXMOOR_BENCH=OFF >/dev/null
ninja -C "$build" -j2 load_fuzzer

status=0
for family in "${families[@]}"; do
  seeds="$build/fuzz-seeds/$family"
  corpus="$build/fuzz-corpus/$family"
  artifacts="$build/fuzz-artifacts/$family"
  rm -rf "$seeds"
  mkdir -p "$seeds" "$corpus" "$artifacts"
  data=("$root/tests/data/$family")
  limits=(-rss_limit_mb=3072 -malloc_limit_mb=4400)
  mode=()
  if [[ $family == budget ]]; then
    data=("$root/tests/data/bmp" "$root/tests/data/ico" "$root/tests/data/jpeg" "$root/tests/data/png")
    limits=(-rss_limit_mb=$((4 * budget_mb + 1024)) -malloc_limit_mb=$((budget_mb + 1)))
    mode=(env PIXMOOR_FUZZ_MEMORY_BUDGET_MB="$budget_mb")
  fi
  # Picture files only: not the manifests, notes, licences or reference renderings.
  find "${data[@]}" -type f -not -path '*/reference/*' -not -path '*/licenses/*' \
    -not -name '*.md' -not -name '*.tsv' -not -name '*.txt' -exec cp {} "$seeds/" \;
  log="$build/fuzz-$family.log"
  echo "fuzz: $family for ${seconds}s ($(ls "$seeds" | wc -l) seeds), log $log"
  if ! "${mode[@]}" "$build/fuzz/load_fuzzer" "$corpus" "$seeds" \
      -max_total_time="$seconds" -max_len=131072 -timeout=20 \
      "${limits[@]}" -print_final_stats=1 \
      -artifact_prefix="$artifacts/" >"$log" 2>&1; then
    echo "fuzz: $family FOUND A PROBLEM, see $log and $artifacts" >&2
    status=1
  fi
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
  echo "fuzz: $family done, $runs executions"
done
exit $status
