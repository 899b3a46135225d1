#!/usr/bin/env bash
# Builds the archives an admin installs from: kovitv-<version>.zip and kovitv-<version>.tar.gz,
# each holding addons/kovitv/ with both plugin libraries, config.ini, the pages, the browser
# viewer, the overviews folder and INSTALL.txt. Unpacked into the game folder (cstrike/), it is
# the whole install but for one line in Metamod's plugins.ini.
set -uo pipefail
cd "$(dirname "$0")/.."

usage() {
    cat <<USAGE
usage: scripts/package.sh [--out DIR] [--i386 BUILD_DIR] [--win32 BUILD_DIR]
  --out DIR      where the archives go (default build/package)
  --i386 DIR     a build folder holding kovitv_mm_i386.so (default: build/pkg-i386, built
                 here as Release when it has none)
  --win32 DIR    a build folder holding kovitv_mm.dll (default: build/pkg-win32, likewise)
Prints the two archives' paths. Exit status 0 both written; 1 a build or the packing failed;
2 bad usage.
USAGE
}

out=build/package i386= win32=
while [ $# -gt 0 ]; do
    case "$1" in
        -h|--help) usage; exit 0;;
        --out|--i386|--win32)
            [ $# -ge 2 ] || { usage >&2; exit 2; }
            case "$1" in --out) out=$2;; --i386) i386=$2;; --win32) win32=$2;; esac
            shift 2;;
        *) echo "package.sh: unknown argument $1" >&2; usage >&2; exit 2;;
    esac
done

# The version as the plugin reports it ("Beta 13"), and as a file name ("beta-13").
version=$(sed -n 's/.*KOVITV_VERSION\[\] = "\(.*\)";.*/\1/p' src/host/host.h)
[ -n "$version" ] || { echo "package.sh: cannot read the version from src/host/host.h"; exit 1; }
slug=$(echo "$version" | tr 'A-Z' 'a-z' | tr -cs 'a-z0-9.' '-' | sed 's/^-*//; s/-*$//')

build_lib() {  # build_lib DIR TOOLCHAIN FILE: builds the plugin into DIR when FILE is missing
    local dir=$1 toolchain=$2 file=$3
    [ -f "$dir/$file" ] && return 0
    echo "package.sh: building $file in $dir"
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DKOVITV_TESTS=OFF \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" >"$dir.configure.log" 2>&1 \
        && cmake --build "$dir" --target kovitv_mm -j"$(nproc 2>/dev/null || echo 2)" \
            >"$dir.build.log" 2>&1 \
        || { echo "package.sh: the build failed; see $dir.configure.log and $dir.build.log"; return 1; }
}
i386=${i386:-build/pkg-i386}
win32=${win32:-build/pkg-win32}
mkdir -p build
build_lib "$i386" cmake/i386-linux.cmake kovitv_mm_i386.so || exit 1
build_lib "$win32" cmake/mingw-w64-i686.cmake kovitv_mm.dll || exit 1

stage=$out/stage
rm -rf "$stage"
folder=$stage/addons/kovitv
mkdir -p "$folder/overviews"
cp -r dist/addons/kovitv/. "$folder/"
rm -rf "$folder/demos"  # a dist folder used by hand may hold recordings
cp "$i386/kovitv_mm_i386.so" "$win32/kovitv_mm.dll" "$folder/"
# Debug information stays in the build; the symbols stay for the admin's backtraces.
strip --strip-debug "$folder/kovitv_mm_i386.so" \
    && i686-w64-mingw32-strip --strip-debug "$folder/kovitv_mm.dll" \
    || { echo "package.sh: cannot strip the libraries (binutils, binutils-mingw-w64-i686)"; exit 1; }
cat >"$folder/overviews/README.txt" <<'TEXT'
Map overviews for the browser viewer: for each map, <map>.txt (the game's overview
description: ZOOM, ORIGIN, ROTATED) and <map>.bmp (its picture). Copy them from the game's
own overviews folder (cstrike/overviews/), or set "ext_overviews on" in config.ini and the
plugin copies each map's files to exoverviews/ in the server's folder as the map starts.
Without them the viewer draws the map on a grid fitted to where the players have been.
TEXT
# The archives hold no build-machine owners, and the last commit's time for every file.
stamp=$(git log -1 --format=%ct 2>/dev/null || date +%s)
find "$stage" -exec touch -d "@$stamp" {} +

base=$out/kovitv-$slug
rm -f "$base.tar.gz" "$base.zip"
tar -C "$stage" --sort=name --owner=0 --group=0 --numeric-owner -czf "$base.tar.gz" addons \
    || { echo "package.sh: tar failed"; exit 1; }
python3 - "$stage" "$base.zip" <<'PY' || { echo "package.sh: writing the zip failed"; exit 1; }
import os, sys, time, zipfile
stage, target = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as z:
    for root, dirs, files in os.walk(stage):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(root, name)
            stamp = time.gmtime(max(os.stat(path).st_mtime, 315532800))[:6]
            info = zipfile.ZipInfo(os.path.relpath(path, stage), stamp)
            info.external_attr = (0o100000 | (os.stat(path).st_mode & 0o777)) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as f:
                z.writestr(info, f.read())
PY
echo "$base.zip"
echo "$base.tar.gz"
