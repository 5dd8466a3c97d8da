# Sourced by the test runners that run a Windows build's DLL under wine
# through the test bridge.
#
#   winbridge_env WINDOWS_BUILD_DIR WORK_ROOT [DLL]
#
# Checks that the build has the DLL (default: its oskelsccih.dll) and the
# bridge's Windows side, and exports what the bridge and wine read: the
# program and DLL to run, the wine prefix (OSKEL_WINBRIDGE_PREFIX, or
# WORK_ROOT/wineprefix, made on first use), no debug output, no debugger and
# no display. Paths must be absolute. Returns 1, naming the missing file, for
# an incomplete build.
winbridge_env() {
    local windows=$1 work_root=$2 dll=${3:-$1/src/oskelsccih.dll} f
    for f in "$dll" "$windows/tests/winbridge/winbridge-host.exe"; do
        [ -f "$f" ] || { echo "Windows build incomplete: $f" >&2; return 1; }
    done
    export OSKEL_WINBRIDGE_HOST="$windows/tests/winbridge/winbridge-host.exe"
    export OSKEL_WINBRIDGE_DLLS="$dll"
    export WINEPREFIX="${OSKEL_WINBRIDGE_PREFIX:-$work_root/wineprefix}"
    # No debugger on a crash: a crashing provider host must end as on Windows, at once.
    export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
    export DISPLAY= WAYLAND_DISPLAY=
}
