#!/usr/bin/env bash
# Checks that the Windows test bridge hides no JNI misuse: each misuse of
# JniMisuse (a global reference used after its deletion, a reference the JVM
# never handed out) must end in the same -Xcheck:jni report when the Linux
# library makes it in the JVM's own process as when a Windows DLL makes it
# under wine through the bridge. And that a thread the DLL starts and attaches
# through the JavaVM runs Java code, with no report.
#
#   check-misuse.sh JAVA CLASSPATH LINUX_MISUSE_LIB BRIDGE_LIB WORK_DIR WINDOWS_BUILD_DIR...
set -u
java=$1 classpath=$2 linux_lib=$3 bridge_lib=$4 work=$5
shift 5
mkdir -p "$work"
source "$(dirname "$0")/wine-env.sh"
passed=0 failed=0

# Runs "JniMisuse WHAT" with -Xcheck:jni, its natives from LIB: all the JVM says.
misuse_run() {
    "$java" -Xcheck:jni -XX:ErrorFile="$work/hs_err_%p.log" -Doskel.misuse.library="$1" \
        -cp "$classpath" com.vantrel.oskel.managedprojects.scci.testing.JniMisuse "$2" 2>&1
}

# The first line of the JVM's fatal report and the native named below it.
report() {
    misuse_run "$1" "$2" | grep -a -A1 -m1 'FATAL ERROR in native method' | tr -d '\t' | tr '\n' ' '
}

for misuse in stale foreign; do
    expected=$(report "$linux_lib" "$misuse")
    if [ -z "$expected" ]; then
        echo "FAIL linux $misuse: the JVM reported nothing"
        failed=$((failed + 1))
        continue
    fi
    for windows in "$@"; do
        arch=$(basename "$windows")
        got=$(winbridge_env "$windows" "$work" "$windows/tests/winbridge/jnimisuse.dll" &&
              report "$bridge_lib" "$misuse")
        if [ "$got" = "$expected" ]; then
            echo "ok   $arch $misuse: $got"
            passed=$((passed + 1))
        else
            echo "FAIL $arch $misuse: expected \"$expected\", got \"$got\""
            failed=$((failed + 1))
        fi
    done
done
# A thread of the library attaches, runs a Java task and detaches.
for windows in "" "$@"; do
    arch=${windows:+$(basename "$windows")}
    if [ -z "$windows" ]; then
        out=$(misuse_run "$linux_lib" attached)
    else
        out=$(winbridge_env "$windows" "$work" "$windows/tests/winbridge/jnimisuse.dll" &&
              misuse_run "$bridge_lib" attached)
    fi
    if grep -q '^ran on jni-misuse worker$' <<<"$out" && grep -q '^the attached thread has ended$' <<<"$out" \
            && ! grep -q 'in native method' <<<"$out"; then
        echo "ok   ${arch:-linux} attached thread"
        passed=$((passed + 1))
    else
        echo "FAIL ${arch:-linux} attached thread:"
        printf '%s\n' "$out" | head -20
        failed=$((failed + 1))
    fi
done
rm -f "$work"/hs_err_*.log
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
