#!/usr/bin/env bash
# Fails when an include under src/ points up or sideways through the layers,
# when one of our headers is included in a way this check cannot follow, or
# when a module without a window includes Qt.
#
#   layer 0  files, texts, platform_core
#   layer 1  image, settings
#   layer 2  metadata, resample, online, platform, game_rules
#   layer 3  sandbox, encoders
#   layer 4  codecs
#   layer 5  isolated_readers, image_store, batch
#   layer 6  decode_helper, companion, app_core, game
#   layer 7  app, file_actions
#
# A file's module is its folder under src/ (one library each, see
# src/CMakeLists.txt). A file may include its own module and any module of a
# lower layer, never another of its own layer or one above. Our headers are
# always named with their folder and in quotes ("image/raster.h"), so that
# every include of ours is seen here. Qt belongs to platform, game and app.
#
# Two rules beyond the layers: the readers of src/isolated_readers run only
# inside the decode helper, so only decode_helper includes them (and fuzz/,
# which is not checked here); the numbered store is the window's and the
# game's alone, so only app and game include image_store.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A layer=(
  [files]=0 [texts]=0 [platform_core]=0
  [image]=1 [settings]=1
  [metadata]=2 [resample]=2 [online]=2 [platform]=2 [game_rules]=2
  [sandbox]=3 [encoders]=3
  [codecs]=4
  [isolated_readers]=5 [image_store]=5 [batch]=5
  [decode_helper]=6 [companion]=6 [app_core]=6 [game]=6
  [app]=7 [file_actions]=7
)
declare -A uses_qt=([platform]=1 [game]=1 [app]=1)
declare -A may_include_isolated_readers=([isolated_readers]=1 [decode_helper]=1)
declare -A may_include_image_store=([image_store]=1 [app]=1 [game]=1)

quoted_include='^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)"'
angle_include='^[[:space:]]*#[[:space:]]*include[[:space:]]*<([^>]+)>'
qt_header='^(Q[A-Za-z]*|Qt[A-Za-z]*/.*)$'

problems=0
complain() {
  echo "$1" >&2
  problems=$((problems + 1))
}

for folder in src/*/; do
  name=$(basename "$folder")
  [[ -n "${layer[$name]:-}" ]] || complain "$folder: a module missing from the layers of scripts/check_layers.sh"
done

while IFS= read -r -d '' file; do
  relative=${file#src/}
  from=${relative%%/*}
  [[ "$relative" == */* && -n "${layer[$from]:-}" ]] || continue  # reported above
  while IFS= read -r found; do
    number=${found%%:*}
    line=${found#*:}
    if [[ "$line" =~ $quoted_include ]]; then
      target=${BASH_REMATCH[1]}
      if [[ "$target" != */* ]]; then
        complain "$file:$number: includes \"$target\" without its folder (write \"$from/$target\")"
        continue
      fi
      to=${target%%/*}
      if [[ -z "${layer[$to]:-}" ]]; then
        complain "$file:$number: includes \"$target\", which is in no module of ours"
      elif [[ "$to" != "$from" && ${layer[$to]} -ge ${layer[$from]} ]]; then
        complain "$file:$number: $from (layer ${layer[$from]}) includes $target of $to (layer ${layer[$to]})"
      elif [[ "$to" == isolated_readers && -z "${may_include_isolated_readers[$from]:-}" ]]; then
        complain "$file:$number: $from includes $target: those readers run only in the decode helper"
      elif [[ "$to" == image_store && -z "${may_include_image_store[$from]:-}" ]]; then
        complain "$file:$number: $from includes $target: the numbered store is the window's and the game's"
      fi
    elif [[ "$line" =~ $angle_include ]]; then
      target=${BASH_REMATCH[1]}
      to=${target%%/*}
      if [[ "$target" == */* && -n "${layer[$to]:-}" ]]; then
        complain "$file:$number: includes our <$target> in angle brackets (write \"$target\")"
      elif [[ "$target" =~ $qt_header && -z "${uses_qt[$from]:-}" ]]; then
        complain "$file:$number: $from uses no Qt, yet includes <$target>"
      fi
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include' "$file" || true)
done < <(find src -mindepth 2 -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.h.in' \) -print0 | sort -z)

if ((problems > 0)); then
  echo "check_layers: $problems problem(s) with includes" >&2
  exit 1
fi
echo "check_layers: every include points down the layers"
