#!/usr/bin/env bash
# kestrin beside the tools a user would pick instead, on one corpus, in one
# run: every method serial (--threads 1) and with 2, 3 and 4 threads, bare
# chunked zlib on one core, gzip|openssl, pigz|openssl, gpg, 7z (-mx1 and its
# default) and, for context only, zstd|openssl. Prints one table of MB/s of
# plain data (10^6 bytes per second, wall time) and output sizes; then the
# peak resident size of kestrin on a 1 GiB file, also an authenticated one
# read from a pipe (BENCH_BIG=0 skips that).
# Not part of scripts/test.sh: it takes minutes and wants a quiet machine.
#
# To repeat a few rows under changing load: BENCH_METHODS="aes" (default all
# five), BENCH_THREADS="1 2" (default 1 to 4), BENCH_PEERS=0 (skip the other
# tools), BENCH_KESTRIN=path (time another build of the tool, e.g. an older one).
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"

METHODS="${BENCH_METHODS:-sapphire des des-cbc blowfish aes}"
THREADS="${BENCH_THREADS:-1 2 3 4}"
PEERS="${BENCH_PEERS:-1}"
PEER_PACKAGES=()
if [ "$PEERS" = 1 ]; then PEER_PACKAGES=(pigz gnupg p7zip-full openssl gzip zstd); fi
ensure_packages "${CORE_PACKAGES[@]}" "${PEER_PACKAGES[@]}" time

configure_native bench Release
cmake --build "$BUILD/bench" -j "$JOBS" --target kestrin chunk_zlib >/dev/null
KESTRIN="${BENCH_KESTRIN:-$BUILD/bench/bin/kestrin}"
CHUNK_ZLIB="$BUILD/bench/bin/chunk_zlib"

WORK="${BENCH_DIR:-$BUILD/bench/compare}"
rm -rf "$WORK"
mkdir -p "$WORK/box"
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
PW="bench password"
printf '%s\n' "$PW" >pw
DES_KEY="-K 0123456789abcdef -iv 0000000000000000"
LEGACY="-provider legacy -provider default -nosalt"

# 72 MiB: C headers (text), shared libraries (binary) and random bytes
# (incompressible), 32 + 32 + 8 MiB, from whatever this machine has.
make_corpus() {
    # head closes the pipe early on purpose: the writers' SIGPIPE is no failure.
    { find /usr/include -type f -name '*.h' -print0 | sort -z | xargs -0 cat; } 2>/dev/null | head -c 32M >corpus.bin || true
    { find /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -name '*.so*' -print0 | sort -z | xargs -0 cat; } \
        2>/dev/null | head -c 32M >>corpus.bin || true
    head -c 8M /dev/urandom >>corpus.bin
}
make_corpus
SIZE=$(stat -c %s corpus.bin)

# Runs a shell command once; prints "MB/s peak-RSS-KiB".
timed() {
    sync
    /usr/bin/time -f "%e %M" -o .time bash -c "$1" >/dev/null 2>&1 || { echo "failed: $1" >&2; echo "- -"; return; }
    read -r secs rss <.time
    awk -v n="$SIZE" -v s="$secs" -v r="$rss" 'BEGIN { printf "%.1f %d\n", (s > 0 ? n / s / 1e6 : 0), r }'
}

row() {  # name, encrypt command, output file, decrypt command
    local enc dec size
    enc=$(timed "$2")
    size=$(stat -c %s "$3" 2>/dev/null || echo -)
    dec=$(timed "$4")
    printf '| %s | %s | %s | %s |\n' "$1" "${enc% *}" "${dec% *}" "$size"
}

echo "corpus: $SIZE bytes; $(nproc) hardware threads; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| what | encrypt MB/s | decrypt MB/s | output bytes |"
echo "|---|---:|---:|---:|"
read -r dmb imb packed < <("$CHUNK_ZLIB" corpus.bin)
echo "| bare chunked deflate / inflate, one core | $dmb | $imb | $packed |"

