#!/usr/bin/env bash
# Benchmarks the applet web server inside simhost beside nginx serving the same folder on the
# same machine in the same run: wrk with kept-alive connections for the start page and for a
# 100 KiB file (requests per second and the ratio to nginx), then new connections per second
# (one request per connection). Prints figures; no pass or fail.
#
#   scripts/bench-web.sh [build folder, default build/release] [seconds per run, default 10]
# Builds the folder (Release, no tests) when it has no simhost; installs wrk and nginx (Debian's)
# when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh
build=${1:-build/release}
seconds=${2:-10}
connections=${KOVITV_BENCH_CONNECTIONS:-8}

need=()
command -v wrk >/dev/null || need+=(wrk)
command -v nginx >/dev/null || [ -x /usr/sbin/nginx ] || need+=(nginx)
if [ ${#need[@]} -gt 0 ]; then
    [ "$(id -u)" = 0 ] || { echo "bench-web: missing ${need[*]}"; exit 1; }
    DEBIAN_FRONTEND=noninteractive apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
if [ ! -x "$build/simhost" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKOVITV_TESTS=OFF >/dev/null
    cmake --build "$build" -j2 >/dev/null
fi

work=$(mktemp -d /tmp/kovitv-bench-XXXXXX)
sim_pid=
nginx_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

folder="$work/game/addons/kovitv"
mkdir -p "$work/game/addons"
cp -r dist/addons/kovitv "$folder"
head -c 102400 /dev/urandom > "$folder/big.jpg"
kovitv_port=$(kovitv_free_port tcp)
printf '\nudp_port %s\ntcp_queue 128\nmax_visitors 256\n' "$(kovitv_free_port udp)" >> "$folder/config.ini"
"$build/simhost" --game "$work/game" --cvar "net_address=127.0.0.1:$kovitv_port" --no-stdin \
    --duration 100000 > "$work/simhost.log" 2>&1 &
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
"$nginx_bin" -p "$work/nginx" -c "$work/nginx/nginx.conf" &
nginx_pid=$!

for port in "$kovitv_port" "$nginx_port"; do
    for _ in $(seq 100); do
        curl -s -o /dev/null --max-time 2 "http://127.0.0.1:$port/" && break
        sleep 0.2
    done
done

rate() {  # rate URL: requests per second over kept-alive connections
    wrk -t2 -c"$connections" -d"${seconds}s" "$1" | awk '/^Requests\/sec:/ {print $2}'
}

# wrk keeps connections alive; this opens one connection per request, from 4 clients at once.
connection_rate() {
    python3 - "$1" "$seconds" <<'PY'
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

echo "bench-web: $seconds s per run, wrk with $connections kept-alive connections, 2 threads;"
echo "           nginx: 1 worker, sendfile; kovitv: one thread per connection"
printf '%-34s %12s %12s %8s\n' "" "kovitv" "nginx" "ratio"
for path in / /big.jpg; do
    k=$(rate "http://127.0.0.1:$kovitv_port$path")
    n=$(rate "http://127.0.0.1:$nginx_port$path")
    label="requests/s, $path"
    [ "$path" = / ] && label="requests/s, start page (filled)"
    [ "$path" = /big.jpg ] && label="requests/s, 100 KiB file"
    printf '%-34s %12s %12s %8s\n' "$label" "$k" "$n" "$(ratio "$k" "$n")"
done
k=$(connection_rate "$kovitv_port")
n=$(connection_rate "$nginx_port")
printf '%-34s %12s %12s %8s\n' "new connections/s (4 clients)" "$k" "$n" "$(ratio "$k" "$n")"
