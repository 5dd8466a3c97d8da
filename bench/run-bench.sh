#!/usr/bin/env bash
# Runs the benchmark and writes docs/performance.md.
#   bench/run-bench.sh            all scenarios, 3 forks
#   BENCH_FILTER='checkout.*' bench/run-bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=$ROOT/build/linux
OUT=${1:-$ROOT/docs/performance.md}

cmake --preset linux >/dev/null
cmake --build --preset linux -j 2 --target oskelsccih oskelsccih-host noopprovider oskelbench >/dev/null

# The newest JDK on the machine runs everything; with 22 or later the FFM anchor is measured too.
JDK=/usr/lib/jvm/java-17-openjdk-amd64
best=17
for d in /usr/lib/jvm/*/; do
    [ -x "$d/bin/javac" ] || continue
    v=$(sed -n 's/^JAVA_VERSION="\([0-9]*\).*/\1/p' "$d/release" 2>/dev/null)
    if [ -n "$v" ] && [ "$v" -gt "$best" ] 2>/dev/null; then best=$v; JDK=${d%/}; fi
done
JNA=/usr/share/java/jna.jar
CLASSES=$BUILD/bench/classes
rm -rf "$CLASSES" && mkdir -p "$CLASSES"
sources=(java/src/com/vantrel/oskel/managedprojects/scci/JavaSCCInterface.java bench/java/com/vantrel/oskel/bench/*.java)
[ "$best" -ge 22 ] && sources+=(bench/java22/com/vantrel/oskel/bench/*.java)
"$JDK/bin/javac" -nowarn -d "$CLASSES" -cp "$JNA" "${sources[@]}"

REG=$BUILD/bench/registry.reg
cat > "$REG" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\Software\\OskelBench\\Noop]
"SCCServerPath"="$BUILD/providers/libnoopprovider.so"

[HKEY_LOCAL_MACHINE\\Software\\OskelBench\\NoopHosted]
"SCCServerPath"="$BUILD/providers/libnoopprovider.so"
"SCCHostProcess"="1"
REG

extra=()
[ "$best" -ge 22 ] && extra+=(--enable-native-access=ALL-UNNAMED)
TABLE=$BUILD/bench/table.md
LC_ALL=C.UTF-8 OSKELSCCIH_REGISTRY=$REG "$JDK/bin/java" "${extra[@]}" -Xms512m -Xmx512m \
    -Doskelsccih.library="$BUILD/src/liboskelsccih.so" \
    -Doskelbench.anchors="$BUILD/bench/liboskelbench.so" \
    -Doskelbench.provider="$BUILD/providers/libnoopprovider.so" \
    -Doskelbench.key='Software\OskelBench\Noop' \
    -Doskelbench.hostedKey='Software\OskelBench\NoopHosted' \
    -Dbench.filter="${BENCH_FILTER:-}" \
    -cp "$CLASSES:$JNA" com.vantrel.oskel.bench.Bench "$TABLE"

mkdir -p "$(dirname "$OUT")"
{
    echo "# Performance"
    echo
    echo "Produced by \`bench/run-bench.sh\` on $(date -u +%Y-%m-%d)."
    echo
    echo "- Machine: $(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores, $(free -g | awk '/^Mem:/{print $2}') GiB"
    echo "- JVM: $("$JDK/bin/java" -version 2>&1 | head -1); JNA $(unzip -p "$JNA" META-INF/MANIFEST.MF 2>/dev/null | sed -n 's/^Bundle-Version: *//p' | tr -d '\r')"
    echo "- Locale C.UTF-8; provider: a no-op library that returns at once (bench/native/noop_provider.c)"
    echo "- Each figure: the median over $( [ -n "${BENCH_FORKS:-}" ] && echo "$BENCH_FORKS" || echo 3) forked JVMs of each fork's median of 15 timed rounds after warm-up; spread is the interquartile range of the rounds"
    echo "- Anchors: an empty JNI native of the same signature, one that reads each string with GetStringUTFChars, SccCheckout called through JNA, and through the FFM API when the JDK has it"
    echo
    cat "$TABLE"
} > "$OUT"
echo "wrote $OUT"
