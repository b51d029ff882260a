// libFuzzer target over the reading side of the container. The input's first
// byte picks what the rest is:
//   bit 3 clear: one of the four older methods (bits 0-1), the rest a
//                container;
//   bit 3 set:   the authenticated method; with bit 0 clear the rest is a
//                container, with bit 0 set it is a container's plaintext
//                (below), which the target seals into a container first;
//   bit 2:       verify instead of decrypt.
// Whatever the bytes, the processor must stay inside its buffers, return a
// known result, and write at most one file, in the container's folder, and
// none for an authenticated container that fails. Each input runs through
// the serial and the pooled reader, which must agree on the result and on
// every byte written.
//
// Sealed plaintext: a 46-byte header, then records as a 2-byte length L and
// L plaintext bytes, record 0 first. The target appends the header's key
// commitment and seals each record under the key the reader will derive, the
// last one flagged last; a length beyond what a writer can produce goes out
// unsealed, so the reader's bounds meet it. Every tag is then valid, and the
// fuzzer reaches the name checks, the mode byte, the zlib payloads and the
// lengths behind them. In a fuzzing tree (KESTRIN_FUZZ_FIXED_KEY) the
// master key is fixed, so this costs no derivation; elsewhere (the replay of
// the corpus by the tests) the real one is derived, once per header.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "container/WorkItem.h"
#include "cipher/Methods.h"
#include "container/FileProcessor.h"
#include "container/FormatV2.h"

namespace fs = std::filesystem;

