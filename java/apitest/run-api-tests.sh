#!/usr/bin/env bash
# Runs the JUnit tests of the Java API and the scc tool of one tag in one JVM
# with -Xcheck:jni, and fails when the JVM reports a JNI problem even if every
# test passed. With --demo it runs the demo session script instead, under the
# same checks.
#
#   run-api-tests.sh --java JAVA --classes DIR --api-jar JAR --cli-jar JAR
#                    --junit JAR --library LIB --providers DIR
#                    [--work-root DIR] [--name NAME] [--locale LOCALE] [--tag TAG]...
#                    [--windows WINDOWS_BUILD_DIR]
#   run-api-tests.sh --demo SCRIPT [--work-root DIR] [--name NAME]
#
# Every run gets a scratch folder below --work-root with the registry file
# (OSKELSCCIH_REGISTRY), the test provider's script and call log
# (OSKEL_TESTPROVIDER_SCRIPT, OSKEL_TESTPROVIDER_LOG), the natives cache the
# jars extract into, the tests' own files and the JVM output. It is removed
# after a clean run and kept otherwise.
#
# --locale sets LC_ALL for the test JVM (default C.UTF-8); a locale that is not
# installed skips the run (exit 77).
#
# The test JVM loads the native library the way users do, from the API jar
# through its cache; --library names the built file for the tests of the
# explicit override.
#
# --windows runs the tests against that Windows build's oskelsccih.dll under
# wine: --library is then the test bridge's stand-in library (tests/winbridge),
# which every JVM of the run loads in place of the jar's Linux library; the
# test providers are the Windows build's, and the registry file is mirrored
# into the registry of the wine prefix OSKEL_WINBRIDGE_PREFIX (default: a
# prefix below --work-root).
set -u -o pipefail

java=java classes="" api_jar="" cli_jar="" junit="" library="" providers=""
work_root="${TMPDIR:-/tmp}" name=scc demo="" locale_name=C.UTF-8 tags=() windows=""

die() { echo "run-api-tests.sh: $*" >&2; exit 2; }

while [ $# -gt 0 ]; do
    case "$1" in
        --java) java=$2; shift 2 ;;
        --classes) classes=$2; shift 2 ;;
        --api-jar) api_jar=$2; shift 2 ;;
        --cli-jar) cli_jar=$2; shift 2 ;;
        --junit) junit=$2; shift 2 ;;
        --library) library=$2; shift 2 ;;
        --providers) providers=$2; shift 2 ;;
        --work-root) work_root=$2; shift 2 ;;
        --name) name=$2; shift 2 ;;
        --tag) tags+=("$2"); shift 2 ;;
        --locale) locale_name=$2; shift 2 ;;
        --demo) demo=$2; shift 2 ;;
        --windows) windows=$2; shift 2 ;;
        *) die "unknown argument: $1" ;;
    esac
done

# A locale that is not installed would silently fall back to C.
if ! LC_ALL="$locale_name" locale charmap >/dev/null 2>&1 \
        || [ -n "$(LC_ALL="$locale_name" locale charmap 2>&1 >/dev/null)" ]; then
    echo "locale $locale_name is not installed: skipping $name"
    exit 77
fi

mkdir -p "$work_root" || die "cannot create $work_root"
work=$(mktemp -d "$work_root/${name//[^A-Za-z0-9._-]/_}.XXXXXX") || die "cannot create a scratch folder"
output="$work/output.txt"

if [ -n "$demo" ]; then
    [ -f "$demo" ] || die "no demo script: $demo"
    echo "== $name: demo session, scratch folder $work"
    (
        export OSKEL_DEMO_TMPDIR="$work"
        export SCC_JAVA_OPTS="-Xcheck:jni -Doskelsccih.cache=$work/cache"
        exec bash "$demo"
    ) 2>&1 | tee "$output"
    status=${PIPESTATUS[0]}
else
    for v in classes api_jar cli_jar junit library providers; do
        [ -n "${!v}" ] || die "--${v//_/-} is required"
    done
    [ -d "$classes" ] || die "test classes not built: $classes"
    [ -f "$api_jar" ] || die "API jar not built: $api_jar"
    [ -f "$cli_jar" ] || die "tool jar not built: $cli_jar"
    [ -f "$library" ] || die "native library not built: $library"
    [ -d "$providers" ] || die "providers not built: $providers"

    platform=(-Doskel.test.platform=linux)
    if [ -n "$windows" ]; then
        windows=$(cd "$windows" && pwd) || die "no Windows build folder"
        source "$(dirname "${BASH_SOURCE[0]}")/../../tests/winbridge/wine-env.sh"
        winbridge_env "$windows" "$(cd "$work_root" && pwd)" || exit 2
        providers="$windows/providers"
        # The test JVM loads the bridge, and passes it on to the JVMs it starts.
        library=$(cd "$(dirname "$library")" && pwd)/$(basename "$library")
        platform=(-Doskelsccih.library="$library" -Doskel.test.platform=windows
                  -Doskel.test.windows="$(basename "$windows")")
    fi

    launcher=(--disable-banner --details=tree --fail-if-no-tests
              --reports-dir="$work/reports" --scan-classpath "$classes")
    for t in "${tags[@]}"; do launcher+=(--include-tag "$t"); done

    echo "== $name: tags ${tags[*]:-all}, locale $locale_name, scratch folder $work"
    (
        cd "$work" || exit 2
        mkdir -p home
        for v in $(env | sed -n 's/^\(LC_[A-Z_]*\|LANG\|LANGUAGE\)=.*/\1/p'); do unset "$v"; done
        export LC_ALL="$locale_name"
        export OSKEL_APITEST_DIR="$work"
        export OSKELSCCIH_REGISTRY="$work/registry.reg"
        export OSKEL_TESTPROVIDER_SCRIPT="$work/provider-script.txt"
        export OSKEL_TESTPROVIDER_LOG="$work/provider-calls.log"
        unset SCC_PROVIDER SCC_PROJECT SCC_USER SCC_AUX_PATH XDG_CACHE_HOME OSKELSCCIH_HOST
        exec "$java" -Xcheck:jni -ea \
            -XX:ErrorFile="$work/hs_err_pid%p.log" \
            -Doskelsccih.cache="$work/cache" \
            -Doskel.test.locale="$locale_name" \
            -Doskel.java="$java" \
            -Doskel.library="$library" \
            -Doskel.providers="$providers" \
            -Doskel.api.jar="$api_jar" \
            -Doskel.scc.jar="$cli_jar" \
            -Doskel.source.dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)" \
            "${platform[@]}" \
            -cp "$classes:$api_jar:$junit" \
            org.junit.platform.console.ConsoleLauncher "${launcher[@]}"
    ) 2>&1 | tee "$output"
    status=${PIPESTATUS[0]}
fi

# -Xcheck:jni reports misuse on the JVM's output without failing the JVM.
jni_reports=$(grep -c -E 'WARNING in native method|FATAL ERROR in native method' "$output")
if [ "$jni_reports" -gt 0 ]; then
    echo "== $name: FAILED: -Xcheck:jni reported $jni_reports JNI problem(s):"
    grep -n -A3 -E 'WARNING in native method|FATAL ERROR in native method' "$output"
    [ "$status" -ne 0 ] || status=1
fi
if [ "$status" -eq 77 ]; then
    echo "== $name: skipped"
    rm -rf "$work"
    exit 77
fi
if [ "$status" -ne 0 ]; then
    echo "== $name: FAILED (exit $status); files kept in $work"
    exit "$status"
fi
rm -rf "$work"
echo "== $name: passed"
