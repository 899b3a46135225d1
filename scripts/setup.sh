# Sourced by run.sh, test.sh and the check scripts: installs what the build needs (Debian
# packages, as root), makes 32-bit programs runnable where the kernel cannot run them itself, and
# holds the little helpers the scripts share.

kovitv_note() { echo "setup: $*"; }

# kovitv_install PACKAGE...: installs them with apt-get (as root). A mirror caught mid-sync makes
# `apt-get update` fail for some indexes only ("Some index files failed to download", exit 100),
# while every package we want can still be fetched: update is retried, then the install is tried
# whatever update said. An index out of step with the rest (seen: the security suite's i386 one)
# can also leave apt unable to resolve dependencies ("generated breaks", unmet dependencies of the
# :i386 packages); so a failed install is tried once more from the main and updates suites alone.
# Status 1 only when the packages could not be installed either way.
kovitv_install() {
    [ "$#" -gt 0 ] || return 0
    if [ "$(id -u)" != 0 ]; then
        kovitv_note "missing packages: $* (run as root, or install them, then try again)"
        return 1
    fi
    kovitv_note "installing $*"
    export DEBIAN_FRONTEND=noninteractive
    local log try
    log=$(mktemp /tmp/kovitv-apt-XXXXXX)
    for try in 1 2 3; do
        apt-get update -qq >"$log" 2>&1 && break
        kovitv_note "apt-get update failed (try $try of 3): $(kovitv_apt_errors "$log")"
        [ "$try" = 3 ] || sleep "$((try * 5))"
    done
    if apt-get install -y -qq "$@" >"$log" 2>&1; then
        rm -f "$log"
        return 0
    fi
    kovitv_note "apt-get install failed: $(kovitv_apt_errors "$log")"
    kovitv_note "trying again with only the main and updates suites as sources"
    if kovitv_install_from_main "$log" "$@"; then
        rm -f "$log"
        return 0
    fi
    kovitv_note "that failed too: $(kovitv_apt_errors "$log")"
    rm -f "$log"
    return 1
}

# The first few error lines of an apt log, on one line.
kovitv_apt_errors() {
    grep -E '^(E:|Err:| [^ ].* : Depends:)' "$1" | head -n 4 | tr -s ' \n' ' '
}

# kovitv_install_from_main LOG PACKAGE...: the install from this distribution's main and updates
# suites alone, with apt's lists for them kept apart so that the system's own stay as they are.
kovitv_install_from_main() {
    local log=$1; shift
    local codename uri keyring scratch status
    codename=$(. /etc/os-release 2>/dev/null; echo "${VERSION_CODENAME:-}")
    [ -n "$codename" ] || { echo "E: no VERSION_CODENAME in /etc/os-release" >"$log"; return 1; }
    uri=$(kovitv_main_mirror "$codename")
    keyring=/usr/share/keyrings/debian-archive-keyring.gpg
    local options="arch=$(dpkg --print-architecture)$(dpkg --print-foreign-architectures | sed 's/^/,/' | tr -d '\n')"
    [ -f "$keyring" ] && options="$options signed-by=$keyring"
    scratch=$(mktemp -d /tmp/kovitv-apt-main-XXXXXX)
    mkdir -p "$scratch/parts" "$scratch/lists/partial"
    printf 'deb [%s] %s %s main\ndeb [%s] %s %s-updates main\n' \
        "$options" "$uri" "$codename" "$options" "$uri" "$codename" >"$scratch/sources.list"
    local apt=(apt-get -o "Dir::Etc::SourceList=$scratch/sources.list"
               -o "Dir::Etc::SourceParts=$scratch/parts" -o "Dir::State::Lists=$scratch/lists")
    "${apt[@]}" update -qq >"$log" 2>&1
    "${apt[@]}" install -y -qq "$@" >>"$log" 2>&1
    status=$?
    rm -rf "$scratch"
    return "$status"
}

