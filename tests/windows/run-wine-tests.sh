#!/bin/bash
# Runs the GoogleTest programs of a Windows x64 build under wine64.
#
#   run-wine-tests.sh BUILD_DIR [GTEST_ARGUMENT...]
#
# Every *_tests.exe and *_selftest.exe under BUILD_DIR runs with
# --gtest_brief=1 (and any further arguments, e.g. --gtest_filter=...), its
# working directory the program's own. The wine prefix, and with it the
# registry the tests fill through "regedit /S", is kept in BUILD_DIR/wineprefix;
# it is made on first use (wineboot -i, about ten seconds) and reused after.
# Delete that directory for a fresh registry. No X display is needed.
#
# Environment of each program:
#   OSKEL_PROVIDER_DIR  Windows path of BUILD_DIR/providers (the test providers)
#   OSKEL_TEST_TMP      an empty Windows folder for the program alone,
#                       C:\oskel-tmp\<program name>, emptied before each run
#
# Settings: OSKEL_WINE (default: wine64, else wine), OSKEL_WINE_TIMEOUT
# (seconds per program, default 900), OSKEL_WINE_VERBOSE=1 (print the output
# of passing programs too).
#
# Prints a line per program, the output of failing ones, and a final
# "N passed, N failed" counting test cases; a program that crashes, hangs,
# prints no result or exits with an error despite passing tests counts as one
# failed case more. Exits 1 on any failure.
set -u

if [ $# -lt 1 ] || [ ! -d "$1" ]; then
    echo "usage: $0 BUILD_DIR [GTEST_ARGUMENT...]" >&2
    exit 2
fi
build_dir=$(cd "$1" && pwd)
shift

wine=${OSKEL_WINE:-$(command -v wine64 || command -v wine)}
if [ -z "$wine" ]; then
    echo "FAIL: no wine64 or wine on PATH"
    echo "0 passed, 1 failed"
    exit 1
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

# The prefix is usable once the marker exists; a half-made one is made anew.
ready_marker=$WINEPREFIX/.oskel-ready
if [ ! -f "$ready_marker" ]; then
    start=$(now)
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    echo "creating wine prefix $WINEPREFIX"
    # Messages about the missing 32-bit wine (syswow64) are expected.
    if ! "$wineboot" -i >"$build_dir/wineboot.log" 2>&1 || ! "$wineserver" -w; then
        echo "FAIL: wineboot -i failed, see $build_dir/wineboot.log"
        echo "0 passed, 1 failed"
        exit 1
    fi
    touch "$ready_marker"
    echo "wine prefix created in $(elapsed "$start") s"
fi

winpath() { "$winepath" -w "$1" 2>/dev/null; }

providers=$build_dir/providers

OSKEL_PROVIDER_DIR=$(winpath "$providers")
export OSKEL_PROVIDER_DIR
tmp_root=$WINEPREFIX/drive_c/oskel-tmp

mapfile -t programs < <(find "$build_dir" \( -path "$WINEPREFIX" -prune \) -o \
                             -type f \( -name '*_tests.exe' -o -name '*_selftest.exe' \) -print | sort)
if [ ${#programs[@]} -eq 0 ]; then
    echo "FAIL: no *_tests.exe or *_selftest.exe under $build_dir"
    echo "0 passed, 1 failed"
    exit 1
fi

run_start=$(now)
total_passed=0
total_failed=0
for program in "${programs[@]}"; do
    name=$(basename "$program" .exe)
    shown=${program#"$build_dir"/}
    rm -rf "${tmp_root:?}/$name"
    mkdir -p "$tmp_root/$name"
    OSKEL_TEST_TMP="C:\\oskel-tmp\\$name"
    export OSKEL_TEST_TMP

    start=$(now)
    output=$(cd "$(dirname "$program")" &&
             timeout -k 10 "$timeout_seconds" "$wine" "$program" --gtest_brief=1 "$@" 2>&1 </dev/null)
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
echo "$total_passed passed, $total_failed failed"
[ $total_failed -eq 0 ]
