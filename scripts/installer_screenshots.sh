#!/usr/bin/env bash
# Retakes docs/screenshots/installer-*.png: builds the installer, runs it under
# Xvfb with Wine's X11 driver in a fresh prefix, and walks the wizard with
# xdotool, taking each page as it comes (welcome, licence, users, folder,
# progress, finish).
#
#   bash scripts/installer_screenshots.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages "${CORE_PACKAGES[@]}" xvfb xauth imagemagick xdotool

echo "== build: the installer (mingw-w64, makensis)"
configure_windows
cmake --build "$BUILD/windows" --target installer -j "$JOBS" >/dev/null
SETUP="$(ls "$BUILD"/windows/Kestrin-*-setup.exe | head -n 1)"

export OUT="$ROOT/docs/screenshots" PREFIX_X11="$BUILD/windows/installer-shots-prefix" SETUP ROOT
mkdir -p "$OUT"
# xvfb-run is a POSIX shell script, which drops exported functions.
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    source "$ROOT/scripts/common.sh"
    fresh_wine_prefix "$PREFIX_X11" x11
    # Debian does not offer Wine'"'"'s own fonts to a prefix; the wizard wants them.
    cp -n /usr/share/wine/fonts/*.ttf /usr/share/wine/fonts/*.fon "$PREFIX_X11/drive_c/windows/Fonts/" 2>/dev/null || true
    # No window manager runs under Xvfb: Wine draws the frames itself.
    wine64 reg add "HKCU\\Software\\Wine\\X11 Driver" /v Decorated /d N /f >/dev/null
    wineserver -k 2>/dev/null || true
    wine64 "$SETUP" &
    setup=$!
    status=0
    win=$(timeout 120 xdotool search --sync --name "^Kestrin Setup$" | head -n 1)
    for page in welcome licence users folder progress finish; do
        sleep 3
        import -window "$win" "$OUT/installer-$page.png" || status=1
        echo "   $OUT/installer-$page.png"
        # Return presses the page'"'"'s default button: Next, I Agree, Install, Finish.
        xdotool windowfocus --sync "$win" 2>/dev/null || true
        xdotool key --window "$win" Return
        [ $page = folder ] && sleep 5
    done
    wait $setup || status=1
    wineserver -k 2>/dev/null || true
    exit $status
'