namespace {

const char kPassword[] = "fuzz";
const uint8_t kAuthenticated = 0x08, kVerify = 0x04, kSealPlaintext = 0x01;

const fs::path& WorkDir()
{
    static const fs::path dir = [] {
        std::error_code ec;
        fs::path base = fs::exists("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
        fs::path d = base / ("kestrin-fuzz-" + std::to_string(std::rand()) + "-" +
                             std::to_string(reinterpret_cast<uintptr_t>(&ec) & 0xFFFFF));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

void WriteInput(const fs::path& path, const uint8_t* pData, size_t nSize)
{
    FILE* pFile = std::fopen(path.string().c_str(), "wb");
    if (!pFile)
        std::abort();
    if (nSize && std::fwrite(pData, 1, nSize, pFile) != nSize)
        std::abort();
    std::fclose(pFile);
}

// Every entry but the container is the run's output; there may be one at most.
int RemoveOutputs(const fs::path& container, std::vector<char>& output)
{
    int nOutputs = 0;
    output.clear();
    for (const auto& entry : fs::directory_iterator(WorkDir())) {
        if (entry.path() == container)
            continue;
        if (!entry.is_regular_file())
            std::abort();
        ++nOutputs;
        if (FILE* pFile = std::fopen(entry.path().string().c_str(), "rb")) {
            for (int c; (c = std::fgetc(pFile)) != EOF;)
                output.push_back(char(c));
            std::fclose(pFile);
        }
        fs::remove(entry.path());
    }
    return nOutputs;
}

struct Run {
    int nResult = -1;
    int nOutputs = 0;
    std::vector<char> output;
};

Run RunOnce(const fs::path& container, int nEncType, bool bVerify, int nThreads, bool bVersion2)
{
    CWorkItem item;
    item.m_strSource = container.string().c_str();
    item.m_strDest = item.m_strSource;
    item.m_strPassword = kPassword;
    Run run;
    WithCipher(nEncType, [&](CCipher& cipher) {
        CFileProcessor processor;
        processor.SetThreads(nThreads);
        run.nResult = bVerify ? processor.Verify(item, cipher) : processor.Run(item, cipher);
    });
    const int nResult = run.nResult;
    if (nResult < WR_OK || nResult > WR_INFLATE_ERROR || nResult == WR_WRITE_ERROR || nResult == WR_NO_MEMORY)
        std::abort();
    run.nOutputs = RemoveOutputs(container, run.output);
    if (run.nOutputs > (bVerify ? 0 : 1))
        std::abort();
    if (!bVerify && nResult == WR_OK && run.nOutputs != 1)
        std::abort();  // success claimed without a file
    if (bVersion2 && nResult != WR_OK && run.nOutputs != 0)
        std::abort();  // an authenticated container that fails keeps nothing
    if (!bVerify && run.nOutputs == 1 && fs::path(item.m_strDest.GetString()).parent_path() != WorkDir())
        std::abort();  // the output left the container's folder
    return run;
}

void Append(std::vector<uint8_t>& out, const uint8_t* p, size_t n)
{
    out.insert(out.end(), p, p + n);
}

// The container whose plaintext the input gives (see the top of the file).
std::vector<uint8_t> SealPlaintext(const uint8_t* p, size_t n)
{
    std::vector<uint8_t> out;
    if (n < kV2HeaderSize) {
        Append(out, p, n);
        return out;
    }
    uint8_t abPrefix[kV2PrefixSize] = {};
    std::memcpy(abPrefix, p, kV2HeaderSize);
    CV2Header header;
    CV2Fault fault;
    CKey32 master, fileKey;
    CAesGcm gcm;
    // A header out of range keeps a zero commitment: the reader stops before it.
    const bool bKeyed = DecodeHeaderV2(p, n, header, fault) == WR_OK &&
                        MasterKeys().ForReading(kPassword, header, master) &&
                        KeyHeaderV2(abPrefix, master, fileKey, abPrefix + kV2HeaderSize) && gcm.SetKey(fileKey.ab);
    Append(out, abPrefix, sizeof abPrefix);
    std::vector<std::pair<const uint8_t*, uint32_t>> records;
    for (size_t i = kV2HeaderSize; i + 2 <= n;) {
        const uint32_t nWant = uint32_t(p[i]) | uint32_t(p[i + 1]) << 8;
        i += 2;
        const uint32_t nPlain = uint32_t(nWant < n - i ? nWant : n - i);
        records.push_back({p + i, nPlain});
        i += nPlain;
    }
    std::vector<uint8_t> record(4 + 0x10000 + kGcmTagSize);
    for (size_t r = 0; r < records.size(); ++r) {
        const bool bLast = r > 0 && r + 1 == records.size();
        const uint32_t nSealed =
            bKeyed ? SealRecordV2(gcm, abPrefix, r, bLast, records[r].first, records[r].second, record.data()) : 0;
        if (nSealed == 0) {  // out of bounds: the bytes as they are, the tag zero
            const uint32_t nLength = records[r].second + uint32_t(kGcmTagSize);
            const uint8_t abLength[4] = {uint8_t(nLength), uint8_t(nLength >> 8), uint8_t(nLength >> 16), 0};
            Append(out, abLength, 4);
            Append(out, records[r].first, records[r].second);
            out.resize(out.size() + kGcmTagSize);
            continue;
        }
        Append(out, record.data(), nSealed);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize == 0)
        return 0;
    const uint8_t bSelect = pData[0];
    const bool bVersion2 = (bSelect & kAuthenticated) != 0;
    const int nEncType = bVersion2 ? int(kEncTypeAuthenticated) : bSelect & 3;
    const bool bVerify = (bSelect & kVerify) != 0;
    const fs::path container = WorkDir() / "box._xt";
    if (bVersion2 && (bSelect & kSealPlaintext)) {
        const std::vector<uint8_t> sealed = SealPlaintext(pData + 1, nSize - 1);
        WriteInput(container, sealed.data(), sealed.size());
    } else {
        WriteInput(container, pData + 1, nSize - 1);
    }
    const bool bMagicV2 = nSize - 1 >= 4 && HasMagicV2(pData + 1, 4);

    const Run serial = RunOnce(container, nEncType, bVerify, 1, bMagicV2);
    const Run pooled = RunOnce(container, nEncType, bVerify, 3, bMagicV2);
    if (serial.nResult != pooled.nResult || serial.nOutputs != pooled.nOutputs || serial.output != pooled.output)
        std::abort();
    return 0;
}
