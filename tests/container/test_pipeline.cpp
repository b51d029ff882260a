// Encrypting and decrypting whole files: round trips, the failure rows of
// both directions with what they leave on disk, and the naming rules.
#include <cstring>
#include <filesystem>
#include <new>

#include "PipelineRunner.h"
#include "ReferenceWriter.h"
#include "container/WorkItem.h"
#include "cipher/Sapphire.h"
#include "container/FileProcessor.h"
#include "base/PathUtils.h"

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

typedef std::vector<std::string> Names;

struct RoundTripCase {
    int nEncType;
    size_t nSize;
};

void PrintTo(const RoundTripCase& c, std::ostream* pOut) { *pOut << MethodName(c.nEncType) << ", " << c.nSize << " bytes"; }

class RoundTrip : public ScratchTest, public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(RoundTrip, RestoresTheFileBitForBit)
{
    const RoundTripCase c = GetParam();
    const Bytes plain = MixedBytes(c.nSize);
    WriteFileBytes(PathOf("data.bin"), plain);

    Outcome enc = RunEncrypt(PathOf("data.bin"), MakeEncryptedName(PathOf("data.bin")), c.nEncType);
    ASSERT_EQ(enc.nResult, WR_OK);
    EXPECT_EQ(enc.strDest, PathOf("data._in"));
    EXPECT_EQ(enc.nPercent, c.nSize ? 100 : 0);
    EXPECT_EQ(ReadFileBytes(PathOf("data.bin")), plain);  // the source is only read

    std::filesystem::rename(m_dir / "data.bin", m_dir / "original.bin");
    Outcome dec = RunDecrypt(PathOf("data._in"), c.nEncType);
    ASSERT_EQ(dec.nResult, WR_OK);
    EXPECT_EQ(dec.strDest, PathOf("data.bin"));
    EXPECT_EQ(dec.nPercent, c.nSize ? 100 : 0);
    EXPECT_TRUE(ReadFileBytes(PathOf("data.bin")) == plain);
    EXPECT_EQ(RunVerify(PathOf("data._in"), c.nEncType).nResult, WR_OK);
    EXPECT_EQ(Listing(), Names({"data._in", "data.bin", "original.bin"}));
}

