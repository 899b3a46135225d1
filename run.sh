#!/usr/bin/env bash
# Builds the plugin and starts it inside simhost, the simulated dedicated server, with the default
# plugin folder (dist/addons/kovitv). Interactive on a terminal: type console commands such as
# "kovitv", "kovitv delay 45", "kovitv_version", "changelevel de_other" or "quit". Without a
# terminal it plays a short scripted session and quits.
# Extra arguments go to simhost (see: build/release/simhost --help).
set -euo pipefail
cd "$(dirname "$0")"
. scripts/setup.sh
kovitv_need_native

echo "run.sh: building (build/release)"
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DKOVITV_TESTS=OFF >/dev/null
cmake --build build/release -j"$(nproc)" >/dev/null

# A scratch game folder, so demos and extracted files never land in the source tree.
game=build/run/cstrike
mkdir -p "$game/addons"
rm -rf "$game/addons/kovitv"
cp -r dist/addons/kovitv "$game/addons/kovitv"

args=(--game "$game" --cvar "net_address=127.0.0.1:27015" --map de_kovi)
if [ -t 0 ]; then
    echo "run.sh: simhost is running; type \"kovitv\" for the plugin's status, \"quit\" to stop."
    exec build/release/simhost "${args[@]}" --exec kovitv "$@"
fi
exec build/release/simhost "${args[@]}" --duration 6 --no-stdin \
    --exec kovitv --exec "@1 kovitv_version" --exec "@2 kovitv delay 45" \
    --exec "@3 kovitv record on" --exec "@4 changelevel de_kovi_b" --exec "@5 kovitv" "$@"
