#!/usr/bin/env bash
# Fails when a tracked C++ file differs from the committed .clang-format.
# The version is pinned: another clang-format may lay the same code out
# differently. `scripts/check_format.sh --fix` formats the files instead.
set -euo pipefail
cd "$(dirname "$0")/.."
formatter=clang-format-14
mapfile -t sources < <(git ls-files '*.cpp' '*.h')
if [[ "${1:-}" == "--fix" ]]; then
  "$formatter" -i "${sources[@]}"
else
  "$formatter" --dry-run --Werror "${sources[@]}"
fi
