#!/bin/bash
# Runs the GoogleTest programs of a Windows build (x64 or x86) under wine.
#
#   run-wine-tests.sh BUILD_DIR [GTEST_ARGUMENT...]
#   run-wine-tests.sh --x64-natives X64_BUILD_DIR X86_BUILD_DIR [GTEST_ARGUMENT...]
#
# Every *_tests.exe and *_selftest.exe under BUILD_DIR runs with
# --gtest_brief=1 (and any further arguments, e.g. --gtest_filter=...), its
# working directory the program's own. The wine prefix, and with it the
# registry the tests fill through "regedit /S", is kept in BUILD_DIR/wineprefix;
# it is made on first use (wineboot -i, about ten seconds) and reused after.
# Delete that directory for a fresh registry. No X display is needed.
#
# With --x64-natives, only the x64 build's JNI sessions (jnihost_tests.exe)
# run, against a copy of the x64 oskelsccih.dll that has both host programs
# beside it and with the x86 build's providers: every provider is a 32-bit DLL
# under the 64-bit library, so every connection must run in
# oskelsccih-host-x86.exe. The x86 build's prefix holds the copy.
#
# A 32-bit build needs wine's 32-bit part (Debian: wine32:i386); a prefix made
# before it was installed is made again.
#
# Environment of each program:
#   OSKEL_PROVIDER_DIR  Windows path of BUILD_DIR/providers (the test providers)
#   OSKEL_TEST_TMP      an empty Windows folder for the program alone,
#                       C:\oskel-tmp\<program name>, emptied before each run
#   OSKEL_JNIHOST_LIBRARY  with --x64-natives: Windows path of the library copy
#
# Settings: OSKEL_WINE (default: wine for 32-bit programs, else wine64, else
# wine), OSKEL_WINE_TIMEOUT (seconds per program, default 900),
# OSKEL_WINE_VERBOSE=1 (print the output of passing programs too).
#
# Prints a line per program, the output of failing ones, and a final
# "N passed, N failed" counting test cases; a program that crashes, hangs,
# prints no result or exits with an error despite passing tests counts as one
# failed case more. Exits 1 on any failure.
set -u

usage() {
    echo "usage: $0 [--x64-natives X64_BUILD_DIR] BUILD_DIR [GTEST_ARGUMENT...]" >&2
    exit 2
}
fail() {
    echo "FAIL: $*"
    echo "0 passed, 1 failed"
    exit 1
}

