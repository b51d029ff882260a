// libFuzzer target over the reading side of the container: the input's first
// byte picks the method (bits 0-1) and verify instead of decrypt (bit 2); the
// rest is the container. Whatever the bytes, the processor must stay inside
// its buffers, return a known result, and write at most one file, in the
// container's folder.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "batch/WorkItem.h"
#include "cipher/Methods.h"
#include "container/FileProcessor.h"

namespace fs = std::filesystem;

namespace {

const char kPassword[] = "fuzz";

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
int RemoveOutputs(const fs::path& container)
{
    int nOutputs = 0;
    for (const auto& entry : fs::directory_iterator(WorkDir())) {
        if (entry.path() == container)
            continue;
        if (!entry.is_regular_file())
            std::abort();
        ++nOutputs;
        fs::remove(entry.path());
    }
    return nOutputs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize == 0)
        return 0;
    const int nEncType = pData[0] & 3;
    const bool bVerify = (pData[0] & 4) != 0;
    const fs::path container = WorkDir() / "box._xt";
    WriteInput(container, pData + 1, nSize - 1);

    CWorkItem item;
    item.m_strSource = container.string().c_str();
    item.m_strDest = item.m_strSource;
    item.m_strPassword = kPassword;
    int nResult = -1;
    WithCipher(nEncType, [&](CCipher& cipher) {
        CFileProcessor processor;
        nResult = bVerify ? processor.Verify(item, cipher) : processor.Run(item, cipher);
    });
    if (nResult < WR_OK || nResult > WR_INFLATE_ERROR || nResult == WR_WRITE_ERROR || nResult == WR_NO_MEMORY)
        std::abort();
    const int nOutputs = RemoveOutputs(container);
    if (nOutputs > (bVerify ? 0 : 1))
        std::abort();
    if (!bVerify && nResult == WR_OK && nOutputs != 1)
        std::abort();  // success claimed without a file
    if (!bVerify && nOutputs == 1 && fs::path(item.m_strDest.GetString()).parent_path() != WorkDir())
        std::abort();  // the output left the container's folder
    return 0;
}
