#!/bin/bash
# Checks that Windows DLLs and programs import only Windows system DLLs, so
# that they run on a machine without a mingw runtime: the C++ runtime, libgcc
# and winpthreads must be linked in statically.
#
#   check-imports.sh [--functions LIST] FILE...   (32-bit and 64-bit images alike)
#
# OSKEL_ALLOWED_IMPORTS, if set, replaces the list of allowed DLL names: shell
# patterns separated by spaces, matched without regard to case.
#
# With --functions, every imported function must also be in LIST (lines
# "dll function", # comments): the functions known to exist in the oldest
# Windows the natives support (windows7-imports.txt). An import by ordinal
# fails, as it cannot be checked by name.
#
# Prints one line per problem and "N passed, N failed" (one check per file);
# exits 1 on any failure.
set -u
set -f  # the allowed names are patterns, not file names
shopt -s nocasematch

objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
allowed=${OSKEL_ALLOWED_IMPORTS:-"kernel32.dll advapi32.dll msvcrt.dll ntdll.dll user32.dll shell32.dll ole32.dll oleaut32.dll ws2_32.dll api-ms-win-*.dll"}

functions=
if [ "${1:-}" = --functions ]; then
    functions=$2
    shift 2
    if [ ! -f "$functions" ]; then
        echo "FAIL: the list of functions $functions does not exist"
        exit 1
    fi
    # "dll function" in lower case / as written, one per line.
    known=$(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "$functions" |
            awk '{print tolower($1) " " $2}' | sort -u)
fi

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
    if [ -n "$functions" ]; then
        # objdump -p: "DLL Name: X" then one "\tvma\t hint name" line per function (or
        # "\tvma\t <none> ordinal" for an import by ordinal), then a blank line.
        imported=$(awk -F'\t' '
            /DLL Name:/ { sub(/.*DLL Name: /, ""); dll = tolower($0); next }
            dll != "" && /^\t[0-9a-f]+\t/ {
                n = split($3, field, " ")
                if (field[1] == "<none>") print dll " #ordinal-" field[2]; else print dll " " field[n]
                next
            }
            /^$/ { dll = "" }' <<<"$dump" | sort -u)
        unknown=$(comm -23 <(echo "$imported") <(echo "$known"))
        if [ -n "$unknown" ]; then
            while read -r dll function; do
                echo "FAIL: $file imports $function from $dll, not in $(basename "$functions")"
            done <<<"$unknown"
            bad=1
        fi
    fi
    if [ $bad = 0 ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
    fi
done

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
