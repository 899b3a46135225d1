#!/usr/bin/env bash
# Records a scripted 32-player match of 10 game minutes (at 20 game seconds a real second) and
# prints what one spectator's stream costs: bytes per second, mean and peak, and the full state.
# Usage: scripts/stream-rate.sh [GAME_SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
build=build/release
echo "stream-rate: building ($build)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKOVITV_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target simhost kovitv_mm bench_stream_rate >/dev/null
game=$(mktemp -d)/cstrike
trap 'rm -rf "$(dirname "$game")"' EXIT
mkdir -p "$game/addons"
cp -r dist/addons/kovitv "$game/addons/kovitv"
sed -i 's/^#* *record_demos.*/record_demos on/' "$game/addons/kovitv/config.ini"
echo "stream-rate: playing $seconds game seconds with 32 players"
"$build/simhost" --game "$game" --players 32 --speed 20 --duration "$seconds" --no-stdin >/dev/null
demo=$(find "$game" -name '*.kdem' | head -1)
[ -n "$demo" ] || { echo "stream-rate: no demo was recorded" >&2; exit 1; }
"$build/bench_stream_rate" "$demo"
