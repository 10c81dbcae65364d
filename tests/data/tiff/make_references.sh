#!/usr/bin/env bash
# Makes reference/<name>.png for the good/ and questionable/ TIFF files the
# reader takes, with ImageMagick 6 (Debian's imagemagick-6.q16, which reads
# TIFF with libtiff): the first directory, turned upright by its Orientation
# tag (-auto-orient), alpha straight, 16-bit samples kept as 16 bits. A
# tiled file that ImageMagick cannot read (JPEG tiles) is first rewritten in
# uncompressed strips with libtiff's tiffcp. Run from this folder with the
# files to make references for.
set -euo pipefail
cd "$(dirname "$0")"
mkdir -p reference
for file in "$@"; do
  name=$(basename "${file%.*}")
  if ! convert "${file}[0]" -auto-orient "reference/$name.png" 2>/dev/null; then
    tiffcp -c none -s "${file},0" "/tmp/$name-strips.tif"
    convert "/tmp/$name-strips.tif" -auto-orient "reference/$name.png"
    rm -f "/tmp/$name-strips.tif"
  fi
done
