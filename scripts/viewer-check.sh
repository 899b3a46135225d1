#!/usr/bin/env bash
# The browser viewer in headless Chromium (Debian's, driven by puppeteer-core) against the plugin
# in simhost: the start page, the live broadcast with the scripted match's players, names, teams
# and scores as simhost's trace has them, live pause, rewind and back to live, a map change, a
# recorded demo driven through every control and key, the address's round trip, a bad demo link
# and a phone's size; the layout at 390x844, 844x390, 1280x720 and 1920x1080, live and paused;
# smooth motion, shots and the automatic camera on a 32-player demo recorded first. Fails on a
# page error, a 404 the page caused, a control that does not move time as it should, a control
# on the map or a map cut off. Prints the time from page load to the first drawn frame, the
# frames drawn a second and frame times at 1x and 0.25x, and the live download per game second
# beside a UDP spectator's (when the build has spectate); screenshots go to build/artefacts/.
# The speed goals (first live frame under 300 ms, 50 frames a second moving the players, a
# frame's p95 under 4 ms) fail the check only with --timing, for a quiet machine; otherwise a
# miss is printed as "timing goal missed (not judged in this run ...)".
#
#   scripts/viewer-check.sh [--timing] [build folder holding simhost and the plugin, default build/asan]
# Installs chromium, node and npm when missing (Debian packages, as root) and puppeteer-core into
# tests/browser/node_modules. Exit status 0 only when every check passed.
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh
build=build/asan
artefacts=build/artefacts
speed=2  # as run.sh: the 30-second delay passes in 15 s
timing=()
for arg in "$@"; do
    case $arg in
        --help|-h) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        --timing) timing=(--timing) ;;
        -*) echo "viewer-check: unknown option $arg (see --help)"; exit 2 ;;
        *) build=$arg ;;
    esac
done
[ -x "$build/simhost" ] || { echo "viewer-check: no simhost in $build (build it first)"; exit 1; }
need=()
command -v chromium >/dev/null || need+=(chromium)
command -v node >/dev/null || need+=(nodejs)
command -v npm >/dev/null || need+=(npm)
kovitv_install "${need[@]}" || { echo "viewer-check: cannot install ${need[*]}"; exit 1; }
if [ ! -f tests/browser/node_modules/puppeteer-core/package.json ] ||
   [ tests/browser/package-lock.json -nt tests/browser/node_modules/.package-lock.json ]; then
    echo "viewer-check: installing puppeteer-core (npm ci in tests/browser)"
    (cd tests/browser && npm ci --no-audit --no-fund --loglevel=error >/dev/null) \
        || { echo "viewer-check: npm ci failed in tests/browser"; exit 1; }
fi

kovitv_scratch_game viewer
mkdir -p "$artefacts"
printf 'record_demos on\n' >> "$game/addons/kovitv/config.ini"
delay=$(sed -n 's/^delay \([0-9]*\).*/\1/p' "$game/addons/kovitv/config.ini" | tail -1)

# A 32-player match for the motion figures, recorded before the live match starts.
demo32=$(kovitv_record_match "$build" 200 "$game/match32") \
    || { echo "viewer-check: the 32-player match recorded no demo"; exit 1; }

started=$(date +%s%3N)
"$build/simhost" --game "$game" --cvar "net_address=127.0.0.1:$tcp_port" \
    --cvar "hostname=Viewer Check Arena" --no-stdin --speed "$speed" --duration 600 \
    --match-length 2 --map de_kovi --map de_kovi_b --trace "$game/trace.jsonl" \
    > "$game/simhost.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    curl -s -o /dev/null --max-time 2 "http://127.0.0.1:$tcp_port/" && break
    sleep 0.2
done

spectate=()
[ -x "$build/spectate" ] && spectate=(--spectate "$build/spectate" --udp "$udp_port")
node tests/browser/viewer.mjs --base "http://127.0.0.1:$tcp_port" --trace "$game/trace.jsonl" \
    --started "$started" --speed "$speed" --delay "${delay:-30}" --artefacts "$artefacts" --demo32 "$demo32" "${spectate[@]}" "${timing[@]}"
failed=$?
echo "viewer-check: screenshots in $artefacts/viewer-*.png ($(( ($(date +%s%3N) - started) / 1000 )) s in all)"
if [ $failed -ne 0 ]; then
    echo "--- simhost"; tail -20 "$game/simhost.log"
fi
exit $failed
