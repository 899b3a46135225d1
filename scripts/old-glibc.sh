#!/usr/bin/env bash
# Runs the i386 plugin on an older glibc than the build machine's: Debian bullseye's libc6:i386
# (glibc 2.31, the oldest Debian's package servers still carry) is downloaded and unpacked into
# build/oldglibc/ (never installed); under that glibc's loader, loadcheck opens the plugin with
# RTLD_NOW, finds its four exports, calls Meta_Query and unwinds an exception, then simhost plays
# a short match with the plugin while the Linux spectator (spectate) receives the delayed stream
# and the web page is fetched.
# Usage: scripts/old-glibc.sh [BUILD_DIR]   (the i386 build, default build/i386)
# Exit status: 0 passed, 1 failed, 2 bad usage, 77 skipped (the package could not be downloaded;
# the line starting "SKIPPED:" says why).
set -uo pipefail
case "${1:-}" in -h|--help) sed -n '2,10s/^# \{0,1\}//p' "$0"; exit 0;; esac
cd "$(dirname "$0")/.."
. scripts/setup.sh
build=${1:-build/i386}
suite=${KOVITV_OLD_GLIBC_SUITE:-bullseye}  # another Debian suite to take libc6:i386 from
for f in simhost loadcheck spectate kovitv_mm_i386.so libkovitv_unwind_probe.so; do
    [ -e "$build/$f" ] || { echo "old-glibc: $build/$f is missing (build the i386 targets first)"; exit 2; }
done

# --- the old glibc -------------------------------------------------------------------------------
# A scratch apt configuration that knows only that suite's i386 packages: the system's sources,
# lists and architectures stay as they are.
work=build/oldglibc/$suite
apt_dir=$work/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/parts"
printf 'deb [arch=i386 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian %s main\n' \
    "$suite" > "$apt_dir/sources.list"
apt=(apt-get -q -o "Dir::Etc::SourceList=$PWD/$apt_dir/sources.list"
     -o "Dir::Etc::SourceParts=$PWD/$apt_dir/parts" -o "Dir::State::Lists=$PWD/$apt_dir/lists"
     -o "Dir::Cache=$PWD/$apt_dir/cache" -o "Dir::State::status=/dev/null"
     -o "APT::Architecture=i386" -o "APT::Architectures::=i386" -o "Debug::NoLocking=1")
deb=$(ls "$work"/libc6_*_i386.deb 2>/dev/null | head -n 1)
if [ -z "$deb" ]; then
    if ! out=$( (cd "$work" && "${apt[@]}" update && "${apt[@]}" download libc6:i386) 2>&1); then
        echo "$out" | tail -n 5
        echo "SKIPPED: the plugin on an older glibc (cannot download Debian $suite's libc6:i386:" \
             "$(grep -E '^E:' <<<"$out" | head -n 1))"
        exit 77
    fi
    deb=$(ls "$work"/libc6_*_i386.deb 2>/dev/null | head -n 1)
    [ -n "$deb" ] || { echo "SKIPPED: the plugin on an older glibc (apt-get download left no package)"; exit 77; }
fi
root=$work/root
rm -rf "$root"
dpkg-deb -x "$deb" "$root" || { echo "old-glibc: cannot unpack $deb"; exit 1; }
libs=$root/lib/i386-linux-gnu
loader=$libs/ld-linux.so.2
[ -x "$loader" ] || { echo "old-glibc: $deb holds no $loader"; exit 1; }
old() { "$loader" --library-path "$libs" "$@"; }
version=$(old "$libs/libc.so.6" 2>/dev/null | sed -nE '1s/.*version ([0-9]+\.[0-9]+).*/\1/p')
echo "old-glibc: $(basename "$deb"), glibc ${version:-?}"

failed=0
fail() { echo "FAILED: $*"; failed=1; }

# --- the plugin alone, as Metamod opens it ------------------------------------------------------
out=$(old "$build/loadcheck" --unwind "$build/libkovitv_unwind_probe.so" "$build/kovitv_mm_i386.so" 2>&1)
status=$?
echo "$out"
[ "$status" = 0 ] || fail "loadcheck under glibc $version (status $status)"
grep -q "^glibc $version\$" <<<"$out" || fail "loadcheck did not run on glibc $version"

# --- a short match in simhost under the same glibc ----------------------------------------------
kovitv_scratch_game oldglibc
# 80 game seconds at 10 times real time: the 30 s delay passes in 3 s.
"$loader" --library-path "$libs" "$build/simhost" --plugin "$build/kovitv_mm_i386.so" --game "$game" \
    --cvar "net_address=127.0.0.1:$tcp_port" --players 10 --speed 10 --duration 80 --no-stdin \
    --exec kovitv --exec "@50 changelevel de_second" > "$game/simhost.log" 2>&1 &
sim_pid=$!
page=
for _ in $(seq 50); do
    page=$(kovitv_http_get "http://127.0.0.1:$tcp_port/") && [ -n "$page" ] && break
    sleep 0.2
done
mapped=$(grep -oE '[^/ ]*libc-[0-9.]+\.so' "/proc/$sim_pid/maps" 2>/dev/null | sort -u | tr '\n' ' ')
echo "simhost's libc: $mapped"
[ "$mapped" = "libc-$version.so " ] || fail "simhost did not run on glibc $version's libc (maps: $mapped)"
grep -qi '<html' <<<"$page" && echo "web page: $(wc -c <<<"$page") bytes from port $tcp_port" \
    || fail "no web page from the plugin on port $tcp_port"
"$build/spectate" --server "127.0.0.1:$udp_port" --json --duration 6 > "$game/spectate.jsonl" 2>&1
states=$(grep -c '"state"' "$game/spectate.jsonl")
echo "spectate: $states states, $(grep -c '"kill"' "$game/spectate.jsonl") kills; last: $(grep '"state"' "$game/spectate.jsonl" | tail -n 1 | cut -c1-160)"
[ "$states" -gt 0 ] || fail "the spectator received no state from the plugin on glibc $version"
wait "$sim_pid"
status=$?
sim_pid=
tail -n 6 "$game/simhost.log"
[ "$status" = 0 ] || fail "simhost under glibc $version exited with $status"
for want in "Kovi TV initialization end" "Gameplay sender: running" "map de_second running" \
            "plugin detached"; do
    grep -qF "$want" "$game/simhost.log" || fail "simhost under glibc $version: missing \"$want\""
done
[ "$failed" = 0 ] && echo "old-glibc: the plugin loads and plays on glibc $version"
exit "$failed"
