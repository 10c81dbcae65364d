#!/usr/bin/env bash
# Fails when an include under src/ points up the layers, or when a module
# without a window includes Qt.
#
#   layer 0  files, texts, platform core (instance lock, wave reader)
#   layer 1  image, settings
#   layer 2  batch, online, platform Qt half, game rules
#   layer 3  companion (and pixmoor-batch's main), app core, game windows
#   layer 4  app (the window, the handlers, the desktop start-up)
#
# A file may include its own module and any module of a lower layer, never
# one of its own layer or above. Qt belongs to the platform's Qt half, the
# game windows and the app. The split of platform, game and app into their
# halves follows src/*/CMakeLists.txt.
set -euo pipefail
cd "$(dirname "$0")/.."

# The module of a path below src/.
module_of() {
  case "$1" in
    batch/pixmoor_batch_main.cpp) echo companion ;;  # the program sits on its companion's libraries
    app/app_state.* | app/startup.*) echo app_core ;;
    app/*) echo app ;;
    platform/single_instance.* | platform/wave_data.*) echo platform_core ;;
    platform/*) echo platform_qt ;;
    game/ball_game_rules* | game/label_turn*) echo game_rules ;;
    */*) echo "${1%%/*}" ;;
    *) echo "" ;;
  esac
}

declare -A layer=(
  [files]=0 [texts]=0 [platform_core]=0
  [image]=1 [settings]=1
  [batch]=2 [online]=2 [platform_qt]=2 [game_rules]=2
  [companion]=3 [app_core]=3 [game]=3
  [app]=4
)
declare -A uses_qt=([platform_qt]=1 [game]=1 [app]=1)

local_include='^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)"'
qt_include='^[[:space:]]*#[[:space:]]*include[[:space:]]*<(Q[A-Za-z]*|Qt[A-Za-z]*/[^>]*)>'

problems=0
complain() {
  echo "$1" >&2
  problems=$((problems + 1))
}

while IFS= read -r -d '' file; do
  from=$(module_of "${file#src/}")
  if [[ -z "$from" || -z "${layer[$from]:-}" ]]; then
    complain "$file: not in any module of the layers (add it to scripts/check_layers.sh)"
    continue
  fi
  while IFS= read -r found; do
    number=${found%%:*}
    line=${found#*:}
    if [[ "$line" =~ $local_include ]]; then
      target=${BASH_REMATCH[1]}
      [[ "$target" == */* ]] || continue  # a file beside this one: its own module
      to=$(module_of "$target")
      [[ -n "${layer[$to]:-}" ]] || continue  # not one of ours (a system or test header)
      if [[ "$to" != "$from" && ${layer[$to]} -ge ${layer[$from]} ]]; then
        complain "$file:$number: $from (layer ${layer[$from]}) includes $target of $to (layer ${layer[$to]})"
      fi
    elif [[ "$line" =~ $qt_include ]]; then
      if [[ -z "${uses_qt[$from]:-}" ]]; then
        complain "$file:$number: $from uses no Qt, yet includes <${BASH_REMATCH[1]}>"
      fi
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include' "$file" || true)
done < <(find src -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.h.in' \) -print0 | sort -z)

if ((problems > 0)); then
  echo "check_layers: $problems include(s) point the wrong way" >&2
  exit 1
fi
echo "check_layers: every include points down the layers"
