// libFuzzer target over the reading side of the container: the input's first
// byte picks the method (bits 0-1) and verify instead of decrypt (bit 2); the
// rest is the container. Whatever the bytes, the processor must stay inside
// its buffers, return a known result, and write at most one file, in the
// container's folder. Each input runs through the serial and the pooled
// reader, which must agree on the result and on every byte written.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

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

Run RunOnce(const fs::path& container, int nEncType, bool bVerify, int nThreads)
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
    if (!bVerify && run.nOutputs == 1 && fs::path(item.m_strDest.GetString()).parent_path() != WorkDir())
        std::abort();  // the output left the container's folder
    return run;
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

    const Run serial = RunOnce(container, nEncType, bVerify, 1);
    const Run pooled = RunOnce(container, nEncType, bVerify, 3);
    if (serial.nResult != pooled.nResult || serial.nOutputs != pooled.nOutputs || serial.output != pooled.output)
        std::abort();
    return 0;
}
