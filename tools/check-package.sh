#!/usr/bin/env bash
# Builds the Debian package from a configured and built build folder and
# checks it as an installation would meet it: its files, its dependencies,
# the program started from an unpacked copy, and lintian without errors.
#   tools/check-package.sh [BUILD-DIR]    (default: build/ of this tree)
set -euo pipefail
# A given folder is taken from where the script was started.
if [ $# -gt 0 ]; then build=$(cd "$1" && pwd); fi
cd "$(dirname "$0")/.."
build=${build:-$(pwd)/build}
[ -f "$build/CPackConfig.cmake" ] || { echo "check-package: no configured build in $build" >&2; exit 2; }

# The packaging tools; apt runs only when one is missing.
missing=()
for p in dpkg-dev lintian; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=300 update -q
  "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=300 install -y -q --no-install-recommends "${missing[@]}"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check-package: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$(find "$work/out" -maxdepth 1 -name 'quarn_*.deb' | head -n 1)
[ -n "$deb" ] || fail "no package was made"
echo "package: $(basename "$deb")"

dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/files"
for f in /usr/bin/quarn \
         /usr/share/applications/quarn.desktop \
         /usr/share/metainfo/quarn.metainfo.xml \
         /usr/share/man/man1/quarn.1.gz \
         /usr/share/doc/quarn/copyright \
         /usr/share/icons/hicolor/16x16/apps/quarn.png \
         /usr/share/icons/hicolor/48x48/apps/quarn.png \
         /usr/share/icons/hicolor/256x256/apps/quarn.png; do
  grep -qx "$f" "$work/files" || fail "$f is not in the package"
done
if grep -E '^/usr/(bin|lib)/.*(_tests?|probe|render_icons)' "$work/files"; then
  fail "the package carries build tools or tests"
fi

depends=$(dpkg-deb -f "$deb" Depends)
echo "depends: $depends"
for lib in libqt6widgets6 libglib2.0-0 libc6; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: not taken from the linked libraries?"
done

# Unpacked into a private root, the program runs from there.
dpkg-deb -x "$deb" "$work/root"
version=$(env -u DISPLAY -u WAYLAND_DISPLAY "$work/root/usr/bin/quarn" --version) ||
  fail "the unpacked program did not start"
echo "unpacked: $version"
grep -qx "Quarn $(dpkg-deb -f "$deb" Version)" <<<"$version" ||
  fail "the unpacked program says '$version', the package $(dpkg-deb -f "$deb" Version)"

lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian reports errors"
echo "package check passed"
