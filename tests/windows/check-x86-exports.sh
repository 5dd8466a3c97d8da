#!/bin/bash
# Checks the export table of the 32-bit oskelsccih.dll.
#
#   check-x86-exports.sh path/to/oskelsccih.dll
#   check-x86-exports.sh BUILD_DIR      (finds oskelsccih.dll below it)
#
# A 32-bit Java VM on Windows looks each native up first under its decorated
# stdcall name, "_Java_<class>_<method>@<argument bytes>", then under the plain
# "Java_<class>_<method>". Both must be exported for every native of
# JavaSCCInterface and of the typed API's NativeBridge, and must lead to the
# same code. The table below is kept by
# hand from the Java declarations (JNIEnv* and jclass 4 bytes each, long 8,
# int, boolean and references 4) and deliberately not read from the build's
# list, so a wrong list fails here. The DLL must also import nothing but
# Windows system DLLs (see check-imports.sh).
#
# Prints one line per problem and "N passed, N failed"; exits 1 on any failure.
set -u

objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
here=$(cd "$(dirname "$0")" && pwd)

if [ $# -ne 1 ]; then
    echo "usage: $0 DLL|BUILD_DIR" >&2
    exit 2
fi
dll=$1
if [ -d "$dll" ]; then
    found=$(find "$dll" -path "$dll/wineprefix" -prune -o -type f -name oskelsccih.dll -print)
    if [ "$(grep -c . <<<"$found")" -ne 1 ]; then
        echo "FAIL: expected one oskelsccih.dll below $dll, found: ${found:-none}"
        echo "0 passed, 1 failed"
        exit 1
    fi
    dll=$found
fi
if [ ! -f "$dll" ]; then
    echo "FAIL: $dll does not exist"
    echo "0 passed, 1 failed"
    exit 1
fi

prefix=Java_com_vantrel_oskel_managedprojects_scci_JavaSCCInterface_
# Java method, argument bytes on 32-bit Windows.
expected='
_initialize 12
_uninitialize 16
_getVersion 16
_getSCCName 16
_getCapabilities 16
_setTracing 24
_getProviders 8
_getProviderKey 12
_getErrList 16
_openProject 20
_closeProject 16
_getProjPath 28
_reGetProjPath 36
_getFiles 28
_checkout 32
_checkin 32
_uncheckout 28
_add 32
_remove 32
_history 28
_diff 20
_properties 20
_queryInfo 28
_runScc 28
_getCommandOptions 24
_checkCommandOptions 24
_populateList 36
_getPopulateList 24
'
api_prefix=Java_com_vantrel_oskel_scc_internal_NativeBridge_
# The natives of com.vantrel.oskel.scc.internal.NativeBridge.
expected_api='
connect 12
finish 16
release 16
enter 20
leave 16
takeMessages 16
openProject 24
setProgress 12
setRegistryFile 12
connectReport 8
rename 24
setOption 24
setNameChangeReceiver 20
getEvents 24
getExtendedCapabilities 24
addFromScc 24
getUserOption 24
beginBatch 16
endBatch 16
createSubProject 20
getParentProjectPath 20
dirQueryInfo 24
dirDiff 24
queryChanges 24
populateDirList 28
isMultiCheckoutEnabled 20
willCreateSccFile 24
cancel 16
queryInfo 24
commentLengths 16
'

if ! dump=$("$objdump" -p "$dll" 2>&1); then
    echo "FAIL: $objdump -p $dll: $dump"
    echo "0 passed, 1 failed"
    exit 1
fi
if ! grep -q 'file format pei-i386' <<<"$dump"; then
    echo "FAIL: $dll is not a 32-bit x86 image"
    echo "0 passed, 1 failed"
    exit 1
fi

# name -> export RVA, from the export address table (ordinal -> RVA) and the
# name pointer table (name -> ordinal).
declare -A rva_of_ordinal=() rva_of_name=()
section=
while IFS= read -r line; do
    case $line in
        "Export Address Table -- Ordinal Base"*) section=addresses; continue ;;
        "[Ordinal/Name Pointer] Table"*) section=names; continue ;;
        "") section=; continue ;;
    esac
    if [ "$section" = addresses ] &&
       [[ $line =~ ^[[:space:]]*\[[[:space:]]*([0-9]+)\][[:space:]]+\+base\[[[:space:]]*[0-9]+\][[:space:]]+([0-9a-fA-F]+)[[:space:]]+Export\ RVA ]]; then
        rva_of_ordinal[${BASH_REMATCH[1]}]=${BASH_REMATCH[2]}
    elif [ "$section" = names ] &&
         [[ $line =~ ^[[:space:]]*\[[[:space:]]*([0-9]+)\][[:space:]]+([^[:space:]]+)$ ]]; then
        rva_of_name[${BASH_REMATCH[2]}]=${rva_of_ordinal[${BASH_REMATCH[1]}]:-?}
    fi
done <<<"$dump"

passed=0
failed=0
pass() { passed=$((passed + 1)); }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }

# check_class PREFIX TABLE EXPECTED_COUNT: both names of every native in TABLE,
# and no export of the class that TABLE does not list.
check_class() {
    local prefix=$1 table=$2 want=$3 count=0 method bytes jni decorated plain ok others name base
    while read -r method bytes; do
        [ -n "$method" ] || continue
        count=$((count + 1))
        jni=$prefix${method//_/_1}
        decorated=_$jni@$bytes
        plain=$jni
        ok=1
        if [ -z "${rva_of_name[$decorated]+x}" ]; then
            ok=0
            others=$(printf '%s\n' "${!rva_of_name[@]}" | grep -E "^_?${jni}@[0-9]+$" | tr '\n' ' ')
            fail "$method: $decorated not exported${others:+ (found: ${others% })}"
        fi
        if [ -z "${rva_of_name[$plain]+x}" ]; then
            ok=0
            fail "$method: $plain not exported"
        fi
        if [ $ok = 1 ] && [ "${rva_of_name[$decorated]}" != "${rva_of_name[$plain]}" ]; then
            ok=0
            fail "$method: $decorated (RVA ${rva_of_name[$decorated]}) and $plain (RVA ${rva_of_name[$plain]}) are different functions"
        fi
        [ $ok = 1 ] && pass
    done <<<"$table"
    if [ $count -ne "$want" ]; then
        fail "the expected table of $prefix has $count natives, not $want"
    fi

    # Natives of the class that are exported but not expected: a misspelt or
    # left-over native would never be called.
    while IFS= read -r name; do
        [ -n "$name" ] || continue
        base=${name#_}
        base=${base%@*}
        method=${base#"$prefix"}
        method=${method//_1/_}
        if ! grep -q "^$method [0-9]*$" <<<"$table"; then
            fail "unexpected export $name"
        fi
    done < <(printf '%s\n' "${!rva_of_name[@]}" | grep -E "^_?${prefix}" | sort)
}
check_class "$prefix" "$expected" 28
check_class "$api_prefix" "$expected_api" 30

# Imports: only the system DLLs the library needs.
if imports=$(OBJDUMP=$objdump OSKEL_ALLOWED_IMPORTS="kernel32.dll advapi32.dll msvcrt.dll api-ms-win-*.dll" \
             "$here/check-imports.sh" "$dll"); then
    pass
else
    problems=$(grep '^FAIL' <<<"$imports")
    if [ -n "$problems" ]; then
        echo "$problems"
        failed=$((failed + $(wc -l <<<"$problems")))
    else
        fail "import check of $dll failed: $imports"
    fi
fi

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
