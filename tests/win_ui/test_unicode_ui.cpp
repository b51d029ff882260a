// File names outside the code page and deeper than MAX_PATH, through the
// shell's data object, the dialogs and the real Kestrin.dll.
#include <gtest/gtest.h>

#include <map>

#include "cipher/Sapphire.h"
#include "container/FileProcessor.h"
#include "tests/win_ui/UiDriver.h"

using namespace ui;

namespace {

const UINT kEncrypt = 0, kDecrypt = 1;
const int kPassword = 1001, kFileName = 1003;
// Typed as "pässwörd"; a Western Windows keys with its code page bytes.
const char kTyped[] = "p\xC3\xA4ssw\xC3\xB6rd";
const char kKeyBytes[] = "p\xE4ssw\xF6rd";

struct NameRow {
    std::string strName;    // UTF-8
    std::string strStored;  // what the container holds, code page 1252
    std::string strBox;     // the container's name
};

const NameRow kRows[] = {
    {"plain.txt", "plain.txt", "plain._xt"},
    {"caf\xC3\xA9.txt", "caf\xE9.txt", "caf\xC3\xA9._xt"},
    {"\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC.txt",
     "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC.txt",
     "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC._xt"},
    {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt",
     "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E._xt"},
    {"emoji \xF0\x9F\x98\x80.txt", "emoji \xF0\x9F\x98\x80.txt", "emoji \xF0\x9F\x98\x80._xt"},
};

// The name bytes of a container, read with the key the writer should have used.
std::string StoredName(const std::string& strContainer)
{
    std::string data = ReadFile(strContainer);
    const std::string strTemp = TempFolder("header") + "\\c";
    WriteFile(strTemp, data);  // a short path for the C runtime's narrow fopen
    FILE* pFile = std::fopen(strTemp.c_str(), "rb");
    if (!pFile)
        return "(unreadable)";
    char abMagic[4];
    CSapphireCipher cipher;
    cipher.GetKey()->SetPassword(kKeyBytes);
    cipher.Prepare();
    CString strName;
    uint32_t nRead = 0;
    const bool bOk = std::fread(abMagic, 1, 4, pFile) == 4 &&
                     ReadNameHeader(strName, pFile, cipher, nRead) == WR_OK;
    std::fclose(pFile);
    RemoveFile(strTemp);
    RemoveFolder(strTemp.substr(0, strTemp.size() - 2));
    return bOk ? strName.str() : "(name check failed)";
}

class UnicodeUi : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartWatchdog(180);
        ClearSettings();
        // Sapphire II: the names below are stored as the legacy format stores them.
        WriteSetting("EncType", 0);
        m_folder = TempFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    void TearDown() override { RemoveFolder(m_folder); }

    void Run(const std::vector<std::string>& paths, UINT nOffset, std::function<void(CUser&)> script)
    {
        IContextMenu* pMenu = CKestrin::Get().CreateMenuFor(paths);
        COwnerWindow owner;
        CUser user(std::move(script));
        EXPECT_EQ(S_OK, user.Invoke(pMenu, nOffset, owner.Handle()));
        pMenu->Release();
        EXPECT_EQ("", user.Failure());
    }

    // Answers one settings dialog per file, each showing the file's whole path.
    std::function<void(CUser&)> AskedFor(std::vector<std::string> paths, bool bConfirm)
    {
        std::sort(paths.rbegin(), paths.rend());  // the batch's order
        return [paths, bConfirm](CUser& u) {
            for (const std::string& path : paths) {
                HWND h = u.WaitWindow(kSettingsCaption);
                EXPECT_EQ(path, ControlText(h, kFileName));
                EXPECT_EQ(SS_PATHELLIPSIS, GetWindowLongW(GetDlgItem(h, kFileName), GWL_STYLE) & SS_ELLIPSISMASK);
                TypeText(h, kPassword, kTyped);
                if (bConfirm)
                    TypeText(h, 1006, kTyped);
                Press(h, IDOK);
                u.WaitGone(h);
            }
        };
    }

