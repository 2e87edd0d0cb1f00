# shellcheck shell=bash
# Shared by tools/build, tools/test, tools/lint and tools/run; sourced, not run.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${TOVRITH_BUILD:-$ROOT/build}
# Wine maps file names through the locale: without UTF-8 no name outside ASCII can be made.
export LC_ALL=C.UTF-8

# Installs whatever of the Debian packages the build, the tests and the checks need is missing.
ensure_packages() {
    local need=(g++-mingw-w64-x86-64 mingw-w64-tools wine wine64 fonts-wine xvfb xauth googletest
                cmake make python3 imagemagick x11-apps clang-format-14 shellcheck cppcheck)
    local missing=() p
    for p in "${need[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq >/dev/null
    if [[ " ${missing[*]} " == *" clang-format-14 "* ]] &&
        ! apt-cache show clang-format-14 >/dev/null 2>&1; then
        fetch_clang_format_14
        missing+=("$BUILD"/debian12/*.deb)
    fi
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
}

# .clang-format is written for clang-format 14, which Debian 13 does not have: Debian 12's package
# is fetched from the mirror the system uses, through an apt state of its own under build/, so the
# system's sources stay as they are. Its libraries' own needs are met by this Debian's.
fetch_clang_format_14() {
    local apt=$BUILD/debian12 uri
    uri=$(apt-cache policy | awk '$3 ~ /^[a-z]+\/main$/ { print $2; exit }')
    mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/parts"
    echo "deb $uri bookworm main" >"$apt/sources.list"
    local opts=(-o "Dir::Etc::SourceList=$apt/sources.list" -o "Dir::Etc::SourceParts=$apt/parts"
                -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache"
                -o APT::Sandbox::User=root)
    $sudo apt-get "${opts[@]}" update -qq >/dev/null
    (cd "$apt" && $sudo apt-get "${opts[@]}" download clang-format-14 libclang-cpp14 libllvm14 \
        >/dev/null)
}

# Configures until a build system has been generated; a configure that failed leaves no cache
# behind, so the next run starts it afresh.
configure_and_build() {
    if [ ! -f "$BUILD/Makefile" ]; then
        if ! cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" >"$BUILD.configure.log" 2>&1
        then
            cat "$BUILD.configure.log"
            rm -f "$BUILD/CMakeCache.txt"
            return 1
        fi
    fi
    cmake --build "$BUILD" -j"$(nproc)" >"$BUILD.build.log" 2>&1 ||
        { tail -n 60 "$BUILD.build.log"; return 1; }
}

# A private Wine prefix under build/, quiet, without the crash debugger, windows unmanaged, Wine's
# own fonts installed, one wineserver kept alive, and a virtual display when there is none.
export WINEPREFIX=$BUILD/wineprefix
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree=d;mshtml=d"

XVFB_PID=
start_display() {
    [ -n "${DISPLAY:-}" ] && return 0
    local fifo
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    XVFB_PID=$!
    local n
    read -r -t 20 n <"$fifo"
    rm -f "$fifo"
    [ -n "$n" ] || { echo "Xvfb did not start"; return 1; }
    export DISPLAY=:$n
}

start_wine() {
    mkdir -p "$BUILD"
    # The marker names what the prefix holds; a prefix made without the fonts is made again.
    local ready=$WINEPREFIX/.tovrith-ready-fonts
    if [ ! -f "$ready" ]; then
        rm -rf "$WINEPREFIX"
        wineboot -i >"$BUILD/wineboot.log" 2>&1
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
            >>"$BUILD/wineboot.log" 2>&1
        wineserver -w
        # Wine looks for Marlett (the caption buttons) and Tahoma (the dialog font) here only.
        cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
        touch "$ready"
    fi
    # One server for the whole run; one already running for this prefix serves as well.
    wineserver -p 2>/dev/null || true
    # The first program start loads the prefix's services; get it over with here.
    wine cmd /c exit >/dev/null 2>&1 </dev/null
}

stop_wine() {
    wineserver -k >/dev/null 2>&1
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
    XVFB_PID=
}
