# Shared by the test and demo scripts: packages, build trees, the Wine prefix.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build"
JOBS="$(nproc 2>/dev/null || echo 2)"
export PATH="/usr/lib/wine:$PATH"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

CORE_PACKAGES=(cmake ninja-build g++ make pkg-config zlib1g-dev libgtest-dev googletest
               libgmock-dev libbenchmark-dev libssl-dev openssl clang libclang-rt-14-dev
               g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
               libz-mingw-w64-dev wine64 nsis osslsigncode
               dpkg-dev lintian man-db bsdutils)

# Installs whatever of the given packages is missing; apt-get update runs once.
ensure_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "== installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

configure_native() {  # tree, build type, extra cmake args...
    local tree="$1" type="$2"; shift 2
    cmake -S "$ROOT" -B "$BUILD/$tree" -G Ninja -DCMAKE_BUILD_TYPE="$type" "$@" >/dev/null
}

configure_windows() {  # extra cmake args...
    cmake -S "$ROOT" -B "$BUILD/windows" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" -DKESTRIN_BENCH=OFF "$@" >/dev/null
}

# A fresh prefix under the build tree, null display driver unless a display is wanted.
fresh_wine_prefix() {  # prefix dir, driver (null|x11)
    local prefix="$1" driver="${2:-null}"
    wineserver -k 2>/dev/null || true
    rm -rf "$prefix"
    mkdir -p "$prefix"
    export WINEPREFIX="$prefix"
    wine64 wineboot -i >/dev/null 2>&1 || true
    if [ "$driver" = null ]; then
        wine64 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    fi
    wineserver -k 2>/dev/null || true
    wineserver -p 600 &
    disown || true
    wine64 cmd /c exit >/dev/null 2>&1 || true
}
