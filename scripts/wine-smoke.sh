#!/usr/bin/env bash
# The Windows DLL attaches, runs, changes map, answers the console and shuts down under the
# Windows simhost, both run by wine. Usage: scripts/wine-smoke.sh BUILD_DIR
set -uo pipefail
dir=${1:?usage: wine-smoke.sh BUILD_DIR}
game=$(mktemp -d)
trap 'rm -rf "$game"' EXIT
mkdir -p "$game/addons/kovitv"
printf 'udp_port 0\n' > "$game/addons/kovitv/config.ini"
export WINEPREFIX=${WINEPREFIX:-$PWD/build/wineprefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
out=$(timeout 600 wine "$dir/simhost.exe" --plugin "$dir/kovitv_mm.dll" --game "$game" \
    --cvar net_address=127.0.0.1:0 --speed 0 --duration 4 --no-stdin \
    --exec "kovitv" --exec "@1 changelevel de_second" --exec "@2 kovitv delay 45" \
    --exec "@3 kovitv_version" 2>&1)
status=$?
echo "$out" | tail -n 40
[ "$status" = 0 ] || { echo "simhost.exe exited with $status"; exit 1; }
for want in "Kovi TV initialization end" "Gameplay sender: running" "Setting delay to 45 seconds." \
            "map de_second running" "GameShutdown :: End" "plugin detached"; do
    grep -qF "$want" <<<"$out" || { echo "missing: $want"; exit 1; }
done
