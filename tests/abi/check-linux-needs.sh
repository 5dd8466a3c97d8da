#!/usr/bin/env bash
# Checks what the shipped Linux binaries need from the machine they run on, against the list in
# docs/linux-requirements.md:
#   - shared libraries: only the C library, the dynamic loader and the two libraries of glibc
#     that held the thread and dl functions before 2.34 (the C++ runtime is linked in);
#   - symbol versions: only GLIBC_*, exactly the versions the document lists, none newer than
#     the oldest glibc the document promises ("**They load on glibc X.Y**");
#   - exports of the library: only the JNI entry points of the two native classes (nothing of the
#     linked-in runtime);
#   - stripped, with the debug info in <file>.debug beside it and linked from it.
#
#   check-linux-needs.sh DOC LIBRARY PROGRAM...
set -u -o pipefail
doc=$1; shift
library=$1
status=0
fail() { echo "FAIL: $*"; status=1; }

for f in "$@"; do
    [ -f "$f" ] || { fail "$f is not built"; continue; }
    name=$(basename "$f")
    needed=$(readelf -d -W "$f" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort -u)
    for lib in $needed; do
        case "$lib" in
            libc.so.6|ld-linux-x86-64.so.2|libpthread.so.0|libdl.so.2) ;;
            *) fail "$name needs $lib" ;;
        esac
    done
    others=$(readelf -V -W "$f" | grep -o 'Name: [A-Za-z_]*[0-9][0-9.]*' | sed 's/Name: //' |
             grep -v '^GLIBC_' | sort -u)
    [ -z "$others" ] || fail "$name needs symbol versions beyond the C library: $others"
    if readelf -S -W "$f" | grep -q '\.debug_info'; then fail "$name is not stripped"; fi
    readelf -S -W "$f" | grep -q '\.gnu_debuglink' || fail "$name has no link to its debug info"
    [ -f "$f.debug" ] || fail "$name.debug is missing"
done

# The natives of the raw class and those the typed API adds in its internal class.
exports=$(nm -D --defined-only "$library" | awk '{print $3}' |
          grep -Ev '^Java_com_vantrel_oskel_(managedprojects_scci_JavaSCCInterface__1|scc_internal_NativeBridge_)' || true)
[ -z "$exports" ] || fail "$(basename "$library") exports more than the natives: $(echo $exports | head -c 300)"

actual=$(for f in "$@"; do readelf -V -W "$f"; done | grep -o 'Name: GLIBC_[0-9.]*' |
         sed 's/Name: //' | sort -u -V)
listed=$(sed -n 's/^- `\(GLIBC_[0-9.]*\)`.*/\1/p' "$doc" | sort -u -V)
if [ "$actual" != "$listed" ]; then
    fail "the glibc symbol versions differ from $doc"
    diff <(echo "$listed") <(echo "$actual") | sed -n 's/^</  listed, not needed:/p; s/^>/  needed, not listed:/p'
fi
oldest=$(sed -n 's/^\*\*They load on glibc \([0-9.]*\).*/\1/p' "$doc" | head -1)
if [ -z "$oldest" ]; then
    fail "$doc does not state the oldest glibc (a line starting **They load on glibc X.Y**)"
else
    for version in $actual; do
        newest=$(printf '%s\n%s\n' "${version#GLIBC_}" "$oldest" | sort -V | tail -1)
        [ "$newest" = "$oldest" ] || fail "$version is newer than glibc $oldest, the oldest promised:" \
            "$(for f in "$@"; do objdump -T "$f" | grep -F "($version)" | awk '{print $NF}'; done | sort -u | tr '\n' ' ')"
    done
fi
[ $status = 0 ] && echo "ok: $(echo "$actual" | tail -1) is the newest glibc version needed"
exit $status
