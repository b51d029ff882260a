// Encrypt and decrypt throughput through CFileProcessor, file to file, on a
// generated mixed corpus, beside bare chunked deflate (the floor the
// pipeline cannot beat) and the peer pipeline `gzip -6 | openssl enc`.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <zlib.h>

#include "container/WorkItem.h"
#include "cipher/Methods.h"
#include "container/FileProcessor.h"

namespace fs = std::filesystem;

namespace {

const size_t kSegment = 256 * 1024;
const size_t kCorpusSize = 24 * kSegment;  // 6 MiB: text, binary records and noise in turns
const char kPassword[] = "bench password";

uint32_t NextRandom(uint32_t& x)
{
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
}

void AppendText(std::vector<uint8_t>& out, size_t n, uint32_t& x)
{
    static const char* const kWords[] = {"the ", "container ", "of ", "block ", "and ", "file ", "to ",
                                         "password ", "a ", "chunk ", "compressed ", "is ", "with ", "\n"};
    for (size_t end = out.size() + n; out.size() < end;) {
        for (const char* p = kWords[NextRandom(x) % 14]; *p && out.size() < end; ++p)
            out.push_back(uint8_t(*p));
    }
}

// Like a table of records: small counters, flags, floats, padding.
void AppendBinary(std::vector<uint8_t>& out, size_t n, uint32_t& x)
{
    for (size_t end = out.size() + n, i = 0; out.size() < end; ++i) {
        const uint8_t abRecord[16] = {uint8_t(i), uint8_t(i >> 8), 0, 0, uint8_t(NextRandom(x) % 4), 0, 0x80, 0x3F,
                                      uint8_t(NextRandom(x)), uint8_t(NextRandom(x) & 0x0F), 0, 0, 0xFF, 0xFF, 0, 0};
        for (size_t k = 0; k < 16 && out.size() < end; ++k)
            out.push_back(abRecord[k]);
    }
}

void AppendNoise(std::vector<uint8_t>& out, size_t n, uint32_t& x)
{
    for (size_t end = out.size() + n; out.size() < end;)
        out.push_back(uint8_t(NextRandom(x) >> 11));
}

struct Corpus {
    std::vector<uint8_t> data;
    fs::path dir, plain, container[kAllMethodCount];

    Corpus()
    {
        uint32_t x = 12345;
        for (size_t i = 0; data.size() < kCorpusSize; ++i) {
            switch (i % 3) {
            case 0: AppendText(data, kSegment, x); break;
            case 1: AppendBinary(data, kSegment, x); break;
            default: AppendNoise(data, kSegment, x); break;
            }
        }
        dir = fs::temp_directory_path() / "kestrin-bench";
        fs::remove_all(dir);
        fs::create_directories(dir);
        plain = dir / "corpus.bin";
        FILE* pFile = std::fopen(plain.string().c_str(), "wb");
        std::fwrite(data.data(), 1, data.size(), pFile);
        std::fclose(pFile);
    }
    ~Corpus() { fs::remove_all(dir); }
};

Corpus& TheCorpus()
{
    static Corpus corpus;
    return corpus;
}

int RunProcessor(int nEncType, bool bEncrypt, const fs::path& source, const fs::path& dest, CString* pOut,
                 int nThreads = 1)
{
    CWorkItem item;
    item.m_strSource = source.string().c_str();
    item.m_strDest = dest.string().c_str();
    item.m_strPassword = kPassword;
    item.m_bEncrypt = bEncrypt;
    item.m_nEncType = nEncType;
    int nResult = -1;
    WithCipher(nEncType, [&](CCipher& cipher) {
        CFileProcessor processor;
        processor.SetThreads(nThreads);
        nResult = processor.Run(item, cipher);
    });
    if (pOut)
        *pOut = item.m_strDest;
    return nResult;
}

void BM_BareChunkedDeflate(benchmark::State& state)
{
    const std::vector<uint8_t>& data = TheCorpus().data;
    std::vector<uint8_t> out(CFileProcessor::kPackedBufferSize);
    z_stream zs = {};
    deflateInit(&zs, Z_DEFAULT_COMPRESSION);
    for (auto _ : state) {
        for (size_t i = 0; i < data.size(); i += CFileProcessor::kChunkSize) {
            zs.next_in = const_cast<Bytef*>(&data[i]);
            zs.avail_in = uInt(std::min<size_t>(CFileProcessor::kChunkSize, data.size() - i));
            zs.next_out = out.data();
            zs.avail_out = uInt(out.size());
            if (deflate(&zs, Z_FINISH) != Z_STREAM_END)
                state.SkipWithError("deflate failed");
            benchmark::DoNotOptimize(zs.total_out);
            deflateReset(&zs);
        }
    }
    deflateEnd(&zs);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

void BM_Encrypt(benchmark::State& state)
{
    const int nEncType = int(state.range(0));
    Corpus& corpus = TheCorpus();
    const fs::path dest = corpus.dir / ("enc" + std::to_string(nEncType) + ".bin");
    for (auto _ : state) {
        CString strOut;
        if (RunProcessor(nEncType, true, corpus.plain, dest, &strOut, int(state.range(1))) != WR_OK)
            state.SkipWithError("encrypt failed");
        state.PauseTiming();
        fs::remove(strOut.GetString());
        state.ResumeTiming();
    }
    state.SetLabel(std::string(GetMethodInfo(nEncType)->pszName) + ", threads " + std::to_string(state.range(1)));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(corpus.data.size()));
}

void BM_Decrypt(benchmark::State& state)
{
    const int nEncType = int(state.range(0));
    Corpus& corpus = TheCorpus();
    const fs::path box = corpus.dir / ("box" + std::to_string(nEncType));
    fs::create_directories(box);
    CString strContainer;
    if (RunProcessor(nEncType, true, corpus.plain, box / "corpus._in", &strContainer) != WR_OK)
        state.SkipWithError("encrypt failed");
    for (auto _ : state) {
        CString strOut;
        if (RunProcessor(nEncType, false, strContainer.GetString(), strContainer.GetString(), &strOut,
                         int(state.range(1))) != WR_OK)
            state.SkipWithError("decrypt failed");
        state.PauseTiming();
        fs::remove(strOut.GetString());
        state.ResumeTiming();
    }
    state.SetLabel(std::string(GetMethodInfo(nEncType)->pszName) + ", threads " + std::to_string(state.range(1)));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(corpus.data.size()));
}

