#!/usr/bin/env bash
# Installs the archives as an admin would and runs the result: unpacks kovitv-<version>.tar.gz
# into a scratch game folder (and the .zip beside it: both must hold the same files), adds the
# plugins.ini line INSTALL.txt gives for Linux, starts the i386 simhost from that plugins.ini,
# and checks that the plugin attached from the archive's folder, that a spectator receives the
# delayed stream and that the web server serves the archive's own pages.
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh

usage() {
    cat <<USAGE
usage: scripts/package-check.sh ARCHIVE_DIR I386_BUILD [SPECTATE]
  ARCHIVE_DIR  the folder scripts/package.sh wrote (kovitv-*.tar.gz and kovitv-*.zip)
  I386_BUILD   an i386 build folder holding simhost (the server the library runs in)
  SPECTATE     the spectate program that watches the stream (default I386_BUILD/spectate)
Exit status 0 the install ran; 1 a check failed; 2 bad usage.
USAGE
}
case "${1:-}" in -h|--help) usage; exit 0;; esac
[ $# -ge 2 ] || { usage >&2; exit 2; }
archives=$1 build=$2 spectate=${3:-$2/spectate}
tgz=$(ls "$archives"/kovitv-*.tar.gz 2>/dev/null | head -1)
zip=$(ls "$archives"/kovitv-*.zip 2>/dev/null | head -1)
[ -n "$tgz" ] && [ -n "$zip" ] || { echo "package-check: no kovitv-*.tar.gz and .zip in $archives"; exit 2; }
[ -x "$build/simhost" ] || { echo "package-check: no simhost in $build"; exit 2; }
[ -x "$spectate" ] || { echo "package-check: no spectate at $spectate"; exit 2; }

failed=0
fail() { echo "FAILED: $*"; failed=1; }
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kovitv-install.XXXXXX")
simhost_pid=
cleanup() {
    [ -n "$simhost_pid" ] && kill "$simhost_pid" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

game=$scratch/cstrike
mkdir -p "$game" "$scratch/from-zip"
tar -xzf "$tgz" -C "$game" || { echo "FAILED: cannot unpack $tgz"; exit 1; }
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
    "$zip" "$scratch/from-zip" || { echo "FAILED: cannot unpack $zip"; exit 1; }
diff -r "$game/addons" "$scratch/from-zip/addons" >/dev/null \
    || fail "the .zip and the .tar.gz do not hold the same files"
folder=$game/addons/kovitv
for f in kovitv_mm_i386.so kovitv_mm.dll config.ini index.html toomany.html INSTALL.txt \
         viewer/index.html viewer/main.js overviews/README.txt; do
    [ -f "$folder/$f" ] || fail "the archive has no addons/kovitv/$f"
done

# The admin's steps: the Linux line from INSTALL.txt into Metamod's plugins.ini, the ports into
# config.ini (free ones here, for the test's sake).
line=$(sed -n 's/^ *Linux: *\(linux addons\/.*\)$/\1/p' "$folder/INSTALL.txt")
[ -n "$line" ] || { echo "FAILED: INSTALL.txt gives no Linux plugins.ini line"; exit 1; }
mkdir -p "$game/addons/metamod"
printf '; Metamod plugins\n%s\n' "$line" >"$game/addons/metamod/plugins.ini"
udp=$(kovitv_free_port udp) tcp=$(kovitv_free_port tcp)
sed -i "s/^udp_port .*/udp_port $udp/" "$folder/config.ini"
grep -q "^udp_port $udp" "$folder/config.ini" || fail "config.ini has no udp_port line to set"

# 40 game seconds at 4x: the 30 s delay passes and the stream flows for the last 10.
log=$scratch/simhost.log
"$build/simhost" --plugins-ini "$game/addons/metamod/plugins.ini" --game "$game" \
    --cvar "net_address=127.0.0.1:$tcp" --players 10 --speed 4 --duration 60 --no-stdin \
    --exec "@1 kovitv" >"$log" 2>&1 &
simhost_pid=$!
"$spectate" --server "127.0.0.1:$udp" --json --duration 13 >"$scratch/spectate.jsonl" 2>&1 &
spectate_pid=$!
sleep 2
page=$(curl -s --max-time 5 "http://127.0.0.1:$tcp/viewer/index.html")
[ "$page" = "$(cat "$folder/viewer/index.html")" ] \
    || fail "the web server did not serve the archive's viewer/index.html"
curl -s --max-time 5 -o /dev/null -w '%{http_code}' "http://127.0.0.1:$tcp/" | grep -qx 200 \
    || fail "the start page did not answer 200"
wait "$spectate_pid"
wait "$simhost_pid"; status=$?; simhost_pid=
[ "$status" = 0 ] || fail "simhost exited with $status"
grep -qF "Kovi TV initialization end" "$log" || fail "the plugin did not attach from plugins.ini"
grep -qF "Gameplay sender: running" "$log" || fail "the status shows no running sender"
states=$(grep -c '"state"' "$scratch/spectate.jsonl")
[ "$states" -gt 0 ] || fail "the spectator received no state"
if [ "$failed" = 0 ]; then
    echo "package-check: installed $(basename "$tgz") as an admin would; the plugin ran from" \
         "addons/kovitv, a spectator rebuilt $states states and the pages answered"
else
    echo "package-check: simhost's output:"; tail -40 "$log"
    echo "package-check: spectate's output:"; tail -5 "$scratch/spectate.jsonl"
fi
exit "$failed"
