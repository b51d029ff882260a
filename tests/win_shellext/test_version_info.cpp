// CVersionInfo on Kestrin.dll, on this program (its own version block) and
// on files that carry none.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "support/VersionInfo.h"

namespace {
std::string OwnPath()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

std::string StringOf(const CVersionInfo& info, const char* pszName)
{
    CString value("left over");
    info.GetString(value, pszName);
    return value.GetString();
}

std::string FileVersionOf(const CVersionInfo& info)
{
    CString value("left over");
    info.GetFileVersion(value);
    return value.GetString();
}
}  // namespace

TEST(VersionInfo, ModuleCarriesItsVersionAndStrings)
{
    CVersionInfo info;
    ASSERT_TRUE(info.Load(WinePath(KESTRIN_DLL).c_str()));
    EXPECT_EQ(info.m_dwLangCharset, 0x040904B0u);
    EXPECT_EQ(FileVersionOf(info), "1.0.1.0");
    EXPECT_EQ(StringOf(info, "SpecialBuild"), "");
    const struct {
        const char* name;
        const char* value;
    } strings[] = {
        {"FileDescription", "Kestrin"}, {"FileVersion", "1, 0, 1, 0"},       {"ProductVersion", "1, 0, 1, 0"},
        {"InternalName", "VXJ"},        {"OriginalFilename", "Kestrin.Dll"}, {"ProductName", "Kestrin"},
    };
    for (const auto& s : strings)
        EXPECT_EQ(StringOf(info, s.name), s.value) << s.name;

    VS_FIXEDFILEINFO fixed = {};
    ASSERT_TRUE(info.GetFixedInfo(fixed));
    EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed.dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed.dwFileVersionLS, 0x00010000u);
    EXPECT_EQ(fixed.dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed.dwProductVersionLS, 0x00010000u);
    EXPECT_EQ(fixed.dwFileType, DWORD(VFT_DLL));
    EXPECT_EQ(fixed.dwFileOS, DWORD(VOS__WINDOWS32));
}

#ifdef KESTRIN_TOOL
// The tool shows the DLL's product, version and copyright; only what tells
// the two files apart differs.
TEST(VersionInfo, ToolCarriesTheSameBlock)
{
    CVersionInfo dll, tool;
    ASSERT_TRUE(dll.Load(WinePath(KESTRIN_DLL).c_str()));
    ASSERT_TRUE(tool.Load(WinePath(KESTRIN_TOOL).c_str()));
    EXPECT_EQ(tool.m_dwLangCharset, dll.m_dwLangCharset);
    for (const char* pszName : {"ProductName", "ProductVersion", "FileVersion", "LegalCopyright", "CompanyName"})
        EXPECT_EQ(StringOf(tool, pszName), StringOf(dll, pszName)) << pszName;
    EXPECT_EQ(StringOf(tool, "FileDescription"), "Kestrin command-line tool");
    EXPECT_EQ(StringOf(tool, "OriginalFilename"), "kestrin.exe");
    VS_FIXEDFILEINFO fixed = {};
    ASSERT_TRUE(tool.GetFixedInfo(fixed));
    EXPECT_EQ(fixed.dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed.dwFileType, DWORD(VFT_APP));
}
#endif

TEST(VersionInfo, FirstTranslationAndDecimalHalves)
{
    CVersionInfo info;
    ASSERT_TRUE(info.Load(OwnPath().c_str()));
    EXPECT_EQ(info.m_dwLangCharset, 0x040704E4u);
    EXPECT_EQ(FileVersionOf(info), "2.10.0.300");  // the file version, not the product's 9.9.9.9
    EXPECT_EQ(StringOf(info, "FileDescription"), "Probe");
    EXPECT_EQ(StringOf(info, "SpecialBuild"), "nightly");
    EXPECT_EQ(StringOf(info, "Comments"), "");
}

TEST(VersionInfo, FilesWithoutVersionGiveEmptyResults)
{
    const std::string text = MakeFile(ScratchDir() + "\\no-version.txt");
    for (const std::string& path : {text, ScratchDir() + "\\does-not-exist.dll"}) {
        SCOPED_TRACE(path);
        CVersionInfo info;
        EXPECT_FALSE(info.Load(path.c_str()));
        EXPECT_EQ(info.m_pData, nullptr);
        EXPECT_EQ(info.m_dwLangCharset, 0u);
        EXPECT_EQ(FileVersionOf(info), "");
        EXPECT_EQ(StringOf(info, "SpecialBuild"), "");
        VS_FIXEDFILEINFO fixed;
        EXPECT_FALSE(info.GetFixedInfo(fixed));
    }
}

TEST(VersionInfo, FailedLoadForgetsTheEarlierFile)
{
    CVersionInfo info;
    ASSERT_TRUE(info.Load(WinePath(KESTRIN_DLL).c_str()));
    EXPECT_FALSE(info.Load((ScratchDir() + "\\does-not-exist.dll").c_str()));
    EXPECT_EQ(FileVersionOf(info), "");
    ASSERT_TRUE(info.Load(OwnPath().c_str()));
    EXPECT_EQ(FileVersionOf(info), "2.10.0.300");
}
