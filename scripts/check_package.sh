#!/usr/bin/env bash
# Checks the Debian package in a fresh Debian 12 root, as a new user's machine
# would take it: debootstrap --variant=minbase bookworm, `apt-get install` of
# the .deb with Debian's packages only, pixmoor-batch resizes pictures (one
# through the decode helper), pixmoor starts on Qt's offscreen platform from
# the menu's launcher and keeps its settings in ~/.config/pixmoor, then
# `apt-get purge` leaves no file of the package behind.
#
#   scripts/check_package.sh [build-package/package/pixmoor_*.deb]
#
# Needs root (debootstrap, chroot, mounts) and the Debian mirror
# (MIRROR, default deb.debian.org); installs debootstrap when missing. It
# downloads a small system, so CI does not run it: CI builds the package and
# runs lintian.
set -euo pipefail
cd "$(dirname "$0")/.."
deb=${1:-$(ls build-package/package/pixmoor_*.deb 2>/dev/null | tail -n 1)}
[[ -f "$deb" ]] || { echo "check_package: no package (make package first)" >&2; exit 2; }
[[ $(id -u) -eq 0 ]] || { echo "check_package: must run as root" >&2; exit 2; }
mirror=${MIRROR:-http://deb.debian.org/debian}
command -v debootstrap >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null

root=$(mktemp -d /var/tmp/pixmoor-check-XXXXXX)
chmod 755 "$root"  # apt downloads as _apt
cleanup() {
  umount -l "$root/proc" 2>/dev/null || true
  umount -R -l "$root/dev" 2>/dev/null || true
  rm -rf --one-file-system "$root"
}
trap cleanup EXIT
step() { echo "== $*"; }
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

step "debootstrap --variant=minbase bookworm ($mirror)"
debootstrap --variant=minbase bookworm "$root" "$mirror" > "$root.debootstrap.log" 2>&1 ||
  { tail -20 "$root.debootstrap.log"; exit 1; }
rm -f "$root.debootstrap.log"
mount -t proc proc "$root/proc"
mount --rbind /dev "$root/dev"

step "apt-get install ./$(basename "$deb")"
cp "$deb" "$root/tmp/"
in_root apt-get update -qq
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "/tmp/$(basename "$deb")" \
  > "$root/tmp/install.log" 2>&1 || { tail -30 "$root/tmp/install.log"; exit 1; }
grep -E '^(Setting up|Unpacking) pixmoor ' "$root/tmp/install.log" || true
echo "packages installed: $(in_root dpkg-query -W -f='${Status}\n' | grep -c 'install ok installed')"
in_root dpkg -L pixmoor > "$root/tmp/pixmoor.files"
for program in /usr/bin/pixmoor /usr/bin/pixmoor-batch /usr/libexec/pixmoor/pixmoor-decode \
               /usr/libexec/pixmoor/pixmoor-resize; do
  if in_root ldd "$program" | grep -q 'not found'; then
    in_root ldd "$program" | grep 'not found'
    exit 1
  fi
done
echo "every library of the four programs found"

step "pixmoor-batch resizes a JPEG and a GIF (the GIF through pixmoor-decode)"
mkdir -p "$root/root/pictures"
cp tests/data/jpeg/good/exo_Landscape_1.jpg "$root/root/pictures/photo.jpg"
cp tests/data/gif/good/igif_beacon.gif "$root/root/pictures/beacon.gif"
chroot "$root" /bin/sh -c 'cd /root/pictures && pixmoor-batch --landscape-width 64 --format png photo.jpg beacon.gif'
for out in prefix_photo.png prefix_beacon.png; do
  head -c 8 "$root/root/pictures/$out" | od -An -c | grep -q 'P   N   G' ||
    { echo "no PNG $out" >&2; exit 1; }
done
echo "written:" $(cd "$root/root/pictures" && ls prefix_*)

step "pixmoor from the menu entry's command, offscreen, until it is told to end"
exec_line=$(grep '^Exec=' "$root/usr/share/applications/pixmoor.desktop")
echo "$exec_line"
status=0
install -d -m 700 "$root/tmp/runtime"
in_root env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=/tmp/runtime timeout 20 "${exec_line#Exec=}" || status=$?
[[ $status -eq 124 ]] || { echo "pixmoor ended by itself with status $status" >&2; exit 1; }
[[ -f "$root/root/.config/pixmoor/pref.qvl" ]] || { echo "no ~/.config/pixmoor/pref.qvl" >&2; exit 1; }
echo "running after 20 s, ended by SIGTERM; settings in /root/.config/pixmoor: $(ls "$root/root/.config/pixmoor")"
# What the user sets in the window is what the companion does where it finds
# no pref.qvl of its own.
perl -pi -e 's/^PREFIX *=[^\r\n]*/PREFIX = menu_/' "$root/root/.config/pixmoor/pref.qvl"
planned=$(chroot "$root" /bin/sh -c 'cd /root/pictures && pixmoor-batch --dry-run photo.jpg' 2>&1)
echo "$planned"
[[ "$planned" == *"menu_photo.jpg (new)"* ]] || { echo "pixmoor-batch did not read the menu's settings" >&2; exit 1; }

step "pixmoor-resize (the file managers' action) without a desktop session"
in_root /usr/libexec/pixmoor/pixmoor-resize /root/pictures/photo.jpg 2>&1 || true

step "apt-get purge pixmoor"
in_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq pixmoor > /dev/null
left=0
while IFS= read -r path; do
  [[ "$path" == /. ]] && continue
  if [[ -f "$root$path" || -L "$root$path" ]] || { [[ -d "$root$path" ]] && [[ "$path" == *pixmoor* ]]; }; then
    echo "left behind: $path"
    left=1
  fi
done < "$root/tmp/pixmoor.files"
found=$(cd "$root" && find usr etc var/lib/dpkg/info -path '*pixmoor*' 2>/dev/null || true)
[[ -z "$found" ]] || { echo "left behind:"; echo "$found"; left=1; }
[[ $left -eq 0 ]] || exit 1
echo "nothing of the package is left ($(wc -l < "$root/tmp/pixmoor.files") paths checked)"
echo "check_package: OK"
