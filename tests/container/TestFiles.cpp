#include "TestFiles.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

FILE* OpenUtf8(const CString& strPath, const char* pszMode)
{
#ifdef _WIN32
    return _wfopen(fs::u8path(strPath.str()).c_str(), fs::u8path(pszMode).c_str());
#else
    return std::fopen(strPath, pszMode);
#endif
}

}  // namespace

void ScratchTest::SetUp()
{
    static std::atomic<int> s_nNext{0};
    const ::testing::TestInfo* pInfo = ::testing::UnitTest::GetInstance()->current_test_info();
    // The process id keeps apart trees tested at the same time on one machine.
    std::string strLeaf = std::string("kestrin-") + pInfo->test_suite_name() + "-" + pInfo->name() + "-" +
                          std::to_string(getpid()) + "-" + std::to_string(s_nNext++);
    std::replace(strLeaf.begin(), strLeaf.end(), '/', '_');
    m_dir = fs::temp_directory_path() / strLeaf;
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
}

void ScratchTest::TearDown()
{
    std::error_code ec;
    fs::remove_all(m_dir, ec);
}

CString ScratchTest::PathOf(const std::string& strName) const
{
    // Paths are UTF-8 in every CString.
    return CString((m_dir / fs::u8path(strName)).u8string());
}

std::vector<std::string> ScratchTest::Listing() const
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_dir))
        names.push_back(entry.path().filename().u8string());
    std::sort(names.begin(), names.end());
    return names;
}

void WriteFileBytes(const CString& strPath, const Bytes& data)
{
    FILE* pFile = OpenUtf8(strPath, "wb");
    ASSERT_NE(pFile, nullptr) << strPath.GetString();
    if (!data.empty()) {
        ASSERT_EQ(std::fwrite(data.data(), 1, data.size(), pFile), data.size());
    }
    ASSERT_EQ(std::fclose(pFile), 0);
}

Bytes ReadFileBytes(const CString& strPath)
{
    Bytes data;
    FILE* pFile = OpenUtf8(strPath, "rb");
    if (!pFile)
        return data;
    uint8_t ab[65536];
    size_t n;
    while ((n = std::fread(ab, 1, sizeof ab, pFile)) > 0)
        data.insert(data.end(), ab, ab + n);
    std::fclose(pFile);
    return data;
}

bool FileExists(const CString& strPath)
{
    std::error_code ec;
    return fs::exists(fs::u8path(strPath.str()), ec);
}

namespace {

uint32_t NextRandom(uint32_t& state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

}  // namespace

Bytes TextBytes(size_t n)
{
    static const char* const kWords[] = {"kestrin ", "container ", "block ", "the ", "of ", "file\n",
                                         "chunk ", "deflate ", "4096 ", "password ", "and ", "name\r\n"};
    Bytes data;
    uint32_t state = 7;
    while (data.size() < n) {
        const char* p = kWords[NextRandom(state) % 12];
        while (*p && data.size() < n)
            data.push_back(uint8_t(*p++));
    }
    return data;
}

Bytes RandomBytes(size_t n, uint32_t nSeed)
{
    Bytes data(n);
    uint32_t state = nSeed * 2654435761u + 1;
    for (auto& b : data)
        b = uint8_t(NextRandom(state) >> 7);
    return data;
}

Bytes MixedBytes(size_t n)
{
    Bytes data;
    uint32_t state = 3;
    while (data.size() < n) {
        size_t nRun = std::min<size_t>(n - data.size(), 1000 + NextRandom(state) % 9000);
        Bytes part;
        switch (NextRandom(state) % 3) {
        case 0: part = TextBytes(nRun); break;
        case 1: part.assign(nRun, uint8_t(NextRandom(state))); for (size_t i = 0; i < nRun; i += 7) part[i] = uint8_t(i); break;
        default: part = RandomBytes(nRun, NextRandom(state)); break;
        }
        data.insert(data.end(), part.begin(), part.end());
    }
    return data;
}
