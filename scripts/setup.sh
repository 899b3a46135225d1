# Sourced by run.sh, test.sh and the check scripts: installs what the build needs (Debian
# packages, as root), makes 32-bit programs runnable where the kernel cannot run them itself, and
# holds the little helpers the scripts share.

kovitv_note() { echo "setup: $*"; }

kovitv_install() {
    [ "$#" -gt 0 ] || return 0
    if [ "$(id -u)" != 0 ]; then
        kovitv_note "missing packages: $* (run as root, or install them, then try again)"
        return 1
    fi
    kovitv_note "installing $*"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq "$@" >/dev/null
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
# library, and qemu for 32-bit programs on kernels without 32-bit support.
kovitv_need_all() {
    kovitv_need_native || return 1
    local need=()
    [ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
    dpkg -s libbenchmark-dev >/dev/null 2>&1 || need+=(libbenchmark-dev)
    echo 'int main(){return 0;}' | g++ -m32 -x c++ - -o /tmp/kovitv-m32-$$ 2>/dev/null \
        || need+=(g++-multilib)
    rm -f /tmp/kovitv-m32-$$
    command -v i686-w64-mingw32-g++-win32 >/dev/null || need+=(g++-mingw-w64-i686)
    command -v i686-w64-mingw32-objdump >/dev/null || need+=(binutils-mingw-w64-i686)
    command -v qemu-i386 >/dev/null || need+=(qemu-user)
    kovitv_install "${need[@]}"
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

# True when 32-bit programs run on the processor itself (not through the emulator).
kovitv_native_i386() {
    [ ! -e /proc/sys/fs/binfmt_misc/kovitv-i386 ] && [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]
}

# A port on 127.0.0.1 (tcp or udp) that was free a moment ago.
kovitv_free_port() {
    python3 -c "import socket,sys; s=socket.socket(socket.AF_INET, socket.SOCK_STREAM if sys.argv[1]=='tcp' else socket.SOCK_DGRAM); s.bind(('127.0.0.1',0)); print(s.getsockname()[1])" "$1"
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
