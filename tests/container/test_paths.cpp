#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "TestFiles.h"
#include "base/PathUtils.h"

namespace {

// The expectation on Windows, where "\\" separates folders, and on POSIX,
// where it is part of a name.
#ifdef _WIN32
#define WIN_POSIX(w, p) w
#else
#define WIN_POSIX(w, p) p
#endif

struct SplitCase {
    const char* pszPath;
    const char* pszFileName;
    const char* pszDirectory;
    const char* pszExtension;
    const char* pszStem;
};

const SplitCase kSplitCases[] = {
    {"D:\\docs\\a.txt", WIN_POSIX("a.txt", "D:\\docs\\a.txt"), WIN_POSIX("D:\\docs", ""), ".txt", "D:\\docs\\a"},
    {"/home/u/a.txt", "a.txt", "/home/u", ".txt", "/home/u/a"},
    {"a.txt", "a.txt", "", ".txt", "a"},
    {"a.b.c", "a.b.c", "", ".c", "a.b"},
    {"README", "README", "", "README", ""},
    {"D:\\docs\\report.txt  ", WIN_POSIX("report.txt  ", "D:\\docs\\report.txt  "), WIN_POSIX("D:\\docs", ""), ".txt",
     "D:\\docs\\report"},
    {"D:\\v1.2\\README", WIN_POSIX("README", "D:\\v1.2\\README"), WIN_POSIX("D:\\v1.2", ""), ".2\\README", "D:\\v1"},
    {"C:\\Users\\me/docs/a.txt", "a.txt", "C:\\Users\\me/docs", ".txt", "C:\\Users\\me/docs/a"},
    {"/x/y\\z.q", WIN_POSIX("z.q", "y\\z.q"), WIN_POSIX("/x/y", "/x"), ".q", "/x/y\\z"},
    {"f/..\\x.txt", WIN_POSIX("x.txt", "..\\x.txt"), WIN_POSIX("f/..", "f"), ".txt", "f/..\\x"},
    {"/a.txt", "a.txt", "", ".txt", "/a"},
    {"", "", "", "", ""},
};

TEST(PathSplit, Table)
{
    for (const SplitCase& c : kSplitCases) {
        SCOPED_TRACE(c.pszPath);
        EXPECT_EQ(GetFileNamePart(c.pszPath), c.pszFileName);
        EXPECT_EQ(GetDirectoryPart(c.pszPath), c.pszDirectory);
        EXPECT_EQ(GetExtensionPart(c.pszPath), c.pszExtension);
        EXPECT_EQ(GetStemPart(c.pszPath), c.pszStem);
    }
}

TEST(PathSplit, StemAndExtensionJoinBackForDottedNames)
{
    for (const char* psz : {"a.b", "x.tar.gz", ".hidden", "trail.txt \t"}) {
        CString strTrimmed(psz);
        strTrimmed.TrimRight();
        EXPECT_EQ(GetStemPart(psz) + GetExtensionPart(psz), strTrimmed) << psz;
    }
}

TEST(PathSplit, OutputDirectoryOfABareNameIsTheCurrentFolder)
{
    EXPECT_EQ(GetOutputDirectory("report.txt"), ".");
    EXPECT_EQ(GetOutputDirectory("/tmp/report.txt"), "/tmp");
    EXPECT_EQ(GetOutputDirectory("D:\\report.txt"), WIN_POSIX("D:", "."));
}

struct EncryptedNameCase {
    const char* pszSource;
    const char* pszExpected;
};

const EncryptedNameCase kEncryptedNames[] = {
    {"D:\\Docs\\report.txt", "D:\\Docs\\report._xt"},
    {"D:\\Docs\\a.b", "D:\\Docs\\a._"},
    {"/home/u/x.tar.gz", "/home/u/x.tar._z"},
    {"/home/u/README", "/home/u/README._"},
    {"/home/v1.2/README", "/home/v1.2/README._"},
    {"D:\\v1.2\\Makefile", WIN_POSIX("D:\\v1.2\\Makefile._", "D:\\v1._\\Makefile")},
    {"a\\b.txt", "a\\b._xt"},
    {"notes", "notes._"},
    {"/home/u/file.", "/home/u/file."},
};

TEST(EncryptedName, Table)
{
    for (const EncryptedNameCase& c : kEncryptedNames)
        EXPECT_EQ(MakeEncryptedName(c.pszSource), c.pszExpected) << c.pszSource;
    // A name without a dot grows by two: at the longest length the stem gives way.
    EXPECT_EQ(std::string(MakeEncryptedName(("/u/" + std::string(254, 'R')).c_str())),
              "/u/" + std::string(253, 'R') + "._");
}

struct SafeNameCase {
    const char* pszStored;
    const char* pszExpected;
};

const SafeNameCase kSafeNames[] = {
    {"report.txt", "report.txt"},
    {"..\\..\\evil.txt", WIN_POSIX("evil.txt", "..\\..\\evil.txt")},
    {"../../etc/passwd", "passwd"},
    {"/abs/path/x.bin", "x.bin"},
    {"C:\\Windows\\win.ini", WIN_POSIX("win.ini", "C:\\Windows\\win.ini")},
    {"C:evil.txt", WIN_POSIX("evil.txt", "C:evil.txt")},
    {"report.txt:hidden", WIN_POSIX("report.txt", "report.txt:hidden")},
    {"report.txt:hidden:$DATA", WIN_POSIX("report.txt", "report.txt:hidden:$DATA")},
    {"meeting 12:30.txt", WIN_POSIX("meeting 12", "meeting 12:30.txt")},
    {"a\x01\x1f" "b\x7f.txt", "ab.txt"},
    {"line\nbreak.txt", "linebreak.txt"},
    {"photo\xE2\x80\xAEgpj.exe", "photogpj.exe"},  // right-to-left override: would show as photoexe.jpg
    {"a\xE2\x81\xA6" "b\xE2\x81\xA9\xC2\x85.txt", "ab.txt"},  // an isolate and a C1 control
    {"caf\xC3\xA9 \xE2\x80\x94 \xE2\x80\xAF.txt", "caf\xC3\xA9 \xE2\x80\x94 \xE2\x80\xAF.txt"},
    {"CON", WIN_POSIX("_CON", "CON")},
    {"nul.txt", WIN_POSIX("_nul.txt", "nul.txt")},
    {"Com1.tar.gz", WIN_POSIX("_Com1.tar.gz", "Com1.tar.gz")},
    {"lpt9", WIN_POSIX("_lpt9", "lpt9")},
    {"aux .c", WIN_POSIX("_aux .c", "aux .c")},
    {"CONSOLE.txt", "CONSOLE.txt"},
    {"com10", "com10"},
    {"COM\xC2\xB9.txt", WIN_POSIX("_COM\xC2\xB9.txt", "COM\xC2\xB9.txt")},  // superscript one
    {"lpt\xC2\xB3", WIN_POSIX("_lpt\xC2\xB3", "lpt\xC2\xB3")},
    {"COM\xC2\xB4", "COM\xC2\xB4"},  // an acute accent
    {"name.txt. . ", WIN_POSIX("name.txt", "name.txt. . ")},
    {"notes.", WIN_POSIX("notes", "notes.")},
    {"..", "box._xt.out"},
    {".", "box._xt.out"},
    {"", "box._xt.out"},
    {"dir/", "box._xt.out"},
    {"C:", WIN_POSIX("box._xt.out", "C:")},
    {"\x05\x06", "box._xt.out"},
    {".profile", ".profile"},
    {".kestrin-0123abcd.partial", "_.kestrin-0123abcd.partial"},  // never in the form of our temporary files
};

TEST(SafeName, Table)
{
    for (const SafeNameCase& c : kSafeNames)
        EXPECT_EQ(MakeSafeFileName(c.pszStored, "/data/in/box._xt"), c.pszExpected) << c.pszStored;
}

TEST(SafeName, FallbackOfAContainerWithAnUnsafeNameIsStillSafe)
{
    EXPECT_EQ(MakeSafeFileName("..", "CON"), WIN_POSIX("_CON.out", "CON.out"));
    // A NUL inside a stored name would end the path early.
    EXPECT_EQ(MakeSafeFileName(CString("a\0/b.txt", 8), "box"), "b.txt");
    EXPECT_EQ(MakeSafeFileName(CString("..\0", 3), "box"), "box.out");
}

// The longest name the system takes has 255 units: UTF-16 ones on Windows,
// bytes elsewhere. A stored name may hold 1024 bytes.
TEST(SafeName, OverLongNamesAreShortenedAtTheStem)
{
    auto times = [](int n, const std::string& s) {
        std::string r;
        for (int i = 0; i < n; ++i)
            r += s;
        return r;
    };
    const std::string e = "\xC3\xA9", smile = "\xF0\x9F\x98\x80";  // one and two UTF-16 units
    const struct {
        std::string stored, expected;
    } kCases[] = {
        {times(300, "a") + ".txt", times(251, "a") + ".txt"},
        {times(251, "a") + ".txt", times(251, "a") + ".txt"},
        {times(200, e) + ".txt", WIN_POSIX(times(200, e), times(125, e)) + ".txt"},
        {times(200, smile) + ".txt", times(WIN_POSIX(125, 62), smile) + ".txt"},
        {"a." + times(300, "x"), "a." + times(253, "x")},  // too long an extension goes too
        {times(254, "a") + " b", times(254, "a") + WIN_POSIX("", " ")},  // a bared blank goes on Windows
        {"CON." + times(300, "x"), WIN_POSIX("_CON." + times(250, "x"), "CON." + times(251, "x"))},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(std::string(MakeSafeFileName(c.stored.c_str(), "box")), c.expected) << c.stored.size();
}

class PathFiles : public ScratchTest {};

TEST_F(PathFiles, RegularFileTest)
{
    WriteFileBytes(PathOf("f.txt"), {1, 2, 3});
    std::filesystem::create_directory(m_dir / "sub");
    EXPECT_TRUE(IsRegularFile(PathOf("f.txt")));
    EXPECT_FALSE(IsRegularFile(PathOf("sub")));
    EXPECT_FALSE(IsRegularFile(PathOf("missing")));
    EXPECT_TRUE(PathExists(PathOf("sub")));
    EXPECT_FALSE(PathExists(PathOf("missing")));
}

TEST_F(PathFiles, SizeOfSmallAndMissingFiles)
{
    WriteFileBytes(PathOf("empty"), {});
    WriteFileBytes(PathOf("seven"), Bytes(7, 'x'));
    EXPECT_EQ(GetFileSize64(PathOf("empty")), 0u);
    EXPECT_EQ(GetFileSize64(PathOf("seven")), 7u);
    EXPECT_EQ(GetFileSize64(PathOf("missing")), UINT64_MAX);
}

TEST_F(PathFiles, SizeAbove4GiB)
{
    const uint64_t nSize = (uint64_t(5) << 30) + 3;
    std::error_code ec;
    std::filesystem::path file = m_dir / "big.bin";
    WriteFileBytes(CString(file.string()), {});
    std::filesystem::resize_file(file, nSize, ec);  // sparse where the file system allows
    if (ec)
        GTEST_SKIP() << "cannot make a 5 GiB file here: " << ec.message();
    EXPECT_EQ(GetFileSize64(CString(file.string())), nSize);
}

// A taken name of the longest length: the number takes the stem's place.
const std::string kLongest = std::string(251, 'L') + ".txt", kLongest1 = std::string(250, 'L') + "1.txt";

struct UniqueCase {
    std::vector<const char*> taken;
    const char* pszWanted;
    const char* pszExpected;
};

TEST_F(PathFiles, UniqueNames)
{
    const UniqueCase kCases[] = {
        {{}, "report.txt", "report.txt"},
        {{"report.txt"}, "report.txt", "report1.txt"},
        {{"report.txt", "report1.txt"}, "report.txt", "report2.txt"},
        {{"file7.txt"}, "file7.txt", "file8.txt"},
        {{"scan009.dat"}, "scan009.dat", "scan10.dat"},
        {{}, "scan009.dat", "scan009.dat"},
        {{"README"}, "README", "README1"},
        {{"README", "README1"}, "README", "README2"},
        {{"v2"}, "v2", "v3"},
        {{"a.b.c"}, "a.b.c", "a.b1.c"},
        {{"dirname"}, "dirname", "dirname1"},
        {{kLongest.c_str()}, kLongest.c_str(), kLongest1.c_str()},
    };
    for (const UniqueCase& c : kCases) {
        SCOPED_TRACE(c.pszWanted);
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        for (const char* psz : c.taken) {
            if (std::string(psz) == "dirname")
                std::filesystem::create_directory(m_dir / psz);  // a folder counts as taken
            else
                WriteFileBytes(PathOf(psz), {0});
        }
        EXPECT_EQ(MakeUniquePath(CString(m_dir.string()), c.pszWanted), PathOf(c.pszExpected));
    }
    // A name as long as a folder entry can be: its number takes a character's place.
    const std::string strLong = std::string(251, 'x') + ".txt";
    WriteFileBytes(PathOf(strLong.c_str()), {0});
    EXPECT_EQ(MakeUniquePath(CString(m_dir.string()), strLong.c_str()), PathOf((std::string(250, 'x') + "1.txt").c_str()));
}

TEST(ModulePath, NamesThisProgram)
{
    CString strPath = GetModulePath();
    EXPECT_TRUE(IsRegularFile(strPath)) << strPath.GetString();
    EXPECT_NE(GetFileNamePart(strPath).Find("test_container"), -1) << strPath.GetString();
}

}  // namespace
