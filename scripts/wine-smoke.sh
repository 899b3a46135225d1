#!/usr/bin/env bash
# The Windows DLL attaches, runs, changes map, answers the console and shuts down under the
# Windows simhost, both run by wine; meanwhile the Linux spectator (spectate, a native program)
# receives the delayed stream from it over loopback and the web page is fetched from it.
# Usage: scripts/wine-smoke.sh BUILD_DIR [--spectate PATH]
#   BUILD_DIR holds simhost.exe and kovitv_mm.dll; spectate is looked for in build/i386,
#   build/asan, build/native and build/release unless given.
# Exit status: 0 passed, 1 failed, 2 bad usage, 77 skipped (wine cannot run here; the line
# starting "SKIPPED:" says why).
set -uo pipefail
case "${1:-}" in -h|--help|'') sed -n '2,9s/^# \{0,1\}//p' "$0"; [ -n "${1:-}" ]; exit $((2 * $?));; esac
dir=$(cd "$1" && pwd) || exit 2
shift
spectate=
while [ "$#" -gt 0 ]; do
    case "$1" in
        --spectate) spectate=${2:?--spectate needs a path}; shift 2;;
        *) echo "wine-smoke: unknown argument $1" >&2; exit 2;;
    esac
done
cd "$(dirname "$0")/.."
. scripts/setup.sh
for f in simhost.exe kovitv_mm.dll; do
    [ -e "$dir/$f" ] || { echo "wine-smoke: $dir/$f is missing (build the win32 targets first)"; exit 2; }
done
if [ -z "$spectate" ]; then
    for b in build/i386 build/asan build/native build/release; do
        [ -x "$b/spectate" ] && { spectate=$b/spectate; break; }
    done
fi
[ -x "${spectate:-}" ] || { echo "wine-smoke: no spectate found (build it, or give --spectate PATH)"; exit 2; }
if ! kovitv_need_wine; then
    echo "SKIPPED: the DLL under wine ($KOVITV_WINE_PROBLEM)"
    exit 77
fi

kovitv_scratch_game wine
export WINEPREFIX=${WINEPREFIX:-$PWD/build/wineprefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# 120 game seconds at 10 times real time: the 30 s delay passes in 3 s; the console commands
# come after the spectator has had its stream.
timeout 600 wine "$dir/simhost.exe" --plugin "$dir/kovitv_mm.dll" --game "$game" \
    --cvar "net_address=127.0.0.1:$tcp_port" --players 10 --speed 10 --duration 120 --no-stdin \
    --exec "kovitv" --exec "@80 changelevel de_second" --exec "@90 kovitv delay 45" \
    --exec "@100 kovitv_version" > "$game/simhost.log" 2>&1 &
sim_pid=$!

failed=0
fail() { echo "FAILED: $*"; failed=1; }
# wine's first start in a fresh prefix takes a while.
page=
for _ in $(seq 300); do
    page=$(kovitv_http_get "http://127.0.0.1:$tcp_port/") && [ -n "$page" ] && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.2
done
grep -qi '<html' <<<"$page" && echo "web page: $(wc -c <<<"$page") bytes from simhost.exe on port $tcp_port" \
    || fail "no web page from the DLL on port $tcp_port"
"$spectate" --server "127.0.0.1:$udp_port" --json --duration 6 > "$game/spectate.jsonl" 2>&1
states=$(grep -c '"state"' "$game/spectate.jsonl")
echo "spectate ($spectate): $states states, $(grep -c '"kill"' "$game/spectate.jsonl") kills;" \
     "last: $(grep '"state"' "$game/spectate.jsonl" | tail -n 1 | cut -c1-160)"
[ "$states" -gt 0 ] || fail "the Linux spectator received no state from the DLL under wine"

wait "$sim_pid"
status=$?
sim_pid=
tail -n 40 "$game/simhost.log"
[ "$status" = 0 ] || fail "simhost.exe exited with $status"
for want in "Kovi TV initialization end" "Gameplay sender: running" "Setting delay to 45 seconds." \
            "map de_second running" "GameShutdown :: End" "plugin detached"; do
    grep -qF "$want" "$game/simhost.log" || fail "missing: $want"
done
[ "$failed" = 0 ] && echo "wine-smoke: the DLL ran under $(wine --version 2>/dev/null)"
exit "$failed"
