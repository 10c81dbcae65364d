#!/bin/sh
# Takes screenshots of the main window in French and in English under a
# virtual X server and writes docs/screenshots/main-fr.png and main-en.png.
#
#   scripts/screenshots.sh [path/to/pixmoor]
#
# Each language runs in its own scratch working folder whose pref.qvl
# selects the language. Installs Xvfb, xwd and ImageMagick when missing.
set -eu

top=$(cd "$(dirname "$0")/.." && pwd)
program=${1:-$top/build/src/app/pixmoor}
out=$top/docs/screenshots

need=""
command -v Xvfb >/dev/null 2>&1 || need="$need xvfb"
command -v xwd >/dev/null 2>&1 || need="$need x11-apps"
[ -x /usr/bin/convert ] || need="$need imagemagick"
if [ -n "$need" ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get install -y $need
fi
[ -x "$program" ] || { echo "no program at $program: build it first" >&2; exit 1; }
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")

scratch=$(mktemp -d)
display=:97
Xvfb $display -screen 0 1920x1080x24 -dpi 96 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; rm -rf "$scratch"' EXIT INT TERM
sleep 2
mkdir -p "$out"

shoot() {
  language=$1
  file=$2
  work=$scratch/$language
  mkdir -p "$work/runtime"
  chmod 700 "$work/runtime"
  # A settings file in the program's own format selecting the language.
  printf '[DEFAUT]\r\nMODE = REL\r\nTYPE = JPG\r\nQUALITE = 8\r\nTaille_Paysage = 1024\r\nTaille_Portrait = 768\r\nFREE_L = 800\r\nFREE_H = 600\r\nL = 800\r\nH = 600\r\nVISIBLE = 0\r\nPREFIX = prefix_\r\nLNG = %s' \
    "$language" > "$work/pref.qvl"
  (cd "$work" && DISPLAY=$display HOME=$work XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=xcb \
     "$program" >/dev/null 2>&1) &
  pid=$!
  sleep 3
  DISPLAY=$display xwd -silent -name "Pixmoor 2011 v1.4.1" | /usr/bin/convert xwd:- "png:$out/$file"
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  echo "wrote $out/$file"
}

shoot FR main-fr.png
shoot UK main-en.png
