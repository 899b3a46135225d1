#!/usr/bin/env bash
# Builds the three targets and runs every test. Installs what is missing first (Debian packages
# and the browser check's npm packages; needs root).
#
#   ./test.sh          everything: the browser viewer's JavaScript under node; the native build
#                      under AddressSanitizer and UndefinedBehaviorSanitizer with its tests (the
#                      real server's demos held to its logs among them), a
#                      short soak of hostile play, the start page and the viewer (live and a
#                      demo) in headless Chromium and a thousand viewers through nginx; the
#                      rooms' layering; the readers of outside bytes under libFuzzer; the
#                      concurrency tests under ThreadSanitizer; the i386 build (the library real
#                      servers load) with its tests, its glibc 2.17 check and a run on an older
#                      glibc; the Windows DLL's exports and a run under wine; the install archive
#                      unpacked and run as an admin would
#   ./test.sh quick    the inner loop: the native build's unit tests and the JavaScript tests
#
# Each build is made once, with both cores; what a build makes is tested in the background while
# the next one builds. Every step's output goes to build/test-logs/<step>.log and is printed
# whole when the step ends; a table of the steps and their times closes the run.
# Exit status 0 only when every step passed (a step that cannot run here says "SKIPPED:" and
# why); 1 otherwise; 2 bad usage.
set -uo pipefail
cd "$(dirname "$0")"

mode=all
case "${1:-}" in
    "") ;;
    quick) mode=quick;;
    -h|--help) sed -n '2,21s/^# \{0,1\}//p' "$0"; exit 0;;
    *) echo "test.sh: unknown argument $1 (try ./test.sh --help)" >&2; exit 2;;
esac

. scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)
logs=build/test-logs
rm -rf "$logs"
mkdir -p "$logs"
run_start=$(date +%s)
steps=()            # in the order they started
declare -A pid_of   # step -> background process

now() { date +%s; }
elapsed() { local s=$(( $(now) - run_start )); printf '%d:%02d' $((s / 60)) $((s % 60)); }

# start NAME DESCRIPTION COMMAND...: runs COMMAND (a function or program) in the background;
# its status goes to $logs/NAME.status (0 passed, 77 skipped, anything else failed). With
# after=STEP set, it first waits for that step to end (whatever its result).
start() {
    local name=$1 text=$2; shift 2
    steps+=("$name")
    echo "$text" >"$logs/$name.text"
    local wait_for=${after:-}
    if [ -n "$wait_for" ]; then
        echo "[$(elapsed)] queued: $name ($text), after $wait_for"
    else
        echo "[$(elapsed)] started: $name ($text)"
    fi
    (
        if [ -n "$wait_for" ]; then
            while [ ! -f "$logs/$wait_for.status" ]; do sleep 1; done
            echo "[$(elapsed)] started: $name"
        fi
        begin=$(now)
        "$@" >"$logs/$name.log" 2>&1
        status=$?
        echo "$status $(( $(now) - begin ))" >"$logs/$name.status"
    ) &
    pid_of[$name]=$!
}

# finish NAME: waits for the step, prints its output whole and its result; status 0 passed.
finish() {
    local name=$1
    [ -n "${pid_of[$name]:-}" ] || return 1
    wait "${pid_of[$name]}" 2>/dev/null
    unset "pid_of[$name]"
    local status=1 seconds=0
    [ -f "$logs/$name.status" ] && read -r status seconds <"$logs/$name.status"
    local result=passed
    if [ "$status" = 77 ]; then result=skipped; elif [ "$status" != 0 ]; then result=FAILED; fi
    printf '\n== %s: %s\n' "$name" "$(cat "$logs/$name.text")"
    cat "$logs/$name.log"
    printf '== %s: %s in %ds (at %s)\n' "$name" "$result" "$seconds" "$(elapsed)"
    [ "$status" = 0 ] || [ "$status" = 77 ]
}

# run NAME DESCRIPTION COMMAND...: a step in the foreground (builds, which want both cores).
run() { start "$@"; finish "$1"; }

# skip NAME DESCRIPTION REASON: a step that cannot run because an earlier one failed.
skip() {
    steps+=("$1")
    echo "$2" >"$logs/$1.text"
    echo "$3" >"$logs/$1.log"
    echo "1 0" >"$logs/$1.status"
    printf '\n== %s: FAILED, not run: %s\n' "$1" "$3"
}

# Line tables are all the sanitizers' reports need, and full debug information would cost as much
# time again; the sanitizer builds are optimised as the sanitizers advise (-O1).
O2=("-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG")
O1=("-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG")

