#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, with AddressSanitizer and UBSan) and
# runs them, each run with a seed corpus taken from tests/data.
#
#   scripts/fuzz.sh [seconds per run] [run ...]
#
# Runs: one per family of the format registry (today bmp ico jpeg png, and gif webp tiff heif avif;
# the load fuzzer, kept in that family's format, or for a family decoded in
# the helper process its own fuzzer, fuzz/<family>_fuzzer.cpp, calling its
# reader directly), "budget", "reduce", "header", "protocol" (the
# engine reading a decode helper's answers) and "exif" (the EXIF editor). "budget" takes the seeds of every family and runs the real
# limits (sides up to 32767, a memory budget of $PIXMOOR_FUZZ_BUDGET_MB,
# default 128) with any single allocation beyond that budget counted as a
# crash. "reduce" loads each input as a file with the row-by-row reduction,
# as the batch loads its sources, and checks it against loading whole and
# resampling; "header" checks the plan's header reading against the load.
#
# Defaults: 600 seconds, every run. The growing corpora, crash files and
# logs stay in the build folder ($PIXMOOR_FUZZ_BUILD, default build-fuzz).
# Exits non-zero when a run finds a crash, a leak, a time-out or excess memory.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${PIXMOOR_FUZZ_BUILD:-$root/build-fuzz}
seconds=${1:-600}
[[ $# -gt 0 ]] && shift
budget_mb=${PIXMOOR_FUZZ_BUDGET_MB:-128}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DPIXMOOR_FUZZ=ON -DPIXMOOR_SANITIZE=ON -DPIXMOOR_GUI=OFF -DPIXMOOR_TESTS=OFF -DPIXMOOR_BENCH=OFF >/dev/null
ninja -C "$build" -j2 fuzzers

# The families come from the format registry itself.
mapfile -t families < <(PIXMOOR_FUZZ_LIST_FAMILIES=1 "$build/fuzz/load_fuzzer")
runs=("$@")
[[ ${#runs[@]} -eq 0 ]] && runs=("${families[@]}" budget reduce header protocol exif)
every_family=()
for family in "${families[@]}"; do every_family+=("$root/tests/data/$family"); done

# One run: its seeds copied fresh, the fuzzer for the time given, its
# verdict in the exit status.
fuzz_one() {
  local run=$1 seeds corpus artifacts target log limits mode data
  seeds="$build/fuzz-seeds/$run"
  corpus="$build/fuzz-corpus/$run"
  artifacts="$build/fuzz-artifacts/$run"
  rm -rf "$seeds"
  mkdir -p "$seeds" "$corpus" "$artifacts"
  limits=(-rss_limit_mb=3072 -malloc_limit_mb=4400)
  mode=(env)
  case $run in
    budget)
      target=load_fuzzer data=("${every_family[@]}")
      limits=(-rss_limit_mb=$((4 * budget_mb + 1024)) -malloc_limit_mb=$((budget_mb + 1)))
      mode=(env PIXMOOR_FUZZ_MEMORY_BUDGET_MB="$budget_mb")
      ;;
    reduce | header) target=${run}_fuzzer data=("${every_family[@]}") ;;
    protocol) target=helper_protocol_fuzzer data=() ;;
    exif) target=exif_fuzzer data=("$root/tests/data/exif/blocks") ;;
    *)
      if [[ ! " ${families[*]} " == *" $run "* ]]; then
        echo "fuzz: no run named $run (families: ${families[*]}; budget reduce header protocol exif)" >&2
        return 2
      fi
      target=load_fuzzer data=("$root/tests/data/$run")
      mode=(env PIXMOOR_FUZZ_FAMILY="$run")
      # A family decoded in the helper process has a fuzzer of its own that
      # calls its reader directly.
      [[ -x "$build/fuzz/${run}_fuzzer" ]] && target=${run}_fuzzer
      ;;
  esac
  # Picture files only: not the manifests, notes, licences or reference renderings.
  [[ ${#data[@]} -gt 0 ]] && find "${data[@]}" -type f -not -path '*/reference/*' -not -path '*/licenses/*' \
    -not -name '*.md' -not -name '*.tsv' -not -name '*.txt' -not -name '*.py' -not -name '*.sh' -exec cp {} "$seeds/" \;
  log="$build/fuzz-$run.log"
  echo "fuzz: $run ($target) for ${seconds}s ($(ls "$seeds" | wc -l) seeds), log $log"
  if ! "${mode[@]}" "$build/fuzz/$target" "$corpus" "$seeds" \
      -max_total_time="$seconds" -max_len=131072 -timeout=20 \
      "${limits[@]}" -print_final_stats=1 \
      -artifact_prefix="$artifacts/" >"$log" 2>&1; then
    echo "fuzz: $run FOUND A PROBLEM, see $log and $artifacts" >&2
    return 1
  fi
  local executions
  executions=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
  echo "fuzz: $run done, $executions executions"
}

# Each run is one process on one core: as many at once as there are cores
# ($PIXMOOR_FUZZ_JOBS), each waited for and its verdict kept.
jobs=${PIXMOOR_FUZZ_JOBS:-$(nproc)}
status=0
running=0
for run in "${runs[@]}"; do
  if ((running >= jobs)); then
    wait -n || status=1
    running=$((running - 1))
  fi
  fuzz_one "$run" &
  running=$((running + 1))
done
while ((running > 0)); do
  wait -n || status=1
  running=$((running - 1))
done
exit $status
