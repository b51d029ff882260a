# Shared by the test and demo scripts: packages, build trees, the Wine prefix.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build"
JOBS="$(nproc 2>/dev/null || echo 2)"
export PATH="/usr/lib/wine:$PATH"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko download, and no winemenubuilder, which writes menu and
# MIME folders into the home folder (~/.config/menus, ~/.local/share/...).
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml,winemenubuilder.exe=}"

CORE_PACKAGES=(cmake ninja-build g++ make pkg-config zlib1g-dev libgtest-dev googletest
               libgmock-dev libbenchmark-dev libssl-dev openssl clang libclang-rt-14-dev
               g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
               libz-mingw-w64-dev wine64 nsis osslsigncode
               dpkg-dev lintian man-db bsdutils bash-completion)

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

# Wine links the profile's Documents, Desktop, Music and the like to the
# user's home folder, so a program saving "to Documents" would write outside
# the prefix. Each link becomes a real, empty folder (as winetricks' sandbox
# verb does), and Wine is told not to update the prefix, which would link
# them again.
sandbox_wine_prefix() {  # prefix dir
    local link
    while IFS= read -r -d '' link; do
        rm -f "$link"
        mkdir -p "$link"
    done < <(find "$1/drive_c/users" -type l -print0)
    echo disable > "$1/.update-timestamp"
}

# The home folder two levels deep, leaving out the source tree if it lies
# inside: the test and demo runs compare it before and after, since nothing of
# theirs belongs there. (Deeper changes under existing folders are left to
# the machine's other programs.)
home_listing() {
    find "$HOME" -mindepth 1 -maxdepth 2 -path "$ROOT" -prune -o -print 2>/dev/null | sort
}

expect_home_unchanged() {  # listing taken before
    local new
    new="$(comm -13 <(printf '%s\n' "$1") <(home_listing))"
    if [ -n "$new" ]; then
        echo "== written into $HOME:"
        printf '%s\n' "$new"
        return 1
    fi
    echo "== nothing new in $HOME"
}

# A fresh prefix under the build tree, null display driver unless a display is wanted.
fresh_wine_prefix() {  # prefix dir, driver (null|x11)
    local prefix="$1" driver="${2:-null}"
    wineserver -k 2>/dev/null || true
    rm -rf "$prefix"
    mkdir -p "$prefix"
    export WINEPREFIX="$prefix"
    wine64 wineboot -i >/dev/null 2>&1 || true
    sandbox_wine_prefix "$prefix"
    if [ "$driver" = null ]; then
        wine64 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    fi
    wineserver -k 2>/dev/null || true
    wineserver -p 600 &
    disown || true
    wine64 cmd /c exit >/dev/null 2>&1 || true
}
