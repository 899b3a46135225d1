#!/usr/bin/env bash
# Builds the plugin and shows the whole system: simhost (the simulated dedicated server) plays a
# scripted match with the plugin from the default plugin folder (dist/addons/kovitv), recording a
# demo, and spectate watches the delayed stream live in this terminal.
#
#   ./run.sh              simhost in the background, spectate's live view in front (q quits);
#                         the browser viewer's address is printed first
#   ./run.sh --console    simhost's console instead: type "kovitv", "kovitv delay 45",
#                         "changelevel de_other", "quit"; extra arguments go to simhost
#
# The game clock runs at twice real time (SPEED=N to change), so the 30-second delay passes in
# 15 seconds. Without a terminal it plays a short session and prints what spectate received.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/setup.sh
kovitv_need_native

echo "run.sh: building (build/release)"
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DKOVITV_TESTS=OFF >/dev/null
cmake --build build/release -j"$(nproc)" >/dev/null

# A scratch game folder, so demos and extracted files never land in the source tree.
run=build/run
game=$run/cstrike
mkdir -p "$game/addons"
rm -rf "$game/addons/kovitv"
cp -r dist/addons/kovitv "$game/addons/kovitv"
sed -i 's/^#* *record_demos .*/record_demos on/' "$game/addons/kovitv/config.ini"
udp_port=$(sed -n 's/^udp_port \([0-9]*\).*/\1/p' "$game/addons/kovitv/config.ini")
udp_port=${udp_port:-52001}

tcp_port=27015
viewer="http://127.0.0.1:$tcp_port/viewer/index.html"
args=(--game "$game" --cvar "net_address=127.0.0.1:$tcp_port" --map de_kovi --map de_kovi_b
      --map-time 600 --speed "${SPEED:-2}")

show_viewer() {
    echo "run.sh: ------------------------------------------------------------------"
    echo "run.sh:   Watch in a browser:  $viewer"
    echo "run.sh:   (live, delayed as configured; recorded maps under \"Recorded\")"
    echo "run.sh: ------------------------------------------------------------------"
}

if [ "${1:-}" = "--console" ]; then
    shift
    show_viewer
    echo "run.sh: simhost is running; type \"kovitv\" for the plugin's status, \"quit\" to stop."
    exec build/release/simhost "${args[@]}" --exec kovitv "$@"
fi

# simhost reads its console from a pipe we hold open, so it can be told to quit cleanly (which
# closes the demo file) whenever spectate ends.
console=$run/console
rm -f "$console"
mkfifo "$console"
build/release/simhost "${args[@]}" <"$console" >"$run/simhost.log" 2>&1 &
simhost=$!
exec 3>"$console"
finish() {
    echo quit >&3 2>/dev/null || true
    exec 3>&- || true
    wait "$simhost" 2>/dev/null || true
    rm -f "$console"
    echo "run.sh: simhost stopped; its output is in $run/simhost.log"
    # The plugin folder is fresh for every run: every demo in it is this run's.
    local demo
    for demo in $(find "$game/addons/kovitv/demos" -name '*.kdem' 2>/dev/null | sort); do
        echo "run.sh: a demo went to $demo (see: build/release/kdem info $demo)"
    done
}
trap finish EXIT

if [ -t 0 ] && [ -t 1 ]; then
    show_viewer
    echo "run.sh: the match has started; the stream arrives after the delay (about 15 s)."
    echo "run.sh: the terminal view follows in a moment (q quits, which also stops the server)."
    sleep 4
    build/release/spectate --server "127.0.0.1:$udp_port" || true
else
    show_viewer
    echo "run.sh: no terminal: watching 20 seconds of the stream as JSON lines"
    build/release/spectate --server "127.0.0.1:$udp_port" --json --duration 20 >"$run/spectate.jsonl" || true
    echo "run.sh: spectate received $(grep -c '"state"' "$run/spectate.jsonl" || true) states," \
         "$(grep -c '"kill"' "$run/spectate.jsonl" || true) kills;" \
         "the last state: $(grep '"state"' "$run/spectate.jsonl" | tail -1 | cut -c1-200)"
fi
