#!/usr/bin/env bash
# Times how long Pixmoor takes from the Quit key to the end of its process,
# under a virtual X server with a window manager (openbox).
#
#   bench/quit_to_exit.sh [path/to/pixmoor] [runs]
#   COMPOSITOR=1 bench/quit_to_exit.sh     # also with picom running
#
# Without a compositor the window cannot fade and must close at once; with
# one it fades out for two seconds. The floor, measured in the same run, is
# xmessage ending on the key that presses its default button: a minimal X
# client that quits on a key. Prints the median and the extremes in
# milliseconds, and the load average. Needs xvfb, openbox, xdotool and
# x11-utils (and picom for COMPOSITOR=1).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
program=${1:-$root/build/src/app/pixmoor}
runs=${2:-11}
display=:98
for tool in Xvfb openbox xdotool xmessage; do
  command -v "$tool" >/dev/null || { echo "quit_to_exit: $tool not found" >&2; exit 1; }
done
[[ -x "$program" ]] || { echo "quit_to_exit: no program at $program" >&2; exit 1; }
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")

scratch=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$scratch"
}
trap cleanup EXIT
export DISPLAY=$display
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
sleep 2
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 1

now_ns() { date +%s%N; }

# time_quit KEY TITLE COMMAND...: starts COMMAND, waits for its window (by
# title), presses KEY in it and prints the milliseconds until the process
# has ended.
time_quit() {
  local key=$1 title=$2
  shift 2
  "$@" >/dev/null 2>&1 &
  local pid=$! window=""
  for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --name "$title" 2>/dev/null | tail -n 1) && [[ -n "$window" ]] && break
    sleep 0.1
  done
  [[ -n "$window" ]] || { echo "quit_to_exit: no window titled $title" >&2; exit 1; }
  sleep 0.5
  xdotool windowactivate --sync "$window" >/dev/null 2>&1 || true
  sleep 0.3
  local start end
  start=$(now_ns)
  xdotool key "$key"  # through XTEST, to the window that has the focus
  local deadline=$((start + 10000000000))
  while kill -0 "$pid" 2>/dev/null && (($(now_ns) < deadline)); do
    [[ $(cut -d' ' -f3 "/proc/$pid/stat" 2>/dev/null) == Z ]] && break  # ended, not yet reaped
    sleep 0.002
  done
  end=$(now_ns)
  kill "$pid" 2>/dev/null || true  # still there after 10 s: counted as 10 s
  wait "$pid" 2>/dev/null || true
  echo $(((end - start) / 1000000))
}

pixmoor() {
  local work=$scratch/work
  mkdir -p "$work/runtime"
  chmod 700 "$work/runtime"
  cd "$work" && HOME=$work XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=xcb exec "$program"
}

report() {
  local name=$1
  shift
  local sorted
  sorted=$(printf '%s\n' "$@" | sort -n)
  printf '%-28s median %5d ms   min %5d   max %5d   (%d runs)\n' "$name" \
    "$(sed -n "$((($# + 1) / 2))p" <<<"$sorted")" "$(head -n 1 <<<"$sorted")" "$(tail -n 1 <<<"$sorted")" "$#"
}

measure() {
  local label=$1 ours=() floor=()
  for _ in $(seq "$runs"); do
    ours+=("$(time_quit q '^Pixmoor 2011' pixmoor)")
    floor+=("$(time_quit Return '^xmessage$' xmessage -buttons ok:0 -default ok quit)")
  done
  report "pixmoor, $label" "${ours[@]}"
  report "xmessage (floor), $label" "${floor[@]}"
}

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
measure "no compositor"
if [[ ${COMPOSITOR:-0} == 1 ]]; then
  command -v picom >/dev/null || { echo "quit_to_exit: picom not found" >&2; exit 1; }
  picom --backend xrender >/dev/null 2>&1 &
  pids+=($!)
  sleep 1
  runs=3 measure "picom"
fi
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
