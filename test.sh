#!/usr/bin/env bash
# Builds the three targets and runs every test: the browser viewer's JavaScript under node, the
# native build under AddressSanitizer and UndefinedBehaviorSanitizer, a short soak of hostile play
# (scripts/soak.sh --short), the web parsers under libFuzzer, the start page and the browser
# viewer (live and a demo) in headless Chromium, a thousand viewers through nginx, the
# concurrency tests under ThreadSanitizer, the i386 build (the library real servers load) with
# its tests, its glibc 2.17 check and a run on an older glibc, and the Windows DLL's exports and
# a run under wine.
# Installs what is missing first (Debian packages; needs root). Exit status 0 only when all pass.
set -uo pipefail
cd "$(dirname "$0")"
. scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)
failed=()
step() { printf '\n== %s\n' "$*"; }
fail() { echo "FAILED: $*"; failed+=("$*"); }

scripts/test-setup.sh >/dev/null || { scripts/test-setup.sh; fail "setup's package installation"; }
kovitv_need_all || { echo "test.sh: cannot install the build tools"; exit 1; }
have_i386=1
kovitv_enable_i386 || { have_i386=0; fail "i386 programs cannot run on this machine"; }

build() {  # build DIR [cmake options...]
    local dir=$1; shift
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"$dir.configure.log" 2>&1 \
        || { cat "$dir.configure.log"; return 1; }
    cmake --build "$dir" -j"$jobs" 2>&1 | grep -E 'error|warning|Error' ; return "${PIPESTATUS[0]}"
}

step "the browser viewer's JavaScript under node's test runner"
if command -v node >/dev/null || kovitv_install nodejs; then
    node --test tests/js/ || fail "viewer JavaScript tests"
else
    fail "node is missing: viewer JavaScript tests"
fi

mkdir -p build
step "native build, AddressSanitizer + UndefinedBehaviorSanitizer"
if build build/asan -DKOVITV_SANITIZE=ON; then
    (cd build/asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure --timeout 600) \
        || fail "native tests under ASan/UBSan"
else
    fail "native build"
fi

step "soak, short form: 1.5 game hours of hostile play under the sanitizers (3 minutes)"
if [ -x build/asan/simhost ]; then
    scripts/soak.sh --short --bin build/asan || fail "short soak"
else
    fail "short soak: the native build has no simhost"
fi

step "fuzzing the request parser and every reader of outside bytes (20 s each)"
scripts/fuzz.sh 20 || fail "fuzz targets"

step "headless Chromium loads the start page from the plugin"
scripts/browser-check.sh build/asan || fail "browser check"

step "the browser viewer in headless Chromium, live and a recorded demo, against the plugin in simhost"
scripts/viewer-check.sh build/asan || fail "viewer check"

step "a thousand browser viewers through nginx in front of the plugin (about a minute)"
scripts/cache-load.sh --build build/asan --viewers 1000 --seconds 30 --speed 1 \
    || fail "browser viewers through the cache"

step "native build, ThreadSanitizer: concurrency tests"
if build build/tsan -DKOVITV_TSAN=ON; then
    (cd build/tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure --timeout 600 \
        -R 'Concurrent' --no-tests=ignore) || fail "concurrency tests under TSan"
else
    fail "ThreadSanitizer build"
fi

if [ "$have_i386" = 1 ]; then
    step "i386 build (the library real servers load) and its tests"
    if build build/i386 -DCMAKE_TOOLCHAIN_FILE=cmake/i386-linux.cmake; then
        lib=build/i386/kovitv_mm_i386.so
        exports=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort | tr '\n' ' ')
        [ "$exports" = "GiveFnptrsToDll Meta_Attach Meta_Detach Meta_Query " ] \
            || fail "i386 exports are: $exports"
        scripts/check-glibc.sh --self-test >/dev/null \
            || fail "scripts/check-glibc.sh does not refuse a library built without care"
        scripts/check-glibc.sh "$lib" build/i386/simhost \
            || fail "the i386 library or simhost needs more than glibc 2.17 and its libraries"
        echo "exports: $exports"
        (cd build/i386 && ctest --output-on-failure --timeout 900) || fail "i386 tests"
        step "the i386 plugin on an older glibc (Debian bullseye's, unpacked into build/oldglibc)"
        scripts/old-glibc.sh build/i386
        case $? in 0|77) ;; *) fail "the i386 plugin on an older glibc";; esac
    else
        fail "i386 build"
    fi
fi

step "Win32 build (MinGW-w64) and the DLL's exports"
if build build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake; then
    dll=build/win32/kovitv_mm.dll
    names=$(i686-w64-mingw32-objdump -p "$dll" | awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&/\[/{print $NF} t&&/^$/{t=0}' | sort | tr '\n' ' ')
    want="GetEngineFunctions_Post GetEntityAPI2 GetEntityAPI2_Post GiveFnptrsToDll GiveFnptrsToDll@8 Meta_Attach Meta_Detach Meta_Query "
    [ "$names" = "$want" ] || fail "DLL exports are: $names"
    echo "exports: $names"
    deps=$(i686-w64-mingw32-objdump -p "$dll" | sed -n 's/.*DLL Name: //p' | sort | tr '\n' ' ')
    echo "imports: $deps"
    case "$deps" in *libstdc++*|*libgcc*|*libwinpthread*) fail "DLL needs MinGW's runtime: $deps";; esac
    step "the DLL under wine, with a Linux spectator and the web page"
    scripts/wine-smoke.sh build/win32
    case $? in 0|77) ;; *) fail "the DLL under wine";; esac
else
    fail "Win32 build"
fi

step "the install archive: packed, unpacked into a scratch game folder and run from plugins.ini"
if [ "$have_i386" = 1 ] && [ -f build/i386/kovitv_mm_i386.so ] && [ -f build/win32/kovitv_mm.dll ]; then
    scripts/package.sh --i386 build/i386 --win32 build/win32 --out build/package \
        && scripts/package-check.sh build/package build/i386 || fail "the install archive"
else
    fail "the install archive: the i386 library or the DLL was not built"
fi

echo
if [ "${#failed[@]}" -eq 0 ]; then
    echo "test.sh: every build and test passed"
    exit 0
fi
printf 'test.sh: %d step(s) failed:\n' "${#failed[@]}"
printf '  %s\n' "${failed[@]}"
exit 1
