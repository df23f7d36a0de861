#!/usr/bin/env bash
# Builds the Debian package from a build folder (default: build/) and checks it: the desktop
# entry, the AppStream metadata and the manual pages validate; the package holds the programs,
# the desktop entry, the icons, the metadata and the manual pages; its dependencies can be met;
# the packaged norvex answers --version and --help without a display.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
start=$(date +%s%N)

bash scripts/install-deps.sh desktop-file-utils appstream groff-base dpkg-dev fakeroot file

desktop-file-validate packaging/org.norvex.Norvex.desktop
appstreamcli validate --no-net packaging/org.norvex.Norvex.metainfo.xml
for page in packaging/norvex.1 packaging/norvex-sim.1; do
    warnings=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$page" 2>&1)
    [ -z "$warnings" ] || { echo "$page: $warnings" >&2; exit 1; }
done

cmake -S . -B "$build" >/dev/null # the build folder's settings stay as they are
cmake --build "$build" -j"$(nproc)" --target norvex norvex-sim norvex_man_pages
rm -f "$build"/norvex_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/norvex_*.deb)
echo "package: $deb ($(du -k "$deb" | cut -f1) KiB)"
dpkg-deb -f "$deb" Package Version Depends

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/norvex ./usr/bin/norvex-sim \
         ./usr/share/applications/org.norvex.Norvex.desktop \
         ./usr/share/metainfo/org.norvex.Norvex.metainfo.xml \
         ./usr/share/icons/hicolor/scalable/apps/norvex.svg \
         ./usr/share/icons/hicolor/16x16/apps/norvex.png \
         ./usr/share/icons/hicolor/48x48/apps/norvex.png \
         ./usr/share/icons/hicolor/256x256/apps/norvex.png \
         ./usr/share/man/man1/norvex.1.gz ./usr/share/man/man1/norvex-sim.1.gz; do
    grep -qx -- "$f" <<<"$contents" || { echo "the package lacks $f" >&2; exit 1; }
done
# Nothing of the build's own: no tests, benchmarks or libraries.
if grep -E '(_test|_bench|\.a)$' <<<"$contents"; then
    echo "the package holds build-only files" >&2
    exit 1
fi
grep -q 'libqt6widgets6' <<<"$(dpkg-deb -f "$deb" Depends)" ||
    { echo "the dependencies were not computed from the binaries" >&2; exit 1; }
# Every dependency can be met from the system's package sources (nothing is installed).
apt-get install --simulate -qq "./$deb" >/dev/null

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
version=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/norvex" --version)
[ "$version" = "norvex $(dpkg-deb -f "$deb" Version)" ] || { echo "norvex --version said: $version" >&2; exit 1; }
# Read whole before searching: grep -q would stop reading early and the writer end on SIGPIPE.
help=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/norvex" --help)
grep -q -- '--batch' <<<"$help" || { echo "norvex --help lacks the batch mode" >&2; exit 1; }
simHelp=$("$root/usr/bin/norvex-sim" --help)
grep -q -- '--link' <<<"$simHelp" || { echo "norvex-sim --help lacks --link" >&2; exit 1; }
echo "packaged: $version"
echo "package stage: $((($(date +%s%N) - start) / 1000000)) ms"
