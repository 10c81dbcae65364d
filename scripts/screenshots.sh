#!/bin/sh
# Takes the screenshots of docs/WINDOW.md (and the README's) under a virtual
# X server with a window manager (openbox, no compositor), driving the
# program with xdotool:
#
#   scripts/screenshots.sh [path/to/pixmoor]
#
# For French (fr) and English (en) it writes into docs/screenshots:
#   main-LANG.png, main-LANG-free.png  the first window, relative and free mode
#   presets-LANG.png                   the open preset list (free mode)
#   prefix-LANG.png                    the prefix input box
#   update-LANG.png                    the update offer (a newer version)
#   answer404-LANG.png                 a 404 page in place of the version file
#   batch-LANG.png                     a batch running (pictures dropped from
#                                      pcmanfm)
#
# Each run has its own scratch working folder whose pref.qvl selects the
# language and mode. The vendor site is a local web server: the program
# runs in a private network and mount namespace (unshare) whose /etc/hosts
# points the vendor's host at 127.0.0.1. Installs Xvfb, openbox, xdotool,
# pcmanfm and ImageMagick when missing.
set -eu

top=$(cd "$(dirname "$0")/.." && pwd)
program=${1:-$top/build/src/app/pixmoor}
out=$top/docs/screenshots

need=""
command -v Xvfb >/dev/null 2>&1 || need="$need xvfb"
command -v openbox >/dev/null 2>&1 || need="$need openbox"
command -v xdotool >/dev/null 2>&1 || need="$need xdotool"
command -v pcmanfm >/dev/null 2>&1 || need="$need pcmanfm"
[ -x /usr/bin/import ] && [ -x /usr/bin/convert ] || need="$need imagemagick"
[ -x /usr/bin/python3 ] || need="$need python3"
command -v ip >/dev/null 2>&1 || need="$need iproute2"
if [ -n "$need" ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get install -y $need
fi
[ -x "$program" ] || { echo "no program at $program: build it first" >&2; exit 1; }
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")

scratch=$(mktemp -d)
display=:97
export DISPLAY=$display
pids=""
cleanup() {
  for pid in $pids; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$scratch"
}
trap cleanup EXIT INT TERM
Xvfb $display -screen 0 1600x1000x24 -dpi 96 -nolisten tcp >/dev/null 2>&1 &
pids="$! $pids"
sleep 2
openbox >/dev/null 2>&1 &
pids="$! $pids"
sleep 1
mkdir -p "$out"

# A small web server answering every request with one status and body.
cat > "$scratch/site.py" <<'EOF'
import http.server, sys
status, body = int(sys.argv[1]), sys.argv[2].encode()
class Site(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        self.send_response(status)
        self.send_header("Content-Type", "text/html" if status != 200 else "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
http.server.HTTPServer(("127.0.0.1", 80), Site).serve_forever()
EOF
page404='<!DOCTYPE html><html><head><title>404 Not Found</title></head><body><h1>Not Found</h1><p>The requested URL was not found on this server.</p></body></html>'

# Pictures for the batch: large enough that the batch is still running when
# the picture is taken.
mkdir -p "$scratch/pictures"
convert -size 3000x2000 gradient:gold-navy "$scratch/pictures/photo-00.jpg"
for i in $(seq -w 1 39); do cp "$scratch/pictures/photo-00.jpg" "$scratch/pictures/photo-$i.jpg"; done

# start LANGUAGE MODE STATUS BODY: the program in a fresh folder, its vendor
# site answering STATUS with BODY; waits for its window.
start() {
  work=$scratch/run-$1-$2
  rm -rf "$work"
  mkdir -p "$work/runtime"
  chmod 700 "$work/runtime"
  printf '[DEFAUT]\r\nMODE = %s\r\nTYPE = JPG\r\nQUALITE = 8\r\nTaille_Paysage = 1024\r\nTaille_Portrait = 768\r\nFREE_L = 800\r\nFREE_H = 600\r\nL = 800\r\nH = 600\r\nVISIBLE = 0\r\nPREFIX = prefix_\r\nLNG = %s' \
    "$2" "$1" > "$work/pref.qvl"
  echo '127.0.0.1 www.pixmoor.example' > "$work/hosts"
  unshare -r -n -m sh -c '
    ip link set lo up
    mount --bind "$1/hosts" /etc/hosts
    /usr/bin/python3 "$2" "$3" "$4" &
    site=$!
    sleep 0.5
    cd "$1" && HOME="$1" XDG_RUNTIME_DIR="$1/runtime" QT_QPA_PLATFORM=xcb "$5"
    kill $site
  ' sh "$work" "$scratch/site.py" "$3" "$4" "$program" >/dev/null 2>&1 &
  running=$!
  for _ in $(seq 50); do
    window=$(xdotool search --name '^Pixmoor 2011' 2>/dev/null | head -n 1) && [ -n "$window" ] && break
    sleep 0.2
  done
  sleep 1
  xdotool windowactivate --sync "$window" >/dev/null 2>&1 || true
  sleep 0.3
}

# Ends the program and its web server (the children of the run's shell).
stop() {
  for child in $(ps -o pid= --ppid "$running"); do kill "$child" 2>/dev/null || true; done
  wait "$running" 2>/dev/null || true
  sleep 0.3
}

# The window with its frame and a margin (and EXTRA pixels more below), as a
# small PNG: shoot FILE [EXTRA]
shoot() {
  eval "$(xdotool getwindowgeometry --shell "$window")"
  import -window root -crop "$((WIDTH + 24))x$((HEIGHT + 56 + ${2:-0}))+$((X - 12))+$((Y - 44))" +repage \
    -colors 128 "png8:$out/$1"
  echo "wrote $out/$1"
}

for language in FR UK; do
  case $language in FR) tag=fr update=m ;; UK) tag=en update=u ;; esac

  start $language LIB 200 1.4.1
  shoot "main-$tag-free.png"
  xdotool mousemove --window "$window" 165 209 click 1   # the preset list
  sleep 0.6
  shoot "presets-$tag.png" 330
  xdotool key Escape
  stop

  start $language REL 200 1.5.0
  shoot "main-$tag.png"
  xdotool mousemove --window "$window" 420 126 click 1   # change the prefix
  sleep 0.8
  shoot "prefix-$tag.png"
  xdotool key Escape
  sleep 0.5
  xdotool key Escape                                     # the no-prefix question: No
  sleep 0.5
  xdotool windowactivate --sync "$window" key $update    # the update offer
  sleep 1.2
  shoot "update-$tag.png"
  xdotool key Escape
  stop

  start $language REL 404 "$page404"
  xdotool key $update
  sleep 1.2
  shoot "answer404-$tag.png"
  xdotool key Escape
  stop

  # A batch: all the pictures dragged from the file manager onto the window.
  start $language REL 200 1.4.1
  rm -f "$scratch"/pictures/prefix_*
  pcmanfm --no-desktop "$scratch/pictures" >/dev/null 2>&1 &
  manager=$!
  sleep 2
  files=$(xdotool search --class pcmanfm | tail -n 1)
  xdotool windowmove "$files" 0 0 windowsize "$files" 520 400 windowactivate --sync "$files"
  sleep 0.5
  xdotool key ctrl+a
  eval "$(xdotool getwindowgeometry --shell "$window")"
  # From the first picture's icon to the middle of the window.
  xdotool mousemove --window "$files" 207 100 mousedown 1 sleep 0.3 mousemove --window "$files" 230 120 \
    sleep 0.3 mousemove $((X + 300)) $((Y + 200)) sleep 0.3 mousemove $((X + 310)) $((Y + 210)) sleep 0.5 mouseup 1
  sleep 0.7
  shoot "batch-$tag.png"
  kill "$manager" 2>/dev/null || true
  stop
done
