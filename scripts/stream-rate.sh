#!/usr/bin/env bash
# Records a scripted 32-player match of 10 game minutes (at 20 game seconds a real second) and
# prints what one spectator's stream costs: bytes per second, mean and peak, and the full state.
# Usage: scripts/stream-rate.sh [GAME_SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh
seconds=${1:-600}
build=build/release
echo "stream-rate: building ($build)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKOVITV_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target simhost kovitv_mm bench_stream_rate >/dev/null
game=$(mktemp -d)/cstrike
trap 'rm -rf "$(dirname "$game")"' EXIT
echo "stream-rate: playing $seconds game seconds with 32 players"
demo=$(kovitv_record_match "$build" "$seconds" "$game") \
    || { echo "stream-rate: no demo was recorded" >&2; exit 1; }
"$build/bench_stream_rate" "$demo"
