#!/usr/bin/env bash
# A day of hostile play against the plugin inside simhost: see scripts/soak.py --help for what
# runs and what fails it. Builds the programs first (build/soak-release, or build/soak-asan with
# --asan) unless --bin names a build folder that has them.
#
#   scripts/soak.sh                  the long form: 24 game hours at 30x (about 50 minutes)
#   scripts/soak.sh --short          the short form of ./test.sh: 1.5 game hours at 36x (3 minutes)
#   scripts/soak.sh --hours 6 --speed 20 --asan
#
# The table goes to standard output, the chart and the samples to build/artefacts/soak-*.
# Exit status: 0 passed, 1 a check failed, 2 bad command line, 3 the build failed.
set -uo pipefail
cd "$(dirname "$0")/.."

usage() {
    sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'
    echo
    echo "Options: --short, --hours H, --speed X, --asan, --bin DIR (a build folder to use as it"
    echo "is), --name NAME (of the artefacts); anything else goes to scripts/soak.py."
}

hours=24 speed=30 name=soak-long asan=0 bin="" extra=()
while [ $# -gt 0 ]; do
    case "$1" in
        -h|--help) usage; exit 0;;
        --short) hours=1.5 speed=36 name=soak-short; extra+=(--sample-minutes 3 --warmup-hours 0.5);;
        --hours) hours=${2:?--hours needs a value}; shift;;
        --speed) speed=${2:?--speed needs a value}; shift;;
        --asan) asan=1;;
        --bin) bin=${2:?--bin needs a folder}; shift;;
        --name) name=${2:?--name needs a value}; shift;;
        *) extra+=("$1");;
    esac
    shift
done

. scripts/setup.sh
command -v python3 >/dev/null || kovitv_install python3 \
    || { echo "soak: python3 is needed and could not be installed"; exit 3; }

if [ -z "$bin" ]; then
    kovitv_need_native || exit 3
    if [ "$asan" = 1 ]; then bin=build/soak-asan; opts=(-DKOVITV_SANITIZE=ON); else bin=build/soak-release; opts=(); fi
    echo "soak: building simhost, spectate, kdem and the plugin in $bin"
    cmake -S . -B "$bin" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOVITV_TESTS=OFF "${opts[@]}" >/dev/null \
        && cmake --build "$bin" -j"$(nproc)" --target simhost spectate kdem kovitv_mm >/dev/null \
        || { echo "soak: the build failed"; exit 3; }
fi

exec python3 scripts/soak.py --bin "$bin" --out "build/$name" --name "$name" \
    --game-hours "$hours" --speed "$speed" "${extra[@]}"
