#!/usr/bin/env bash
# Installs the Maven artifacts of a build into a fresh local repository and builds and runs
# examples/ against them, the way a project that depends on the coordinates would, offline
# (maven/settings.xml sends every repository request to Debian's /usr/share/maven-repo, a
# local folder, so nothing comes from a network).
#
#   run-maven-example.sh --mvn MVN --java JAVA --settings FILE --repository DIR
#                        --api JAR --api-base PATH --tool JAR --tool-base PATH
#                        --example DIR --localstore LIB --work-root DIR
#
# PATH.pom, PATH-sources.jar and PATH-javadoc.jar are the POM and the side jars of an
# artifact (both artifacts have all three). The example runs against localstore in a scratch folder below --work-root, which
# is removed after a clean run and kept otherwise.
set -u -o pipefail

die() { echo "run-maven-example.sh: $*" >&2; exit 2; }
mvn="" java="" settings="" repository="" api="" api_base="" tool="" tool_base="" example=""
localstore="" work_root="${TMPDIR:-/tmp}"
while [ $# -gt 0 ]; do
    case "$1" in
        --mvn) mvn=$2 ;; --java) java=$2 ;; --settings) settings=$2 ;;
        --repository) repository=$2 ;; --api) api=$2 ;; --api-base) api_base=$2 ;;
        --tool) tool=$2 ;; --tool-base) tool_base=$2 ;; --example) example=$2 ;;
        --localstore) localstore=$2 ;; --work-root) work_root=$2 ;;
        *) die "unknown argument: $1" ;;
    esac
    shift 2
done
for f in "$api" "$api_base.pom" "$api_base-sources.jar" "$api_base-javadoc.jar" "$tool" \
         "$tool_base.pom" "$tool_base-sources.jar" "$tool_base-javadoc.jar" "$localstore" \
         "$example/pom.xml"; do
    [ -f "$f" ] || die "not built: $f"
done

mkdir -p "$work_root" || die "cannot create $work_root"
work=$(mktemp -d "$work_root/scc.maven.example.XXXXXX") || die "cannot create a scratch folder"
mvn_run() { "$mvn" -B -q -Dstyle.color=never -s "$settings" -Dmaven.repo.local="$repository" "$@"; }
fail() { echo "== scc.maven.example: FAILED: $*; scratch folder kept: $work"; exit 1; }

echo "== installing the artifacts into $repository"
rm -rf "$repository"
mvn_run install:install-file -Dfile="$api" -DpomFile="$api_base.pom" \
    -Dsources="$api_base-sources.jar" -Djavadoc="$api_base-javadoc.jar" || fail "installing the API"
mvn_run install:install-file -Dfile="$tool" -DpomFile="$tool_base.pom" \
    -Dsources="$tool_base-sources.jar" -Djavadoc="$tool_base-javadoc.jar" || fail "installing the tool"
version=$(sed -n 's:.*<version>\(.*\)</version>.*:\1:p' "$api_base.pom" | head -1)
installed="$repository/com/vantrel/oskel/oskelsccih-scc/$version"
for f in oskelsccih-scc-$version.jar oskelsccih-scc-$version.pom oskelsccih-scc-$version-sources.jar \
         oskelsccih-scc-$version-javadoc.jar; do
    [ -f "$installed/$f" ] || fail "$f is not in the local repository"
done
cmp -s "$api" "$installed/oskelsccih-scc-$version.jar" || fail "the installed API jar differs"
contents=$("${java%/*}/jar" --list --file "$installed/oskelsccih-scc-$version.jar") ||
    fail "cannot list the installed API jar"
for p in linux-x86_64 windows-x86 windows-x86_64; do
    grep -qx "native/$p/files.sha256" <<<"$contents" ||
        fail "the installed API jar carries no natives for $p"
done
for f in scc-$version.jar scc-$version-javadoc.jar; do
    [ -f "$repository/com/vantrel/oskel/scc/$version/$f" ] || fail "$f is not in the local repository"
done

echo "== building examples/ against them, offline"
cp -r "$example" "$work/example"
(cd "$work/example" && mvn_run -Doskelsccih.version="$version" package) || fail "building the example"
jar_file="$work/example/target/localstore-example-1.0.0.jar"
[ -f "$jar_file" ] || fail "the example's jar was not built"

echo "== running the example against localstore"
cat > "$work/registry.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\Software\\SourceCodeControlProvider\\InstalledSCCProviders]
"LocalStore"="Software\\\\Vantrel\\\\LocalStore"

[HKEY_LOCAL_MACHINE\\Software\\Vantrel\\LocalStore]
"SCCServerPath"="$localstore"
REG
output=$(OSKELSCCIH_REGISTRY="$work/registry.reg" "$java" -Xcheck:jni \
    -Doskelsccih.cache="$work/cache" \
    -cp "$jar_file:$installed/oskelsccih-scc-$version.jar" \
    com.vantrel.oskel.scc.examples.LocalstoreExample "$work/files" "$work/store" 2>&1)
status=$?
echo "$output"
[ $status -eq 0 ] || fail "the example exited with $status"
for expected in "connected to " "add: OK" "checkout: OK" "diff: I_FILEDIFFERS" "+bread" \
                "checkin: OK" "history:" "bread too" \
                "expected failure: checkin: SCC_E_NOTCHECKEDOUT (-4): "; do
    grep -qF -- "$expected" <<<"$output" || fail "the example printed no \"$expected\""
done
if grep -qE 'WARNING in native method|FATAL ERROR in native method' <<<"$output"; then
    fail "-Xcheck:jni reported a JNI problem"
fi

echo "== the example's error handling: a registry file without LocalStore, given from Java"
printf 'Windows Registry Editor Version 5.00\r\n' > "$work/empty.reg"
output=$("$java" -Xcheck:jni -Doskelsccih.cache="$work/cache" \
    -cp "$jar_file:$installed/oskelsccih-scc-$version.jar" \
    com.vantrel.oskel.scc.examples.LocalstoreExample "$work/files2" "$work/store2" \
    "$work/empty.reg" 2>&1)
status=$?
echo "$output"
[ $status -eq 3 ] || fail "the example exited with $status, not 3, without LocalStore"
grep -qF "LocalStore is not installed: " <<<"$output" || fail "the example did not say why"
echo "== scc.maven.example: ok"
rm -rf "$work"
