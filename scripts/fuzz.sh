#!/usr/bin/env bash
# Builds the libFuzzer targets in tests/fuzz/ with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a time budget. Exit status 0 only when no target
# crashed or reported; a crashing input is left beside the corpus.
#
#   scripts/fuzz.sh [seconds per target, default 30]
# KOVITV_FUZZ_DIR chooses the build folder (default build/fuzz); its corpus grows run by run.
set -uo pipefail
cd "$(dirname "$0")/.."
budget=${1:-30}
out=${KOVITV_FUZZ_DIR:-build/fuzz}

if ! command -v clang++ >/dev/null; then
    if [ "$(id -u)" != 0 ]; then echo "fuzz.sh: clang is missing (apt-get install clang)"; exit 1; fi
    DEBIAN_FRONTEND=noninteractive apt-get update -qq && apt-get install -y -qq clang >/dev/null \
        || { echo "fuzz.sh: cannot install clang"; exit 1; }
fi

flags=(-std=c++17 -g -O1 -Wall -Wextra -Werror -Isrc -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
# Each target with the sources it exercises.
declare -A sources=(
    [request_fuzz]="src/web/request.cpp src/net/net.cpp src/net/net_posix.cpp src/net/faults.cpp"
    [template_fuzz]="src/web/template.cpp src/plugin/config.cpp"
)

seed() {  # seed TARGET NAME BYTES
    mkdir -p "$out/corpus-$1"
    printf '%b' "$3" > "$out/corpus-$1/$2"
}
mkdir -p "$out"
seed request_fuzz root '\x40GET / HTTP/1.1\r\nHost: x\r\n\r\n'
seed request_fuzz pipelined '\xffGET /a.gif HTTP/1.1\r\n\r\nGET /?d.kdem HTTP/1.1\n\nGET /b'
seed request_fuzz refused '\x10GET /../x HTTP/1.1\r\n\r\nPOST / HTTP/1.1\r\n\r\n'
seed template_fuzz page 'x.kdem\n<p>$adv $width, $Width $demo $ $a\\-b $hostname</p>'
seed template_fuzz cut '\n$hostname$hostname$hostname$hostname$hostname$x$width\\'

failed=0
for target in request_fuzz template_fuzz; do
    echo "== $target: building"
    # shellcheck disable=SC2086
    if ! clang++ "${flags[@]}" tests/fuzz/$target.cpp ${sources[$target]} -o "$out/$target" \
            -lpthread; then
        echo "FAILED: $target does not build"; failed=1; continue
    fi
    echo "== $target: running for ${budget}s"
    (cd "$out" && ASAN_OPTIONS=detect_leaks=1 "./$target" -max_total_time="$budget" \
        -timeout=10 -rss_limit_mb=1024 -max_len=4096 -print_final_stats=1 \
        "corpus-$target" > "$target.log" 2>&1)
    status=$?
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)' "$out/$target.log"
    if [ $status -ne 0 ]; then
        echo "FAILED: $target (exit $status); the end of $out/$target.log:"
        tail -40 "$out/$target.log"
        failed=1
    fi
done
[ $failed -eq 0 ] && echo "fuzz.sh: no target crashed or reported in ${budget}s each"
exit $failed