build() {  # build DIR [cmake options...] [-- targets...]
    local dir=$1; shift
    local options=() targets=()
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do options+=("$1"); shift; done
    [ $# -gt 0 ] && shift
    targets=("$@")
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" \
        >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; return 1; }
    local target_args=()
    [ ${#targets[@]} -gt 0 ] && target_args=(--target "${targets[@]}")
    cmake --build "$dir" -j"$jobs" "${target_args[@]}" >"$dir.build.log" 2>&1
    local status=$?
    grep -E 'error|warning|Error' "$dir.build.log"
    [ "$status" = 0 ] && echo "built $dir${targets:+ (${targets[*]})}"
    return "$status"
}

node_tests() {
    command -v node >/dev/null || { echo "node is missing"; return 1; }
    node --test tests/js/
}

summary() {
    local passed=0 failed=0 skipped=0 name status seconds
    echo
    echo "== summary ($(elapsed) in all)"
    printf '  %-14s %-8s %6s  %s\n' step result time what
    for name in "${steps[@]}"; do
        status=1 seconds=0
        [ -f "$logs/$name.status" ] && read -r status seconds <"$logs/$name.status"
        local result=passed
        if [ "$status" = 77 ]; then result=skipped; skipped=$((skipped + 1))
        elif [ "$status" != 0 ]; then result=FAILED; failed=$((failed + 1))
        else passed=$((passed + 1)); fi
        printf '  %-14s %-8s %5ss  %s\n' "$name" "$result" "$seconds" "$(cat "$logs/$name.text")"
    done
    echo "steps: $passed passed, $failed failed, $skipped skipped"
    if [ "$failed" = 0 ]; then
        echo "test.sh: every build and test passed"
        exit 0
    fi
    echo "test.sh: $failed step(s) failed (their output: $logs/<step>.log)"
    exit 1
}

# --- quick: the inner loop ----------------------------------------------------------------------
if [ "$mode" = quick ]; then
    kovitv_need_native || { echo "test.sh: cannot install the build tools"; exit 1; }
    [ -f /usr/src/googletest/CMakeLists.txt ] || kovitv_install googletest \
        || { echo "test.sh: cannot install googletest"; exit 1; }
    command -v node >/dev/null || kovitv_install nodejs
    start js "the browser viewer's JavaScript under node's test runner" node_tests
    if run native "native build (no sanitizers, no benchmarks)" \
        build build/native -DKOVITV_BENCH=OFF "${O1[@]}"; then
        run unit "the native build's tests" \
            bash -c 'cd build/native && ctest -j2 --output-on-failure --timeout 600'
    else
        skip unit "the native build's tests" "the native build failed"
    fi
    finish js
    summary
fi

# --- everything ---------------------------------------------------------------------------------
# Every package first, while nothing else runs: two installs at once would fight over apt's lock.
scripts/test-setup.sh >"$logs/setup-logic.log" 2>&1 \
    || { cat "$logs/setup-logic.log"; echo "test.sh: setup's install logic fails its own test"; exit 1; }
kovitv_need_all || { echo "test.sh: cannot install the build tools"; exit 1; }
extra=()
command -v node >/dev/null || extra+=(nodejs)
command -v npm >/dev/null || extra+=(npm)
command -v chromium >/dev/null || extra+=(chromium)
command -v nginx >/dev/null || extra+=(nginx)
command -v clang++ >/dev/null || extra+=(clang)
command -v curl >/dev/null || extra+=(curl)
kovitv_install "${extra[@]}" || { echo "test.sh: cannot install ${extra[*]}"; exit 1; }
if [ ! -d tests/browser/node_modules/puppeteer-core ]; then
    (cd tests/browser && npm ci --no-audit --no-fund --loglevel=error >/dev/null) \
        || { echo "test.sh: npm ci failed in tests/browser"; exit 1; }
fi
have_i386=1
kovitv_enable_i386 || have_i386=0
echo "[$(elapsed)] setup done"

asan_chain() {
    (cd build/asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure --timeout 600) \
        || return 1
}
viewers_chain() {  # the pages and the viewer in Chromium, then a thousand viewers through nginx
    local failed=0
    echo "-- headless Chromium loads the start page from the plugin"
    scripts/browser-check.sh build/asan || failed=1
    echo "-- the browser viewer, live and a recorded demo, against the plugin in simhost"
    scripts/viewer-check.sh build/asan || failed=1
    echo "-- a thousand browser viewers through nginx in front of the plugin"
    scripts/cache-load.sh --build build/asan --viewers 1000 --seconds 30 --speed 1 || failed=1
    return "$failed"
}
i386_checks() {
    local lib=build/i386/kovitv_mm_i386.so exports failed=0
    exports=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort | tr '\n' ' ')
    echo "exports: $exports"
    [ "$exports" = "GiveFnptrsToDll Meta_Attach Meta_Detach Meta_Query " ] \
        || { echo "FAILED: the i386 exports are: $exports"; failed=1; }
    scripts/check-glibc.sh --self-test >/dev/null \
        || { echo "FAILED: scripts/check-glibc.sh does not refuse a library built without care"; failed=1; }
    scripts/check-glibc.sh "$lib" build/i386/simhost || failed=1
    (cd build/i386 && ctest --output-on-failure --timeout 900) || failed=1
    return "$failed"
}
win32_checks() {
    local dll=build/win32/kovitv_mm.dll names deps
    names=$(i686-w64-mingw32-objdump -p "$dll" | awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&/\[/{print $NF} t&&/^$/{t=0}' | sort | tr '\n' ' ')
    local want="GetEngineFunctions_Post GetEntityAPI2 GetEntityAPI2_Post GiveFnptrsToDll GiveFnptrsToDll@8 Meta_Attach Meta_Detach Meta_Query "
    echo "exports: $names"
    deps=$(i686-w64-mingw32-objdump -p "$dll" | sed -n 's/.*DLL Name: //p' | sort | tr '\n' ' ')
    echo "imports: $deps"
    [ "$names" = "$want" ] || { echo "FAILED: the DLL's exports are: $names"; return 1; }
    case "$deps" in *libstdc++*|*libgcc*|*libwinpthread*) echo "FAILED: the DLL needs MinGW's runtime"; return 1;; esac
    scripts/wine-smoke.sh build/win32 --spectate build/asan/spectate
}
archive() {
    scripts/package.sh --i386 build/i386 --win32 build/win32 --out build/package \
        && scripts/package-check.sh build/package build/i386
}

start js "the browser viewer's JavaScript under node's test runner" node_tests

asan_ok=0
run asan-build "native build, AddressSanitizer + UndefinedBehaviorSanitizer" \
    build build/asan -DKOVITV_SANITIZE=ON -DKOVITV_BENCH=OFF "${O1[@]}" \
    && asan_ok=1
if [ "$asan_ok" = 1 ]; then
    start asan-tests "the native tests under ASan/UBSan" asan_chain
    start soak "soak, short form: 1.5 game hours of hostile play under the sanitizers" \
        scripts/soak.sh --short --bin build/asan
    start layers "the rooms of src/ use only the rooms below them, and no circle" \
        scripts/check-layers.py --objects build/asan
    # The pages, the viewer and the nginx fan-out time what they see: not beside the ASan tests.
    after=asan-tests start viewers \
        "the start page and the viewer in Chromium; a thousand viewers through nginx" viewers_chain
else
    for s in asan-tests soak layers viewers; do
        skip "$s" "needs the ASan build" "the ASan build failed"
    done
fi

tsan_ok=0
run tsan-build "native build, ThreadSanitizer (the tests)" \
    build build/tsan -DKOVITV_TSAN=ON -DKOVITV_BENCH=OFF "${O1[@]}" \
    -- kovitv_tests && tsan_ok=1
if [ "$tsan_ok" = 1 ]; then
    start tsan-tests "the concurrency tests under ThreadSanitizer" bash -c \
        "cd build/tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure --timeout 600 -R Concurrent --no-tests=ignore"
else
    skip tsan-tests "the concurrency tests under ThreadSanitizer" "the TSan build failed"
fi
# A fuzzer runs on one core: beside the builds that follow, not after them.
start fuzz "fuzzing the request parser and every reader of outside bytes (20 s each)" \
    scripts/fuzz.sh 20

i386_ok=0
if [ "$have_i386" = 1 ]; then
    run i386-build "i386 build (the library real servers load)" \
        build build/i386 -DCMAKE_TOOLCHAIN_FILE=cmake/i386-linux.cmake -DKOVITV_BENCH=OFF "${O2[@]}" \
        && i386_ok=1
    if [ "$i386_ok" = 1 ]; then
        start i386-tests "i386: exports, glibc 2.17 at most, and every test" i386_checks
        start old-glibc "the i386 plugin on Debian bullseye's glibc 2.31 (unpacked, not installed)" \
            scripts/old-glibc.sh build/i386
    else
        skip i386-tests "i386: exports, glibc 2.17 at most, and every test" "the i386 build failed"
    fi
else
    skip i386-build "i386 build (the library real servers load)" "i386 programs cannot run on this machine"
fi

win32_ok=0
run win32-build "Win32 build (MinGW-w64): the DLL and the Windows simhost" \
    build build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake "${O2[@]}" \
    -- kovitv_mm simhost \
    && win32_ok=1
if [ "$win32_ok" = 1 ] && [ "$asan_ok" = 1 ]; then
    start win32 "the DLL's exports and imports, and a run under wine with a Linux spectator" \
        win32_checks
elif [ "$win32_ok" = 1 ]; then
    skip win32 "the DLL under wine" "the ASan build (its spectate) failed"
fi

if [ "$i386_ok" = 1 ] && [ "$win32_ok" = 1 ]; then
    start archive "the install archive: packed, unpacked into a scratch game folder, run" archive
else
    skip archive "the install archive" "the i386 library or the DLL was not built"
fi

for name in "${steps[@]}"; do
    [ -n "${pid_of[$name]:-}" ] && finish "$name"
done
summary
