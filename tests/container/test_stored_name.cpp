// What a container stores for a name and derives its key from, by code page
// 1252 (a Western Windows, and the command line's default elsewhere).
#include <gtest/gtest.h>

#include <string>

#include "PipelineRunner.h"
#include "container/StoredName.h"
#include "framework/afxconv.h"

namespace {

std::string Repeat(const std::string& s, int n)
{
    std::string out;
    while (n-- > 0)
        out += s;
    return out;
}

const std::string kGreek = "\xCE\xB1";           // α: not in 1252
const std::string kAcute = "\xC3\xA9";           // é: 0xE9 in 1252
const std::string kEmoji = "\xF0\x9F\x98\x80";   // 😀: four bytes, a surrogate pair in UTF-16

struct NameCase {
    const char* pszWhat;
    std::string strName;    // UTF-8
    std::string strStored;  // the bytes in the container
    bool bCut = false;      // shortened to fit the reader's 260 bytes
};

const NameCase kNames[] = {
    {"ASCII", "report.txt", "report.txt"},
    {"Western accents", "caf" + kAcute + ".txt", "caf\xE9.txt"},
    {"euro sign from 0x80", "\xE2\x82\xAC" "uro.txt", "\x80uro.txt"},
    {"Greek", "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC.txt",
     "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC.txt"},
    {"CJK", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt"},
    {"emoji", "emoji " + kEmoji + ".txt", "emoji " + kEmoji + ".txt"},
    {"accents and Greek: all UTF-8", "caf" + kAcute + kGreek + ".txt", "caf" + kAcute + kGreek + ".txt"},
    {"255 ASCII characters", Repeat("a", 251) + ".txt", Repeat("a", 251) + ".txt"},
    {"255 accented characters fit as code page", Repeat(kAcute, 251) + ".txt", Repeat("\xE9", 251) + ".txt"},
    {"255 Greek characters: UTF-8 cut to 260 bytes", Repeat(kGreek, 251) + ".txt", Repeat(kGreek, 128) + ".txt", true},
    {"emoji cut at a character boundary", Repeat(kEmoji, 100) + ".txt", Repeat(kEmoji, 64) + ".txt", true},
    {"an odd byte left over is not half a character", "x" + Repeat(kGreek, 200) + ".txt",
     "x" + Repeat(kGreek, 127) + ".txt", true},
    {"fits the code page once the Greek tail is cut", Repeat(kAcute, 200) + kGreek + Repeat("b", 100) + ".txt",
     Repeat("\xE9", 200) + ".txt", true},
    {"an extension too long to keep is cut too", "a." + Repeat("b", 300), "a." + Repeat("b", 258), true},
};

TEST(StoredName, EncodeTable)
{
    for (const NameCase& c : kNames) {
        SCOPED_TRACE(c.pszWhat);
        const CString strStored = EncodeStoredName(c.strName.c_str(), kCodePageWestern);
        EXPECT_EQ(c.strStored, strStored.str());
        EXPECT_LE(strStored.GetLength(), 260);
        // What was not cut comes back exactly, whichever encoding it took.
        if (!c.bCut) {
            EXPECT_EQ(c.strName, DecodeStoredName(strStored, kCodePageWestern).str());
        }
    }
}

struct DecodeCase {
    std::string strStored;
    std::string strName;
};

const DecodeCase kDecodes[] = {
    {"caf\xE9.txt", "caf" + kAcute + ".txt"},        // made by the narrow version
    {"caf" + kAcute + ".txt", "caf" + kAcute + ".txt"},  // made with UTF-8
    {"\x80\x81.txt", "\xE2\x82\xAC\xC2\x81.txt"},     // 0x81 is undefined in 1252: kept as U+0081
    {"\xC3\x28.txt", "\xC3\x83(.txt"},                // not UTF-8: code page
    {"\xED\xA0\x80.txt", "\xC3\xAD\xC2\xA0\xE2\x82\xAC.txt"},  // an encoded surrogate is not UTF-8
    {"plain.txt", "plain.txt"},
};

TEST(StoredName, DecodeTable)
{
    for (const DecodeCase& c : kDecodes)
        EXPECT_EQ(c.strName, DecodeStoredName(c.strStored.c_str(), kCodePageWestern).str()) << c.strStored;
}

struct PasswordCase {
    std::string strPassword;  // as typed, UTF-8
    std::string strWritten;   // the key bytes a writer uses
    std::string strOther;     // the other form a reader tries, empty when none
};

const PasswordCase kPasswords[] = {
    {"secret", "secret", ""},
    {"p" + std::string("\xC3\xA4") + "ssw" + "\xC3\xB6" + "rd", "p\xE4ssw\xF6rd",
     "p" + std::string("\xC3\xA4") + "ssw" + "\xC3\xB6" + "rd"},
    {"\xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C", "\xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C", ""},
    {"\xE5\xAF\x86\xE7\xA0\x81" "1234", "\xE5\xAF\x86\xE7\xA0\x81" "1234", ""},
};

TEST(StoredName, PasswordFormsTable)
{
    for (const PasswordCase& c : kPasswords) {
        SCOPED_TRACE(c.strPassword);
        CString strFirst, strSecond;
        GetPasswordForms(c.strPassword.c_str(), kCodePageWestern, false, strFirst, strSecond);
        EXPECT_EQ(c.strWritten, strFirst.str());
        EXPECT_TRUE(strSecond.IsEmpty()) << "a writer has one key";

        GetPasswordForms(c.strPassword.c_str(), kCodePageWestern, true, strFirst, strSecond);
#ifdef _WIN32
        // What the narrow version made comes first.
        EXPECT_EQ(c.strWritten, strFirst.str());
        EXPECT_EQ(c.strOther, strSecond.str());
#else
        EXPECT_EQ(c.strPassword, strFirst.str());
        EXPECT_EQ(c.strOther.empty() ? "" : c.strWritten, strSecond.str());
#endif
    }
}

// A container made on a Western Windows (key from code page bytes) and one
// made where the password's letters are not in the code page (key from
// UTF-8) both open with the same typed password, and the name comes back.
class StoredNameFiles : public ScratchTest {
protected:
    void TearDown() override
    {
        SetLegacyCodePage(0);
        ScratchTest::TearDown();
    }
};

TEST_F(StoredNameFiles, EitherKeyFormOpensAndTheNameComesBack)
{
    const std::string strName = "caf" + kAcute + " " + kGreek + ".txt";
    const std::string strPassword = "p" + std::string("\xC3\xA4") + "ssw" + "\xC3\xB6" + "rd";
    const Bytes data = MixedBytes(10000);
    WriteFileBytes(PathOf(strName), data);
    for (unsigned nWriterCodePage : {1252u, 1253u}) {
        SCOPED_TRACE(nWriterCodePage);
        SetLegacyCodePage(nWriterCodePage);
        ASSERT_EQ(WR_OK, RunEncrypt(PathOf(strName), PathOf("box._xt"), 0, strPassword.c_str()).nResult);
        SetLegacyCodePage(kCodePageWestern);
        std::filesystem::rename(std::filesystem::u8path(PathOf(strName).str()), m_dir / "orig");
        const Outcome out = RunDecrypt(PathOf("box._xt"), 0, strPassword.c_str());
        ASSERT_EQ(WR_OK, out.nResult);
        EXPECT_EQ(PathOf(strName), out.strDest);
        EXPECT_EQ(data, ReadFileBytes(PathOf(strName)));
        std::filesystem::rename(m_dir / "orig", std::filesystem::u8path(PathOf(strName).str()));
        std::filesystem::remove(m_dir / "box._xt");
    }
}

}  // namespace
