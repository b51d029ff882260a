#!/usr/bin/env bash
# One "Encrypt with Kestrin" over many small files under Wine, through the
# registered DLL, then one "Decrypt with Kestrin" over their containers: the
# wall time from InvokeCommand to its return, which is what the user waits
# for. Each run starts from a fresh folder of originals.
#
#   bash bench/batch_wine.sh [FILES [BYTES [RUNS]]]   default 500 files of 1024 bytes, 3 runs
#
# KESTRIN_BENCH_BIN=DIR takes Kestrin.dll and kestrin_demo.exe from DIR
# instead of building them (to time an older build beside the current one).
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"

FILES="${1:-500}"
BYTES="${2:-1024}"
RUNS="${3:-3}"
TREE="$BUILD/windows"
BIN="${KESTRIN_BENCH_BIN:-$TREE/bin}"

if [ -z "${KESTRIN_BENCH_BIN:-}" ]; then
    configure_windows
    cmake --build "$TREE" --target Kestrin kestrin_demo -j 2 >/dev/null
fi

winpath() { echo "Z:$1" | tr / '\\'; }
export WINEPREFIX="$TREE/bench-prefix"  # so that no other prefix's server is stopped
fresh_wine_prefix "$TREE/bench-prefix" null
wine64 regsvr32 /s "$(winpath "$BIN/Kestrin.dll")"

FOLDER="$TREE/bench-batch"
for run in $(seq 1 "$RUNS"); do
    rm -rf "$FOLDER"
    mkdir -p "$FOLDER"
    for i in $(seq -w 1 "$FILES"); do
        head -c "$BYTES" /dev/urandom > "$FOLDER/file$i.dat"
    done
    echo "run $run, encrypt: $(wine64 "$BIN/kestrin_demo.exe" batch "$(winpath "$FOLDER")" | tail -1)"
    rm -f "$FOLDER"/*.dat
    echo "run $run, decrypt: $(wine64 "$BIN/kestrin_demo.exe" batch "$(winpath "$FOLDER")" decrypt | tail -1)"
done
rm -rf "$FOLDER"
wineserver -k 2>/dev/null || true
