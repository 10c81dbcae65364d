# Sourced by the bench scripts that time whole batches: the benchmark photos,
# Debian's Plasma wallpapers (the package fetched with `apt-get download`),
# the largest picture of each as a JPEG in $scratch/photos, made once.
# Needs $scratch and ImageMagick's convert (a few wallpapers are PNGs).

fetch_photos() {
  photos="$scratch/photos"
  if [[ ! -f "$photos/.complete" ]]; then
    mkdir -p "$scratch/deb" "$photos"
    (cd "$scratch/deb" && { ls plasma-workspace-wallpapers_*.deb >/dev/null 2>&1 ||
      apt-get download plasma-workspace-wallpapers >/dev/null 2>&1 ||
      { apt-get update >/dev/null && apt-get download plasma-workspace-wallpapers >/dev/null; }; })
    rm -rf "$scratch/unpacked"
    dpkg-deb -x "$scratch"/deb/plasma-workspace-wallpapers_*.deb "$scratch/unpacked"
    # The largest picture of each wallpaper (its light variant), as a JPEG.
    for dir in "$scratch"/unpacked/usr/share/wallpapers/*/contents/images; do
      name=$(basename "$(dirname "$(dirname "$dir")")")
      best=$(find "$dir" -maxdepth 1 -type f -size +1k \( -name '*.jpg' -o -name '*.png' \) -printf '%s %p\n' |
        sort -n | tail -1 | cut -d' ' -f2-)
      [[ -n "$best" ]] || continue
      case "$best" in
        *.jpg) cp "$best" "$photos/$name.jpg" ;;
        *.png) convert "$best" -quality 92 "$photos/$name.jpg" 2>/dev/null ;;
      esac
    done
    # A portrait photo too: the tall variant of SafeLanding, if the package has it.
    tall=$(find "$scratch/unpacked" -name '1622x2880.jpg' | head -1)
    [[ -n "$tall" ]] && cp "$tall" "$photos/SafeLanding-portrait.jpg"
    touch "$photos/.complete"
  fi
}

# build_batch_bench TARGET...: pixmoor-batch (and whatever else is named)
# built for timing in build-bench-batch (Release, no window); sets $build
# and $program. Needs $root.
build_batch_bench() {
  build="$root/build-bench-batch"
  program="$build/src/companion/pixmoor-batch"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPIXMOOR_GUI=OFF >/dev/null
  ninja -C "$build" -j2 "$@" >/dev/null
}
