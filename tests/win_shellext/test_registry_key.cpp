// CRegistryKey against a scratch key under HKEY_CURRENT_USER.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "framework/afxapp.h"
#include "support/RegistryKey.h"
#include "support/WinHandles.h"

namespace {
const char kBase[] = "Software\\KestrinTest\\RegistryKey";

class RegistryKey : public testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeA(HKEY_CURRENT_USER, kBase);
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kBase, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  m_hBase.Receive(), nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override
    {
        m_hBase.Close();
        RegDeleteTreeA(HKEY_CURRENT_USER, kBase);
    }
    void SetRaw(const char* name, DWORD type, const std::vector<BYTE>& data)
    {
        ASSERT_EQ(RegSetValueExA(m_hBase, name, 0, type, data.data(), DWORD(data.size())), ERROR_SUCCESS);
    }
    CKeyHandle m_hBase;
};

std::vector<BYTE> Bytes(const char* psz, bool bTerminator)
{
    std::string s(psz);
    std::vector<BYTE> v(s.begin(), s.end());
    if (bTerminator)
        v.push_back(0);
    return v;
}
}  // namespace

TEST_F(RegistryKey, MissingKeyOpensSilentlyWithNotFound)
{
    CRegistryKey key;
    CBoxSeen box = AnswerMessageBox([&] {
        EXPECT_EQ(key.Open(HKEY_CURRENT_USER, "Software\\KestrinTest\\RegistryKey\\Missing"), ERROR_FILE_NOT_FOUND);
    });
    EXPECT_FALSE(box.bFound);
    EXPECT_EQ(key.m_hKey, nullptr);
    EXPECT_STREQ(key.m_strKeyName, "Software\\KestrinTest\\RegistryKey\\Missing");
    EXPECT_EQ(key.ReadDWORD("EncType", 77u), 77u);
}

TEST_F(RegistryKey, WrittenValuesReadBack)
{
    {
        CRegistryKey key;
        ASSERT_EQ(key.OpenWritable(HKEY_CURRENT_USER, "Software\\KestrinTest\\RegistryKey\\Settings"), ERROR_SUCCESS);
        EXPECT_EQ(key.WriteDWORD("EncType", 3), ERROR_SUCCESS);
        EXPECT_EQ(key.WriteDWORD("BatchSettings", 1), ERROR_SUCCESS);
        EXPECT_EQ(key.WriteDWORD("Big", 0xFEDCBA98u), ERROR_SUCCESS);
    }
    CRegistryKey key;
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, "Software\\KestrinTest\\RegistryKey\\Settings"), ERROR_SUCCESS);
    EXPECT_EQ(key.ReadDWORD("EncType", 0), 3u);
    EXPECT_EQ(key.ReadDWORD("BatchSettings", 0), 1u);
    EXPECT_EQ(key.ReadDWORD("Big", 0), 0xFEDCBA98u);
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExA(key.m_hKey, "EncType", nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_DWORD));
    key.Close();
    EXPECT_EQ(key.m_hKey, nullptr);
    key.Close();  // closing twice is harmless
}

TEST_F(RegistryKey, ValuesReadAsFourBytesOrTheDefault)
{
    struct Row {
        const char* name;
        DWORD type;
        std::vector<BYTE> data;
        LONG code;
        DWORD expect;
    };
    const DWORD kDefault = 0xD5D5D5D5u;
    const Row rows[] = {
        {"dword", REG_DWORD, {0x02, 0x00, 0x00, 0x00}, ERROR_SUCCESS, 2},
        {"one byte", REG_BINARY, {0x12}, ERROR_SUCCESS, 0x12},
        {"two bytes", REG_BINARY, {0x12, 0x34}, ERROR_SUCCESS, 0x3412},
        {"three bytes", REG_BINARY, {0x12, 0x34, 0x56}, ERROR_SUCCESS, 0x563412},
        {"four bytes", REG_BINARY, {0x12, 0x34, 0x56, 0x78}, ERROR_SUCCESS, 0x78563412},
        {"no bytes", REG_BINARY, {}, ERROR_SUCCESS, 0},
        {"short string", REG_SZ, Bytes("ab", true), ERROR_SUCCESS, 0x006261},
        {"long string", REG_SZ, Bytes("Sapphire II", true), ERROR_MORE_DATA, kDefault},
        {"five bytes", REG_BINARY, {1, 2, 3, 4, 5}, ERROR_MORE_DATA, kDefault},
        {"qword", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}, ERROR_MORE_DATA, kDefault},
    };
    for (const Row& r : rows)
        SetRaw(r.name, r.type, r.data);

    CRegistryKey key;
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, kBase), ERROR_SUCCESS);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        DWORD value = 0xAAAAAAAAu;
        EXPECT_EQ(key.ReadValue(r.name, value, kDefault), r.code);
        EXPECT_EQ(value, r.expect);
        EXPECT_EQ(key.ReadDWORD(r.name, kDefault), r.expect);
    }
    DWORD value = 1;
    EXPECT_EQ(key.ReadValue("missing", value, 42), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(value, 42u);
}

