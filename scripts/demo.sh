#!/usr/bin/env bash
# The whole right-click round trip on this machine: installs what is missing,
# builds Kestrin.dll, registers it in a fresh Wine prefix, makes a sample
# folder and plays Explorer's part with build/windows/bin/kestrin_demo.exe:
# the "Kestrin" submenu of the selection, "Encrypt with Kestrin" through the
# real dialogs (a second thread types the password), then "Decrypt with
# Kestrin" on the containers, and a check that every file came back whole.
#
#   bash scripts/demo.sh                 headless (Wine's null display driver),
#                                        or visible when DISPLAY is set
#   bash scripts/demo.sh --screenshots   also retakes docs/screenshots/*.png
#                                        under Xvfb with Wine's X11 driver
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

TREE="$BUILD/${KESTRIN_DEMO_TREE:-windows}"
SHOTS=0
[ "${1:-}" = "--screenshots" ] && SHOTS=1

DEMO_PACKAGES=(cmake ninja-build googletest g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
               binutils-mingw-w64-x86-64 libz-mingw-w64-dev wine64)
# The screenshots also show a path in Greek, Cyrillic and Japanese.
[ $SHOTS -eq 1 ] && DEMO_PACKAGES+=(xvfb xauth imagemagick fonts-dejavu-core fonts-noto-cjk)
ensure_packages "${DEMO_PACKAGES[@]}"
home_before="$(home_listing)"

echo "== build: Kestrin.dll and the demo's stand-in for Explorer (mingw-w64)"
cmake -S "$ROOT" -B "$TREE" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" -DKESTRIN_BENCH=OFF >/dev/null
cmake --build "$TREE" --target Kestrin kestrin_demo -j "$JOBS" >/dev/null

winpath() { echo "Z:$1" | tr / '\\'; }
DLL="$(winpath "$TREE/bin/Kestrin.dll")"
DEMO="$TREE/bin/kestrin_demo.exe"

# A folder of the kinds of files people encrypt: text, a name with an
# ampersand, a spreadsheet export, an image-like binary.
make_sample() {  # folder
    rm -rf "$1"
    mkdir -p "$1"
    cp "$ROOT/README.md" "$1/notes.txt"
    { echo "quarter,region,revenue"; for q in 1 2 3 4; do for r in north south east west; do
        echo "Q$q,$r,$(( (q * 7919 + ${#r} * 104729) % 100000 ))"; done; done; } > "$1/figures.csv"
    seq -f "line %g of the quarterly report & summary" 1 20000 > "$1/report & summary.txt"
    head -c 400000 /dev/urandom > "$1/photo.raw"
}

