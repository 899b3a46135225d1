#!/usr/bin/env bash
# Builds the libFuzzer targets in tests/fuzz/ with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a time budget, starting from the seeds in
# tests/fuzz/corpus/<target>/. What a run finds goes into the build folder's working corpus
# (build/fuzz/corpus-<target>), never into the committed seeds. Exit status 0 only when no target
# crashed or reported; 1 when one did (its input is left as build/fuzz/crash-*); 2 on bad usage.
set -uo pipefail
cd "$(dirname "$0")/.."

all_targets=(request_fuzz template_fuzz config_fuzz stream_fuzz demo_fuzz heartbeat_fuzz)
usage() {
    cat <<USAGE
usage: scripts/fuzz.sh [SECONDS] [TARGET...]
  SECONDS  run time per target (default 30); ./test.sh uses 20, 3600 hunts for an hour
  TARGET   any of: ${all_targets[*]} (default: all)
Environment: KOVITV_FUZZ_DIR chooses the build folder (default build/fuzz); its working corpus
grows run by run. To replay a crash: build/fuzz/<target> build/fuzz/crash-<hash>
USAGE
}
case "${1:-}" in -h|--help) usage; exit 0;; esac
budget=${1:-30}
[[ "$budget" =~ ^[0-9]+$ ]] && [ "$budget" -gt 0 ] || { usage >&2; exit 2; }
shift $(( $# > 0 ? 1 : 0 ))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")
for t in "${targets[@]}"; do
    [ -f "tests/fuzz/$t.cpp" ] || { echo "fuzz.sh: no target $t (tests/fuzz/$t.cpp)" >&2; exit 2; }
done
out=${KOVITV_FUZZ_DIR:-build/fuzz}

if ! command -v clang++ >/dev/null; then
    . scripts/setup.sh
    kovitv_install clang || { echo "fuzz.sh: cannot install clang"; exit 1; }
fi

flags=(-std=c++17 -g -O1 -Wall -Wextra -Werror -Isrc -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=undefined -fno-omit-frame-pointer -Itools/spectate)
stream="src/state/events.cpp src/stream/state_chunks.cpp src/stream/packet.cpp
        src/stream/reader.cpp src/state/names.cpp"
# Each target with the sources it exercises.
declare -A sources=(
    [request_fuzz]="src/web/request.cpp src/net/net.cpp src/net/net_posix.cpp src/net/faults.cpp"
    [template_fuzz]="src/web/template.cpp src/host/config.cpp"
    [config_fuzz]="src/host/config.cpp"
    [stream_fuzz]="$stream src/state/state.cpp src/broadcast/mirror.cpp src/demo/demo_text.cpp
                  tools/spectate/game.cpp tools/spectate/view.cpp"
    [demo_fuzz]="$stream src/demo/demo_reader.cpp src/demo/demo_text.cpp"
    [heartbeat_fuzz]="src/broadcast/heartbeat.cpp src/broadcast/connections.cpp src/host/config.cpp"
)

mkdir -p "$out"
failed=0
for target in "${targets[@]}"; do
    echo "== $target: building"
    # shellcheck disable=SC2086
    if ! clang++ "${flags[@]}" tests/fuzz/$target.cpp ${sources[$target]} -o "$out/$target" \
            -lpthread; then
        echo "FAILED: $target does not build"; failed=1; continue
    fi
    work="$out/corpus-$target"
    mkdir -p "$work"
    seeds="tests/fuzz/corpus/$target"
    [ -d "$seeds" ] || seeds=""
    echo "== $target: running for ${budget}s"
    # New inputs land in the first folder only: the working corpus.
    # shellcheck disable=SC2086
    ASAN_OPTIONS=detect_leaks=1 "$out/$target" -max_total_time="$budget" -timeout=10 \
        -rss_limit_mb=1024 -max_len=8192 -print_final_stats=1 -artifact_prefix="$out/" \
        "$work" $seeds > "$out/$target.log" 2>&1
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
