#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package as Debian builds it and checks it.
#
#   bash scripts/package.sh [BUILD] [--install]
#
# The tracked tree is copied into BUILD/deb/ (default: build/deb/) and built there with
# `dpkg-buildpackage -us -uc -b`: debhelper, Debian's build flags with every hardening flag, the
# dependencies computed from the binaries by dh_shlibdeps; the package and its companions land in
# BUILD/deb/ (never beside the source tree). Then: the desktop entry, the AppStream metadata and
# the manual pages validate; the package holds the programs, the desktop entry, the icons, the
# metadata, the manual pages, the copyright and the changelog; its dependencies can be met;
# lintian finds no error and no warning (and no hardening flag missing); the packaged norvex
# answers --version and --help without a display, and its window comes up with its title on a
# plain X server and on a headless Wayland compositor. The line "package: PATH (SIZE KiB)",
# printed last and only when every check passed, names the package for tools that read this output.
#
# With --install (as root, where no norvex package is installed): the package is installed with
# apt-get, its programs are run as an ordinary user, and it is removed with --purge, which must
# leave none of its files behind.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
install=false
for arg in "$@"; do
    case "$arg" in
    --install) install=true ;;
    -*)
        echo "usage: bash scripts/package.sh [BUILD] [--install]" >&2
        exit 2
        ;;
    *) build=$arg ;;
    esac
done
start=$(date +%s%N)

