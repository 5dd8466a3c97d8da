#!/usr/bin/env bash
# One entry point for the project's two everyday commands:
#   ./run.sh demo   build the scc tool and localstore (Linux only, no tests) and run a session
#   ./run.sh test   build every target (Linux, sanitizers, Windows x64 and x86) and run all tests
# Both install the Debian packages they need on first use: the demo only its few.
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD
JOBS=${JOBS:-2}

PACKAGES=(cmake ninja-build g++ binutils libgtest-dev libgmock-dev openjdk-17-jdk-headless
          mingw-w64 wine wine64 junit5 libjna-java libdtl-dev libpicocli-java locales
          clang libclang-rt-14-dev
          maven libmaven-install-plugin-java libmaven-compiler-plugin-java
          libmaven-jar-plugin-java libmaven-resources-plugin-java libsurefire-java
          libasm-java libfelix-framework-java)

# What the steps below call, as "command" or a file path, with the package that brings it.
REQUIRED=(cmake:cmake ninja:ninja-build g++:g++ objcopy:binutils readelf:binutils nm:binutils
          x86_64-w64-mingw32-g++-posix:mingw-w64 i686-w64-mingw32-g++-posix:mingw-w64
          x86_64-w64-mingw32-objcopy:mingw-w64 i686-w64-mingw32-objcopy:mingw-w64
          wine:wine java:openjdk-17-jdk-headless javac:openjdk-17-jdk-headless
          jar:openjdk-17-jdk-headless javadoc:openjdk-17-jdk-headless
          /usr/share/java/junit-platform-console-standalone.jar:junit5
          /usr/share/java/picocli.jar:libpicocli-java
          /usr/share/java/asm-commons.jar:libasm-java
          mvn:maven clang++:clang localedef:locales)

# What ./run.sh demo needs: the Linux build of the library, the scc tool's jar and localstore
# (preset demo: jars with the Linux natives only, no tests), and a JVM to run them.
DEMO_PACKAGES=(cmake ninja-build g++ binutils openjdk-17-jdk-headless libpicocli-java libasm-java
               libdtl-dev)
DEMO_REQUIRED=(cmake:cmake ninja:ninja-build g++:g++ objcopy:binutils
               java:openjdk-17-jdk-headless javac:openjdk-17-jdk-headless
               jar:openjdk-17-jdk-headless /usr/share/java/picocli.jar:libpicocli-java
               /usr/share/java/asm-commons.jar:libasm-java /usr/include/dtl/dtl.hpp:libdtl-dev)

log() { printf '== %s\n' "$*"; }

ensure_packages() {
    install_packages "${PACKAGES[@]}"
    # A Latin-1 locale for the conversion tests.
    if ! locale -a 2>/dev/null | grep -qi '^en_US\.iso88591$'; then
        log "generating the en_US.ISO-8859-1 locale"
        localedef -i en_US -f ISO-8859-1 en_US.ISO-8859-1
    fi
    check_commands "${REQUIRED[@]}"
}

