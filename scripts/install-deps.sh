#!/usr/bin/env bash
# Installs every Debian package that the build, the program and the tests need. Idempotent.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libgtk-3-dev libwebkit2gtk-4.1-dev libx11-dev libxext-dev
  libsqlite3-dev sqlite3 libcurl4-openssl-dev
  libgtest-dev libgmock-dev
  python3 openssl curl
  xvfb xauth x11-utils xdotool openbox
  dbus dbus-x11 gsettings-desktop-schemas glib-networking libglib2.0-bin iputils-ping
  desktop-file-utils
  proxychains4
  nftables libnftables-dev iproute2 util-linux
  wine64 gcc-mingw-w64-x86-64 golang-go
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends \
    "${missing[@]}"
fi
