#!/usr/bin/env bash
# Records a scripted 32-player match of 5 game minutes and prints what forged heartbeats can do:
# the amplification of one heartbeat and the effect of a heartbeat flood on spectators watching.
# Usage: scripts/udp-abuse.sh [GAME_SECONDS]    (about 30 s of real time)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh
if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then
    sed -n '2,4p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
fi
seconds=${1:-300}
case $seconds in '' | *[!0-9]*) echo "udp-abuse: GAME_SECONDS must be a number" >&2; exit 2 ;; esac
build=build/release
echo "udp-abuse: building ($build)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKOVITV_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target simhost kovitv_mm bench_udp_abuse >/dev/null
game=$(mktemp -d)/cstrike
trap 'rm -rf "$(dirname "$game")"' EXIT
echo "udp-abuse: playing $seconds game seconds with 32 players"
demo=$(kovitv_record_match "$build" "$seconds" "$game") \
    || { echo "udp-abuse: no demo was recorded" >&2; exit 1; }
"$build/bench_udp_abuse" "$demo"
