#!/usr/bin/env bash
# Installs every Debian package that Pixmoor needs to build, run and test.
# Runs `apt-get update` once and installs only what is missing; works as root
# and, for a desktop user, through sudo.
set -euo pipefail

# The packages come from debian/control, where they are declared once:
# Build-Depends (without --package also those marked <!nocheck>, which only
# the tests need), the binary package's Depends beside the libraries,
# X-Bench-Depends and X-CI-Depends (without --package).
#   scripts/setup.sh            everything: build, run, test, benchmarks, CI
#   scripts/setup.sh --package  what building the Debian package takes
profile=all
[[ "${1:-}" == --package ]] && profile=package
control="$(dirname "$0")/../debian/control"

# The names in field $1 of $control: continuation lines joined, versions and
# comments dropped, entries marked <!nocheck> dropped for the package build.
field() {
  awk -v want="$1" '
    /^#/ { next }
    /^[^ \t]/ { on = (index($0, want ":") == 1); if (on) { sub(/^[^:]*:/, ""); print }; next }
    on { print }
  ' "$control" | tr ',\n' '\n\n' | while IFS= read -r entry; do
    [[ "$profile" == package && "$entry" == *"<!nocheck>"* ]] && continue
    entry=${entry%%[(<]*}
    entry=${entry//[[:space:]]/}
    [[ -n "$entry" && "$entry" != \$* ]] && echo "$entry"
  done
}

mapfile -t packages < <(
  field Build-Depends
  if [[ "$profile" == all ]]; then
    field Depends
    field X-Bench-Depends
    field X-CI-Depends
  fi
)
[[ ${#packages[@]} -gt 0 ]] || { echo "setup: no package read from $control" >&2; exit 1; }

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "setup: installing ${missing[*]}"
sudo=()
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "setup: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