# Debian's wine64 does not offer its own fonts to a prefix: dialogs asking
# for "MS Sans Serif" would get a wider substitute and cut their labels.
add_wine_fonts() {  # prefix
    local fonts=/usr/share/wine/fonts
    [ -d "$fonts" ] || return 0
    cp -n "$fonts"/*.ttf "$fonts"/*.fon "$1/drive_c/windows/Fonts/" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
}

# Wine's own fonts have no CJK glyphs, and its bitmap "MS Sans Serif" (the
# dialogs' font) none for Greek or Cyrillic either, nor does a bitmap font
# fall back through font links. For the screenshots the dialogs' font is
# Wine's Tahoma (TrueType, of much the same size), whose font links, like
# those of "Microsoft Sans Serif" (which every font falls back to), lead to
# DejaVu Sans and Noto Sans CJK, found through fontconfig.
add_screenshot_fonts() {  # prefix
    rm -f "$1"/drive_c/windows/Fonts/sserif*.fon
    local nt="HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion"
    wine64 reg add "$nt\\FontSubstitutes" /v "MS Sans Serif" /d Tahoma /f >/dev/null
    local links="DejaVuSans.ttf,DejaVu Sans\\0NotoSansCJK-Regular.ttc,Noto Sans CJK JP"
    for font in "Tahoma" "Microsoft Sans Serif"; do
        wine64 reg add "$nt\\FontLink\\SystemLink" /v "$font" /t REG_MULTI_SZ /d "$links" /f >/dev/null
    done
}

driver=null
slow=()
if [ -n "${DISPLAY:-}" ]; then
    driver=x11
    slow=(--slow)
fi
PREFIX="$TREE/demo-prefix"
echo "== fresh Wine prefix ($driver display driver): $PREFIX"
fresh_wine_prefix "$PREFIX" "$driver"
add_wine_fonts "$PREFIX"
echo "== register: wine64 regsvr32 $DLL"
wine64 regsvr32 "$DLL"

SAMPLE="$TREE/demo-sample"
make_sample "$SAMPLE"
rm -rf "$TREE/demo-sample.orig"
cp -r "$SAMPLE" "$TREE/demo-sample.orig"
trap 'rm -rf "$TREE/demo-sample.orig"' EXIT

status=0
wine64 "$DEMO" roundtrip "$(winpath "$SAMPLE")" "${slow[@]}" || status=1

echo "== checked again from Linux: cmp against the copies taken before the demo"
for f in "$TREE/demo-sample.orig"/*; do
    name="$(basename "$f")"
    if cmp -s "$f" "$SAMPLE/$name"; then
        echo "   $name: identical"
    else
        echo "   $name: DIFFERENT"
        status=1
    fi
done
wineserver -k 2>/dev/null || true

if [ $SHOTS -eq 1 ]; then
    OUT="$ROOT/docs/screenshots"
    SHOTDIR="$TREE/demo-shots"
    mkdir -p "$OUT"
    rm -rf "$SHOTDIR"
    mkdir -p "$SHOTDIR"
    echo "== screenshots under Xvfb with Wine's X11 driver -> $OUT"
    export SHOTDIR OUT DEMO DLL PREFIX_X11="$TREE/demo-prefix-x11" ROOT
    # xvfb-run is a POSIX shell script, which drops exported functions.
    xvfb-run -a -s "-screen 0 1280x1024x24" bash -c "$(declare -f make_sample add_wine_fonts add_screenshot_fonts)"'
        source "$ROOT/scripts/common.sh"
        winpath() { echo "Z:$1" | tr / "\\\\"; }
        fresh_wine_prefix "$PREFIX_X11" x11
        add_wine_fonts "$PREFIX_X11"
        add_screenshot_fonts "$PREFIX_X11"
        # No window manager runs under Xvfb: Wine draws the frames itself.
        wine64 reg add "HKCU\\Software\\Wine\\X11 Driver" /v Decorated /d N /f >/dev/null
        wineserver -k 2>/dev/null || true
        wine64 regsvr32 /s "$DLL"
        # A folder where a Windows user keeps documents.
        docs="$PREFIX_X11/drive_c/users/$(whoami)/Documents/Kestrin sample"
        make_sample "$docs"
        rm -f "$docs/photo.raw" "$docs/figures.csv"
        sample="C:\\users\\$(whoami)\\Documents\\Kestrin sample"
        take() {  # name: waits until the demo shows it, then takes its picture
            for _ in $(seq 1 1200); do
                [ -f "$SHOTDIR/ready-$1.txt" ] && break
                sleep 0.05
            done
            [ -f "$SHOTDIR/ready-$1.txt" ] || { echo "   no $1 window"; return 1; }
            read -r x y w h < "$SHOTDIR/ready-$1.txt"
            import -window root -crop "${w}x${h}+${x}+${y}" +repage "$OUT/$1.png"
            echo "   $OUT/$1.png (${w}x${h})"
            touch "$SHOTDIR/done-$1.txt"
        }
        wine64 "$DEMO" shots "$sample" "$(winpath "$SHOTDIR")" &
        demo=$!
        for name in menu settings about busy settings-unicode settings-retry summary; do
            take "$name" || break
        done
        wait $demo
        # The menu again at 200 %: a program takes the DPI from LogPixels as it starts.
        wine64 reg add "HKCU\\Control Panel\\Desktop" /v LogPixels /t REG_DWORD /d 192 /f >/dev/null
        wine64 "$DEMO" menu "$sample" "$(winpath "$SHOTDIR")" menu-200 &
        demo=$!
        take menu-200
        wait $demo
        wineserver -k 2>/dev/null || true
    ' || status=1
fi

# Every prefix keeps its Documents inside it: the demo writes nothing at home.
expect_home_unchanged "$home_before" || status=1

if [ $status -eq 0 ]; then
    echo "== demo finished: every file restored"
else
    echo "== demo FAILED"
fi
exit $status
