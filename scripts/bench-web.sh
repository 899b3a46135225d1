#!/usr/bin/env bash
# Benchmarks the applet web server inside simhost beside nginx serving the same folder on the
# same machine in the same run: wrk with kept-alive connections for the start page (8 and 50
# connections), a 100 KiB and a 2 MiB file (requests per second, the ratio to nginx and the
# longest latency of each), then new connections per second (one request per connection). Each
# row shows its goal and whether this run met it; the exit status does not depend on them.
#
#   scripts/bench-web.sh [build folder, default build/release] [seconds per run, default 10]
# Builds the folder (Release, no tests) when it has no simhost; installs wrk and nginx (Debian's,
# through setup.sh, which rides out a mirror caught mid-sync) when they are missing. simhost and nginx run in process groups of their own, which the script
# ends however it ends, and every run has a time-out. Exit status: 0 the figures were printed,
# 1 a tool was missing or a server did not answer.
set -euo pipefail
case "${1:-}" in -h|--help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;; esac
cd "$(dirname "$0")/.."
. scripts/setup.sh
build=${1:-build/release}
seconds=${2:-10}
connections=${KOVITV_BENCH_CONNECTIONS:-8}

need=()
command -v wrk >/dev/null || need+=(wrk)
command -v nginx >/dev/null || [ -x /usr/sbin/nginx ] || need+=(nginx)
kovitv_install "${need[@]}" || { echo "bench-web: missing ${need[*]}"; exit 1; }
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
if [ ! -x "$build/simhost" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKOVITV_TESTS=OFF >/dev/null
    cmake --build "$build" -j2 >/dev/null
fi

work=$(mktemp -d /tmp/kovitv-bench-XXXXXX)
sim_pid=
nginx_pid=
# Ends a process group started by setsid: politely, then after 5 s for good. It never fails: a
# failed kill or wait under set -e would end the cleanup early and leave a server running that
# holds the caller's output open (the script then seems never to return).
end_group() {
    local pid=$1
    [ -n "$pid" ] || return 0
    kill -TERM -- "-$pid" 2>/dev/null || kill -TERM "$pid" 2>/dev/null || return 0
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL -- "-$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}
cleanup() {
    set +e
    trap - EXIT INT TERM
    end_group "$sim_pid"
    end_group "$nginx_pid"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

folder="$work/game/addons/kovitv"
mkdir -p "$work/game/addons"
cp -r dist/addons/kovitv "$folder"
head -c 102400 /dev/urandom > "$folder/big.jpg"
head -c 2097152 /dev/urandom > "$folder/huge.jpg"
kovitv_port=$(kovitv_free_port tcp)
printf '\nudp_port %s\ntcp_queue 128\nmax_visitors 256\n' "$(kovitv_free_port udp)" >> "$folder/config.ini"
setsid "$build/simhost" --game "$work/game" --cvar "net_address=127.0.0.1:$kovitv_port" \
    --no-stdin --duration 100000 < /dev/null > "$work/simhost.log" 2>&1 &
sim_pid=$!

nginx_port=$(kovitv_free_port tcp)
mkdir -p "$work/nginx/logs"
cat > "$work/nginx/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 1024; }
http {
    access_log off;
    sendfile on;
    keepalive_requests 100000000;
    types { text/html html; image/jpeg jpg; }
    server {
        listen 127.0.0.1:$nginx_port;
        root $folder;
        index index.html;
    }
}
CONF
setsid "$nginx_bin" -p "$work/nginx" -c "$work/nginx/nginx.conf" < /dev/null \
    > "$work/nginx/logs/stdout.log" 2>&1 &
nginx_pid=$!

for port in "$kovitv_port" "$nginx_port"; do
    up=
    for _ in $(seq 100); do
        curl -s -o /dev/null --max-time 2 "http://127.0.0.1:$port/" && { up=1; break; }
        sleep 0.2
    done
    [ -n "$up" ] || { echo "bench-web: nothing answers on port $port" >&2; exit 1; }
done

# run URL CONNECTIONS: "requests/s longest-latency-ms" over kept-alive connections.
run() {
    timeout -k 5 $(( seconds + 30 )) wrk -t2 -c"$2" -d"${seconds}s" "$1" | awk '
        function ms(v) {
            if (v ~ /us$/) return v / 1000; if (v ~ /ms$/) return v + 0
            if (v ~ /m$/) return v * 60000; if (v ~ /s$/) return v * 1000; return v
        }
        $1 == "Latency" { longest = ms($4) }
        /^Requests\/sec:/ { rate = $2 }
        END { printf "%s %.2f\n", rate == "" ? 0 : rate, longest }'
}

# wrk keeps connections alive; this opens one connection per request, from 4 clients at once.
connection_rate() {
    timeout -k 5 $(( seconds + 30 )) python3 - "$1" "$seconds" <<'PY'
import re, socket, sys, threading, time
port, seconds = int(sys.argv[1]), float(sys.argv[2])
count = [0]
lock = threading.Lock()
end_of_header = re.compile(rb"\r?\n\r?\n")
def one_request():
    s = socket.create_connection(("127.0.0.1", port), timeout=10)
    s.sendall(b"GET /index.html HTTP/1.1\r\nHost: x\r\n\r\n")
    data = b""
    while not end_of_header.search(data):
        chunk = s.recv(65536)
        if not chunk: raise IOError("closed before the header ended")
        data += chunk
    m = end_of_header.search(data)
    length = int(re.search(rb"(?i)content-length: *(\d+)", data[:m.start()]).group(1))
    body = len(data) - m.end()
    while body < length:
        chunk = s.recv(65536)
        if not chunk: raise IOError("closed before the body ended")
        body += len(chunk)
    s.close()
def client():
    end = time.time() + seconds
    while time.time() < end:
        one_request()
        with lock: count[0] += 1
threads = [threading.Thread(target=client) for _ in range(4)]
start = time.time()
for t in threads: t.start()
for t in threads: t.join()
print("%.1f" % (count[0] / (time.time() - start)))
PY
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
meets() { awk -v v="$1" -v g="$2" 'BEGIN { print (v != "n/a" && v + 0 >= g) ? "met" : "MISSED" }'; }

line='%-36s %10s %10s %6s %6s %-6s %9s %9s %6s %s\n'
echo "bench-web: $seconds s per run, wrk with kept-alive connections, 2 threads;"
echo "           nginx: 1 worker, sendfile; kovitv: kept-alive connections watched, one quick answer at a time"
printf "$line" "" kovitv nginx ratio goal "" "max ms" "nginx ms" goal ""
# Each server gets two half runs in turn, so that a load coming and going on a shared machine
# weighs on both sides of the ratio alike: the mean rate and the longer latency of the two.
row() {  # row LABEL PATH CONNECTIONS RATE-GOAL LATENCY-GOAL (times nginx's, or -)
    local k k_max n n_max r verdict="" full=$seconds k1 k1m n1 n1m k2 k2m n2 n2m
    seconds=$(( (full + 1) / 2 ))
    read -r k1 k1m < <(run "http://127.0.0.1:$kovitv_port$2" "$3")
    read -r n1 n1m < <(run "http://127.0.0.1:$nginx_port$2" "$3")
    read -r k2 k2m < <(run "http://127.0.0.1:$kovitv_port$2" "$3")
    read -r n2 n2m < <(run "http://127.0.0.1:$nginx_port$2" "$3")
    seconds=$full
    read -r k k_max < <(awk -v a="$k1" -v b="$k2" -v x="$k1m" -v y="$k2m" \
        'BEGIN { printf "%.1f %.2f\n", (a + b) / 2, (x > y ? x : y) }')
    read -r n n_max < <(awk -v a="$n1" -v b="$n2" -v x="$n1m" -v y="$n2m" \
        'BEGIN { printf "%.1f %.2f\n", (a + b) / 2, (x > y ? x : y) }')
    r=$(ratio "$k" "$n")
    [ "$5" = - ] || verdict=$(awk -v k="$k_max" -v n="$n_max" -v g="$5" \
        'BEGIN { print (k <= g * n) ? "met" : "MISSED" }')
    printf "$line" "$1" "$k" "$n" "$r" ">=$4" "$(meets "$r" "$4")" "$k_max" "$n_max" \
        "$([ "$5" = - ] && echo - || echo "<=${5}x")" "$verdict"
}
row "requests/s, start page, $connections conn" / "$connections" 0.8 3
row "requests/s, start page, 50 conn" / 50 0.8 3
row "requests/s, 100 KiB file, $connections conn" /big.jpg "$connections" 0.5 3
row "requests/s, 2 MiB file, $connections conn" /huge.jpg "$connections" 0.5 3
k=$(connection_rate "$kovitv_port")
n=$(connection_rate "$nginx_port")
printf '%-36s %10s %10s %6s\n' "new connections/s (4 clients)" "$k" "$n" "$(ratio "$k" "$n")"
