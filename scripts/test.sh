#!/usr/bin/env bash
# Installs what is missing, builds the native, sanitizer and Windows trees and
# runs every test: native, native under ASan+UBSan, and the Windows tests under Wine.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages "${CORE_PACKAGES[@]}"

# The run gets a home folder of its own, empty, in the build tree, and it must
# stay empty: nothing of the tests belongs in a home folder (Wine, for one,
# links a new prefix's Documents there). A home of its own also keeps the
# machine's other programs, which write into the real one, out of the check.
export HOME="$BUILD/home"
rm -rf "$HOME"
mkdir -p "$HOME"
home_before="$(home_listing)"

status=0
echo "== layers: includes point down"
bash "$ROOT/scripts/check_layers.sh" || status=1
run_ctest() {  # tree, label
    echo "== tests: $2"
    if ! ctest --test-dir "$BUILD/$1" --output-on-failure -j "$JOBS" --timeout 600; then
        status=1
    fi
}

echo "== build: native"
configure_native native RelWithDebInfo
cmake --build "$BUILD/native" -j "$JOBS"

echo "== build: native with AddressSanitizer and UndefinedBehaviorSanitizer"
configure_native asan Debug -DKESTRIN_BENCH=OFF \
    "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer" \
    "-DCMAKE_C_FLAGS=-fsanitize=address,undefined -fno-omit-frame-pointer" \
    "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined"
cmake --build "$BUILD/asan" -j "$JOBS"

# ThreadSanitizer over the pooled block loops only: one test binary, the
# suites that run the helper threads.
echo "== build: native with ThreadSanitizer (pipeline tests)"
configure_native tsan Debug -DKESTRIN_BENCH=OFF \
    "-DCMAKE_CXX_FLAGS=-fsanitize=thread -O1" "-DCMAKE_C_FLAGS=-fsanitize=thread -O1" \
    "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread"
cmake --build "$BUILD/tsan" -j "$JOBS" --target test_container

# A throwaway self-signed code-signing certificate, made once per build
# folder: the Windows tree signs the DLL, kestrin.exe, the installer and the
# uninstaller with it, and the installer tests verify the signatures.
make_test_certificate() {  # folder
    [ -s "$1/cert.pem" ] && [ -s "$1/key.pem" ] && return 0
    mkdir -p "$1"
    openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=Kestrin test signing (throwaway)" \
        -addext "extendedKeyUsage=codeSigning" -keyout "$1/key.pem" -out "$1/cert.pem" 2>/dev/null
}

echo "== build: windows (mingw-w64), signed with a throwaway certificate"
make_test_certificate "$BUILD/signing"
configure_windows -DKESTRIN_SIGN_CERT="$BUILD/signing/cert.pem" -DKESTRIN_SIGN_KEY="$BUILD/signing/key.pem"
cmake --build "$BUILD/windows" -j "$JOBS"

run_ctest native "native"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest asan "native, ASan+UBSan"

# The Debian package of the native tool, as a user would get it: built by
# CPack, unpacked into a scratch root, its tool and manual page run, lintian.
check_package() {
    local tree="$BUILD/native" root="$BUILD/native/pkgroot"
    rm -f "$tree"/kestrin_*.deb
    (cd "$tree" && cpack -G DEB >/dev/null) || return 1
    local deb
    deb="$(ls "$tree"/kestrin_*_amd64.deb)" || return 1
    rm -rf "$root"
    dpkg -x "$deb" "$root" || return 1
    "$root/usr/bin/kestrin" --version | grep -qx "kestrin [0-9.]*" || { echo "installed kestrin --version failed"; return 1; }
    local warnings
    warnings="$(MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/kestrin.1.gz" 2>&1 >/dev/null)"
    [ -z "$warnings" ] || { echo "man -l: $warnings"; return 1; }
    MANWIDTH=80 man -l "$root/usr/share/man/man1/kestrin.1.gz" | grep -q "EXIT STATUS" || return 1
    bash -c "_init_completion() { :; }; source '$root/usr/share/bash-completion/completions/kestrin' && complete -p kestrin" \
        >/dev/null || { echo "bash completion does not load"; return 1; }
    local report rc=0
    report="$(lintian --fail-on error "$deb" 2>&1)" || rc=$?
    grep -v "running with root privileges" <<<"$report" || true
    [ $rc -eq 0 ] || { echo "lintian found errors"; return 1; }
    echo "$(basename "$deb"): installed into a scratch root, --version, man -l and lintian passed"
}
echo "== package: Debian"
check_package || status=1
echo "== tests: pipeline, ThreadSanitizer"
if ! TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" "$BUILD/tsan/bin/test_container" \
        --gtest_filter='WorkQueue.*:*SerialAndPooled*:*PooledCancel*:Reader.*:*RoundTrip*:Decrypting.*:Encrypting.*:ContainerV2.*:ProcessV2.*'; then
    status=1
fi

fresh_wine_prefix "$BUILD/windows/wineprefix" null
run_ctest windows "windows, under Wine"
wineserver -k 2>/dev/null || true

expect_home_unchanged "$home_before" || status=1

if [ $status -ne 0 ]; then
    echo "== FAILED"
else
    echo "== all test trees passed"
fi
exit $status
