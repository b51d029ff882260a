// Writes the seed corpus: one container per method and size, under the fuzz
// target's password, each prefixed with the target's selector byte (see
// fuzz_decrypt.cpp). Authenticated containers are sealed under the fuzzing
// tree's fixed master key, and each is also given as the plaintext the
// target seals itself.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "container/WorkItem.h"
#include "cipher/Methods.h"
#include "container/ContainerV2.h"
#include "container/FileProcessor.h"
#include "base/WipingZlib.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> Contents(size_t n, unsigned nSeed)
{
    std::vector<uint8_t> data(n);
    unsigned x = nSeed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        data[i] = (i / 512) % 2 ? uint8_t(x) : uint8_t("kestrin container seed\n"[i % 23]);
    }
    return data;
}

bool MakeSeed(const fs::path& out, int nEncType, size_t nSize, const char* pszName)
{
    const fs::path tmp = fs::temp_directory_path() / "kestrin-seeds";
    fs::remove_all(tmp);
    fs::create_directories(tmp);
    const fs::path source = tmp / pszName;
    std::vector<uint8_t> data = Contents(nSize, unsigned(nSize + nEncType));
    FILE* pFile = std::fopen(source.string().c_str(), "wb");
    if (!pFile)
        return false;
    std::fwrite(data.data(), 1, data.size(), pFile);
    std::fclose(pFile);

    CWorkItem item;
    item.m_strSource = source.string().c_str();
    item.m_strDest = (tmp / "box._xt").string().c_str();
    item.m_strPassword = "fuzz";
    item.m_bEncrypt = 1;
    int nResult = -1;
    WithCipher(nEncType, [&](CCipher& cipher) { nResult = CFileProcessor().Run(item, cipher); });
    if (nResult != WR_OK)
        return false;

    std::vector<uint8_t> seed(1, uint8_t(nEncType));
    pFile = std::fopen(item.m_strDest.GetString(), "rb");
    int c;
    while ((c = std::fgetc(pFile)) != EOF)
        seed.push_back(uint8_t(c));
    std::fclose(pFile);
    pFile = std::fopen(out.string().c_str(), "wb");
    std::fwrite(seed.data(), 1, seed.size(), pFile);
    std::fclose(pFile);
    fs::remove_all(tmp);
    return true;
}

bool Save(const fs::path& out, uint8_t bSelect, const std::vector<uint8_t>& bytes)
{
    FILE* pFile = std::fopen(out.string().c_str(), "wb");
    if (!pFile)
        return false;
    const bool bOk = std::fputc(bSelect, pFile) != EOF &&
                     std::fwrite(bytes.data(), 1, bytes.size(), pFile) == bytes.size();
    return std::fclose(pFile) == 0 && bOk;
}

CV2Header SeedHeader()
{
    CV2Header header;
    header.nIterations = kV2MinIterations;
    for (size_t i = 0; i < kV2SaltSize; ++i) {
        header.abSalt[i] = uint8_t(0xA0 + i);
        header.abFileId[i] = uint8_t(0xB0 + i);
    }
    return header;
}

void AppendRecord(std::vector<uint8_t>& out, const uint8_t* p, size_t n)
{
    out.push_back(uint8_t(n));
    out.push_back(uint8_t(n >> 8));
    out.insert(out.end(), p, p + n);
}

// An authenticated container of n bytes under the fixed key (selector 0x08),
// and its plaintext for the target to seal (0x09).
bool MakeSeedsV2(const fs::path& dir, size_t n)
{
    const std::vector<uint8_t> data = Contents(n, unsigned(n + 4));
    const CV2Header header = SeedHeader();
    CKey32 master;
    std::memset(master.ab, KESTRIN_FUZZ_KEY_BYTE, sizeof master.ab);
    CContainerV2Writer writer(1);
    CMemorySource in(data.data(), data.size());
    CMemorySink sealed;
    bool bCancelled = false;
    if (writer.Begin(header, master) != WR_OK ||
        writer.Write("seed.txt", in, data.size(), sealed, nullptr, bCancelled) != WR_OK)
        return false;

    std::vector<uint8_t> plain(kV2HeaderSize);
    EncodeHeaderV2(header, plain.data());
    AppendRecord(plain, reinterpret_cast<const uint8_t*>("seed.txt"), 8);
    z_stream zs;
    DeflateInitWiping(zs, Z_DEFAULT_COMPRESSION);
    uint8_t abRecord[kV2MaxChunkRecord];
    for (size_t i = 0; i == 0 || i < n; i += kV2ChunkSize) {
        uint32_t nRecord = 0;
        const uint32_t nChunk = uint32_t(n - i < kV2ChunkSize ? n - i : kV2ChunkSize);
        PackChunkV2(zs, data.data() + i, nChunk, abRecord, nRecord);
        AppendRecord(plain, abRecord, nRecord);
    }
    deflateEnd(&zs);
    const std::string strSize = std::to_string(n);
    return Save(dir / ("aes-" + strSize), 0x08, sealed.m_bytes) && Save(dir / ("aes-sealing-" + strSize), 0x09, plain);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds FOLDER\n");
        return 64;
    }
    const fs::path dir = argv[1];
    fs::create_directories(dir);
    const char* const kMethods[] = {"sapphire", "des", "des-cbc", "blowfish"};
    for (int m = 0; m < 4; ++m) {
        for (size_t n : {0, 1, 300, 5000}) {
            std::string name = std::string(kMethods[m]) + "-" + std::to_string(n);
            if (!MakeSeed(dir / name, m, n, n == 300 ? "odd:name\x01.txt" : "seed.txt"))
                return 1;
        }
    }
    for (size_t n : {0, 1, 4096, 4097, 3 * 4096 + 100}) {
        if (!MakeSeedsV2(dir, n))
            return 1;
    }
    return 0;
}
