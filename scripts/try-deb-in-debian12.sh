#!/usr/bin/env bash
# Tries the Debian package as a new user would: a clean Debian 12 root made
# with debootstrap, the package's dependencies from Debian, `dpkg -i` of the
# package, and both programs started there (without a display or usbmuxd,
# so their start-up lines must say what is missing). Needs root and the
# network to Debian's mirror; not part of the tests.
#
#   scripts/try-deb-in-debian12.sh [PACKAGE.deb]   (default: build/package/glidemate_*.deb)
set -euo pipefail
cd "$(dirname "$0")/.."

deb=${1:-$(ls build/package/glidemate_*.deb 2>/dev/null | head -n 1)}
if [ -z "$deb" ] || [ ! -f "$deb" ]; then
  echo "no package: run scripts/package-deb.sh first, or name one" >&2
  exit 2
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "debootstrap and chroot need root" >&2
  exit 2
fi
if ! command -v debootstrap >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends debootstrap
fi

root=$(mktemp -d /tmp/glidemate-debian12-XXXXXX)
cleanup() {
  umount "$root/proc" 2>/dev/null || true
  rm -rf "$root"
}
trap cleanup EXIT

echo "== debootstrap bookworm into $root"
debootstrap --variant=minbase bookworm "$root" http://deb.debian.org/debian >/dev/null
mount -t proc proc "$root/proc"
cp "$deb" "$root/tmp/glidemate.deb"
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

echo "== the package's dependencies, from Debian"
in_root apt-get update -q >/dev/null
in_root env DEBIAN_FRONTEND=noninteractive apt-get satisfy -y -q --no-install-recommends \
  "$(dpkg-deb -f "$deb" Depends)" >/dev/null
echo "== dpkg -i"
in_root dpkg -i /tmp/glidemate.deb
in_root dpkg -L glidemate

echo "== glidemate-host --help"
in_root glidemate-host --help
echo "== glidemate-companion without a display"
in_root glidemate-companion && status=0 || status=$?
echo "(exit status $status)"
echo "== glidemate-host's start-up lines without a display or usbmuxd"
in_root timeout -s INT 3 glidemate-host --no-advertise --name "Debian 12" && status=0 || status=$?
echo "(exit status $status)"
