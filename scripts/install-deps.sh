#!/usr/bin/env bash
# Installs every package the build and the tests need, from Debian 12.
# Safe to run again: it only calls apt-get when something is missing.
set -euo pipefail

packages=(
  build-essential g++ cmake ninja-build pkg-config git ccache
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libasio-dev libssl-dev openssl nlohmann-json3-dev libplist-dev libsdbus-c++-dev libsystemd-dev
  libcurl4-openssl-dev libgdk-pixbuf-2.0-dev librsvg2-common libglib2.0-dev
  libavahi-client-dev libx11-dev libxtst-dev libxrandr-dev libxfixes-dev libxrender-dev libcairo2-dev libicu-dev
  libpulse-dev
  libturbojpeg0-dev libyuv-dev libpixman-1-dev
  libxcb1-dev libxcb-shm0-dev libxcb-damage0-dev libxcb-xfixes0-dev libxcb-randr0-dev libxcb-res0-dev
  libxext-dev libxss-dev
  qt6-base-dev qt6-qpa-plugins fonts-dejavu-core
  xvfb x11-utils openbox xcompmgr
  dbus avahi-daemon avahi-utils usbmuxd python3-dbusmock python3-gi pulseaudio pulseaudio-utils libglib2.0-bin
  dpkg-dev file
  libwayland-dev wayland-protocols libxkbcommon-dev libpipewire-0.3-dev
  mutter pipewire wireplumber
  sway libwayland-bin wl-clipboard
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "install-deps: installing ${missing[*]}"
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
