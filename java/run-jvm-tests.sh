#!/usr/bin/env bash
# Runs JUnit tests of the natives in one JVM with -Xcheck:jni, and fails when
# the JVM reports a JNI misuse even if every test passed.
#
#   run-jvm-tests.sh --java JAVA --classpath CP --library LIB --providers DIR
#                    [--work-root DIR] [--locale LOCALE] [--name NAME] [--keep]
#                    [--allow-empty] [--hosted] [--windows WINDOWS_BUILD_DIR]
#                    [--class FQCN]... [--tag TAG]... [--exclude-tag TAG]...
#                    [-- extra console launcher arguments]
#
# --hosted runs the same tests with every test provider in a provider host
# process: the tests' registry then carries SCCHostProcess="1" on the provider
# keys (system property oskel.test.hosted).
# --windows runs the tests against that Windows build's oskelsccih.dll under
# wine: --library is then the test bridge's stand-in library, which forwards
# every native to the DLL and carries its JNI calls back to this JVM; the test
# providers are the Windows build's, and the registry file the tests write is
# mirrored into the registry of the wine prefix OSKEL_WINBRIDGE_PREFIX
# (default: a prefix below --work-root).
# --class selects test classes, --tag/--exclude-tag filter by JUnit tag (tag
# expressions such as '!a & !b' included); with no --class the test class
# folder(s) of CP are scanned. A run that finds no test fails unless
# --allow-empty is given. --locale sets
# LC_ALL for the JVM (default C.UTF-8); the library sets its C locale from the
# environment in _initialize, so each locale needs a JVM of its own. A locale
# that is not installed skips the run (exit 77).
#
# Every run gets a scratch folder below --work-root holding the registry file
# (OSKELSCCIH_REGISTRY), the provider script (OSKEL_TESTPROVIDER_SCRIPT), the
# call log (OSKEL_TESTPROVIDER_LOG), the tests' own files, the JVM output and
# the JUnit reports. It is removed after a clean run unless --keep is given,
# and kept after a failed one.
set -u -o pipefail

java=java classpath="" library="" providers="" work_root="${TMPDIR:-/tmp}"
locale_name=C.UTF-8 name=jvm keep=0 allow_empty=0 hosted=false windows=""
classes=() tags=() exclude_tags=() extra=()

die() { echo "run-jvm-tests.sh: $*" >&2; exit 2; }

while [ $# -gt 0 ]; do
    case "$1" in
        --java) java=$2; shift 2 ;;
        --classpath) classpath=$2; shift 2 ;;
        --library) library=$2; shift 2 ;;
        --providers) providers=$2; shift 2 ;;
        --work-root) work_root=$2; shift 2 ;;
        --locale) locale_name=$2; shift 2 ;;
        --name) name=$2; shift 2 ;;
        --keep) keep=1; shift ;;
        --allow-empty) allow_empty=1; shift ;;
        --hosted) hosted=true; shift ;;
        --windows) windows=$2; shift 2 ;;
        --class) classes+=("$2"); shift 2 ;;
        --tag) tags+=("$2"); shift 2 ;;
        --exclude-tag) exclude_tags+=("$2"); shift 2 ;;
        --) shift; extra=("$@"); break ;;
        *) die "unknown argument: $1" ;;
    esac
done

[ -n "$classpath" ] || die "--classpath is required"
[ -n "$library" ] || die "--library is required"
[ -n "$providers" ] || die "--providers is required"
[ -f "$library" ] || die "native library not built: $library"
[ -d "$providers" ] || die "test providers not built: $providers"

# A locale that is not installed would silently fall back to C.
if ! LC_ALL="$locale_name" locale charmap >/dev/null 2>&1 \
        || [ -n "$(LC_ALL="$locale_name" locale charmap 2>&1 >/dev/null)" ]; then
    echo "locale $locale_name is not installed: skipping $name"
    exit 77
fi
codeset=$(LC_ALL="$locale_name" locale charmap 2>/dev/null)

