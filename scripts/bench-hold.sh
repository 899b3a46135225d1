#!/usr/bin/env bash
# How long the game's main thread is held inside the plugin at a map change, at `kovitv reload`
# and at shutdown, the moments the plugin stops and starts its threads. simhost --hook-times
# plays a 10-player match on a map cycle with demos recorded while spectate clients and web
# visitors (kept-alive connections, idle or polling the stream, and requests held for the next
# fragment) are served; it prints the longest of each beside the goal and, as the anchor, what
# the machine alone added in the same run (the longest call around nothing, and the p99.9 of a
# fixed piece of arithmetic).
#
#   scripts/bench-hold.sh [--build DIR] [--maps N] [--reloads N] [--visitors N] [--help]
# Exit status: 0 every figure met its goal, 1 one did not, 2 bad usage, 3 no build or no run.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh

build=build/release
maps=6
reloads=4
visitors=16
goal_ms=5
usage() { sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; }
while [ $# -gt 0 ]; do
    case "$1" in
        --build) build=$2; shift 2 ;;
        --maps) maps=$2; shift 2 ;;
        --reloads) reloads=$2; shift 2 ;;
        --visitors) visitors=$2; shift 2 ;;
        --help|-h) usage; exit 0 ;;
        *) echo "bench-hold: unknown argument $1 (see --help)" >&2; exit 2 ;;
    esac
done
for tool in simhost spectate; do
    [ -x "$build/$tool" ] || { echo "bench-hold: no $build/$tool (cmake --build $build --target simhost kovitv_mm spectate)" >&2; exit 3; }
done

work=$(mktemp -d /tmp/kovitv-hold-XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 3' INT TERM

map_seconds=12
speed=2
game_seconds=$(( (maps + 1) * map_seconds ))
folder="$work/game/addons/kovitv"
mkdir -p "$work/game/addons"
cp -r dist/addons/kovitv "$folder"
tcp=$(kovitv_free_port tcp)
udp=$(kovitv_free_port udp)
printf '\nudp_port %s\nrecord_demos 1\n' "$udp" >> "$folder/config.ini"
args=(--game "$work/game" --cvar "net_address=127.0.0.1:$tcp" --no-stdin --hook-times
      --speed "$speed" --duration "$game_seconds" --map-time "$map_seconds")
for i in $(seq "$maps"); do args+=(--map "de_hold$i"); done
# Reloads spread over the run, away from the map changes.
for i in $(seq "$reloads"); do
    args+=(--exec "@$(( i * game_seconds / (reloads + 1) + map_seconds / 3 )) kovitv reload")
done

timeout $(( game_seconds / speed + 60 )) "$build/simhost" "${args[@]}" > "$work/simhost.out" 2>&1 &
sim=$!
pids+=("$sim")
for _ in $(seq 100); do
    curl -s -o /dev/null --max-time 1 "http://127.0.0.1:$tcp/" && break
    sleep 0.1
done

for _ in 1 2 3; do
    timeout $(( game_seconds / speed + 10 )) "$build/spectate" --server "127.0.0.1:$udp" --json \
        --duration $(( game_seconds / speed + 5 )) > /dev/null 2>&1 &
    pids+=("$!")
done
# Visitors: a third keep one connection polling the stream's sync, a third keep one idle until
# the server closes it (after a close they connect again), a third ask for the fragment after
# the newest, which the server holds until it is out, as browser viewers do.
python3 - "$tcp" "$visitors" $(( game_seconds / speed + 5 )) > /dev/null 2>&1 <<'PY' &
import re, socket, sys, threading, time
port, count, seconds = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
end = time.time() + seconds
def answer(path):
    with socket.create_connection(("127.0.0.1", port), timeout=15) as s:
        s.sendall(b"GET " + path + b" HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
        data = b""
        while True:
            chunk = s.recv(65536)
            if not chunk: return data
            data += chunk
def holder():
    while time.time() < end:
        try:
            m = re.search(rb'"fragment":(\d+)', answer(b"/live/sync"))
            if m: answer(b"/live/%d/body" % (int(m.group(1)) + 1))
            else: time.sleep(0.2)
        except OSError:
            time.sleep(0.1)
def visitor(polling):
    while time.time() < end:
        try:
            s = socket.create_connection(("127.0.0.1", port), timeout=2)
            while time.time() < end:
                if polling:
                    s.sendall(b"GET /live/sync HTTP/1.1\r\nHost: x\r\n\r\n")
                if not s.recv(65536): break
                time.sleep(0.2)
        except OSError:
            time.sleep(0.1)
threads = [threading.Thread(target=holder, daemon=True) if i % 3 == 2 else
           threading.Thread(target=visitor, args=(i % 3 == 0,), daemon=True) for i in range(count)]
for t in threads: t.start()
time.sleep(max(0, end - time.time()))
PY
pids+=("$!")

status=0
wait "$sim" || status=$?
if [ "$status" -ne 0 ]; then
    echo "bench-hold: simhost exited with status $status" >&2
    tail -5 "$work/simhost.out" >&2
    exit 3
fi

# The max column (6th from the end) of a hook-times row, in milliseconds.
row_max() {
    awk -v name="$1" 'index($0, name) == 1 { printf "%.3f", $(NF-5) / 1000; found = 1 }
                      END { if (!found) print "-" }' "$work/simhost.out"
}
row_calls() {
    awk -v name="$1" 'index($0, name) == 1 { print $(NF-9); found = 1 }
                      END { if (!found) print 0 }' "$work/simhost.out"
}
p999() {
    awk -v name="$1" 'index($0, name) == 1 { printf "%.3f", $(NF-6) / 1000 }' "$work/simhost.out"
}

echo "bench-hold: $maps maps of $map_seconds game s at ${speed}x, $reloads reloads, 3 spectators,"
echo "            $visitors web visitors, demos recorded; the longest main-thread hold, ms"
printf '%-32s %7s %10s %8s\n' "" "calls" "longest" "goal"
failed=0
for name in "map change (every plugin call)" "console kovitv reload" "GameShutdown pre"; do
    ms=$(row_max "$name")
    verdict=$(awk -v v="$ms" -v g="$goal_ms" 'BEGIN { print (v != "-" && v + 0 < g) ? "met" : "MISSED" }')
    [ "$verdict" = met ] || failed=1
    printf '%-32s %7s %10s %8s  %s\n' "$name" "$(row_calls "$name")" "$ms" "< $goal_ms" "$verdict"
done
echo "anchor (same run): the longest call around nothing $(row_max "(the clock alone)") ms," \
     "fixed arithmetic p99.9 $(p999 "(fixed arithmetic)") ms"
exit "$failed"