# The mirror the system's sources name for the distribution's own suite (not -security).
kovitv_main_mirror() {
    local found
    found=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null | awk -v suite="$1" '
        /^$/ { if (uri != "" && has) { print uri; exit } uri = ""; has = 0; next }
        /^URIs:/ { uri = $2 }
        /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == suite) has = 1 }
        END { if (uri != "" && has) print uri }' | head -n 1)
    [ -n "$found" ] || found=$(grep -hE "^deb +(\[[^]]*\] +)?[a-z]+://[^ ]+ +$1 " \
        /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null \
        | sed -E 's/^deb +(\[[^]]*\] +)?//' | awk '{ print $1; exit }')
    echo "${found:-http://deb.debian.org/debian}"
}

# Packages for the native build alone (run.sh).
kovitv_need_native() {
    local need=()
    command -v cmake >/dev/null || need+=(cmake)
    command -v g++ >/dev/null || need+=(g++)
    command -v make >/dev/null || need+=(make)
    kovitv_install "${need[@]}"
}

# Everything ./test.sh builds and runs: the three targets, GoogleTest sources, the benchmark
# library; qemu for 32-bit programs only on kernels that cannot run them, and wine (best effort:
# the wine smoke test gives the reason when it is missing) on those that can.
kovitv_need_all() {
    kovitv_need_native || return 1
    local need=()
    [ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
    dpkg -s libbenchmark-dev >/dev/null 2>&1 || need+=(libbenchmark-dev)
    kovitv_i386_probe_builds || need+=(g++-multilib)
    command -v i686-w64-mingw32-g++-win32 >/dev/null || need+=(g++-mingw-w64-i686)
    command -v i686-w64-mingw32-objdump >/dev/null || need+=(binutils-mingw-w64-i686)
    kovitv_install "${need[@]}" || return 1
    if ! kovitv_native_i386 && ! command -v qemu-i386 >/dev/null; then
        kovitv_install qemu-user || return 1
    fi
    kovitv_need_wine || kovitv_note "no wine: $KOVITV_WINE_PROBLEM"
    return 0
}

# wine with its 32-bit part (the Windows simhost and DLL are 32-bit), where the kernel runs i386
# programs itself: wine does not run under qemu's user-mode emulator. On failure the reason is
# in KOVITV_WINE_PROBLEM, exported so that the scripts a run starts later do not try again.
kovitv_need_wine() {
    [ -z "${KOVITV_WINE_PROBLEM:-}" ] || return 1  # found earlier in this run: no second try
    if ! kovitv_native_i386; then
        export KOVITV_WINE_PROBLEM="this kernel cannot run 32-bit programs natively, and wine does not run under qemu's user-mode emulator"
        return 1
    fi
    if command -v wine >/dev/null \
        && dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'ok installed'; then
        return 0
    fi
    if [ "$(id -u)" != 0 ]; then
        export KOVITV_WINE_PROBLEM="wine and wine32:i386 are not installed (setup installs them when run as root)"
        return 1
    fi
    if ! dpkg --print-foreign-architectures | grep -qx i386 && ! dpkg --add-architecture i386; then
        export KOVITV_WINE_PROBLEM="dpkg --add-architecture i386 failed"
        return 1
    fi
    if ! kovitv_install wine wine32:i386; then
        export KOVITV_WINE_PROBLEM="wine and wine32:i386 could not be installed (apt-get's errors above)"
        return 1
    fi
}

# True when g++ can build 32-bit programs (g++-multilib).
kovitv_i386_probe_builds() {
    echo 'int main(){return 0;}' | g++ -m32 -x c++ - -o /tmp/kovitv-m32-$$ 2>/dev/null
    local status=$?
    rm -f /tmp/kovitv-m32-$$
    return "$status"
}

# Real servers are 32-bit. Some kernels (containers, micro-VMs) cannot execute i386 programs;
# there the i386 tests run under qemu's user-mode emulator through binfmt_misc.
kovitv_enable_i386() {
    local probe=/tmp/kovitv-i386-probe-$$
    echo 'int main(){return 0;}' | g++ -m32 -x c++ - -o "$probe" || return 1
    if "$probe" 2>/dev/null; then rm -f "$probe"; return 0; fi
    local qemu; qemu=$(command -v qemu-i386) || { rm -f "$probe"; return 1; }
    [ -e /proc/sys/fs/binfmt_misc/register ] \
        || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null
    if [ ! -e /proc/sys/fs/binfmt_misc/kovitv-i386 ]; then
        printf '%s' ':kovitv-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F' \
            > /proc/sys/fs/binfmt_misc/register 2>/dev/null
    fi
    if "$probe" 2>/dev/null; then
        kovitv_note "this kernel cannot run i386 programs; they run under $qemu"
        rm -f "$probe"; return 0
    fi
    rm -f "$probe"
    return 1
}

# True when 32-bit programs run on the processor itself (not through the emulator). The answer
# is kept: the probe costs a compile.
kovitv_native_i386() {
    if [ -z "${KOVITV_NATIVE_I386:-}" ]; then
        KOVITV_NATIVE_I386=no
        if [ ! -e /proc/sys/fs/binfmt_misc/kovitv-i386 ] && [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
            local probe=/tmp/kovitv-native-probe-$$
            if echo 'int main(){return 0;}' | g++ -m32 -x c++ - -o "$probe" 2>/dev/null \
                && "$probe" 2>/dev/null; then
                KOVITV_NATIVE_I386=yes
            fi
            rm -f "$probe"
        fi
    fi
    [ "$KOVITV_NATIVE_I386" = yes ]
}

# A port on 127.0.0.1 (tcp or udp) that was free a moment ago.
kovitv_free_port() {
    python3 -c "import socket,sys; s=socket.socket(socket.AF_INET, socket.SOCK_STREAM if sys.argv[1]=='tcp' else socket.SOCK_DGRAM); s.bind(('127.0.0.1',0)); print(s.getsockname()[1])" "$1"
}

# kovitv_http_get URL: prints the body of a 200 answer (status 1 on anything else, within 2 s).
kovitv_http_get() {
    python3 -c "import sys, urllib.request; sys.stdout.write(urllib.request.urlopen(sys.argv[1], timeout=2).read().decode('utf-8', 'replace'))" "$1" 2>/dev/null
}

# kovitv_scratch_game KIND: a scratch game folder ($game, under /tmp) holding a copy of the
# default plugin folder whose config.ini takes a free UDP port ($udp_port), and a free TCP port
# for the web server ($tcp_port). On exit the simhost in $sim_pid, if any, is stopped and the
# folder removed.
kovitv_scratch_game() {
    game=$(mktemp -d "/tmp/kovitv-$1-XXXXXX")
    sim_pid=
    trap kovitv_scratch_cleanup EXIT
    tcp_port=$(kovitv_free_port tcp)
    udp_port=$(kovitv_free_port udp)
    mkdir -p "$game/addons"
    cp -r dist/addons/kovitv "$game/addons/"
    printf '\nudp_port %s\n' "$udp_port" >> "$game/addons/kovitv/config.ini"
}
kovitv_scratch_cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$game"
}

# kovitv_record_match BUILD SECONDS GAME: plays a scripted 32-player match of SECONDS game
# seconds in BUILD's simhost with the default plugin folder copied into the game folder GAME,
# recording a demo, and prints the demo's path (status 1 when none was recorded).
kovitv_record_match() {
    mkdir -p "$3/addons"
    cp -r dist/addons/kovitv "$3/addons/kovitv"
    sed -i 's/^#* *record_demos.*/record_demos on/' "$3/addons/kovitv/config.ini"
    "$1/simhost" --game "$3" --players 32 --speed 20 --duration "$2" --no-stdin >/dev/null
    local demo
    demo=$(find "$3" -name '*.kdem' | head -1)
    [ -n "$demo" ] && echo "$demo"
}