# The package installed by apt-get, its programs run as an ordinary user, then purged: nothing of
# it may stay behind.
install_check() {
    [ "$(id -u)" -eq 0 ] || { echo "package.sh --install needs root" >&2; exit 1; }
    if dpkg-query -W -f='${Status}' norvex 2>/dev/null | grep -q 'ok installed'; then
        echo "a norvex package is installed already: --install would replace and purge it" >&2
        exit 1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$(realpath "$deb")" >/dev/null
    installed=true
    local user=(setpriv --reuid=65534 --regid=65534 --clear-groups env HOME=/nonexistent)
    local scratch
    scratch=$(mktemp -d)
    chmod 0777 "$scratch"
    # The package's own programs and pages by their paths: a norvex installed from a build folder
    # into /usr/local comes first on the PATH and would be the one tried.
    [ "$("${user[@]}" /usr/bin/norvex --version)" = "norvex $version" ] || { echo "the installed norvex does not start" >&2; exit 1; }
    for page in norvex norvex-sim; do
        LC_ALL=C.UTF-8 man -l "/usr/share/man/man1/$page.1.gz" >/dev/null || { echo "the installed $page(1) does not show" >&2; exit 1; }
    done
    "${user[@]}" bash scripts/window-check.sh /usr/bin/norvex
    # The batch mode against the virtual validator: START, the start-up sequence, polling.
    (
        cd "$scratch"
        "${user[@]}" /usr/bin/norvex-sim --link "$scratch/validator" >"$scratch/sim.out" 2>&1 &
        sim=$!
        for _ in $(seq 50); do [ -e "$scratch/validator" ] && break; sleep 0.1; done
        status=0
        "${user[@]}" /usr/bin/norvex --batch --port "COM1=$scratch/validator" --com 1 --seconds 4 --no-history \
            >"$scratch/batch.out" 2>&1 || status=$?
        kill "$sim" && wait "$sim" || true
        grep -q 'setup: ' "$scratch/batch.out" && [ "$status" -eq 0 ] ||
            { cat "$scratch/batch.out" >&2; echo "the installed batch mode failed ($status)" >&2; exit 1; }
    )
    rm -rf "$scratch"
    DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y -qq norvex >/dev/null
    installed=false
    local left=()
    while IFS= read -r f; do
        [ -e "${f#.}" ] && [ ! -d "${f#.}" ] && left+=("${f#.}")
    done <<<"$contents"
    [ ${#left[@]} -eq 0 ] || { echo "purged, yet left behind: ${left[*]}" >&2; exit 1; }
    echo "installed, run as an ordinary user, purged without a trace"
}
stage() { echo "package stage: $1 after $((($(date +%s%N) - start) / 1000000000)) s"; }

bash scripts/install-deps.sh build-essential debhelper dpkg-dev fakeroot file lintian desktop-file-utils \
    appstream groff-base man-db xvfb xdotool weston qt6-wayland

desktop-file-validate packaging/org.norvex.Norvex.desktop
appstreamcli validate --no-net packaging/org.norvex.Norvex.metainfo.xml
for page in packaging/norvex.1 packaging/norvex-sim.1; do
    warnings=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$page" 2>&1)
    [ -z "$warnings" ] || { echo "$page: $warnings" >&2; exit 1; }
done

# A copy of what git tracks (and new files not yet added, but nothing it ignores): the package
# is built from the sources alone, never from a build folder's leftovers.
version=$(dpkg-parsechangelog -l debian/changelog -S Version)
out="$build/deb"
src="$out/norvex-$version"
rm -rf "$out"
copy_tree() {
    mkdir -p "$1"
    git ls-files -z --cached --others --exclude-standard |
        tar --null --files-from=- --ignore-failed-read -cf - 2>/dev/null | tar -xf - -C "$1"
}
copy_tree "$src"

# A packager builds the source package in a checkout that holds build folders and the selected
# port: it takes the tracked files and nothing else.
probe="$out/source-probe"
copy_tree "$probe/norvex-$version"
mkdir -p "$probe/norvex-$version/build/bin" "$probe/norvex-$version/obj-x86_64-linux-gnu"
touch "$probe/norvex-$version/build/bin/norvex" "$probe/norvex-$version/obj-x86_64-linux-gnu/Makefile" \
    "$probe/norvex-$version/norvex.ini"
(cd "$probe" && dpkg-source -b "norvex-$version" >/dev/null)
extra=$(comm -13 <(git ls-files --cached --others --exclude-standard | sort) \
    <(tar -tJf "$probe/norvex_$version.tar.xz" | sed -n "s|^norvex-$version/||p" | grep -v '/$' | sort))
[ -z "$extra" ] || { echo "the source package holds files git does not track: $extra" >&2; exit 1; }
rm -rf "$probe"

# What debian/control asks for to build, if anything is missing.
if ! (cd "$src" && dpkg-checkbuilddeps >/dev/null 2>&1); then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq
    (cd "$src" && DEBIAN_FRONTEND=noninteractive $sudo apt-get build-dep -y -qq ./ >/dev/null)
fi

# ccache, where it is installed, only saves time: the flags and the result stay Debian's. Its
# cache is named, since debhelper gives the build a home of its own.
launcher=()
if command -v ccache >/dev/null; then
    launcher=(CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache CCACHE_DIR="$(ccache -k cache_dir)")
fi
if ! (cd "$src" && env "${launcher[@]}" DEB_BUILD_OPTIONS="parallel=$(nproc)" \
    dpkg-buildpackage -us -uc -b) >"$out/build.log" 2>&1; then
    tail -n 40 "$out/build.log" >&2
    echo "dpkg-buildpackage failed; the whole log is $out/build.log" >&2
    exit 1
fi
# The compiler had nothing to say under Debian's flags either (fortification makes it check more
# results than the project's own builds, which treat warnings as errors).
if grep -E '^[^ ]+:[0-9]+:[0-9]+: warning: ' "$out/build.log" >&2; then
    echo "the package build warns; the whole log is $out/build.log" >&2
    exit 1
fi
# Debian's flags reached the compiler: fortification, the stack protector, immediate binding.
for flag in -D_FORTIFY_SOURCE=2 -fstack-protector-strong -Wl,-z,now -Wl,-z,relro; do
    grep -q -- "$flag" "$out/build.log" || { echo "the build did not use $flag" >&2; exit 1; }
done
deb=$(ls "$out"/norvex_"$version"_*.deb)
changes=$(ls "$out"/norvex_"$version"_*.changes)
echo "built: $deb"
stage "built"
dpkg-deb -f "$deb" Package Version Depends Recommends

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/norvex ./usr/bin/norvex-sim \
         ./usr/share/applications/org.norvex.Norvex.desktop \
         ./usr/share/metainfo/org.norvex.Norvex.metainfo.xml \
         ./usr/share/icons/hicolor/scalable/apps/norvex.svg \
         ./usr/share/icons/hicolor/16x16/apps/norvex.png \
         ./usr/share/icons/hicolor/48x48/apps/norvex.png \
         ./usr/share/icons/hicolor/256x256/apps/norvex.png \
         ./usr/share/man/man1/norvex.1.gz ./usr/share/man/man1/norvex-sim.1.gz \
         ./usr/share/doc/norvex/copyright ./usr/share/doc/norvex/changelog.gz; do
    grep -qx -- "$f" <<<"$contents" || { echo "the package lacks $f" >&2; exit 1; }
done
# Nothing of the build's own: no tests, benchmarks or libraries.
if grep -E '(_test|_bench|\.a)$' <<<"$contents"; then
    echo "the package holds build-only files" >&2
    exit 1
fi
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'libqt6widgets6' <<<"$depends" || { echo "the dependencies were not computed from the binaries" >&2; exit 1; }
# The X11 platform plugin comes with libqt6gui6; Debian ships the Wayland one on its own.
grep -q 'libqt6gui6' <<<"$depends" || { echo "the package does not depend on libqt6gui6 (X11)" >&2; exit 1; }
grep -q 'qt6-wayland' <<<"$depends" || { echo "the package does not depend on qt6-wayland" >&2; exit 1; }
# Every dependency can be met from the system's package sources (nothing is installed).
apt-get install --simulate -qq "$(realpath "$deb")" >/dev/null

# lintian over the package, its debug symbols and the build information: no error, no warning,
# none of the hardening notes that are only informational, and lintian itself ran.
bash scripts/lintian-check.sh "$changes"
stage "lintian"

root=$(mktemp -d)
installed=false
# A check that fails after the install still removes the package: the next run must not find it.
cleanup() {
    rm -rf "$root"
    if $installed; then DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y -qq norvex >/dev/null 2>&1 || true; fi
}
trap cleanup EXIT
dpkg -x "$deb" "$root"
bin="$root/usr/bin"
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@"; }
packaged=$(run "$bin/norvex" --version)
[ "$packaged" = "norvex $version" ] || { echo "norvex --version said: $packaged" >&2; exit 1; }
# Read whole before searching: grep -q would stop reading early and the writer end on SIGPIPE.
help=$(run "$bin/norvex" --help)
grep -q -- '--batch' <<<"$help" || { echo "norvex --help lacks the batch mode" >&2; exit 1; }
simHelp=$("$bin/norvex-sim" --help)
grep -q -- '--link' <<<"$simHelp" || { echo "norvex-sim --help lacks --link" >&2; exit 1; }
echo "packaged: $packaged"

# The window, as an ordinary user where this runs as root.
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    chmod 0755 "$root"
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups env HOME=/nonexistent)
fi
"${as_user[@]}" bash scripts/window-check.sh "$bin/norvex"
stage "window checks"

if $install; then
    install_check
    stage "installed, run and purged"
fi
echo "package stage: $((($(date +%s%N) - start) / 1000000)) ms"
# Last, once every check has passed: a tool that reads this line never gets a package that failed.
echo "package: $deb ($(du -k "$deb" | cut -f1) KiB)"
