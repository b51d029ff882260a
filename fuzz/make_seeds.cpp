// Writes the seed corpus: one container per method and size, under the fuzz
// target's password, each prefixed with the target's selector byte.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "batch/WorkItem.h"
#include "cipher/Methods.h"
#include "container/FileProcessor.h"

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
    return 0;
}
