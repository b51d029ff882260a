#!/usr/bin/env bash
# Per-file overhead of the kestrin tool: 1,000 files of 1 KiB encrypted by one
# `kestrin encrypt` call, wall and CPU time. Usage:
#   bench/small_files.sh [path/to/kestrin] [count] [runs]
set -euo pipefail
tool="$(realpath "${1:-build/native/bin/kestrin}")"
count="${2:-1000}"
runs="${3:-3}"
work="$(mktemp -d "${TMPDIR:-/tmp}/kestrin-small-XXXXXX")"
trap 'rm -rf "$work"' EXIT
cd "$work"
printf 'open sesame\n' > pw
for i in $(seq -w 1 "$count"); do
    head -c 1024 /dev/urandom | base64 -w 76 | head -c 1024 > "f$i.txt"
done
for run in $(seq 1 "$runs"); do
    rm -f ./*._xt
    TIMEFORMAT="run $run: %R s wall, %U s user, %S s system"
    time "$tool" encrypt -q --password-file pw f*.txt > /dev/null
done
echo "$(ls ./*._xt | wc -l) containers from $count files"