install_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if ((${#missing[@]})); then
        log "installing ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    fi
}

# The Windows x86 tests run 32-bit programs under wine: Debian's 32-bit wine (wine32:i386, on
# the i386 architecture) beside the 64-bit one. Installed once; whether wine then really starts a
# 32-bit program is checked once per wine version (a stamp in build/), since making a wine
# prefix for the check takes a while.
WINE32_PACKAGE=wine32:i386
WINE32_LOADER=/usr/lib/wine/wine
WINE32_STAMP=$ROOT/build/.wine32-checked

ensure_wine32() {
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        log "adding the i386 architecture for $WINE32_PACKAGE"
        dpkg --add-architecture i386
    fi
    if ! dpkg-query -W -f='${Status}' "$WINE32_PACKAGE" 2>/dev/null | grep -q 'install ok installed'; then
        log "installing $WINE32_PACKAGE"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        if ! apt-get install -y -qq --no-install-recommends "$WINE32_PACKAGE" >/dev/null; then
            echo "run.sh: could not install $WINE32_PACKAGE (the 32-bit wine the Windows x86 tests need)" >&2
            exit 1
        fi
    fi
    check_wine32
}

# Starts a small 32-bit Windows program under wine in a throw-away prefix; stops with what is
# missing when it does not run.
check_wine32() {
    local version
    version="$(wine --version 2>/dev/null || true) $(dpkg-query -W -f='${Version}' "$WINE32_PACKAGE" 2>/dev/null || true)"
    if [ -f "$WINE32_STAMP" ] && [ "$(cat "$WINE32_STAMP")" = "$version" ]; then
        return
    fi
    if [ ! -x "$WINE32_LOADER" ]; then
        echo "run.sh: wine cannot start 32-bit programs: $WINE32_LOADER is missing (package $WINE32_PACKAGE)" >&2
        exit 1
    fi
    log "checking that wine starts a 32-bit program"
    local dir output status=0
    dir=$(mktemp -d)
    printf '#include <stdio.h>\nint main(void) { printf("x86 ok %%d\\n", (int)sizeof(void *)); return 0; }\n' \
        >"$dir/probe.c"
    if ! i686-w64-mingw32-gcc -O1 -o "$dir/probe.exe" "$dir/probe.c" 2>"$dir/cc.log"; then
        echo "run.sh: i686-w64-mingw32-gcc (package mingw-w64) cannot build a 32-bit program:" >&2
        cat "$dir/cc.log" >&2
        rm -rf "$dir"
        exit 1
    fi
    output=$(WINEPREFIX=$dir/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
             DISPLAY= WAYLAND_DISPLAY= timeout 300 wine "$dir/probe.exe" 2>&1 </dev/null) || status=$?
    WINEPREFIX=$dir/prefix timeout 30 wineserver -k >/dev/null 2>&1 || true
    rm -rf "$dir"
    if [ $status -ne 0 ] || ! grep -q 'x86 ok 4' <<<"$output"; then
        echo "run.sh: wine cannot start a 32-bit program (exit status $status); the Windows x86 tests" \
             "need $WINE32_PACKAGE with the same version as wine64. wine said:" >&2
        printf '%s\n' "$output" | tail -20 >&2
        exit 1
    fi
    mkdir -p "$(dirname "$WINE32_STAMP")"
    printf '%s\n' "$version" >"$WINE32_STAMP"
}

# A package can be installed and still leave a command off PATH (wine64 without wine did): stop
# here, naming what is missing, rather than deep inside a build or a test.
check_commands() {
    local entry what package missing=()
    for entry in "$@"; do
        what=${entry%:*} package=${entry##*:}
        if [[ $what == /* ]]; then
            [ -f "$what" ] || missing+=("$what (package $package)")
        else
            command -v "$what" >/dev/null 2>&1 || missing+=("$what (package $package)")
        fi
    done
    if ((${#missing[@]})); then
        printf 'run.sh: missing after installing the packages: %s\n' "${missing[@]}" >&2
        exit 1
    fi
}

build() {
    local preset=$1
    log "building $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$JOBS"
}

run_tests() {
    ensure_packages
    ensure_wine32
    build win64
    build win32
    build asan
    build linux
    if [ -x tests/fuzz/run-fuzz.sh ]; then
        log "fuzzing"
        tests/fuzz/run-fuzz.sh "$ROOT/build/fuzz" "${FUZZ_SECONDS:-20}"
    fi
    log "tests with AddressSanitizer and UndefinedBehaviorSanitizer"
    ctest --preset asan -j "$JOBS"
    log "all tests (Linux, JVM, Windows x64 and x86 under wine)"
    ctest --preset linux
}

# The demo's own build (build/demo): the library, the host, localstore and the tool's jar, with
# the Linux natives only; the full three-platform jars stay with the test and release builds.
run_demo() {
    install_packages "${DEMO_PACKAGES[@]}"
    check_commands "${DEMO_REQUIRED[@]}"
    build demo
    if [ -x build/demo/demo/run-demo.sh ]; then
        build/demo/demo/run-demo.sh
    else
        echo "the demo session is not built yet" >&2
        exit 1
    fi
}

case "${1:-}" in
    test) run_tests ;;
    demo) run_demo ;;
    *) echo "usage: $0 demo|test" >&2; exit 2 ;;
esac
