#!/bin/bash
# Checks that Windows DLLs and programs import only Windows system DLLs, so
# that they run on a machine without a mingw runtime: the C++ runtime, libgcc
# and winpthreads must be linked in statically.
#
#   check-imports.sh FILE...          (32-bit and 64-bit images alike)
#
# OSKEL_ALLOWED_IMPORTS, if set, replaces the list of allowed DLL names: shell
# patterns separated by spaces, matched without regard to case.
#
# Prints one line per problem and "N passed, N failed" (one check per file);
# exits 1 on any failure.
set -u
set -f  # the allowed names are patterns, not file names
shopt -s nocasematch

objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
allowed=${OSKEL_ALLOWED_IMPORTS:-"kernel32.dll advapi32.dll msvcrt.dll ntdll.dll user32.dll shell32.dll ole32.dll oleaut32.dll ws2_32.dll api-ms-win-*.dll"}

if [ $# -eq 0 ]; then
    echo "usage: $0 DLL_OR_EXE..." >&2
    exit 2
fi

passed=0
failed=0
for file in "$@"; do
    if [ ! -f "$file" ]; then
        echo "FAIL: $file does not exist"
        failed=$((failed + 1))
        continue
    fi
    if ! dump=$("$objdump" -p "$file" 2>&1); then
        echo "FAIL: $file: $objdump -p: $dump"
        failed=$((failed + 1))
        continue
    fi
    if ! grep -Eq 'file format pei-(i386|x86-64)' <<<"$dump"; then
        echo "FAIL: $file is not a Windows image"
        failed=$((failed + 1))
        continue
    fi
    bad=0
    while read -r name; do
        ok=0
        for pattern in $allowed; do
            # shellcheck disable=SC2053  # the pattern is meant to glob
            if [[ $name == $pattern ]]; then
                ok=1
                break
            fi
        done
        if [ $ok = 0 ]; then
            echo "FAIL: $file imports $name"
            bad=1
        fi
    done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | sort -u)
    if [ $bad = 0 ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
    fi
done

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