TEST(WritableKeyError, NamesRootKeyAndTheSystemsText)
{
    char system[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_ACCESS_DENIED,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), system, sizeof(system) - 1, nullptr);
    ASSERT_NE(system[0], '\0');
    struct Row {
        HKEY hRoot;
        const char* name;
    };
    const Row rows[] = {
        {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallowmere\\Kestrin"},
        {HKEY_CURRENT_USER, "HKEY_CURRENT_USER\\SOFTWARE\\Tallowmere\\Kestrin"},
        {HKEY_USERS, "HKEY_USERS\\SOFTWARE\\Tallowmere\\Kestrin"},
        {HKEY_CLASSES_ROOT, "\\SOFTWARE\\Tallowmere\\Kestrin"},
        {HKEY_CURRENT_CONFIG, "\\SOFTWARE\\Tallowmere\\Kestrin"},
    };
    for (const Row& r : rows) {
        CString text = FormatWritableKeyError(r.hRoot, "SOFTWARE\\Tallowmere\\Kestrin", ERROR_ACCESS_DENIED);
        EXPECT_EQ(std::string(text), std::string("Error opening writable key in the system Registry:\n") + r.name +
                                         "\n" + system);
    }
}

TEST(WritableKeyError, UnknownCodeHasAnEmptyDescription)
{
    CString text = FormatWritableKeyError(HKEY_USERS, "X", 0x2FFFFFFF);
    EXPECT_STREQ(text, "Error opening writable key in the system Registry:\nHKEY_USERS\\X\n");
}

// A volatile key cannot hold a lasting subkey, so opening one for writing
// fails: the user sees which key failed and why, and nothing is created.
class WriteFailure : public RegistryKey {
protected:
    void SetUp() override
    {
        RegistryKey::SetUp();
        ASSERT_EQ(RegCreateKeyExA(m_hBase, "Volatile", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                  m_hVolatile.Receive(), nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override
    {
        m_hVolatile.Close();
        RegistryKey::TearDown();
    }

    // Opens root\path for writing while a second thread reads and answers the box.
    CBoxSeen OpenAndAnswer(HKEY hRoot, const char* pszPath, LONG& code)
    {
        CRegistryKey key;
        CBoxSeen box = AnswerMessageBox([&] { code = key.OpenWritable(hRoot, pszPath); });
        EXPECT_EQ(key.m_hKey, nullptr);
        EXPECT_STREQ(key.m_strKeyName, pszPath);
        return box;
    }
    CKeyHandle m_hVolatile;
};

TEST_F(WriteFailure, NamedRootIsShownWithTheKeyPath)
{
    const char kPath[] = "Software\\KestrinTest\\RegistryKey\\Volatile\\Lasting";
    LONG code = ERROR_SUCCESS;
    CBoxSeen box = OpenAndAnswer(HKEY_CURRENT_USER, kPath, code);
    EXPECT_EQ(code, ERROR_CHILD_MUST_BE_VOLATILE);
    ASSERT_TRUE(box.bFound);
    EXPECT_EQ(box.text, std::string(FormatWritableKeyError(HKEY_CURRENT_USER, kPath, code)));
    EXPECT_EQ(box.text.rfind(std::string("Error opening writable key in the system Registry:\nHKEY_CURRENT_USER\\") +
                                 kPath + "\n",
                             0),
              0u)
        << box.text;
    EXPECT_GT(box.text.size(), std::strlen("Error opening writable key in the system Registry:\n\n") + 18 +
                                   std::strlen(kPath))
        << "the system's description is missing";
    EXPECT_EQ(box.caption, std::string(AfxGetAppTitle()));
    EXPECT_EQ(box.hIcon, LoadIconA(nullptr, IDI_EXCLAMATION));
    CKeyHandle probe;
    EXPECT_EQ(RegOpenKeyExA(m_hVolatile, "Lasting", 0, KEY_READ, probe.Receive()), ERROR_FILE_NOT_FOUND);
}

TEST_F(WriteFailure, OtherRootIsShownAsABackslash)
{
    LONG code = ERROR_SUCCESS;
    CBoxSeen box = OpenAndAnswer(m_hVolatile, "Lasting", code);
    EXPECT_EQ(code, ERROR_CHILD_MUST_BE_VOLATILE);
    ASSERT_TRUE(box.bFound);
    EXPECT_EQ(box.text.rfind("Error opening writable key in the system Registry:\n\\Lasting\n", 0), 0u) << box.text;
}
