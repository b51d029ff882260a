// Outputs appear whole under their final name or not at all; inputs that are
// not regular files are refused without blocking.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <map>
#include <thread>

#include "PipelineRunner.h"
#include "ReferenceWriter.h"
#include "TestFiles.h"
#include "base/FileStreams.h"
#include "base/NamedStreams.h"
#include "base/PathUtils.h"
#include "container/FileProcessor.h"

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

typedef std::vector<std::string> Names;

class Streams : public ScratchTest {
protected:
    CString Folder() const { return CString(m_dir.string()); }
};

bool IsPartialName(const std::string& strName)
{
    return IsTemporaryName(strName.c_str());
}

TEST_F(Streams, OutputIsNamedOnlyWhenFinished)
{
    COutputFile out;
    ASSERT_TRUE(out.Create(Folder(), 0600));
    std::fputs("abc", out.Get());
    ASSERT_EQ(Listing().size(), 1u);
    EXPECT_TRUE(IsPartialName(Listing()[0])) << Listing()[0];
    CString strFinal;
    ASSERT_EQ(out.Finish("r.txt", strFinal), 0);
    EXPECT_EQ(strFinal, PathOf("r.txt"));
    EXPECT_EQ(Listing(), Names({"r.txt"}));
    EXPECT_EQ(ReadFileBytes(strFinal), Bytes({'a', 'b', 'c'}));
}

// Another process takes each free name chosen between completion and renaming.
TEST_F(Streams, NameTakenBeforeTheRenameMovesOnAndReplacesNothing)
{
    WriteFileBytes(PathOf("report.txt"), {1});
    COutputFile out;
    ASSERT_TRUE(out.Create(Folder(), 0600));
    std::fputc(9, out.Get());
    int nRaces = 0;
    CString strFinal;
    ASSERT_EQ(out.Finish("report.txt", strFinal, [&](const CString& strChosen) {
        if (!PathExists(strChosen) && nRaces++ < 2)
            WriteFileBytes(strChosen, {2});
    }), 0);
    EXPECT_EQ(strFinal, PathOf("report3.txt"));
    EXPECT_EQ(Listing(), Names({"report.txt", "report1.txt", "report2.txt", "report3.txt"}));
    EXPECT_EQ(ReadFileBytes(PathOf("report.txt")), Bytes({1}));
    EXPECT_EQ(ReadFileBytes(PathOf("report1.txt")), Bytes({2}));
    EXPECT_EQ(ReadFileBytes(PathOf("report3.txt")), Bytes({9}));
}

TEST_F(Streams, DiscardNeverRemovesAFileSomeoneElsePutUnderTheTemporaryName)
{
    COutputFile out;
    ASSERT_TRUE(out.Create(Folder(), 0600));
    const CString strTemp = out.TemporaryPath();
    fs::rename(strTemp.GetString(), m_dir / "moved");
    WriteFileBytes(strTemp, {7});
    EXPECT_TRUE(out.Discard());
    EXPECT_EQ(ReadFileBytes(strTemp), Bytes({7}));
}

TEST_F(Streams, CreateInAMissingFolderFails)
{
    COutputFile out;
    EXPECT_FALSE(out.Create(PathOf("nowhere"), 0600));
    EXPECT_TRUE(out.Discard());
}

// Runs fn on a thread of its own; false when it has not returned in time
// (the thread is then left behind, blocked).
template <class Fn>
bool ReturnsWithin(std::chrono::seconds timeout, Fn fn)
{
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> future = done->get_future();
    std::thread([done, fn] {
        fn();
        done->set_value();
    }).detach();
    return future.wait_for(timeout) == std::future_status::ready;
}

TEST_F(Streams, SourcesThatAreNoRegularFilesAreRefusedAtOnce)
{
    std::vector<CString> sources = {Folder()};
#ifdef _WIN32
    sources.push_back("NUL");
#else
    const CString strFifo = PathOf("fifo"), strSocket = PathOf("socket");
    ASSERT_EQ(mkfifo(strFifo, 0600), 0);
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", strSocket.GetString());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    sources.insert(sources.end(), {strFifo, strSocket, "/dev/zero", "/dev/null"});
#endif
    for (const CString& strSource : sources) {
        SCOPED_TRACE(strSource.GetString());
        for (bool bEncrypt : {true, false}) {
            int nResult = -1;
            ASSERT_TRUE(ReturnsWithin(std::chrono::seconds(10), [&nResult, strSource, bEncrypt, this] {
                nResult = bEncrypt ? RunEncrypt(strSource, PathOf("out._"), 0).nResult
                                   : RunDecrypt(strSource, 0).nResult;
            }));
            EXPECT_EQ(nResult, WR_READ_ERROR);
        }
    }
#ifndef _WIN32
    close(fd);
    EXPECT_EQ(Listing(), Names({"fifo", "socket"}));
#endif
}

