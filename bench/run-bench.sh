#!/usr/bin/env bash
# Runs the benchmark and writes docs/performance.md.
#   bench/run-bench.sh            every scenario, 2 forks per locale
#   BENCH_FILTER='checkout.*' BENCH_FORKS=1 BENCH_LOCALES=C.UTF-8 bench/run-bench.sh /tmp/out.md
#   BENCH_RUNS=2 bench/run-bench.sh   measure twice and add how far the two runs agree
# The text after the tables (where the time goes) is bench/performance-notes.md.
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
if [ "$best" -lt 22 ]; then
    echo "run-bench.sh: the benchmark pairs every call with its direct FFM call and needs JDK 22 or later" >&2
    exit 1
fi
JNA=/usr/share/java/jna.jar
CLASSES=$BUILD/bench/classes
rm -rf "$CLASSES" && mkdir -p "$CLASSES"
sources=(java/src/com/vantrel/oskel/managedprojects/scci/JavaSCCInterface.java bench/java/com/vantrel/oskel/bench/*.java
         bench/java22/com/vantrel/oskel/bench/*.java)
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

TABLE=$BUILD/bench/table.md
run_once() {
LC_ALL=C.UTF-8 OSKELSCCIH_REGISTRY=$REG "$JDK/bin/java" --enable-native-access=ALL-UNNAMED -Xms512m -Xmx512m ${BENCH_JVM_ARGS:-} \
    -Doskelsccih.library="$BUILD/src/liboskelsccih.so" \
    -Doskelbench.anchors="$BUILD/bench/liboskelbench.so" \
    -Doskelbench.provider="$BUILD/providers/libnoopprovider.so" \
    -Doskelbench.key='Software\OskelBench\Noop' \
    -Doskelbench.hostedKey='Software\OskelBench\NoopHosted' \
    -Dbench.filter="${BENCH_FILTER:-}" -Dbench.pairs="${BENCH_PAIRS:-31}" -Dbench.forks="${BENCH_FORKS:-2}" \
    -Dbench.locales="${BENCH_LOCALES:-C.UTF-8,en_US.ISO-8859-1}" \
    -cp "$CLASSES:$JNA" com.vantrel.oskel.bench.Bench "$1"
}
run_once "$TABLE"
# BENCH_RUNS=2: the same measurement again, and a section on how far the two runs agree.
AGREEMENT=$BUILD/bench/agreement.md
rm -f "$AGREEMENT"
if [ "${BENCH_RUNS:-1}" -ge 2 ]; then
    run_once "$TABLE.2"
    awk -v limit=10 -f bench/agreement.awk "$TABLE" "$TABLE.2" > "$AGREEMENT"
fi

mkdir -p "$(dirname "$OUT")"
{
    echo "# Performance"
    echo
    echo "Produced by \`bench/run-bench.sh\` on $(date -u +%Y-%m-%d)."
    echo
    echo "- Machine: $(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores, $(free -g | awk '/^Mem:/{print $2}') GiB"
    echo "- JVM: $("$JDK/bin/java" -version 2>&1 | head -1); JNA $(unzip -p "$JNA" META-INF/MANIFEST.MF 2>/dev/null | sed -n 's/^Bundle-Version: *//p' | tr -d '\r')"
    echo "- Locales: ${BENCH_LOCALES:-C.UTF-8,en_US.ISO-8859-1} (the JVM and the C library run in each; names are encoded in its charset on both sides)"
    echo "- Provider: a no-op library that returns at once (bench/native/noop_provider.c); names of about 55 characters, ASCII, Latin-1 (jäva/exämple/prøject...) or wider BMP (Cyrillic)"
    echo "- Partner of each scenario: the provider's entry point called directly through the FFM API in the same JVM, names encoded into a confined arena; the two run in alternating batches (AB, BA...) of about 2 ms and each figure is the median of ${BENCH_PAIRS:-31} pair ratios; in-process batches are timed in the thread's CPU time, hosted ones on the wall clock"
    echo "- Each figure: the median over ${BENCH_FORKS:-2} forked JVMs per locale"
    echo "- Anchors: an empty JNI native of the same signature, one that reads each string with GetStringUTFChars, SccCheckout called through JNA"
    echo
    cat "$TABLE"
    if [ -f "$AGREEMENT" ]; then cat "$AGREEMENT"; fi
    if [ -f bench/performance-notes.md ]; then cat bench/performance-notes.md; fi
} > "$OUT"
echo "wrote $OUT"
