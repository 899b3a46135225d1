#!/usr/bin/env bash
# Checks that a Linux binary loads on old distributions: no symbol version above GLIBC_2.17 (or
# --max), no versioned symbol of the C++ runtime or libgcc (it carries its own), and no library
# beyond libc, libpthread, libdl, libm and the loader.
# Usage: scripts/check-glibc.sh [--max 2.17] FILE...
#        scripts/check-glibc.sh --self-test   (shows the check refuses what it must)
set -uo pipefail

usage() { sed -n '2,6s/^# \{0,1\}//p' "$0"; }
max=2.17
files=()
while [ "$#" -gt 0 ]; do
    case "$1" in
        -h|--help) usage; exit 0;;
        --max) max=${2:?--max needs a version}; shift 2;;
        --self-test) self_test=1; shift;;
        -*) echo "check-glibc.sh: unknown option $1" >&2; usage >&2; exit 2;;
        *) files+=("$1"); shift;;
    esac
done
for tool in objdump readelf; do
    command -v "$tool" >/dev/null || { echo "check-glibc.sh: $tool is missing (binutils)" >&2; exit 2; }
done

# check FILE: prints what is wrong with it; status 1 when anything is.
check() {
    local file=$1 bad=0
    [ -r "$file" ] || { echo "$file: cannot be read"; return 1; }
    # "version symbol" for each undefined dynamic symbol; the version is the field before the name.
    local versions
    versions=$(objdump -T "$file" | awk '/\*UND\*/ { for (i = 1; i <= NF; i++) if ($i ~ /^\(?(GLIBC|GLIBCXX|CXXABI|GCC)_/) { v = $i; gsub(/[()]/, "", v); print v, $NF } }')
    local newer
    newer=$(awk -v max="$max" '
        function after(a, b,   x, y, n, i) {  # version a above version b, numerically
            n = split(a, x, "."); split(b, y, ".")
            for (i = 1; i <= n || i in y; i++) { if (x[i] + 0 != y[i] + 0) return x[i] + 0 > y[i] + 0 }
            return 0
        }
        $1 ~ /^GLIBC_[0-9]/ { v = substr($1, 7); if (after(v, max)) print $1, $2 }' <<<"$versions" | sort -V)
    if [ -n "$newer" ]; then
        echo "$file needs symbol versions above GLIBC_$max:"
        sed 's/^/    /' <<<"$newer"
        bad=1
    fi
    local runtime
    runtime=$(grep -E '^(GLIBCXX|CXXABI|GCC)_' <<<"$versions")
    if [ -n "$runtime" ]; then
        echo "$file depends on the build machine's C++ runtime ($(wc -l <<<"$runtime") symbols), as:"
        sort -uV <<<"$runtime" | head -n 5 | sed 's/^/    /'
        bad=1
    fi
    local needed n
    needed=$(readelf -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
    for n in $needed; do
        case "$n" in libc.so.6|libpthread.so.0|libdl.so.2|libm.so.6|ld-linux.so.2) ;;
            *) echo "$file needs $n (only libc, libpthread, libdl, libm and the loader may be)"; bad=1;;
        esac
    done
    local highest
    highest=$(awk '$1 ~ /^GLIBC_[0-9]/ { print $1 }' <<<"$versions" | sort -uV | tail -1)
    echo "$file: highest ${highest:-GLIBC_(none)}, needs ${needed//$'\n'/ }"
    return "$bad"
}

if [ "${self_test:-0}" = 1 ]; then
    # A library calling pthread_create and std::thread, linked as a naive build would: the check
    # must name the new versions and the C++ runtime.
    scratch=$(mktemp -d); trap 'rm -rf "$scratch"' EXIT
    printf '%s\n' '#include <pthread.h>' '#include <thread>' \
        'extern "C" int probe(void* (*f)(void*)) { pthread_t t; std::thread([]{}).join();' \
        '  return pthread_create(&t, nullptr, f, nullptr); }' > "$scratch/probe.cpp"
    g++ -m32 -shared -fPIC "$scratch/probe.cpp" -o "$scratch/probe.so" -pthread \
        || { echo "check-glibc.sh: cannot build the self-test library (g++-multilib?)"; exit 2; }
    out=$(check "$scratch/probe.so"); status=$?
    echo "$out"
    [ "$status" = 1 ] && grep -q 'GLIBC_2.34 pthread_create' <<<"$out" \
        && grep -q 'libstdc++.so.6' <<<"$out" && grep -q 'GLIBCXX_' <<<"$out" \
        || { echo "check-glibc.sh: the self-test library was not refused as it must be"; exit 1; }
    echo "check-glibc.sh: self-test passed (a naive build is refused)"
    [ "${#files[@]}" -eq 0 ] && exit 0
fi

[ "${#files[@]}" -gt 0 ] || { usage >&2; exit 2; }
status=0
for f in "${files[@]}"; do check "$f" || status=1; done
exit "$status"