    std::string m_folder;
};

TEST_F(UnicodeUi, EveryNameIsAskedForProcessedAndRestoredUnderItsExactName)
{
    ASSERT_EQ(1252u, GetACP()) << "the stored bytes below are those of a Western code page";
    std::map<std::string, std::string> contents;
    std::vector<std::string> sources, boxes;
    unsigned nSeed = 1;
    for (const NameRow& r : kRows) {
        contents[r.strName] = SampleData(3000 + 1000 * nSeed, nSeed);
        ++nSeed;
        WriteFile(m_folder + "\\" + r.strName, contents[r.strName]);
        sources.push_back(m_folder + "\\" + r.strName);
        boxes.push_back(m_folder + "\\" + r.strBox);
    }
    Run(sources, kEncrypt, AskedFor(sources, true));
    for (const NameRow& r : kRows)
        EXPECT_EQ(r.strStored, StoredName(m_folder + "\\" + r.strBox)) << r.strName;

    for (const std::string& s : sources)
        RemoveFile(s);
    for (const NameRow& r : kRows)
        ASSERT_FALSE(Exists(m_folder + "\\" + r.strName)) << r.strName;

    Run(boxes, kDecrypt, AskedFor(boxes, false));
    for (const NameRow& r : kRows)
        EXPECT_EQ(contents[r.strName], ReadFile(m_folder + "\\" + r.strName)) << r.strName;
}

TEST_F(UnicodeUi, AFileMoreThanThreeHundredCharactersDeep)
{
    std::string folder = m_folder;
    for (int i = 0; i < 4; ++i) {
        folder += "\\" + std::string(60, char('a' + i)) + " \xCE\xB4";
        MakeFolder(folder);
    }
    const std::string path = folder + "\\deep \xE6\x97\xA5.txt";
    ASSERT_GT(path.size(), 300u);
    const std::string data = SampleData(20000, 7);
    WriteFile(path, data);

    Run({path}, kEncrypt, AskedFor({path}, true));
    const std::string box = folder + "\\deep \xE6\x97\xA5._xt";
    ASSERT_TRUE(Exists(box));
    EXPECT_EQ("deep \xE6\x97\xA5.txt", StoredName(box));

    RemoveFile(path);
    Run({box}, kDecrypt, AskedFor({box}, false));
    EXPECT_EQ(data, ReadFile(path));
}

TEST_F(UnicodeUi, ASelectedFileThatCannotBeReadIsReportedNotSkipped)
{
    const std::string gone = m_folder + "\\gone \xE2\x82\xAC.txt", kept = m_folder + "\\kept.txt";
    WriteFile(gone, "soon gone");
    WriteFile(kept, "stays");
    IContextMenu* pMenu = CKestrin::Get().CreateMenuFor({gone, kept});
    RemoveFile(gone);  // after the selection was made, before the command
    COwnerWindow owner;
    CUser user([&](CUser& u) {
        AnswerSettings(u, "pass word", 0, true);
        HWND h = u.WaitMessageBox();
        EXPECT_EQ("Kestrin was unable to read the file : " + gone +
                      ".\nPress OK to continue, or Cancel to Quit.",
                  MessageText(h));
        Press(h, IDOK);
        u.WaitGone(h);
        h = u.WaitMessageBox();
        EXPECT_EQ("Kestrin processed 2 files: 1 succeeded, 1 failed, 0 skipped.\n\nFailed:\n" + gone, MessageText(h));
        Press(h, IDOK);
        u.WaitGone(h);
    });
    EXPECT_EQ(S_OK, user.Invoke(pMenu, kEncrypt, owner.Handle()));
    pMenu->Release();
    EXPECT_EQ("", user.Failure());
    EXPECT_TRUE(Exists(m_folder + "\\kept._xt"));
}

}  // namespace
