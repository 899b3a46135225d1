#!/usr/bin/env bash
# A thousand browser viewers through nginx: simhost plays a scripted match with the plugin, nginx
# (Debian's, as an unprivileged process on a temporary prefix) caches in front of the plugin's web
# server with dist/nginx/kovitv-cache.conf, and tools/liveload/liveload.mjs runs the viewers' own
# follower. Prints viewers served per origin request and origin requests per fragment.
set -uo pipefail
cd "$(dirname "$0")/.."

usage() {
    cat <<'EOF'
usage: scripts/cache-load.sh [options]

  --build DIR       build folder holding simhost and the plugin (default build/asan)
  --viewers N       simulated viewers (default 1000)
  --seconds S       real seconds they follow the stream (default 40)
  --speed X         game seconds per real second for simhost and the viewers (default 1)
  --players N       players in the scripted match (default 10)
  --direct          no nginx: the viewers ask the plugin itself (keep --viewers below its
                    max_visitors, 64)
  --rss             sample simhost's resident size every 5 s; fail when it grows by more than
                    4 MiB after the first third of the run (the store is full by then)
  --origin PORT     start no simhost: cache the plugin web server already listening on
                    127.0.0.1:PORT (one that scripts/soak.py runs, to add these viewers to
                    its load); not with --rss
  --help            this text

Installs nginx and node (Debian packages) when missing, as root. Exit status 0 when every viewer
got every fragment in time and the game server saw at most 5 requests per fragment; 1 a bound
failed; 2 bad command line; 3 something could not be started.
EOF
}

build=build/asan viewers=1000 seconds=40 speed=1 players=10 direct=0 rss=0 origin=
while [ $# -gt 0 ]; do
    case "$1" in
        --help|-h) usage; exit 0;;
        --build) build=${2:?}; shift;;
        --viewers) viewers=${2:?}; shift;;
        --seconds) seconds=${2:?}; shift;;
        --speed) speed=${2:?}; shift;;
        --players) players=${2:?}; shift;;
        --direct) direct=1;;
        --rss) rss=1;;
        --origin) origin=${2:?}; shift;;
        *) echo "cache-load: unknown option $1" >&2; usage >&2; exit 2;;
    esac
    shift
done

. scripts/setup.sh
if [ -n "$origin" ]; then
    case "$origin" in *[!0-9]*) echo "cache-load: --origin takes a port number" >&2; exit 2;; esac
    [ "$rss" = 1 ] && { echo "cache-load: --rss samples a simhost of its own: not with --origin" >&2; exit 2; }
else
    [ -x "$build/simhost" ] || { echo "cache-load: no simhost in $build (build it first)"; exit 3; }
fi
command -v node >/dev/null || kovitv_install nodejs || { echo "cache-load: node is missing"; exit 3; }
if [ "$direct" = 0 ] && ! [ -x /usr/sbin/nginx ]; then
    # Only the program is wanted: keep the package from starting a system service.
    policy=
    if [ "$(id -u)" = 0 ] && [ ! -e /usr/sbin/policy-rc.d ]; then
        printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d && chmod +x /usr/sbin/policy-rc.d
        policy=/usr/sbin/policy-rc.d
    fi
    kovitv_install nginx; installed=$?
    [ -n "$policy" ] && rm -f "$policy"
    [ "$installed" = 0 ] || { echo "cache-load: nginx is missing"; exit 3; }
fi

