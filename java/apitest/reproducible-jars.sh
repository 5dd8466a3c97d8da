#!/usr/bin/env bash
# Rebuilds the jars' contents and the jars twice, in two folders, from what the build compiled
# (its class folders, picocli, the staged natives and POMs), and checks that both give the bytes of
# the build's own jars: the relocation and the packing depend on nothing but their input. The two
# copies of each staging folder are made in opposite orders, so that a packing that followed the
# file system's order would differ.
#
#   reproducible-jars.sh --cmake CMAKE --java JAVA --jar-tool JAR --date DATE --source DIR
#                        --java-api DIR --asm CP --picocli-package NAME
#                        --api-jar JAR --cli-jar JAR --work-root DIR
set -u -o pipefail
die() { echo "reproducible-jars.sh: $*" >&2; exit 2; }
while [ $# -gt 0 ]; do
    case "$1" in
        --cmake) cmake=$2 ;; --java) java=$2 ;; --jar-tool) jar_tool=$2 ;; --date) date=$2 ;;
        --source) source=$2 ;; --java-api) java_api=$2 ;; --asm) asm=$2 ;;
        --picocli-package) package=$2 ;; --api-jar) api_jar=$2 ;; --cli-jar) cli_jar=$2 ;;
        --work-root) work_root=$2 ;;
        *) die "unknown argument: $1" ;;
    esac
    shift 2
done
for d in "$java_api/api-jar" "$java_api/cli-jar" "$java_api/picocli-classes" "$java_api/cli-classes"; do
    [ -d "$d" ] || die "not built: $d"
done
mkdir -p "$work_root" || die "cannot create $work_root"
work=$(mktemp -d "$work_root/scc.jars.reproducible.XXXXXX") || die "no scratch folder"
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# copy FROM TO ORDER: the files of FROM into TO, created in sorted or reverse-sorted order.
copy() {
    (cd "$1" && find . -type f | LC_ALL=C sort $3) | while IFS= read -r f; do
        mkdir -p "$2/$(dirname "$f")" && cp "$1/$f" "$2/$f" || exit 1
    done
}
pack() { "$cmake" -DJAR_TOOL="$jar_tool" -DDATE="$date" "$@" -P "$source/cmake/pack-jar.cmake"; }

for run in a b; do
    order=""; [ $run = b ] && order=-r
    # The relocated picocli and tool classes, made again.
    "$java" -cp "$asm" "$source/java/tools/RelocateClasses.java" picocli "$package" \
        "$work/$run/relocated" "$java_api/picocli-classes" "$java_api/cli-classes" ||
        die "relocating failed"
    (cd "$work/$run/relocated" && find . -type f) | while IFS= read -r f; do
        cmp -s "$work/$run/relocated/$f" "$java_api/cli-jar/$f" ||
            { echo "FAILED: run $run: relocated $f differs from the build's"; exit 1; }
    done || failures=$((failures + 1))
    copy "$java_api/api-jar" "$work/$run/api-jar" "$order" || die "copy failed"
    copy "$java_api/cli-jar" "$work/$run/cli-jar" "$order" || die "copy failed"
    pack -DJAR="$work/$run/oskelsccih-scc.jar" -DDIR="$work/$run/api-jar" \
        -DMANIFEST="$java_api/api-manifest.txt" -DMODULE_VERSION="$(
            sed -n 's/^Bundle-Version: //p' "$java_api/api-manifest.txt")" || die "packing failed"
    pack -DJAR="$work/$run/scc.jar" -DDIR="$work/$run/cli-jar" \
        -DMANIFEST="$java_api/scc-manifest.txt" || die "packing failed"
done
for jar in oskelsccih-scc.jar scc.jar; do
    built=$api_jar; [ $jar = scc.jar ] && built=$cli_jar
    cmp -s "$work/a/$jar" "$work/b/$jar" || fail "$jar: the two rebuilds differ"
    cmp -s "$work/a/$jar" "$built" || fail "$jar: a rebuild differs from the build's jar"
    echo "$jar: $(stat -c %s "$built") bytes, sha256 $(sha256sum < "$built" | cut -c1-16)..."
done
if [ $failures -ne 0 ]; then
    echo "== scc.jars.reproducible: FAILED ($failures); scratch folder kept: $work"
    exit 1
fi
echo "== scc.jars.reproducible: ok (two rebuilds and the build's jars are byte for byte the same)"
rm -rf "$work"
