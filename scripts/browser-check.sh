#!/usr/bin/env bash
# Loads the start page from the plugin running in simhost with headless Chromium, keeps a
# screenshot in build/artefacts/ and checks the rendered text: the filled placeholders of the
# live page, and the page's own script reacting to a demo named in the address. Then opens the
# browser viewer twice (tests/browser/cache.mjs): the second load downloads none of its files.
#
#   scripts/browser-check.sh [build folder holding simhost and the plugin, default build/asan]
# Installs Debian's chromium, node and npm when missing (as root) and puppeteer-core into
# tests/browser/node_modules. Exit status 0 only when all checks pass.
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh
build=${1:-build/asan}
artefacts=build/artefacts

[ -x "$build/simhost" ] || { echo "browser-check: no simhost in $build (build it first)"; exit 1; }
need=()
command -v chromium >/dev/null || need+=(chromium)
command -v node >/dev/null || need+=(nodejs)
command -v npm >/dev/null || need+=(npm)
kovitv_install "${need[@]}" || { echo "browser-check: cannot install ${need[*]}"; exit 1; }
if [ ! -f tests/browser/node_modules/puppeteer-core/package.json ]; then
    (cd tests/browser && npm ci --no-audit --no-fund --loglevel=error >/dev/null) \
        || { echo "browser-check: npm ci failed in tests/browser"; exit 1; }
fi

kovitv_scratch_game browser
profile="$game/chromium-profile"
mkdir -p "$artefacts"

"$build/simhost" --game "$game" --cvar "net_address=127.0.0.1:$tcp_port" --cvar "hostname=Browser Check Arena" \
    --no-stdin --duration 120 > "$game/simhost.log" 2>&1 &
sim_pid=$!
url="http://127.0.0.1:$tcp_port/"
for _ in $(seq 100); do
    curl -s -o /dev/null --max-time 2 "$url" && break
    sleep 0.2
done

browse() {  # browse ARGS...: headless Chromium on a throw-away profile
    timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-dev-shm-usage \
        --no-first-run --user-data-dir="$profile" --window-size=1280,1100 "$@" 2>>"$game/chromium.log"
}
# What a reader sees: block elements end lines, other tags vanish, white space is folded.
text_of() {
    sed -E -e 's#</?(p|h1|h2|div|section|main|title|head|body|br)( [^>]*)?>#\n#g' \
        -e 's/<[^>]*>//g' -e 's/&nbsp;/ /g' | tr -s ' \t' ' '
}

failed=0
check() {  # check NAME TEXT NEEDLE
    if grep -qF -- "$3" <<<"$2"; then echo "ok: $1"; else echo "FAILED: $1 (no \"$3\")"; failed=1; fi
}

live=$(browse --dump-dom "$url" | text_of)
check "the advertisement is filled in" "$live" "You are watching KOVI TV"
check "the server's name is filled in" "$live" "Server: Browser Check Arena - live broadcast"
check "the spectator address is shown" "$live" "Point your spectator client at 127.0.0.1, UDP port $udp_port."
check "the page's own address is shown" "$live" "http://127.0.0.1:$tcp_port/"
check "the viewer's fallback text shows" "$live" "The viewer needs a browser with Java"
if grep -q '\$' <<<"$live"; then echo "FAILED: a placeholder was left unfilled"; failed=1; fi

demo=$(browse --dump-dom "$url?demos/010125/1200_de_kovi.kdem" | text_of)
check "the page's script names the demo" "$demo" "replaying demo demos/010125/1200_de_kovi.kdem"

shot="$artefacts/start-page.png"
rm -f "$shot"
browse --screenshot="$PWD/$shot" "$url" >/dev/null
if [ -s "$shot" ] && [ "$(head -c 4 "$shot" | od -An -tx1 | tr -d ' ')" = 89504e47 ]; then
    echo "ok: screenshot kept in $shot ($(stat -c %s "$shot") bytes)"
else
    echo "FAILED: no screenshot"; failed=1
fi

overview=$(cd "$game/addons/kovitv" && ls overviews/*.bmp 2>/dev/null | head -1)
node tests/browser/cache.mjs --base "http://127.0.0.1:$tcp_port" ${overview:+--overview "/$overview"} \
    || failed=1

if [ $failed -ne 0 ]; then
    echo "--- simhost"; tail -20 "$game/simhost.log"
    echo "--- chromium"; tail -20 "$game/chromium.log"
fi
exit $failed
