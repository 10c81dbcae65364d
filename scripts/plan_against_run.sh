#!/bin/sh
# The exact plan against the run on every picture of the formats decoded in
# the helper (tests/data: GIF, WebP, TIFF, HEIF, AVIF): each file is planned
# with --dry-run=exact, then written, in every output format; the outcome,
# reason, warnings, metadata and output bytes of each picture must agree.
# Prints the disagreements and a count; exits 1 when there is any.
#   scripts/plan_against_run.sh [BUILD]      (BUILD: the build folder, build/)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
program="$root/${1:-build}/src/companion/pixmoor-batch"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
n=0
find "$root/tests/data/gif" "$root/tests/data/webp" "$root/tests/data/tiff" "$root/tests/data/heif" \
  "$root/tests/data/avif" -type f \
  \( -name '*.gif' -o -name '*.webp' -o -name '*.tif' -o -name '*.tiff' -o -name '*.heic' -o -name '*.heif' \
  -o -name '*.avif' \) | sort | while read -r file; do
  n=$((n + 1))
  cp "$file" "$work/$n-$(basename "$file")"
done
cd "$work"
for format in jpg png webp avif; do
  "$program" --json --dry-run=exact --prefix "out_" --format "$format" --metadata keep --long-edge 64 \
    ./*-* > "plan-$format.json" 2> /dev/null || true
  "$program" --json --prefix "out_" --format "$format" --metadata keep --long-edge 64 \
    ./*-* > "run-$format.json" 2> /dev/null || true
  rm -f out_*
done
python3 - <<'PY'
import json, sys
keys = ("outcome", "reason", "warnings", "metadata", "output_bytes")
def pictures(name):
    out = {}
    for line in open(name):
        o = json.loads(line)
        if o.get("type") == "picture":
            o["outcome"] = "written" if o["outcome"] == "planned" else o["outcome"]
            out[o["source"]] = tuple(json.dumps(o.get(k)) for k in keys)
    return out
bad = total = 0
for format in ("jpg", "png", "webp", "avif"):
    plan, run = pictures(f"plan-{format}.json"), pictures(f"run-{format}.json")
    for source in sorted(set(plan) | set(run)):
        total += 1
        if plan.get(source) != run.get(source):
            bad += 1
            print(f"{format} {source}: plan {plan.get(source)} run {run.get(source)}")
print(f"{total - bad} of {total} agree ({total // 4} files x 4 formats)")
sys.exit(1 if bad else 0)
PY
