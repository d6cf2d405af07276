#!/usr/bin/env bash
# Builds the Debian package from the current build folder, unpacks it under a scratch root and
# runs the programs from there: they must find the descriptor, the parameter list fragment and the
# help pages in <root>/usr/share/kvtr, with nothing beside them and nothing from the build tree.
# Usage: installed_package.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
if ! command -v dpkg-deb >/dev/null; then
  echo "SKIP: dpkg-deb is not installed, the package cannot be unpacked"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# gzip instead of the default xz: the same package, made in a fraction of the time.
cpack --config "$build/CPackConfig.cmake" -B "$work/out" -D CPACK_DEBIAN_COMPRESSION_TYPE=gzip \
  >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack did not make the package"; }
deb=$(ls "$work"/out/*.deb)
root=$work/root
dpkg-deb -x "$deb" "$root"

for f in usr/bin/kvtr usr/bin/kvtr-configurator usr/bin/kvtr-sim usr/bin/kvtr-mkdesc \
         usr/share/kvtr/kvtr.tree.dat usr/share/kvtr/parlist_fragment.html \
         usr/share/applications/kvtr-configurator.desktop usr/share/mime/packages/kvtr.xml \
         usr/share/icons/hicolor/scalable/apps/kvtr.svg usr/share/icons/hicolor/48x48/apps/kvtr.png \
         usr/share/man/man1/kvtr.1.gz usr/share/bash-completion/completions/kvtr \
         usr/share/doc/kvtr/copyright usr/share/doc/kvtr/changelog.Debian.gz; do
  [ -e "$root/$f" ] || fail "the package has no $f"
done
if [ -d "$build/bin/help" ]; then
  [ -f "$root/usr/share/kvtr/help/user_guide.html" ] || fail "the package has no help pages"
fi

# Run from a folder of its own, so that nothing is found through the current folder either.
cd "$work"
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
mkdir -p "$HOME"
"$root/usr/bin/kvtr" tree >"$work/tree.txt" 2>"$work/tree.err" || { cat "$work/tree.err"; fail "kvtr tree"; }
grep -q "Параметры прибора" "$work/tree.txt" || fail "kvtr tree printed no parameter tree"
"$root/usr/bin/kvtr" export-html "$work/parlist.html" >/dev/null 2>"$work/export.err" || fail "kvtr export-html"
[ ! -s "$work/export.err" ] || { cat "$work/export.err"; fail "kvtr export-html did not find its fragment"; }
# The English catalogue is found in <root>/usr/share/locale, there being none beside the program.
if [ -d "$build/bin/locale/en" ]; then
  LC_ALL= LC_MESSAGES= LANGUAGE= LANG=en_US.UTF-8 "$root/usr/bin/kvtr" --help >"$work/help.txt" || fail "kvtr --help"
  grep -q "^Usage: kvtr " "$work/help.txt" || { head -3 "$work/help.txt"; fail "kvtr --help is not English under LANG=en_US.UTF-8"; }
fi

# The desktop program's start-up checks the connection: the installed simulated module answers it.
if [ -x "$root/usr/bin/kvtr-configurator" ]; then
  "$root/usr/bin/kvtr-sim" >"$work/sim.out" 2>"$work/sim.err" &
  sim=$!
  trap 'kill $sim 2>/dev/null; rm -rf "$work"' EXIT
  for _ in $(seq 50); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
  pty=$(head -n 1 "$work/sim.out")
  [ -n "$pty" ] || { cat "$work/sim.err"; fail "kvtr-sim did not start from the package"; }
  QT_QPA_PLATFORM=offscreen timeout 60 "$root/usr/bin/kvtr-configurator" "/port:$pty" /test \
    >"$work/gui.out" 2>"$work/gui.err" || { cat "$work/gui.out" "$work/gui.err"; fail "kvtr-configurator /test"; }
fi

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/kvtr-configurator.desktop" || fail "desktop-file-validate"
fi
echo "PASS: the unpacked package runs from $root"