x64_dir=
if [ "${1:-}" = --x64-natives ]; then
    [ $# -ge 3 ] || usage
    [ -d "$2" ] || fail "no x64 build folder $2"
    x64_dir=$(cd "$2" && pwd)
    shift 2
fi
if [ $# -lt 1 ]; then
    usage
fi
[ -d "$1" ] || fail "no build folder $1"
build_dir=$(cd "$1" && pwd)
shift

# The machine type in a PE file's header: 014c x86, 8664 x64.
pe_machine() {
    local offset
    offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
    [ -n "$offset" ] && od -An -tx2 -j$((offset + 4)) -N2 "$1" 2>/dev/null | tr -d ' '
}

library=$build_dir/src/oskelsccih.dll
[ -f "$library" ] || fail "no $library: is $build_dir a Windows build?"
machine=$(pe_machine "$library")
needs_x86=0
if [ -n "$x64_dir" ]; then
    [ "$machine" = 014c ] || fail "$build_dir is not an x86 build (oskelsccih.dll machine ${machine:-unknown})"
    [ "$(pe_machine "$x64_dir/src/oskelsccih.dll")" = 8664 ] || fail "$x64_dir/src/oskelsccih.dll is not an x64 library"
    needs_x86=1
elif [ "$machine" = 014c ]; then
    needs_x86=1
fi

if [ -n "${OSKEL_WINE:-}" ]; then
    wine=$OSKEL_WINE
elif [ $needs_x86 = 1 ]; then
    # wine64 starts 64-bit programs only; wine starts both.
    wine=$(command -v wine)
else
    wine=$(command -v wine64 || command -v wine)
fi
if [ -z "$wine" ]; then
    fail "no wine64 or wine on PATH"
fi
wine_dir=$(dirname "$wine")
wineboot=$wine_dir/wineboot
winepath=$wine_dir/winepath
wineserver=$wine_dir/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)
timeout_seconds=${OSKEL_WINE_TIMEOUT:-900}

export WINEPREFIX=$build_dir/wineprefix
export WINEDEBUG=-all
# No downloads or install prompts for .NET and the HTML engine.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
# Starting a process under wine costs far more than on Windows: the localstore
# crash and contention tests, which start a worker process per round, run
# fewer rounds here unless asked for more.
export LOCALSTORE_CRASH_ROUNDS=${LOCALSTORE_CRASH_ROUNDS:-6}
export LOCALSTORE_CONTENTION_ROUNDS=${LOCALSTORE_CONTENTION_ROUNDS:-8}
unset DISPLAY WAYLAND_DISPLAY

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

# The prefix is usable once the marker exists; a half-made one is made anew,
# and so is one without the 32-bit part (made before the 32-bit wine was
# installed) when 32-bit programs are to run.
ready_marker=$WINEPREFIX/.oskel-ready
x86_part=$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll
if [ -f "$ready_marker" ] && [ $needs_x86 = 1 ] && [ ! -f "$x86_part" ]; then
    echo "the wine prefix $WINEPREFIX has no 32-bit part: making it again"
    rm -f "$ready_marker"
fi
if [ ! -f "$ready_marker" ]; then
    start=$(now)
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    echo "creating wine prefix $WINEPREFIX"
    # Without the 32-bit wine, messages about the missing syswow64 are expected.
    if ! "$wineboot" -i >"$build_dir/wineboot.log" 2>&1 || ! "$wineserver" -w; then
        fail "wineboot -i failed, see $build_dir/wineboot.log"
    fi
    touch "$ready_marker"
    echo "wine prefix created in $(elapsed "$start") s"
fi
if [ $needs_x86 = 1 ] && [ ! -f "$x86_part" ]; then
    fail "wine cannot run 32-bit programs: the prefix has no $x86_part" \
         "(Debian: dpkg --add-architecture i386; apt-get update; apt-get install wine32:i386)"
fi

winpath() { "$winepath" -w "$1" 2>/dev/null; }

providers=$build_dir/providers

OSKEL_PROVIDER_DIR=$(winpath "$providers")
export OSKEL_PROVIDER_DIR
tmp_root=$WINEPREFIX/drive_c/oskel-tmp

if [ -n "$x64_dir" ]; then
    # The x64 library with both hosts beside it, where it looks for them; in
    # the prefix, where no search for the build's own library finds it.
    natives=$WINEPREFIX/drive_c/oskel-x64-natives
    rm -rf "$natives"
    mkdir -p "$natives"
    for file in "$x64_dir/src/oskelsccih.dll" "$x64_dir/src/oskelsccih-host-x64.exe" \
                "$build_dir/src/oskelsccih-host-x86.exe"; do
        cp "$file" "$natives/" || fail "cannot copy $file"
    done
    OSKEL_JNIHOST_LIBRARY=$(winpath "$natives/oskelsccih.dll")
    export OSKEL_JNIHOST_LIBRARY
    sessions=$x64_dir/tests/jnihost/jnihost_tests.exe
    [ -f "$sessions" ] || fail "no $sessions"
    # One process per test: the process's host outlives a test's connections
    # and would keep the test provider's script and log of the first test
    # that started it.
    mapfile -t tests < <(cd "$(dirname "$sessions")" &&
                         timeout 120 "$wine" "$sessions" --gtest_list_tests "$@" 2>/dev/null </dev/null |
                         tr -d '\r' | awk '/^[^ ]/ { suite = $1 } /^  [^ ]/ { print suite $1 }')
    [ ${#tests[@]} -gt 0 ] || fail "$sessions lists no tests"
    programs=() filters=()
    for test in "${tests[@]}"; do
        programs+=("$sessions")
        filters+=("--gtest_filter=$test")
    done
else
    mapfile -t programs < <(find "$build_dir" \( -path "$WINEPREFIX" -prune \) -o \
                                 -type f \( -name '*_tests.exe' -o -name '*_selftest.exe' \) -print | sort)
    if [ ${#programs[@]} -eq 0 ]; then
        fail "no *_tests.exe or *_selftest.exe under $build_dir"
    fi
    filters=()
fi

run_start=$(now)
total_passed=0
total_skipped=0
total_failed=0
for index in "${!programs[@]}"; do
    program=${programs[index]}
    filter=${filters[index]:-}
    name=$(basename "$program" .exe)
    if [ -n "$x64_dir" ]; then
        shown="x64 ${program#"$x64_dir"/} ${filter#--gtest_filter=} with x86 providers"
    else
        shown=${program#"$build_dir"/}
    fi
    rm -rf "${tmp_root:?}/$name"
    mkdir -p "$tmp_root/$name"
    OSKEL_TEST_TMP="C:\\oskel-tmp\\$name"
    export OSKEL_TEST_TMP

    start=$(now)
    output=$(cd "$(dirname "$program")" &&
             timeout -k 10 "$timeout_seconds" "$wine" "$program" --gtest_brief=1 "$@" ${filter:+"$filter"} 2>&1 </dev/null)
    status=$?
    seconds=$(elapsed "$start")
    output=${output//$'\r'/}

    # Brief output ends with
    #   [==========] N tests from M test suites ran. (T ms total)
    #   [  PASSED  ] P tests.
    #   [  SKIPPED ] S tests.        (only when S > 0)
    # after one "[  FAILED  ] Suite.Name (T ms)" line per failed test.
    ran=$(sed -n 's/^\[==========\] \([0-9][0-9]*\) tests\{0,1\} from .* ran\..*/\1/p' <<<"$output" | tail -1)
    passed=$(sed -n 's/^\[  PASSED  \] \([0-9][0-9]*\) tests\{0,1\}\.$/\1/p' <<<"$output" | tail -1)
    skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9][0-9]*\) tests\{0,1\}\.$/\1/p' <<<"$output" | tail -1)
    failed_lines=$(grep '^\[  FAILED  \] ' <<<"$output" | grep -vc '^\[  FAILED  \] [0-9]* tests\{0,1\}, listed below')

    problem=
    if [ -z "$ran" ] || [ -z "$passed" ]; then
        passed=0
        failed=$((failed_lines + 1))
        if [ $status -eq 124 ] || [ $status -eq 137 ]; then
            problem="timed out after $timeout_seconds s"
        elif [ -z "$output" ]; then
            problem="printed nothing (exit status $status)"
        else
            problem="ended without a test summary (exit status $status): crashed?"
        fi
    else
        failed=$((ran - passed - ${skipped:-0}))
        if (( failed != failed_lines )); then
            problem="summary counts $failed failed, but $failed_lines tests reported FAILED"
            (( failed_lines > failed )) && failed=$failed_lines
        fi
        if (( failed == 0 && status != 0 )); then
            problem="all tests passed but the exit status is $status"
            failed=1
        elif (( failed > 0 && status == 0 )); then
            problem="tests failed but the exit status is 0"
        fi
    fi
    total_passed=$((total_passed + passed))
    total_skipped=$((total_skipped + ${skipped:-0}))
    total_failed=$((total_failed + failed))

    if (( failed == 0 )) && [ -z "$problem" ]; then
        echo "PASS $shown: $passed passed${skipped:+, $skipped skipped} (${seconds} s)"
        if [ "${OSKEL_WINE_VERBOSE:-0}" = 1 ]; then
            sed 's/^/    /' <<<"$output"
        fi
    else
        echo "FAIL $shown: $passed passed, $failed failed${problem:+; $problem} (${seconds} s)"
        # Of wine's crash report, keep the fault and the backtrace.
        awk '/^Register dump:/ { skip = 1 } /^Backtrace:/ { skip = 0 }
             /^Modules:/ { skip = 2 } skip == 2 && /Host version:/ { skip = 0; next }
             !skip { print "    " $0 }' <<<"$output"
    fi
done

# Let the wine session end so the registry is written back to the prefix.
timeout 30 "$wineserver" -w

echo "ran ${#programs[@]} programs in $(elapsed "$run_start") s"
echo "$total_passed passed, $total_skipped skipped, $total_failed failed"
[ $total_failed -eq 0 ]
