#!/usr/bin/env bash
# Installs every Debian package that Pixmoor needs to build, run and test.
# Runs `apt-get update` once and installs only what is missing; works as root
# and, for a desktop user, through sudo.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  libjpeg62-turbo-dev libpng-dev zlib1g-dev
  libwebp-dev webp libtiff-dev
  libheif-dev libavif-dev liblcms2-dev
  qt6-base-dev qt6-base-private-dev qt6-qpa-plugins libxcb1-dev fonts-dejavu-core
  fonts-liberation2 qt6-translations-l10n
  libcurl4-openssl-dev
  libasound2-dev
  nlohmann-json3-dev
  libgif-dev libseccomp-dev
  libgtest-dev libgmock-dev libimage-exiftool-perl
  libturbojpeg0-dev libjpeg-turbo-progs
  libbenchmark-dev
  clang libclang-rt-14-dev clang-format-14
  desktop-file-utils appstream
)

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