std::vector<RoundTripCase> AllRoundTrips()
{
    std::vector<RoundTripCase> cases;
    for (int nEncType = 0; nEncType < 4; ++nEncType)
        for (size_t nSize : {size_t(0), size_t(1), size_t(4095), size_t(4096), size_t(4097), size_t(3 << 20) + 123})
            cases.push_back({nEncType, nSize});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(MethodsAndSizes, RoundTrip, ::testing::ValuesIn(AllRoundTrips()),
                         [](const ::testing::TestParamInfo<RoundTripCase>& info) {
                             return std::string(MethodName(info.param.nEncType)) + "_" +
                                    std::to_string(info.param.nSize);
                         });

class Encrypting : public ScratchTest {};

TEST_F(Encrypting, EmptySourceGivesAHeaderOnlyContainer)
{
    WriteFileBytes(PathOf("e.txt"), {});
    Outcome outcome = RunEncrypt(PathOf("e.txt"), PathOf("e._xt"), 0);
    EXPECT_EQ(outcome.nResult, WR_OK);
    EXPECT_EQ(outcome.nPercent, 0);  // never written
    EXPECT_EQ(ReadFileBytes(PathOf("e._xt")).size(), 10u + 5u);
}

TEST_F(Encrypting, MissingSourceCreatesNothing)
{
    EXPECT_EQ(RunEncrypt(PathOf("gone.txt"), PathOf("gone._xt"), 0).nResult, WR_READ_ERROR);
    std::filesystem::create_directory(m_dir / "folder.d");
    EXPECT_EQ(RunEncrypt(PathOf("folder.d"), PathOf("folder._"), 0).nResult, WR_READ_ERROR);
    EXPECT_EQ(Listing(), Names({"folder.d"}));
}

TEST_F(Encrypting, OutputThatCannotBeCreatedCreatesNothing)
{
    WriteFileBytes(PathOf("a.txt"), TextBytes(100));
    Outcome outcome = RunEncrypt(PathOf("a.txt"), PathOf("missing") + kPathSeparator + "a._xt", 0);
    EXPECT_EQ(outcome.nResult, WR_WRITE_ERROR);
    EXPECT_EQ(outcome.strDest, PathOf("missing") + kPathSeparator + "a._xt");
    EXPECT_EQ(Listing(), Names({"a.txt"}));
}

TEST_F(Encrypting, FailingMethodRemovesThePartialContainer)
{
    WriteFileBytes(PathOf("a.txt"), TextBytes(10000));
    CBrokenCipher broken;
    EXPECT_EQ(RunWith(broken, true, PathOf("a.txt"), PathOf("a._xt")).nResult, WR_ENCRYPT_ERROR);
    EXPECT_EQ(Listing(), Names({"a.txt"}));
}

TEST_F(Encrypting, CancelRemovesThePartialContainer)
{
    WriteFileBytes(PathOf("a.txt"), TextBytes(10000));
    EXPECT_EQ(RunEncrypt(PathOf("a.txt"), PathOf("a._xt"), 2, kPassword, true).nResult, WR_OK);
    EXPECT_EQ(Listing(), Names({"a.txt"}));
}

TEST_F(Encrypting, TakenNamesAreNumberedAndLeftAlone)
{
    WriteFileBytes(PathOf("report.txt"), TextBytes(5000));
    WriteFileBytes(PathOf("report._xt"), {42});
    WriteFileBytes(PathOf("README"), TextBytes(10));
    WriteFileBytes(PathOf("README._"), {43});
    WriteFileBytes(PathOf("README1._"), {44});
    EXPECT_EQ(RunEncrypt(PathOf("report.txt"), PathOf("report._xt"), 3).strDest, PathOf("report1._xt"));
    EXPECT_EQ(RunEncrypt(PathOf("README"), MakeEncryptedName(PathOf("README")), 3).strDest, PathOf("README2._"));
    EXPECT_EQ(ReadFileBytes(PathOf("report._xt")), Bytes({42}));
    EXPECT_EQ(ReadFileBytes(PathOf("README._")), Bytes({43}));
    EXPECT_EQ(ReadFileBytes(PathOf("README1._")), Bytes({44}));
}

TEST_F(Encrypting, StoresTheSourceNameNotTheOutputName)
{
    WriteFileBytes(PathOf("report.txt"), TextBytes(10));
    ASSERT_EQ(RunEncrypt(PathOf("report.txt"), PathOf("other.bin"), 0).nResult, WR_OK);
    std::filesystem::remove(m_dir / "report.txt");
    EXPECT_EQ(RunDecrypt(PathOf("other.bin"), 0).strDest, PathOf("report.txt"));
}

#ifndef _WIN32
// Leaves the process's file size limit low for one test; writes past it fail.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t nBytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = nBytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_saved); }

private:
    rlimit m_saved;
};

TEST_F(Encrypting, ShortWriteRemovesThePartialContainer)
{
    WriteFileBytes(PathOf("a.bin"), RandomBytes(100000));
    Outcome outcome;
    {
        FileSizeLimit limit(30000);
        outcome = RunEncrypt(PathOf("a.bin"), PathOf("a._in"), 0);
    }
    EXPECT_EQ(outcome.nResult, WR_WRITE_ERROR);
    EXPECT_EQ(Listing(), Names({"a.bin"}));
}

TEST_F(Encrypting, SourceOfAnotherLengthThanMeasuredFailsAndLeavesNothing)
{
    // Reported as empty, yet it reads as text.
    Outcome outcome = RunEncrypt("/proc/self/status", PathOf("status._"), 0);
    EXPECT_EQ(outcome.nResult, WR_READ_ERROR);
    EXPECT_EQ(Listing(), Names());
}