# The JVM runs in the scratch folder: make every path absolute first.
absolute() { case "$1" in /*) printf '%s' "$1" ;; *) printf '%s/%s' "$PWD" "$1" ;; esac; }
library=$(absolute "$library")
providers=$(absolute "$providers")
IFS=: read -r -a entries <<<"$classpath"
classpath=""
for entry in "${entries[@]}"; do classpath+="${classpath:+:}$(absolute "$entry")"; done

mkdir -p "$work_root" || die "cannot create $work_root"
work_root=$(absolute "$work_root")

platform=linux
bridge=()
if [ -n "$windows" ]; then
    windows=$(absolute "$windows")
    source "$(dirname "${BASH_SOURCE[0]}")/../tests/winbridge/wine-env.sh"
    winbridge_env "$windows" "$work_root" || exit 2
    platform=windows
    providers="$windows/providers"
    bridge=(-Doskel.test.windows="$(basename "$windows")")
fi
work=$(mktemp -d "$work_root/${name//[^A-Za-z0-9._-]/_}.XXXXXX") || die "cannot create a scratch folder"
output="$work/jvm-output.txt"

launcher=(--disable-banner --disable-ansi-colors --details=tree --reports-dir="$work/reports")
[ "$allow_empty" -eq 1 ] || launcher+=(--fail-if-no-tests)
if [ ${#classes[@]} -eq 0 ]; then
    IFS=: read -r -a entries <<<"$classpath"
    scanned=0
    for entry in "${entries[@]}"; do
        if [ -d "$entry" ]; then launcher+=(--scan-classpath "$entry"); scanned=1; fi
    done
    [ $scanned -eq 1 ] || die "no class folder on the classpath to scan"
else
    for c in "${classes[@]}"; do launcher+=(--select-class "$c"); done
fi
for t in "${tags[@]}"; do launcher+=(--include-tag "$t"); done
for t in "${exclude_tags[@]}"; do launcher+=(--exclude-tag "$t"); done
launcher+=("${extra[@]}")

echo "== $name: locale $locale_name ($codeset), scratch folder $work"

# The JVM sees only the locale chosen here, and the three files of this run.
(
    cd "$work" || exit 2
    for v in $(env | sed -n 's/^\(LC_[A-Z_]*\|LANG\|LANGUAGE\)=.*/\1/p'); do unset "$v"; done
    export LC_ALL="$locale_name"
    export OSKEL_JVM_TEST_DIR="$work"
    export OSKELSCCIH_REGISTRY="$work/registry.reg"
    export OSKEL_TESTPROVIDER_SCRIPT="$work/provider-script.txt"
    export OSKEL_TESTPROVIDER_LOG="$work/provider-calls.log"
    exec "$java" -Xcheck:jni -ea \
        -XX:ErrorFile="$work/hs_err_pid%p.log" \
        -Doskelsccih.library="$library" \
        -Doskel.providers="$providers" \
        -Doskel.test.locale="$locale_name" \
        -Doskel.test.codeset="$codeset" \
        -Doskel.test.hosted="$hosted" \
        -Doskel.test.platform="$platform" "${bridge[@]}" \
        -cp "$classpath" org.junit.platform.console.ConsoleLauncher "${launcher[@]}"
) 2>&1 | tee "$output"
status=${PIPESTATUS[0]}

# -Xcheck:jni reports misuse on the JVM's output without failing the JVM.
jni_reports=$(grep -a -c -E 'WARNING in native method|FATAL ERROR in native method' "$output")
if [ "$jni_reports" -gt 0 ]; then
    echo "== $name: FAILED: -Xcheck:jni reported $jni_reports JNI problem(s):"
    grep -a -n -A3 -E 'WARNING in native method|FATAL ERROR in native method' "$output"
    [ "$status" -ne 0 ] || status=1
fi
if [ "$status" -ne 0 ]; then
    echo "== $name: FAILED (exit $status); files kept in $work"
    exit "$status"
fi
if [ "$keep" -eq 1 ]; then
    echo "== $name: passed; files kept in $work"
else
    rm -rf "$work"
    echo "== $name: passed"
fi
