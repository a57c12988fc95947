#!/usr/bin/env bash
# Builds the Debian package build/morvil_<version>_<arch>.deb from this tree: the program and all it
# brings under /opt/morvil, morvil and morvil-run on the PATH, the desktop entry and icons, manual
# pages, the backend service's systemd units (packaging/systemd/, when present) and the maintainer
# scripts that write the uninstall entry and give the echo helper its capability. Install it with
#   sudo apt install ./build/morvil_*.deb
# The version comes from project() in CMakeLists.txt. MORVIL_SOURCE_ID names the distribution
# source recorded in the uninstall entry (default: deb).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

build=$root/build
bin=$build/bin
version=$(cat "$build/version.txt")
source_id=${MORVIL_SOURCE_ID:-deb}
arch=$(dpkg --print-architecture)
deb=$build/morvil_${version}_${arch}.deb
stage=$build/package
app=$stage/opt/morvil
units=$root/packaging/systemd
maintainer="morvil maintainers <maintainers@users.noreply.c-seed-ebe1f6e4.example>"
# Timestamps of the package's files and changelog: the last commit's, so a rebuild of the same
# tree gives the same package.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)}

rm -rf "$stage" "$build/package-shlibdeps"
rm -f "$build"/morvil_*.deb
umask 022

# --- /opt/morvil --------------------------------------------------------------------------------
install -d "$app/webext" "$app/include" "$stage/usr/bin"
for program in morvil morvil-ping morvil-run morvil-backend-service Caddow.exe pellix.exe \
               morvil-uninstall-entry; do
  install -m 0755 "$bin/$program" "$app/$program"
done
# The kernel-mode component, which the installer starts, where this tree builds it.
if [ -f "$bin/morvil-kernel" ]; then install -m 0755 "$bin/morvil-kernel" "$app/"; fi
install -m 0644 "$bin/sorvan_lsp.so" "$bin/libQuillet.so" "$app/"
install -m 0644 "$bin/webext/libmorvil-webext.so" "$app/webext/"
install -m 0644 "$root/src/report/quillet/quillet.h" "$app/include/"
# The pages from the source tree, so that nothing left over in build/bin/res is packaged.
cp -R "$root/res" "$app/res"
find "$app/res" -type d -exec chmod 0755 {} + -o -type f -exec chmod 0644 {} +
ln -s /opt/morvil/morvil "$stage/usr/bin/morvil"
ln -s /opt/morvil/morvil-run "$stage/usr/bin/morvil-run"

# --- desktop integration ------------------------------------------------------------------------
install -D -m 0644 "$root/packaging/morvil.desktop" "$stage/usr/share/applications/morvil.desktop"
desktop-file-validate "$stage/usr/share/applications/morvil.desktop"
icons=$stage/usr/share/icons/hicolor
install -D -m 0644 "$root/res/images/morvil-icon.svg" "$icons/scalable/apps/morvil.svg"
for size in 16 22 24 32 48 64 128 256; do
  install -d "$icons/${size}x${size}/apps"
  rsvg-convert -w "$size" -h "$size" "$root/res/images/morvil-icon.svg" \
    -o "$icons/${size}x${size}/apps/morvil.png"
done

# --- documentation ------------------------------------------------------------------------------
doc=$stage/usr/share/doc/morvil
install -D -m 0644 "$root/packaging/copyright" "$doc/copyright"
{
  printf 'morvil (%s) stable; urgency=medium\n\n  * Release %s.\n\n' "$version" "$version"
  printf ' -- %s  %s\n' "$maintainer" "$(date -R -u -d "@$SOURCE_DATE_EPOCH")"
} | gzip -9n > "$doc/changelog.gz"
install -d "$stage/usr/share/man/man1"
for page in morvil morvil-run; do
  gzip -9n < "$root/packaging/man/$page.1" > "$stage/usr/share/man/man1/$page.1.gz"
done
install -D -m 0644 "$root/packaging/lintian-overrides" "$stage/usr/share/lintian/overrides/morvil"

# --- the backend service ------------------------------------------------------------------------
for unit in morvil-backend-service.socket morvil-backend-service.service; do
  if [ -f "$units/$unit" ]; then
    install -D -m 0644 "$units/$unit" "$stage/lib/systemd/system/$unit"
  fi
done

# --- strip, as Debian's packaging tools do ------------------------------------------------------
elf_files=()
while IFS= read -r -d '' file; do
  if cmp -s -n 4 "$file" <(printf '\177ELF'); then elf_files+=("$file"); fi
done < <(find "$stage" -type f -print0)
for file in "${elf_files[@]}"; do
  case "$file" in
    *.so) strip --remove-section=.comment --remove-section=.note --strip-unneeded "$file" ;;
    *) strip --remove-section=.comment --remove-section=.note "$file" ;;
  esac
done

# --- maintainer scripts -------------------------------------------------------------------------
install -d "$stage/DEBIAN"
for script in postinst prerm postrm; do
  # The socket unit's part of each script, when the package carries the units.
  snippet=""
  if [ -f "$stage/lib/systemd/system/morvil-backend-service.socket" ]; then
    snippet=$(cat "$root/packaging/debian/systemd.$script")
  fi
  SNIPPET=$snippet VERSION=$version SOURCE_ID=$source_id perl -pe '
    s/\@VERSION\@/$ENV{VERSION}/g; s/\@SOURCE_ID\@/$ENV{SOURCE_ID}/g;
    s/^\@SYSTEMD_\w+\@\n/$ENV{SNIPPET} ? "$ENV{SNIPPET}\n" : ""/e;
  ' "$root/packaging/debian/$script" > "$stage/DEBIAN/$script"
  chmod 0755 "$stage/DEBIAN/$script"
done

# --- control: dependencies of the binaries found by dpkg-shlibdeps ------------------------------
shlibdeps=$build/package-shlibdeps
mkdir -p "$shlibdeps/debian"
printf 'Source: morvil\n\nPackage: morvil\nArchitecture: any\n' > "$shlibdeps/debian/control"
shlibs=$(cd "$shlibdeps" && dpkg-shlibdeps -O --warnings=1 "${elf_files[@]}")
shlibs=${shlibs#shlibs:Depends=}
rm -rf "$shlibdeps"
# What no binary links to: setcap for the maintainer scripts, the SVG loader of the window icon,
# and the schema of the desktop's proxy settings.
depends="$shlibs, libcap2-bin, librsvg2-common, gsettings-desktop-schemas"
installed_size=$(du -sk --exclude=DEBIAN "$stage" | cut -f1)
cat > "$stage/DEBIAN/control" <<CONTROL
Package: morvil
Version: $version
Architecture: $arch
Maintainer: $maintainer
Installed-Size: $installed_size
Depends: $depends
Recommends: glib-networking
Section: net
Priority: optional
Description: accelerator that routes chosen programs through a proxy
 Morvil Accelerator speeds up the network traffic of the programs and games
 you choose by routing it through a proxy server (SOCKS5), and shows the
 latency to that server and the traffic of the machine.
 .
 Programs are caught in the kernel by the backend service where systemd runs
 it, otherwise through a preloaded library; morvil-run starts a program so
 that it is accelerated from its first process.
CONTROL
(cd "$stage" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | LC_ALL=C sort -z |
  xargs -0 md5sum) > "$stage/DEBIAN/md5sums"

dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >/dev/null
rm -rf "$stage"
echo "$deb"