TEST_F(Encrypting, UnreadableSourceCreatesNothing)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    WriteFileBytes(PathOf("locked.txt"), TextBytes(10));
    std::filesystem::permissions(m_dir / "locked.txt", std::filesystem::perms::none);
    EXPECT_EQ(RunEncrypt(PathOf("locked.txt"), PathOf("locked._xt"), 0).nResult, WR_READ_ERROR);
    EXPECT_EQ(Listing(), Names({"locked.txt"}));
}
#else
TEST_F(Encrypting, UnreadableSourceCreatesNothing)
{
    WriteFileBytes(PathOf("locked.txt"), TextBytes(10));
    HANDLE h = CreateFileA(PathOf("locked.txt"), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(RunEncrypt(PathOf("locked.txt"), PathOf("locked._xt"), 0).nResult, WR_READ_ERROR);
    CloseHandle(h);
    EXPECT_EQ(Listing(), Names({"locked.txt"}));
}
#endif

// The key would end at a NUL: "\0secret" would encrypt with the empty password.
TEST_F(Encrypting, PasswordWithANulIsRefusedInBothDirections)
{
    WriteFileBytes(PathOf("a.txt"), TextBytes(100));
    for (const CString& strPassword : {CString("secret"), CString("\0secret", 7)}) {
        for (bool bEncrypt : {true, false}) {
            CWorkItem item;
            item.m_strSource = PathOf(bEncrypt ? "a.txt" : "a._xt");
            item.m_strDest = PathOf(bEncrypt ? "a._xt" : "a.txt");
            item.m_strPassword = strPassword;
            item.m_bEncrypt = bEncrypt;
            CSapphireCipher cipher;
            CFileProcessor processor;
            const int nRefused = bEncrypt ? WR_ENCRYPT_ERROR : WR_DECRYPT_ERROR;
            EXPECT_EQ(processor.Run(item, cipher), strPassword.GetLength() == 7 ? nRefused : WR_OK);
        }
    }
    EXPECT_EQ(Listing(), Names({"a._xt", "a.txt", "a1.txt"}));  // only the good password made anything
}

class Decrypting : public ScratchTest {
protected:
    void MakeContainer(const std::string& strStoredName, const Bytes& plain, int nEncType = 0)
    {
        WriteFileBytes(PathOf("box._xt"), CReferenceWriter::Container(nEncType, kPassword, strStoredName, plain));
    }
};

TEST_F(Decrypting, StoredNameTakenGivesTheNextFreeName)
{
    MakeContainer("report.txt", TextBytes(100));
    WriteFileBytes(PathOf("report.txt"), {1});
    Outcome outcome = RunDecrypt(PathOf("box._xt"), 0);
    EXPECT_EQ(outcome.nResult, WR_OK);
    EXPECT_EQ(outcome.strDest, PathOf("report1.txt"));
    EXPECT_EQ(ReadFileBytes(PathOf("report.txt")), Bytes({1}));
    EXPECT_EQ(ReadFileBytes(PathOf("report1.txt")), TextBytes(100));
}

TEST_F(Decrypting, NameWithoutDotIsNumberedAtItsEnd)
{
    MakeContainer("README", TextBytes(100));
    WriteFileBytes(PathOf("README"), {1});
    EXPECT_EQ(RunDecrypt(PathOf("box._xt"), 0).strDest, PathOf("README1"));
}

TEST_F(Decrypting, OutputThatCannotBeCreatedReportsTheChosenPath)
{
    MakeContainer("report.txt", TextBytes(100));
    CWorkItem item;
    item.m_strSource = PathOf("box._xt");
    item.m_strDest = PathOf("nowhere") + kPathSeparator + "box._xt";
    item.m_strPassword = kPassword;
    CSapphireCipher cipher;
    CFileProcessor processor;
    EXPECT_EQ(processor.Run(item, cipher), WR_WRITE_ERROR);
    EXPECT_EQ(item.m_strDest, PathOf("nowhere") + kPathSeparator + "report.txt");
    EXPECT_EQ(Listing(), Names({"box._xt"}));
}

TEST_F(Decrypting, FailingMethodBeforeAnyBlockLeavesNothing)
{
    MakeContainer("plain.bin", TextBytes(100));
    CBrokenCipher broken;
    EXPECT_EQ(RunWith(broken, false, PathOf("box._xt"), PathOf("box._xt")).nResult, WR_DECRYPT_ERROR);
    EXPECT_EQ(Listing(), Names({"box._xt"}));
}

TEST_F(Decrypting, CancelRemovesThePartialOutput)
{
    MakeContainer("plain.bin", TextBytes(20000));
    EXPECT_EQ(RunDecrypt(PathOf("box._xt"), 0, kPassword, true).nResult, WR_OK);
    EXPECT_EQ(Listing(), Names({"box._xt"}));
}

TEST_F(Decrypting, MissingContainerCreatesNothing)
{
    EXPECT_EQ(RunDecrypt(PathOf("none._xt"), 0).nResult, WR_READ_ERROR);
    EXPECT_EQ(Listing(), Names());
}

#ifndef _WIN32
TEST_F(Decrypting, ShortWriteLeavesNothing)
{
    MakeContainer("plain.bin", RandomBytes(100000));
    Outcome outcome;
    {
        FileSizeLimit limit(30000);  // the container itself is only read
        outcome = RunDecrypt(PathOf("box._xt"), 0);
    }
    EXPECT_EQ(outcome.nResult, WR_WRITE_ERROR);
    EXPECT_EQ(Listing(), Names({"box._xt"}));
}
#endif

// Stored names come from whoever made the container.
TEST_F(Decrypting, UnsafeStoredNamesStayInTheContainersFolder)
{
    std::filesystem::create_directories(m_dir / "in");
    const struct {
        const char* pszStored;
        const char* pszRestored;
    } kCases[] = {
#ifdef _WIN32
        {"..\\escape.txt", "escape.txt"},
        {"C:escape.txt", "escape.txt"},
        {"report.txt:ads", "report.txt"},
        {"CON", "_CON"},
        {"nul.txt", "_nul.txt"},
#else
        {"..\\escape.txt", "..\\escape.txt"},  // one name, in this folder
        {"a\\..\\..\\b.txt", "a\\..\\..\\b.txt"},
#endif
        {"../escape.txt", "escape.txt"},
        {"/etc/escape.txt", "escape.txt"},
        {"bell\a.txt", "bell.txt"},
        {"..", "box._xt.out"},
        {"", "box._xt.out"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszStored);
        const CString strBox = PathOf("in") + kPathSeparator + "box._xt";
        WriteFileBytes(strBox, CReferenceWriter::Container(0, kPassword, c.pszStored, TextBytes(10)));
        Outcome outcome = RunDecrypt(strBox, 0);
        EXPECT_EQ(outcome.nResult, WR_OK);
        EXPECT_EQ(outcome.strDest, PathOf("in") + kPathSeparator + c.pszRestored);
        EXPECT_EQ(ReadFileBytes(outcome.strDest), TextBytes(10));
        EXPECT_EQ(Listing(), Names({"in"}));  // nothing beside the folder
        std::filesystem::remove_all(m_dir / "in");
        std::filesystem::create_directories(m_dir / "in");
    }
}

TEST_F(Decrypting, VerifyWritesNothing)
{
    MakeContainer("plain.bin", TextBytes(9000));
    EXPECT_EQ(RunVerify(PathOf("box._xt"), 0).nResult, WR_OK);
    EXPECT_EQ(RunVerify(PathOf("box._xt"), 0, "bad pass").nResult, WR_DECRYPT_ERROR);
    Bytes damaged = ReadFileBytes(PathOf("box._xt"));
    damaged[30] ^= 1;
    WriteFileBytes(PathOf("box._xt"), damaged);
    EXPECT_EQ(RunVerify(PathOf("box._xt"), 0).nResult, WR_INFLATE_ERROR);
    EXPECT_EQ(Listing(), Names({"box._xt"}));
}

// The processor's buffers and the item's password must not stay in memory.
TEST(Wiping, ProcessorBuffersAreClearedOnDestruction)
{
    alignas(CFileProcessor) unsigned char storage[sizeof(CFileProcessor)];
    CFileProcessor* pProcessor = new (storage) CFileProcessor;
    static int s_nMarker;  // its address tells this process's file from another's
    const std::string strPath = (std::filesystem::temp_directory_path() /
                                 ("kestrin-wipe-" + std::to_string(reinterpret_cast<uintptr_t>(&s_nMarker)) + ".txt"))
                                    .string();
    Bytes plain;
    while (plain.size() < 5000)
        plain.insert(plain.end(), {'S', 'E', 'C', 'R', 'E', 'T', '!', '?'});
    WriteFileBytes(strPath.c_str(), plain);
    CWorkItem item;
    item.m_strSource = strPath.c_str();
    item.m_strDest = (strPath + ".out").c_str();
    item.m_strPassword = kPassword;
    item.m_bEncrypt = 1;
    CSapphireCipher cipher;
    pProcessor->SetThreads(1);  // the chunk buffers of the processor itself
    ASSERT_EQ(pProcessor->Run(item, cipher), WR_OK);
    auto contains = [&](const char* psz) {
        return std::search(storage, storage + sizeof storage, psz, psz + std::strlen(psz)) != storage + sizeof storage;
    };
    EXPECT_TRUE(contains("SECRET!?SECRET"));  // the last chunk is still there
    pProcessor->~CFileProcessor();
    EXPECT_FALSE(contains("SECRET!?SECRET"));
    std::remove(strPath.c_str());
    std::remove(item.m_strDest);
}

TEST(Wiping, WorkItemWipesItsPassword)
{
    alignas(CWorkItem) unsigned char storage[sizeof(CWorkItem)];
    CWorkItem* pItem = new (storage) CWorkItem;
    pItem->m_strPassword = "Pw#short";  // held inside the object
    auto contains = [&](const char* psz) {
        return std::search(storage, storage + sizeof storage, psz, psz + std::strlen(psz)) != storage + sizeof storage;
    };
    ASSERT_TRUE(contains("Pw#short"));
    pItem->~CWorkItem();
    EXPECT_FALSE(contains("Pw#short"));
}

}  // namespace