// NTFS's named streams, played by a map: neither Linux nor Wine has them.
class CFakeStreams : public CNamedStreams {
public:
    std::map<std::string, std::string> marks;  // path -> its download mark
    bool bReadFails = false;
    bool bWriteFails = false;
    bool bTemporaryRefuses = false;  // a temporary output takes no stream
    std::vector<std::pair<std::string, std::string>> writes;  // path, bytes

    ReadResult Read(const CString& strPath, const char* pszStream, size_t nLimit, std::string& data) override
    {
        EXPECT_STREQ(pszStream, kDownloadMarkStream);
        if (bReadFails)
            return kFailed;
        auto it = marks.find(strPath.str());
        if (it == marks.end())
            return kNone;
        if (it->second.size() > nLimit)
            return kTooLarge;
        data = it->second;
        return kRead;
    }
    bool Write(const CString& strPath, const char* pszStream, const std::string& data) override
    {
        EXPECT_STREQ(pszStream, kDownloadMarkStream);
        writes.push_back({strPath.str(), data});
        return !bWriteFails && !(bTemporaryRefuses && IsPartialName(GetFileNamePart(strPath).str()));
    }
};

const char kMark[] = "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://example.org/report._xt\r\n";
const char kInternetZone[] = "[ZoneTransfer]\r\nZoneId=3\r\n";

TEST(DownloadMark, TravelsFromTheSourceToTheFileMadeFromIt)
{
    const struct {
        const char* pszWhat;
        std::string mark;  // empty: none
        bool bReadFails;
        bool bWriteFails;
        MarkCarried carried;
        const char* pszWritten;  // null: nothing written
    } kCases[] = {
        {"a mark is copied byte for byte", kMark, false, false, MarkCarried::kMarked, kMark},
        {"no mark, nothing written", "", false, false, MarkCarried::kNoMark, nullptr},
        {"a mark too large to copy still marks", std::string(70000, 'x'), false, false, MarkCarried::kMarked,
         kInternetZone},
        {"a mark that cannot be read still marks", "", true, false, MarkCarried::kMarked, kInternetZone},
        {"a mark that cannot be written is no failure", kMark, false, true, MarkCarried::kNotWritten, kMark},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszWhat);
        CFakeStreams streams;
        if (!c.mark.empty())
            streams.marks["from"] = c.mark;
        streams.bReadFails = c.bReadFails;
        streams.bWriteFails = c.bWriteFails;
        EXPECT_EQ(CarryDownloadMark(streams, "from", "to"), c.carried);
        ASSERT_EQ(streams.writes.size(), c.pszWritten ? 1u : 0u);
        if (c.pszWritten) {
            EXPECT_EQ(streams.writes[0].first, "to");
            EXPECT_EQ(streams.writes[0].second, c.pszWritten);
        }
    }
}