// The peer: `gzip -6 | openssl enc` over the same file, file to file.
const char* const kPeerCiphers[] = {"-des-ecb -K 0123456789abcdef", "-des-cbc -K 0123456789abcdef -iv 0000000000000000",
                                    "-bf-ecb -K 0123456789abcdef0123456789abcdef"};
const char* const kPeerNames[] = {"DES", "DES-CBC", "Blowfish"};

void BM_PeerEncrypt(benchmark::State& state)
{
    Corpus& corpus = TheCorpus();
    const int i = int(state.range(0));
    const std::string strCmd = "gzip -6 -c '" + corpus.plain.string() + "' | openssl enc " + kPeerCiphers[i] +
                               " -provider legacy -provider default -nosalt -out '" +
                               (corpus.dir / "peer.enc").string() + "'";
    for (auto _ : state) {
        if (std::system(strCmd.c_str()) != 0)
            state.SkipWithError("peer pipeline failed");
    }
    state.SetLabel(kPeerNames[i]);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(corpus.data.size()));
}

void BM_PeerDecrypt(benchmark::State& state)
{
    Corpus& corpus = TheCorpus();
    const int i = int(state.range(0));
    const std::string strEnc = (corpus.dir / ("peer" + std::to_string(i) + ".enc")).string();
    const std::string strKey = std::string(kPeerCiphers[i]) + " -provider legacy -provider default -nosalt";
    if (std::system(("gzip -6 -c '" + corpus.plain.string() + "' | openssl enc " + strKey + " -out '" + strEnc + "'").c_str()) != 0)
        state.SkipWithError("peer pipeline failed");
    const std::string strCmd = "openssl enc -d " + strKey + " -in '" + strEnc + "' | gzip -d -c > '" +
                               (corpus.dir / "peer.out").string() + "'";
    for (auto _ : state) {
        if (std::system(strCmd.c_str()) != 0)
            state.SkipWithError("peer pipeline failed");
    }
    state.SetLabel(kPeerNames[i]);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(corpus.data.size()));
}

}  // namespace

BENCHMARK(BM_BareChunkedDeflate)->Unit(benchmark::kMillisecond)->UseRealTime();
// Second argument: the threads that compress (1: the serial loop).
BENCHMARK(BM_Encrypt)->ArgsProduct({{0, 1, 2, 3, 4}, {1, 2}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PeerEncrypt)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Decrypt)->ArgsProduct({{0, 1, 2, 3, 4}, {1, 2}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PeerDecrypt)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
