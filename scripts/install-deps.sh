#!/usr/bin/env bash
# Installs every Debian package that the build, the program, the package and the tests need.
# Idempotent. Installing needs root: run it as root, or as a user who may use sudo (it asks).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libgtk-3-dev libwebkit2gtk-4.1-dev libx11-dev libxext-dev
  libsqlite3-dev sqlite3 libcurl4-openssl-dev
  libgtest-dev libgmock-dev
  python3 openssl curl
  xvfb xauth x11-utils x11-xserver-utils xdotool openbox trayer xserver-xephyr
  dbus dbus-x11 gsettings-desktop-schemas glib-networking libglib2.0-bin iputils-ping
  desktop-file-utils
  proxychains4
  # The SVG loader of GdkPixbuf (the window icon): only a recommendation of GTK, which this
  # script does not install.
  librsvg2-common
  # Locales that the text-conversion tests compile for themselves (localedef and its sources).
  locales
  # scripts/screenshots.py takes its pictures with ImageMagick's import.
  imagemagick
  # The Debian package: icons rendered from the SVG, the checker, file capabilities.
  librsvg2-bin lintian libcap2-bin dpkg-dev
  # The backend service's tests: socket activation (systemd-socket-activate), other users
  # (setpriv) and private mount namespaces (unshare).
  systemd util-linux
  # The page tests look at a program's socket connections (ss); the network-stack tests run a
  # Windows program they build under Wine (with wine64 and the compiler below).
  iproute2 wine
  # The browser's sandbox and the fuzz targets (clang's libFuzzer).
  bubblewrap xdg-dbus-proxy clang libfuzzer-14-dev
  # Kernel mode: rules, routes and namespaces; the Windows, static and Go programs of its tests.
  nftables libnftables-dev
  wine64 gcc-mingw-w64-x86-64 golang-go
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
((${#missing[@]})) || exit 0

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "install-deps.sh: installing ${missing[*]} needs root; run this script as root." >&2
    exit 1
  fi
  echo "install-deps.sh: installing ${missing[*]} needs root; asking sudo." >&2
  sudo_cmd=(sudo)
fi
# sudo drops most of the caller's environment, so the variable is passed through env.
"${sudo_cmd[@]}" apt-get update
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
  "${missing[@]}"