// Both directions mark their output while it is still a temporary file: it
// never appears under its name without the mark (unless the temporary file
// takes no mark: then once it is named). Nothing kept, nothing marked.
TEST_F(Streams, OutputsGetTheMarkBeforeTheyAreNamed)
{
    WriteFileBytes(PathOf("a.txt"), TextBytes(3000));
    WriteFileBytes(PathOf("b._xt"), CReferenceWriter::Container(3, kPassword, "b.txt", TextBytes(3000)));
    const struct {
        const char* pszSource;
        bool bEncrypt;
        const char* pszPassword;
        bool bCancel;
        bool bTemporaryRefuses;
        size_t nWrites;  // the last one the mark that stayed
    } kCases[] = {
        {"a.txt", true, kPassword, false, false, 1},
        {"b._xt", false, kPassword, false, false, 1},
        {"b._xt", false, "wrong one", false, false, 0},
        {"a.txt", true, kPassword, true, false, 0},
        {"b._xt", false, kPassword, false, true, 2},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(testing::Message() << c.pszSource << ", " << c.pszPassword << (c.bCancel ? ", cancelled" : ""));
        CFakeStreams streams;
        streams.marks[PathOf(c.pszSource).str()] = kMark;
        streams.bTemporaryRefuses = c.bTemporaryRefuses;
        const Names before = Listing();
        CWorkItem item;
        item.m_strSource = PathOf(c.pszSource);
        item.m_strDest = c.bEncrypt ? MakeEncryptedName(item.m_strSource) : item.m_strSource;
        item.m_strPassword = c.pszPassword;
        item.m_bEncrypt = c.bEncrypt;
        item.m_bCancel = c.bCancel;
        item.m_nEncType = 3;
        CFileProcessor processor;
        processor.SetNamedStreams(streams);
        WithCipher(3, [&](CCipher& cipher) { processor.Run(item, cipher); });
        ASSERT_EQ(streams.writes.size(), c.nWrites);
        if (c.nWrites == 0) {
            EXPECT_EQ(Listing(), before);
            continue;
        }
        EXPECT_TRUE(IsPartialName(GetFileNamePart(streams.writes[0].first.c_str()).str())) << streams.writes[0].first;
        EXPECT_EQ(GetDirectoryPart(streams.writes[0].first.c_str()), Folder());
        EXPECT_FALSE(PathExists(streams.writes[0].first.c_str())) << "named since";
        if (c.bTemporaryRefuses) {
            EXPECT_EQ(streams.writes.back().first, item.m_strDest.str()) << "then the named output";
        }
        EXPECT_EQ(streams.writes.back().second, kMark);
        std::remove(item.m_strDest);
    }
}

#ifndef _WIN32
// A 0600 source gives a 0600 container and a 0600 restored file: never
// wider than the input, and the umask still narrows.
TEST_F(Streams, OutputsTakeTheInputsPermissionBits)
{
    const mode_t nUmask = umask(022);
    for (mode_t nMode : {0600, 0640, 0644, 0400, 0666}) {
        SCOPED_TRACE(nMode);
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        WriteFileBytes(PathOf("a.txt"), TextBytes(100));
        ASSERT_EQ(chmod(PathOf("a.txt"), nMode), 0);
        const CString strBox = RunEncrypt(PathOf("a.txt"), PathOf("a._xt"), 0).strDest;
        fs::rename(PathOf("a.txt").GetString(), m_dir / "a.orig");
        const CString strPlain = RunDecrypt(strBox, 0).strDest;
        struct stat st;
        for (const CString& strPath : {strBox, strPlain}) {
            ASSERT_EQ(stat(strPath, &st), 0) << strPath.GetString();
            EXPECT_EQ(st.st_mode & 0777, nMode & ~mode_t(022)) << strPath.GetString();
        }
    }
    umask(nUmask);
}

// A full disk: a small tmpfs (CI runs as root; elsewhere the test skips).
class FullDisk : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        fs::create_directories(m_dir / "small");
        const std::string strMount = "mount -t tmpfs -o size=128k tmpfs '" + (m_dir / "small").string() + "' 2>/dev/null";
        m_bMounted = std::system(strMount.c_str()) == 0;
    }
    void TearDown() override
    {
        if (m_bMounted) {
            EXPECT_EQ(std::system(("umount '" + (m_dir / "small").string() + "'").c_str()), 0);
        }
        ScratchTest::TearDown();
    }
    Names SmallListing() const
    {
        Names names;
        for (const auto& entry : fs::directory_iterator(m_dir / "small"))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    bool m_bMounted = false;
};

TEST_F(FullDisk, NeitherDirectionLeavesAnything)
{
    if (!m_bMounted)
        GTEST_SKIP() << "mounting a tmpfs is not permitted here";
    // Encrypting: the container does not fit.
    WriteFileBytes(PathOf("big.bin"), RandomBytes(200000));
    Outcome outcome = RunEncrypt(PathOf("big.bin"), PathOf("small/big._in"), 0);
    EXPECT_EQ(outcome.nResult, WR_WRITE_ERROR);
    EXPECT_EQ(outcome.nKept, KEPT_NOTHING);
    EXPECT_EQ(SmallListing(), Names());
    // Decrypting: the container fits, its plain file beside it does not.
    WriteFileBytes(PathOf("small/box._in"), CReferenceWriter::Container(0, kPassword, "big.bin", RandomBytes(70000)));
    outcome = RunDecrypt(PathOf("small/box._in"), 0);
    EXPECT_EQ(outcome.nResult, WR_WRITE_ERROR);
    EXPECT_EQ(outcome.nKept, KEPT_NOTHING);
    EXPECT_EQ(SmallListing(), Names({"box._in"}));
}
#endif

}  // namespace
