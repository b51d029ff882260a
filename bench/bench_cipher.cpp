// Process throughput of the four methods on the pipeline's buffer sizes (a
// 4096-byte chunk and the 6144-byte packed buffer), beside OpenSSL's
// low-level DES-ECB, DES-CBC, Blowfish-ECB and RC4 on the same sizes.
#include <benchmark/benchmark.h>

#include <openssl/blowfish.h>
#include <openssl/des.h>
#include <openssl/rc4.h>

#include <cstring>
#include <vector>

#include "cipher/Methods.h"
#include "cipher/PlatformCrypto.h"

namespace {

const char kPassword[] = "benchmark password";

std::vector<uint8_t> Buffer(size_t n)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(i * 131 + 7);
    return v;
}

// Decimal megabytes per second, next to Google Benchmark's own columns.
void Report(benchmark::State& state, size_t nBytes)
{
    state.counters["MB"] = benchmark::Counter(static_cast<double>(state.iterations()) * nBytes / 1e6,
                                                benchmark::Counter::kIsRate);
}

void Method(benchmark::State& state, int nEncType, int bEncrypt)
{
    const size_t n = static_cast<size_t>(state.range(0));
    std::vector<uint8_t> buf = Buffer(n);
    WithCipher(nEncType, [&](CCipher& c) {
        c.GetKey()->SetPassword(kPassword);
        c.Prepare();
        for (auto _ : state) {
            c.Process(buf.data(), static_cast<uint32_t>(n), bEncrypt);
            benchmark::ClobberMemory();
        }
    });
    Report(state, n);
}

void PrepareMethod(benchmark::State& state, int nEncType)
{
    for (auto _ : state) {
        WithCipher(nEncType, [&](CCipher& c) {
            c.GetKey()->SetPassword(kPassword);
            c.Prepare();
            benchmark::DoNotOptimize(c.GetKey()->Data());
        });
    }
}

void OsslDesKey(DES_key_schedule& ks)
{
    CCipherKey8 key;
    key.SetPassword(kPassword);
    DES_cblock block;
    std::memcpy(block, key.Data(), 8);
    DES_set_key_unchecked(&block, &ks);
}

void OpenSslDesEcb(benchmark::State& state)
{
    const size_t n = static_cast<size_t>(state.range(0));
    std::vector<uint8_t> buf = Buffer(n);
    DES_key_schedule ks;
    OsslDesKey(ks);
    for (auto _ : state) {
        for (size_t k = 0; k + 8 <= n; k += 8) {
            DES_cblock* p = reinterpret_cast<DES_cblock*>(buf.data() + k);
            DES_ecb_encrypt(p, p, &ks, DES_ENCRYPT);
        }
        benchmark::ClobberMemory();
    }
    Report(state, n);
}

void OpenSslDesCbc(benchmark::State& state)
{
    const size_t n = static_cast<size_t>(state.range(0));
    std::vector<uint8_t> buf = Buffer(n);
    DES_key_schedule ks;
    OsslDesKey(ks);
    DES_cblock iv = {0};
    for (auto _ : state) {
        DES_ncbc_encrypt(buf.data(), buf.data(), static_cast<long>(n), &ks, &iv, DES_ENCRYPT);
        benchmark::ClobberMemory();
    }
    Report(state, n);
}

void OpenSslBlowfishEcb(benchmark::State& state)
{
    const size_t n = static_cast<size_t>(state.range(0));
    std::vector<uint8_t> buf = Buffer(n);
    CCipherKey8 key;
    key.SetPassword(kPassword);
    BF_KEY bk;
    BF_set_key(&bk, 8, key.Data());
    for (auto _ : state) {
        for (size_t k = 0; k + 8 <= n; k += 8)
            BF_ecb_encrypt(buf.data() + k, buf.data() + k, &bk, BF_ENCRYPT);
        benchmark::ClobberMemory();
    }
    Report(state, n);
}

void OpenSslRc4(benchmark::State& state)
{
    const size_t n = static_cast<size_t>(state.range(0));
    std::vector<uint8_t> buf = Buffer(n);
    CCipherKey16 key;
    key.SetPassword(kPassword);
    RC4_KEY rk;
    RC4_set_key(&rk, 16, key.Data());
    for (auto _ : state) {
        RC4(&rk, n, buf.data(), buf.data());
        benchmark::ClobberMemory();
    }
    Report(state, n);
}

}  // namespace

#define KESTRIN_SIZES ->Arg(4096)->Arg(6144)

// One master key of the authenticated method: what a password guess costs,
// and what a batch pays once.
void MasterKeyDerivation(benchmark::State& state)
{
    const uint8_t abSalt[16] = {1, 2, 3};
    uint8_t abKey[32];
    for (auto _ : state) {
        if (!DerivePbkdf2Sha256(reinterpret_cast<const uint8_t*>("password"), 8, abSalt, sizeof abSalt,
                                uint32_t(state.range(0)), abKey, sizeof abKey))
            state.SkipWithError("derivation failed");
    }
}
BENCHMARK(MasterKeyDerivation)->Arg(600000)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_CAPTURE(Method, SapphireEncrypt, 0, 1) KESTRIN_SIZES;
BENCHMARK_CAPTURE(Method, SapphireDecrypt, 0, 0) KESTRIN_SIZES;
BENCHMARK(OpenSslRc4) KESTRIN_SIZES;
BENCHMARK_CAPTURE(Method, DesEncrypt, 1, 1) KESTRIN_SIZES;
BENCHMARK_CAPTURE(Method, DesDecrypt, 1, 0) KESTRIN_SIZES;
BENCHMARK(OpenSslDesEcb) KESTRIN_SIZES;
BENCHMARK_CAPTURE(Method, DesCbcEncrypt, 2, 1) KESTRIN_SIZES;
BENCHMARK_CAPTURE(Method, DesCbcDecrypt, 2, 0) KESTRIN_SIZES;
BENCHMARK(OpenSslDesCbc) KESTRIN_SIZES;
BENCHMARK_CAPTURE(Method, BlowfishEncrypt, 3, 1) KESTRIN_SIZES;
BENCHMARK_CAPTURE(Method, BlowfishDecrypt, 3, 0) KESTRIN_SIZES;
BENCHMARK(OpenSslBlowfishEcb) KESTRIN_SIZES;
BENCHMARK_CAPTURE(PrepareMethod, Sapphire, 0);
BENCHMARK_CAPTURE(PrepareMethod, Des, 1);
BENCHMARK_CAPTURE(PrepareMethod, DesCbc, 2);
BENCHMARK_CAPTURE(PrepareMethod, Blowfish, 3);

BENCHMARK_MAIN();
