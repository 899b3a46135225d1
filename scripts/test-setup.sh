#!/usr/bin/env bash
# Checks scripts/setup.sh's package installation against a mirror that misbehaves, with apt-get
# stubbed out (nothing is installed): an update that fails for some indexes must not stop an
# install that can still succeed, a failed install (unmet dependencies) is retried from the main
# and updates suites alone, and only an install that really fails is reported as failed.
# Usage: scripts/test-setup.sh   (exit 0 when every case behaves)
set -uo pipefail
case "${1:-}" in -h|--help) sed -n '2,6s/^# \{0,1\}//p' "$0"; exit 0;; esac
cd "$(dirname "$0")/.."
. scripts/setup.sh

calls=$(mktemp /tmp/kovitv-setup-test-XXXXXX)
trap 'rm -f "$calls"' EXIT
# The stubs: $update and $install say how each call ends, per attempt (space-separated words).
id() { [ "${1:-}" = -u ] && echo 0 || command id "$@"; }
sleep() { :; }
apt-get() {
    local scratch=no word
    for word in "$@"; do case "$word" in Dir::Etc::SourceList=*) scratch=yes;; esac; done
    case " $* " in
        *" update "*)
            echo "update scratch=$scratch" >>"$calls"
            word=${update%% *}; update=${update#* }
            if [ "$word" = partial ]; then
                echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/x/main/binary-i386/Packages.xz  File has unexpected size (1 != 2). Mirror sync in progress?"
                echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
                return 100
            fi;;
        *" install "*)
            echo "install scratch=$scratch" >>"$calls"
            if [ "$scratch" = yes ]; then
                grep -c '^deb ' "$(sed -n 's/.*Dir::Etc::SourceList=\([^ ]*\).*/\1/p' <<<"$*")" >>"$calls"
                grep -q -- '-security' "$(sed -n 's/.*Dir::Etc::SourceList=\([^ ]*\).*/\1/p' <<<"$*")" \
                    && echo "security suite in the scratch sources" >>"$calls"
            fi
            word=${install%% *}; install=${install#* }
            case "$word" in
                unmet) echo "The following packages have unmet dependencies:"
                       echo " wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed"
                       echo "E: Unable to correct problems, you have held broken packages."; return 100;;
                missing) echo "E: Unable to locate package nosuchthing"; return 100;;
            esac;;
    esac
    return 0
}

failed=0
case_() {  # case_ NAME WANT_STATUS WANT_CALLS: runs kovitv_install with $update and $install set
    local name=$1 want_status=$2 want_calls=$3 status got
    : >"$calls"
    kovitv_install wine wine32:i386 >/dev/null 2>&1
    status=$?
    got=$(tr '\n' ';' <"$calls")
    if [ "$status" = "$want_status" ] && [ "$got" = "$want_calls" ]; then
        echo "ok: $name"
    else
        echo "FAILED: $name: status $status (want $want_status), calls \"$got\" (want \"$want_calls\")"
        failed=1
    fi
}

update="ok" install="ok" \
    case_ "a clean mirror: one update, one install" 0 "update scratch=no;install scratch=no;"
update="partial partial partial" install="ok" \
    case_ "an update failing for one index is retried, then the install is tried anyway" 0 \
    "update scratch=no;update scratch=no;update scratch=no;install scratch=no;"
update="partial ok" install="ok" \
    case_ "a retried update that succeeds ends the retries" 0 \
    "update scratch=no;update scratch=no;install scratch=no;"
update="partial partial partial ok" install="unmet ok" \
    case_ "unmet dependencies: installed from the main and updates suites alone" 0 \
    "update scratch=no;update scratch=no;update scratch=no;install scratch=no;update scratch=yes;install scratch=yes;2;"
update="ok ok" install="unmet unmet" \
    case_ "an install that fails from main and updates too is a failure" 1 \
    "update scratch=no;install scratch=no;update scratch=yes;install scratch=yes;2;"
update="ok ok" install="missing missing" \
    case_ "a package that exists nowhere is a failure" 1 \
    "update scratch=no;install scratch=no;update scratch=yes;install scratch=yes;2;"

exit "$failed"