# The aes runs include one password derivation (PBKDF2, 600,000 iterations),
# paid once per run whatever its size: measured alone on an empty file, and
# taken off in the rows "less the derivation" to give the rate per byte.
: >empty.bin
derive=$( { /usr/bin/time -f %e "$KESTRIN" encrypt -q -m aes --password-file pw -O box empty.bin >/dev/null; } 2>&1 | tail -1)
rm -f box/* empty.bin
echo "| kestrin aes, one key derivation (an empty file) | ${derive} s | | |"
less_derive() {  # MB/s of a run -> MB/s of the same run without the derivation
    awk -v n="$SIZE" -v r="$1" -v d="$derive" 'BEGIN { t = n / r / 1e6 - d; printf "%.1f", (t > 0 ? n / t / 1e6 : 0) }'
}

for method in $METHODS; do
    for n in $THREADS; do
        rm -f box/* corpus._in
        enc=$(timed "'$KESTRIN' encrypt -q -m $method --threads $n --password-file pw corpus.bin")
        size=$(stat -c %s corpus._in)
        mv corpus._in box/
        dec=$(timed "'$KESTRIN' decrypt -q -m $method --threads $n --password-file pw box/corpus._in")
        cmp -s box/corpus.bin corpus.bin || echo "MISMATCH: $method, $n threads" >&2
        printf '| kestrin %s, %d thread%s | %s | %s | %s |\n' "$method" "$n" "$([ $n = 1 ] && echo ", serial" || echo s)" \
            "${enc% *}" "${dec% *}" "$size"
        if [ "$method" = aes ]; then
            printf '| kestrin aes, %d thread%s, less the derivation | %s | %s | |\n' "$n" "$([ $n = 1 ] || echo s)" \
                "$(less_derive "${enc% *}")" "$(less_derive "${dec% *}")"
        fi
    done
done
rm -f box/*

if [ "$PEERS" = 1 ]; then
row "gzip -6 \| openssl des-cbc" "gzip -6 -c corpus.bin | openssl enc -des-cbc $DES_KEY $LEGACY -out peer.enc" peer.enc \
    "openssl enc -d -des-cbc $DES_KEY $LEGACY -in peer.enc | gzip -d -c >peer.out"
row "pigz -6 \| openssl des-cbc" "pigz -6 -c corpus.bin | openssl enc -des-cbc $DES_KEY $LEGACY -out peer.enc" peer.enc \
    "openssl enc -d -des-cbc $DES_KEY $LEGACY -in peer.enc | pigz -d -c >peer.out"
row "gpg --symmetric (zlib)" \
    "gpg --batch --yes --pinentry-mode loopback --passphrase-file pw --symmetric --compress-algo zlib -o peer.gpg corpus.bin" \
    peer.gpg "gpg --batch --yes --pinentry-mode loopback --passphrase-file pw -d -o peer.out peer.gpg"
rm -f peer.7z
row "7z a -p -mx1" "7z a -bd -p'$PW' -mx1 peer.7z corpus.bin" peer.7z "7z x -bd -y -p'$PW' -opeer peer.7z"
rm -rf peer.7z peer
row "7z a -p (default level)" "7z a -bd -p'$PW' peer.7z corpus.bin" peer.7z "7z x -bd -y -p'$PW' -opeer peer.7z"
rm -rf peer.7z peer
row "zstd -T0 \| openssl aes-128-cbc (another format)" \
    "zstd -q -T0 -c corpus.bin | openssl enc -aes-128-cbc -K 00112233445566778899aabbccddeeff -iv 00000000000000000000000000000000 -nosalt -out peer.enc" \
    peer.enc \
    "openssl enc -d -aes-128-cbc -K 00112233445566778899aabbccddeeff -iv 00000000000000000000000000000000 -nosalt -in peer.enc | zstd -q -d -c >peer.out"
rm -f peer.*
fi
echo
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

if [ "${BENCH_BIG:-1}" = 1 ]; then
    # 1 GiB from the corpus over and over; memory must not grow with the file.
    for _ in $(seq 15); do cat corpus.bin; done | head -c 1G >big.bin || true
    SIZE=$(stat -c %s big.bin)
    echo
    echo "| 1 GiB file | MB/s | peak RSS KiB |"
    echo "|---|---:|---:|"
    big_row() {  # label, command
        local r
        r=$(timed "$2")
        echo "| $1 | ${r% *} | ${r#* } |"
    }
    for n in 1 2; do
        big_row "des-cbc encrypt, $n thread(s)" "'$KESTRIN' encrypt -q -m des-cbc --threads $n --password-file pw big.bin"
        mv big._in box/
        big_row "des-cbc decrypt, $n thread(s)" "'$KESTRIN' decrypt -q -m des-cbc --threads $n --password-file pw box/big._in"
        rm -f box/*
    done
    # An authenticated container read from a pipe: the reader looks one
    # record ahead and holds a few batches, whatever the length.
    big_row "aes encrypt, 2 threads" "'$KESTRIN' encrypt -q -m aes --threads 2 --password-file pw big.bin"
    mv big._in box/
    big_row "aes decrypt from a pipe to a pipe, 2 threads" \
        "cat box/big._in | '$KESTRIN' decrypt -q -m aes --threads 2 --password-file pw -o - - >/dev/null"
    rm -f box/*
fi