work=$(mktemp -d /tmp/kovitv-cache-XXXXXX)
chmod 755 "$work"
sim_pid= nginx_pid= sampler_pid= spectate_pid=
cleanup() {
    [ -n "$sampler_pid" ] && kill "$sampler_pid" 2>/dev/null
    [ -n "$spectate_pid" ] && kill "$spectate_pid" 2>/dev/null && wait "$spectate_pid" 2>/dev/null
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
ulimit -n 65536 2>/dev/null || ulimit -n "$(ulimit -Hn)" 2>/dev/null

cache_port=$(kovitv_free_port tcp)
if [ -n "$origin" ]; then
    tcp_port=$origin
else
    tcp_port=$(kovitv_free_port tcp) udp_port=$(kovitv_free_port udp)
    mkdir -p "$work/game/addons"
    cp -r dist/addons/kovitv "$work/game/addons/"
    printf '\nudp_port %s\n' "$udp_port" >> "$work/game/addons/kovitv/config.ini"
    # Long enough for the wait for the first fragment (the 30 s delay), the viewers and the end.
    duration=$(python3 -c "print(int(($seconds + 20) * $speed + 60))")
    "$build/simhost" --game "$work/game" --players "$players" --speed "$speed" --duration "$duration" \
        --cvar "net_address=127.0.0.1:$tcp_port" --no-stdin > "$work/simhost.log" 2>&1 &
    sim_pid=$!
fi

url="http://127.0.0.1:$tcp_port/live/"
log_args=()
if [ "$direct" = 0 ]; then
    # The admins' example as it is, with this run's ports and folders.
    mkdir -p "$work/nginx/logs" "$work/nginx/cache"
    sed -e "s#127.0.0.1:27015#127.0.0.1:$tcp_port#" -e "s#listen 8080;#listen 127.0.0.1:$cache_port;#" \
        -e "s#/var/cache/nginx/kovitv#$work/nginx/cache#" dist/nginx/kovitv-cache.conf \
        > "$work/nginx/kovitv-cache.conf"
    cat > "$work/nginx/nginx.conf" <<EOF
daemon off;
worker_processes 1;
worker_rlimit_nofile 8192;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log warn;
events { worker_connections 4096; }
http {
    client_body_temp_path $work/nginx/client;
    proxy_temp_path $work/nginx/proxy;
    fastcgi_temp_path $work/nginx/fastcgi;
    uwsgi_temp_path $work/nginx/uwsgi;
    scgi_temp_path $work/nginx/scgi;
    log_format load '\$msec \$upstream_cache_status \$upstream_addr \$status \$request_uri';
    access_log $work/nginx/logs/access.log load buffer=64k flush=1s;
    include $work/nginx/kovitv-cache.conf;
}
EOF
    /usr/sbin/nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/logs/error.log" \
        > "$work/nginx/logs/stdout.log" 2>&1 &
    nginx_pid=$!
    sleep 0.5
    if ! kill -0 "$nginx_pid" 2>/dev/null; then
        echo "cache-load: nginx did not start:"; cat "$work/nginx/logs/error.log"; exit 3
    fi
    url="http://127.0.0.1:$cache_port/live/"
    log_args=(--nginx-log "$work/nginx/logs/access.log")
    echo "cache-load: nginx on port $cache_port caching the plugin's web server on port $tcp_port"
fi

if [ "$rss" = 1 ]; then
    (while kill -0 "$sim_pid" 2>/dev/null; do
        awk '/^VmRSS/{print $2}' "/proc/$sim_pid/status" 2>/dev/null
        sleep 5
    done) > "$work/rss" &
    sampler_pid=$!
fi

# The anchor for the viewers' download: one UDP spectator of the same match at the same time.
if [ -z "$origin" ] && [ -x "$build/spectate" ]; then
    "$build/spectate" --server "127.0.0.1:$udp_port" --json --duration 100000 \
        > "$work/spectate.json" 2>/dev/null &
    spectate_pid=$!
fi
node tools/liveload/liveload.mjs --url "$url" --origin "http://127.0.0.1:$tcp_port/live/" \
    --viewers "$viewers" --seconds "$seconds" --speed "$speed" "${log_args[@]}" \
    | tee "$work/liveload.out"
status=${PIPESTATUS[0]}

if [ -n "$spectate_pid" ]; then
    kill "$spectate_pid" 2>/dev/null; wait "$spectate_pid" 2>/dev/null; spectate_pid=
    # Over the viewers' last S seconds; each datagram also carries 28 bytes of IP and UDP.
    udp=$(python3 - "$work/spectate.json" "$seconds" "$speed" <<'PY'
import json, sys
lines = []
for line in open(sys.argv[1]):
    try:
        o = json.loads(line)
    except ValueError:
        continue
    if o.get("type") == "traffic":
        lines.append(o)
span, speed = float(sys.argv[2]), float(sys.argv[3])
if len(lines) < 2:
    sys.exit(0)
last = lines[-1]
first = next(o for o in lines if o["t"] >= last["t"] - span)
seconds = (last["t"] - first["t"]) * speed
if seconds > 0:
    print("%.0f" % ((last["bytes"] - first["bytes"] + 28 * (last["datagrams"] - first["datagrams"])) / seconds))
PY
)
    viewer=$(sed -n 's/.* B per game second of content, \([0-9]*\) B with headers.*/\1/p' "$work/liveload.out")
    following=$(sed -n 's/.*following, after the join: \([0-9]*\) B per game second.*/\1/p' "$work/liveload.out")
    if [ -n "$udp" ] && [ -n "$viewer" ] && [ -n "$following" ] && [ "$udp" -gt 0 ]; then
        ratio() { awk -v v="$1" -v u="$udp" 'BEGIN { printf "%.2f", v / u }'; }
        echo "cache-load: the UDP spectator of the same match meanwhile: $udp B per game second (IP and UDP included);" \
             "a viewer with headers $(ratio "$following") times that while following (goal <= 1.2)," \
             "$(ratio "$viewer") with its join"
    fi
fi

if [ "$rss" = 1 ]; then
    kill "$sampler_pid" 2>/dev/null; sampler_pid=
    echo "cache-load: simhost resident size (KiB, every 5 s): $(tr '\n' ' ' < "$work/rss")"
    if ! awk '{ v[NR] = $1 } END {
            if (NR < 6) { print "cache-load: too few samples for the memory check"; exit 1 }
            w = int(NR / 3) + 1; lo = v[w]; hi = v[w]
            for (i = w; i <= NR; i++) { if (v[i] > hi) hi = v[i]; if (v[i] < lo) lo = v[i] }
            printf "cache-load: after warm-up (sample %d on) %d to %d KiB, growth %d KiB\n", w, lo, hi, hi - v[w]
            exit (hi - v[w] > 4096) }' "$work/rss"; then
        echo "cache-load: FAILED: the resident size grew"; status=1
    fi
fi
if [ -n "$sim_pid" ] && ! kill -0 "$sim_pid" 2>/dev/null; then
    echo "cache-load: simhost ended early:"; tail -20 "$work/simhost.log"; status=1
fi
if [ "$status" != 0 ]; then
    [ -n "$sim_pid" ] && { echo "--- simhost"; tail -5 "$work/simhost.log"; }
    [ -n "$nginx_pid" ] && { echo "--- nginx"; tail -5 "$work/nginx/logs/error.log"; }
fi
exit "$status"
