// The right-click flow end to end through the real Kestrin.dll: the shell's
// data object, InvokeCommand on this thread, and a user on a second thread
// who answers the real dialogs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "container/WorkItem.h"
#include "container/ContainerV2.h"
#include "tests/win_ui/UiDriver.h"

using namespace ui;

namespace {

const UINT kEncrypt = 0, kDecrypt = 1;
const int kPassword = 1001, kBatch = 1002, kFileName = 1003, kMethod = 1004, kAbout = 1005, kConfirm = 1006,
          kPasswordLabel = 1007, kMethodLabel = 1009, kNote = 1010;
const int kCount = 1037, kFileBar = 1001;

const char kTooShort[] = "You must choose a password that is at least 4 characters long.";
const char kMismatch[] = "Confirmation password does not match. Please re-enter both passwords";
const char kNoMethod[] = "Please choose an encryption method.";
const char kPrompt[] = "\nPress OK to continue, or Cancel to Quit.";
const char kRetryNote[] = "The password did not open this file: it is wrong, or the file is not a Kestrin container.";
const char kRetryNoteV2[] = "The password did not open this file: it is wrong, or the file's header is damaged.";
const char kFirstGuessTip[] =
    "Only the first guess: if this method does not open the file, Kestrin tries the others.";

// What the tooltip of a dialog's control says (the tooltip control the dialog owns), or "".
std::string TipOf(HWND hDlg, int nId)
{
    struct Find {
        HWND hDlg;
        HWND hTip;
    } find{hDlg, nullptr};
    EnumThreadWindows(
        GetWindowThreadProcessId(hDlg, nullptr),
        [](HWND h, LPARAM lp) -> BOOL {
            auto* p = reinterpret_cast<Find*>(lp);
            char cls[64] = {};
            GetClassNameA(h, cls, sizeof cls);
            if (std::strcmp(cls, "tooltips_class32") == 0 && GetWindow(h, GW_OWNER) == p->hDlg)
                p->hTip = h;
            return p->hTip == nullptr;
        },
        reinterpret_cast<LPARAM>(&find));
    if (!find.hTip)
        return "";
    wchar_t text[512] = {};
    TTTOOLINFOW ti{};
    ti.cbSize = TTTOOLINFOW_V2_SIZE;
    ti.hwnd = hDlg;
    ti.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(hDlg, nId));
    ti.lpszText = text;
    SendMessageW(find.hTip, TTM_GETTEXTW, 512, reinterpret_cast<LPARAM>(&ti));
    char narrow[1024] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
    return narrow;
}

// The dialog asking again for a file: named, with the note, the password
// empty, and every control still inside the (grown) dialog.
void ExpectAskedAgain(HWND h, const std::string& path, const char* pszNote)
{
    EXPECT_EQ(path, ControlText(h, kFileName));
    EXPECT_EQ(pszNote, ControlText(h, kNote));
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(h, kNote)));
    EXPECT_EQ("", ControlText(h, kPassword));
    RECT rcClient{}, rcOk{}, rcNote{}, rcMethod{};
    GetClientRect(h, &rcClient);
    GetWindowRect(GetDlgItem(h, IDOK), &rcOk);
    GetWindowRect(GetDlgItem(h, kNote), &rcNote);
    GetWindowRect(GetDlgItem(h, kMethod), &rcMethod);
    MapWindowPoints(nullptr, h, reinterpret_cast<POINT*>(&rcOk), 2);
    EXPECT_LE(rcOk.bottom, rcClient.bottom) << "OK is cut off";
    EXPECT_LE(rcNote.bottom, rcMethod.top) << "the note covers the method list";
}

class BatchUi : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartWatchdog(120);
        ClearSettings();
        m_folder = TempFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    void TearDown() override { RemoveFolder(m_folder); }

    std::string Path(const std::string& name) const { return m_folder + "\\" + name; }

    std::vector<std::string> Paths(const std::vector<std::string>& names) const
    {
        std::vector<std::string> v;
        for (const std::string& n : names)
            v.push_back(Path(n));
        return v;
    }

    // One command with the user's script; the owner window's WM_ENABLEs.
    std::vector<WPARAM> Run(const std::vector<std::string>& names, UINT nOffset,
                            std::function<void(CUser&)> script)
    {
        IContextMenu* pMenu = CKestrin::Get().CreateMenuFor(Paths(names));
        COwnerWindow owner;
        CUser user(std::move(script));
        HRESULT hr = user.Invoke(pMenu, nOffset, owner.Handle());
        pMenu->Release();
        EXPECT_EQ(S_OK, hr);
        EXPECT_EQ("", user.Failure());
        return owner.Collect().enables;
    }

    // Writes files of the given sizes and returns their contents by name.
    std::map<std::string, std::string> MakeFiles(const std::vector<std::pair<std::string, size_t>>& files)
    {
        std::map<std::string, std::string> contents;
        unsigned seed = 1;
        for (const auto& f : files) {
            contents[f.first] = SampleData(f.second, seed++);
            WriteFile(Path(f.first), contents[f.first]);
        }
        return contents;
    }

    // The originals go to a subfolder so that decryption restores the names.
    void MoveOriginalsAside(const std::map<std::string, std::string>& files)
    {
        CreateDirectoryA(Path("orig").c_str(), nullptr);
        for (const auto& f : files)
            MoveFileA(Path(f.first).c_str(), Path("orig\\" + f.first).c_str());
    }

    // The user confirms one message box with the expected text.
    static void AnswerMessage(CUser& user, const std::string& expected, int nButton)
    {
        HWND h = user.WaitMessageBox();
        EXPECT_EQ(expected, MessageText(h));
        Press(h, nButton);
        user.WaitGone(h);
    }

    std::string m_folder;
};

const std::vector<WPARAM> kEnabledAround = {FALSE, TRUE};

// ---------------------------------------------------------------- round trips

class EachMethod : public BatchUi, public ::testing::WithParamInterface<int> {};

TEST_P(EachMethod, BatchSettingsEncryptThreeFilesThenDecryptThem)
{
    const int nMethod = GetParam();
    auto files = MakeFiles({{"a.txt", 5000}, {"b.dat", 70000}, {"c.bin", 1}});

    auto enables = Run({"a.txt", "b.dat", "c.bin"}, kEncrypt, [&](CUser& u) {
        AnswerSettings(u, "correct horse", nMethod, true);
        EXPECT_FALSE(u.Appears(kSettingsCaption, 60000)) << "asked again despite the batch checkbox";
    });
    EXPECT_EQ(kEnabledAround, enables);
    EXPECT_EQ((std::vector<std::string>{"a._xt", "a.txt", "b._at", "b.dat", "c._in", "c.bin"}), ListFolder(m_folder));
    DWORD dwMethod = 99, dwBatch = 99;
    ASSERT_TRUE(ReadSetting("EncType", dwMethod));
    ASSERT_TRUE(ReadSetting("BatchSettings", dwBatch));
    EXPECT_EQ(DWORD(nMethod), dwMethod);
    EXPECT_EQ(1u, dwBatch);

    MoveOriginalsAside(files);
    Run({"a._xt", "b._at", "c._in"}, kDecrypt, [&](CUser& u) {
        HWND h = u.WaitWindow(kSettingsCaption);
        EXPECT_EQ(nMethod, SelectedItem(h, kMethod)) << "preset from the registry";
        EXPECT_TRUE(IsChecked(h, kBatch));
        TypeText(h, kPassword, "correct horse");
        Press(h, IDOK);
        u.WaitGone(h);
        EXPECT_FALSE(u.Appears(kSettingsCaption, 60000));
    });
    for (const auto& f : files)
        EXPECT_EQ(f.second, ReadFile(Path(f.first))) << f.first;
}

INSTANTIATE_TEST_SUITE_P(Methods, EachMethod, ::testing::Values(0, 1, 2, 3));

// Any legacy container opens with its password whatever method is selected:
// the selected one is tried first, then the others, by the name check and
// the first block, as the command-line tool finds them.
TEST_F(BatchUi, EachLegacyMethodOpensWithAnyMethodSelected)
{
    auto files = MakeFiles({{"m0.txt", 3000}, {"m1.txt", 4000}, {"m2.txt", 5000}, {"m3.txt", 6000}});
    Run({"m0.txt", "m1.txt", "m2.txt", "m3.txt"}, kEncrypt, [&](CUser& u) {
        for (int m = 3; m >= 0; --m)  // descending order: m3.txt first
            AnswerSettings(u, "one password", m, false);
    });
    MoveOriginalsAside(files);
    for (int nSelected = 0; nSelected <= 4; ++nSelected) {
        SCOPED_TRACE(testing::Message() << "selected " << nSelected);
        Run({"m0._xt", "m1._xt", "m2._xt", "m3._xt"}, kDecrypt, [&](CUser& u) {
            AnswerSettings(u, "one password", nSelected, true, false);
            EXPECT_FALSE(u.Appears(kSettingsCaption, 60000));
            EXPECT_FALSE(u.Appears(kMessageCaption, 1));
        });
        for (const auto& f : files) {
            EXPECT_EQ(f.second, ReadFile(Path(f.first))) << f.first;
            RemoveFile(Path(f.first));
        }
    }
}

TEST_F(BatchUi, WithoutCheckboxEachFileIsAskedPresetFromTheRegistry)
{
    auto files = MakeFiles({{"a.txt", 3000}, {"b.dat", 9000}, {"C.bin", 20000}});
    CreateDirectoryA(Path("folder").c_str(), nullptr);
    WriteSetting("EncType", 2);
    WriteSetting("BatchSettings", 1);

    // Descending byte order: lower case sorts above capitals; folders drop out.
    const std::vector<std::string> order = {"b.dat", "a.txt", "C.bin"};
    const int methods[] = {3, 1, 0};
    Run({"C.bin", "folder", "a.txt", "b.dat"}, kEncrypt, [&](CUser& u) {
        int nPreset = 2;
        for (int i = 0; i < 3; ++i) {
            HWND h = u.WaitWindow(kSettingsCaption);
            EXPECT_EQ(Path(order[size_t(i)]), ControlText(h, kFileName));
            EXPECT_EQ(nPreset, SelectedItem(h, kMethod)) << "dialog " << i;
            EXPECT_EQ(i == 0, IsChecked(h, kBatch)) << "dialog " << i;
            TypeText(h, kPassword, "pass word");
            TypeText(h, kConfirm, "pass word");
            SelectItem(h, kMethod, methods[i]);
            SetChecked(h, kBatch, false);
            Press(h, IDOK);
            u.WaitGone(h);
            nPreset = methods[i];
        }
    });
    DWORD dwMethod = 99, dwBatch = 99;
    ASSERT_TRUE(ReadSetting("EncType", dwMethod));
    ASSERT_TRUE(ReadSetting("BatchSettings", dwBatch));
    EXPECT_EQ(0u, dwMethod);
    EXPECT_EQ(0u, dwBatch);

    MoveOriginalsAside(files);
    Run({"a._xt", "b._at", "C._in"}, kDecrypt, [&](CUser& u) {
        for (int m : methods) {
            HWND h = u.WaitWindow(kSettingsCaption);
            EXPECT_FALSE(IsEnabled(h, kConfirm));
            TypeText(h, kPassword, "pass word");
            SelectItem(h, kMethod, m);
            Press(h, IDOK);
            u.WaitGone(h);
        }
    });
    for (const auto& f : files)
        EXPECT_EQ(f.second, ReadFile(Path(f.first))) << f.first;
}

// ---------------------------------------------------------------- the settings dialog

TEST_F(BatchUi, ValidationMessagesComeInOrderAndKeepTheDialogOpen)
{
    MakeFiles({{"a.txt", 100}});
    Run({"a.txt"}, kEncrypt, [&](CUser& u) {
        HWND h = u.WaitWindow(kSettingsCaption);
        // Length first, even with a differing confirmation; nothing is cleared.
        TypeText(h, kPassword, "ab");
        TypeText(h, kConfirm, "xy");
        Press(h, IDOK);
        AnswerMessage(u, kTooShort, IDOK);
        EXPECT_EQ(GetDlgItem(h, kPassword), FocusSettlesOn(h, GetDlgItem(h, kPassword)));
        EXPECT_EQ("ab", ControlText(h, kPassword));
        EXPECT_EQ("xy", ControlText(h, kConfirm));
        // Three characters are too few even when both match.
        TypeText(h, kPassword, "abc");
        TypeText(h, kConfirm, "abc");
        Press(h, IDOK);
        AnswerMessage(u, kTooShort, IDOK);
        // Long enough but one character off: both edits are emptied.
        TypeText(h, kPassword, "abcd");
        TypeText(h, kConfirm, "abcD");
        Press(h, IDOK);
        AnswerMessage(u, kMismatch, IDOK);
        EXPECT_EQ(GetDlgItem(h, kPassword), FocusSettlesOn(h, GetDlgItem(h, kPassword)));
        EXPECT_EQ("", ControlText(h, kPassword));
        EXPECT_EQ("", ControlText(h, kConfirm));
        // Exactly four characters pass.
        TypeText(h, kPassword, "abcd");
        TypeText(h, kConfirm, "abcd");
        Press(h, IDOK);
        u.WaitGone(h);
    });
    EXPECT_TRUE(Exists(Path("a._xt")));
}

// A lone surrogate has no UTF-8 form: the dialog refuses it rather than key
// a password with a stand-in character.
TEST_F(BatchUi, APasswordWithALoneSurrogateIsRefused)
{
    MakeFiles({{"a.txt", 100}});
    Run({"a.txt"}, kEncrypt, [&](CUser& u) {
        HWND h = u.WaitWindow(kSettingsCaption);
        for (int nId : {kPassword, kConfirm})
            SendMessageW(GetDlgItem(h, nId), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"pass\xD800word"));
        Press(h, IDOK);
        AnswerMessage(u, "The password contains a character that is not valid Unicode text. Please re-enter it.",
                      IDOK);
        EXPECT_EQ(GetDlgItem(h, kPassword), FocusSettlesOn(h, GetDlgItem(h, kPassword)));
        // A pair of surrogates is a character like any other.
        for (int nId : {kPassword, kConfirm})
            SendMessageW(GetDlgItem(h, nId), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"pass\xD83D\xDE00word"));
        Press(h, IDOK);
        u.WaitGone(h);
    });
    EXPECT_TRUE(Exists(Path("a._xt")));
}

// A first run (no saved choice) starts on the authenticated method; a saved
// choice is kept. Only encrypting asks for the minimum length; decrypting,
// the method list's tooltip says it is only the first guess.
TEST_F(BatchUi, FocusStartsOnOkAndDecryptingDisablesTheConfirmation)
{
    const char kEncryptLabel[] = "Password (min. 4 characters) :", kDecryptLabel[] = "Password :";
    const struct {
        UINT nOffset;
        int nSaved;  // -1: no saved choice
        int nShown;
        const char* pszLabel;
        const char* pszTip;
    } cases[] = {
        {kEncrypt, -1, 4, kEncryptLabel, ""},
        {kDecrypt, -1, 4, kDecryptLabel, kFirstGuessTip},
        {kEncrypt, 0, 0, kEncryptLabel, ""},
        {kDecrypt, 3, 3, kDecryptLabel, kFirstGuessTip},
    };
    MakeFiles({{"a.txt", 100}});
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "offset " << c.nOffset << ", saved " << c.nSaved);
        ClearSettings();
        if (c.nSaved >= 0)
            WriteSetting("EncType", DWORD(c.nSaved));
        auto enables = Run({"a.txt"}, c.nOffset, [&](CUser& u) {
            HWND h = u.WaitWindow(kSettingsCaption);
            EXPECT_EQ(GetDlgItem(h, IDOK), FocusSettlesOn(h, GetDlgItem(h, IDOK)));
            EXPECT_EQ(c.nOffset == kEncrypt, IsEnabled(h, kConfirm));
            EXPECT_TRUE(IsEnabled(h, kPassword));
            EXPECT_EQ(Path("a.txt"), ControlText(h, kFileName));
            EXPECT_EQ(c.nShown, SelectedItem(h, kMethod));
            EXPECT_EQ(c.pszLabel, ControlText(h, kPasswordLabel));
            EXPECT_EQ("Encryption method:", ControlText(h, kMethodLabel));
            EXPECT_EQ(c.pszTip, TipOf(h, kMethod));
            EXPECT_EQ(c.pszTip, TipOf(h, kMethodLabel));
            EXPECT_FALSE(IsWindowVisible(GetDlgItem(h, kNote)));
            EXPECT_FALSE(IsChecked(h, kBatch));
            Press(h, IDCANCEL);
            u.WaitGone(h);
            EXPECT_FALSE(u.Appears(kMessageCaption, 60000)) << "giving up needs no message";
        });
        EXPECT_EQ(kEnabledAround, enables);
        DWORD dw = 99;
        EXPECT_EQ(c.nSaved >= 0, ReadSetting("EncType", dw)) << "Cancel stores nothing";
    }
    EXPECT_EQ(std::vector<std::string>{"a.txt"}, ListFolder(m_folder));
}

// Decrypting asks for no minimum: the container may come from a tool that
// counted bytes, and the password only has to open it.
TEST_F(BatchUi, DecryptingAcceptsAPasswordShorterThanFour)
{
    MakeFiles({{"a.txt", 2000}});
    Run({"a.txt"}, kDecrypt, [&](CUser& u) {
        HWND h = u.WaitWindow(kSettingsCaption);
        TypeText(h, kPassword, "abc");
        Press(h, IDOK);
        u.WaitGone(h);
        // The file is no container: the attempt itself is what is reported.
        AnswerMessage(u,
                      "Kestrin was unable to process the file : " + Path("a.txt") +
                          ".\nThe file format is not recognized." + kPrompt,
                      IDOK);
    });
}

TEST_F(BatchUi, MethodListHoldsTheFiveMethodsInOrder)
{
    MakeFiles({{"a.txt", 100}});
    Run({"a.txt"}, kEncrypt, [&](CUser& u) {
        HWND h = u.WaitWindow(kSettingsCaption);
        HWND hList = GetDlgItem(h, kMethod);
        ASSERT_EQ(5, SendMessageA(hList, CB_GETCOUNT, 0, 0));
        const char* names[] = {"Sapphire II", "DES", "DES-CBC", "Blowfish", "AES-256-GCM (authenticated)"};
        for (int i = 0; i < 5; ++i) {
            char text[64] = {};
            SendMessageA(hList, CB_GETLBTEXT, WPARAM(i), reinterpret_cast<LPARAM>(text));
            EXPECT_STREQ(names[i], text);
        }
        Press(h, IDCANCEL);
        u.WaitGone(h);
    });
}

TEST_F(BatchUi, AboutBoxShowsTheModuleVersionAndKeepsTheSettings)
{
    MakeFiles({{"a.txt", 100}});
    Run({"a.txt"}, kEncrypt, [&](CUser& u) {
        HWND h = u.WaitWindow(kSettingsCaption);
        TypeText(h, kPassword, "typed before");
        SelectItem(h, kMethod, 3);
        Press(h, kAbout);
        HWND hAbout = u.WaitWindow(kAboutCaption);
        EXPECT_EQ("Kestrin, Version 1.0.1.0", ControlText(hAbout, 1006));
        EXPECT_FALSE(IsWindowEnabled(h)) << "the About box is modal to the settings";
        PostMessageA(hAbout, WM_COMMAND, IDCANCEL, 0);  // Esc
        u.WaitGone(hAbout);
        EXPECT_EQ("typed before", ControlText(h, kPassword));
        EXPECT_EQ(3, SelectedItem(h, kMethod));
        Press(h, IDCANCEL);
        u.WaitGone(h);
    });
}

TEST_F(BatchUi, NoMethodSelectedKeepsTheDialogOpen)
{
    MakeFiles({{"a.txt", 1000}});
    WriteSetting("EncType", 7);
    Run({"a.txt"}, kEncrypt, [&](CUser& u) {
        HWND h = u.WaitWindow(kSettingsCaption);
        EXPECT_EQ(-1, SelectedItem(h, kMethod));
        TypeText(h, kPassword, "long enough");
        TypeText(h, kConfirm, "long enough");
        Press(h, IDOK);
        AnswerMessage(u, kNoMethod, IDOK);
        EXPECT_EQ(GetDlgItem(h, kMethod), FocusSettlesOn(h, GetDlgItem(h, kMethod)));
        SelectItem(h, kMethod, 1);
        Press(h, IDOK);
        u.WaitGone(h);
    });
    EXPECT_TRUE(Exists(Path("a._xt")));
    DWORD dw = 99;
    ASSERT_TRUE(ReadSetting("EncType", dw));
    EXPECT_EQ(1u, dw);
}

// ---------------------------------------------------------------- stopping a batch

TEST_F(BatchUi, CancelInTheSettingsForTheThirdFileEndsTheBatch)
{
    MakeFiles({{"a.txt", 100}, {"b.txt", 100}, {"c.txt", 100}});
    auto enables = Run({"a.txt", "b.txt", "c.txt"}, kEncrypt, [&](CUser& u) {
        AnswerSettings(u, "pass", 0, false);
        AnswerSettings(u, "pass", 0, false);
        HWND h = u.WaitWindow(kSettingsCaption);
        EXPECT_EQ(Path("a.txt"), ControlText(h, kFileName));
        Press(h, IDCANCEL);
        u.WaitGone(h);
        EXPECT_FALSE(u.Appears(kMessageCaption, 60000));
    });
    EXPECT_EQ(kEnabledAround, enables);
    EXPECT_EQ((std::vector<std::string>{"a.txt", "b._xt", "b.txt", "c._xt", "c.txt"}), ListFolder(m_folder));
    EXPECT_EQ(nullptr, FindWindowA("#32770", kBusyCaption)) << "the busy dialog is gone";
}

namespace {
// The width of the icon a static control of the dialog shows, 0 for none.
int IconWidth(HWND hDlg, int nId)
{
    HICON hIcon = reinterpret_cast<HICON>(SendDlgItemMessageA(hDlg, nId, STM_GETICON, 0, 0));
    ICONINFO ii{};
    if (!hIcon || !GetIconInfo(hIcon, &ii))
        return 0;
    BITMAP bm{};
    GetObjectA(ii.hbmColor ? ii.hbmColor : ii.hbmMask, sizeof bm, &bm);
    DeleteObject(ii.hbmColor);
    DeleteObject(ii.hbmMask);
    return bm.bmWidth;
}

// What the system sends a dialog moved to a monitor of another DPI. Wine has
// one DPI for every monitor and never sends it: the test plays that part.
void MoveToDpi(HWND hDlg, UINT nDpi)
{
    RECT rc{};
    GetWindowRect(hDlg, &rc);
    SendMessageA(hDlg, WM_DPICHANGED, MAKEWPARAM(nDpi, nDpi), reinterpret_cast<LPARAM>(&rc));
}
}  // namespace

// The icons of both dialogs at the icon size of their DPI: 32 pixels in this
// prefix (100 %), 64 once moved to 200 %.
TEST_F(BatchUi, DialogIconsFollowTheDpiOfTheirMonitor)
{
    const int kProductIcon = 1008, kBusyIcon = 1038;
    MakeFiles({{"z.bin", 48u << 20}});
    ASSERT_EQ(32, GetSystemMetrics(SM_CXICON));
    Run({"z.bin"}, kEncrypt, [&](CUser& u) {
        HWND h = u.WaitWindow(kSettingsCaption);
        EXPECT_EQ(32, IconWidth(h, kProductIcon));
        MoveToDpi(h, 192);
        EXPECT_EQ(64, IconWidth(h, kProductIcon));
        TypeText(h, kPassword, "pass");
        TypeText(h, kConfirm, "pass");
        SelectItem(h, kMethod, 3);
        Press(h, IDOK);
        u.WaitGone(h);
        HWND hBusy = u.WaitWindow(kBusyCaption);
        EXPECT_EQ(32, IconWidth(hBusy, kProductIcon));
        EXPECT_EQ(32, IconWidth(hBusy, kBusyIcon));
        MoveToDpi(hBusy, 192);
        EXPECT_EQ(64, IconWidth(hBusy, kProductIcon));
        EXPECT_EQ(64, IconWidth(hBusy, kBusyIcon));
        Pause(600);  // the animation goes on with frames of the new size
        EXPECT_EQ(64, IconWidth(hBusy, kBusyIcon));
        Press(hBusy, IDCANCEL);
    });
}

// Both ways: the cancelled file leaves nothing, partial or hidden, and its
// source as it was.
TEST_F(BatchUi, CancelInTheBusyDialogStopsTheLargeFileAndTheBatch)
{
    // z.bin sorts first; a.txt would come after it.
    auto files = MakeFiles({{"z.bin", 48u << 20}, {"a.txt", 1000}});
    for (UINT nCommand : {kEncrypt, kDecrypt}) {
        std::vector<std::string> names = {"a.txt", "z.bin"}, left = names;
        if (nCommand == kDecrypt) {
            Run(names, kEncrypt, [](CUser& u) { AnswerSettings(u, "pass", 3, true); });
            MoveOriginalsAside(files);
            names = {"a._xt", "z._in"};
            left = {"a._xt", "orig", "z._in"};
        }
        const std::string box = nCommand == kDecrypt ? ReadFile(Path("z._in")) : "";
        auto enables = Run(names, nCommand, [&](CUser& u) {
            AnswerSettings(u, "pass", 3, true, nCommand == kEncrypt);
            HWND hBusy = u.WaitWindow(kBusyCaption);
            EXPECT_EQ("Processing file 1 of 2", ControlText(hBusy, kCount));
            EXPECT_NE(nullptr, reinterpret_cast<HICON>(SendMessageA(GetDlgItem(hBusy, 1038), STM_GETICON, 0, 0)))
                << "the animation shows a frame";
            RECT rcIcon{};
            GetWindowRect(GetDlgItem(hBusy, 1038), &rcIcon);
            EXPECT_GE(rcIcon.right - rcIcon.left, 20) << "the animated icon has its template size";
            for (DWORD t = GetTickCount(); SendMessageA(GetDlgItem(hBusy, kFileBar), PBM_GETPOS, 0, 0) < 1;) {
                if (GetTickCount() - t > 30000)
                    throw Timeout("the file bar never moved");
                Pause(10);
            }
            Press(hBusy, IDCANCEL);
            for (DWORD t = GetTickCount(); ControlText(hBusy, kCount) != "Waiting for operation to complete.";) {
                if (!IsWindow(hBusy) || GetTickCount() - t > 5000)
                    break;
                Pause(5);
            }
            EXPECT_FALSE(u.Appears(kMessageCaption, 60000)) << "a cancelled file is not reported";
        });
        EXPECT_EQ(kEnabledAround, enables);
        EXPECT_EQ(left, ListFolder(m_folder)) << "no partial output and no further file";
        EXPECT_TRUE(box.empty() || box == ReadFile(Path("z._in"))) << "the container as it was";
    }
    EXPECT_TRUE(files["z.bin"] == ReadFile(Path("orig\\z.bin")));
}

TEST_F(BatchUi, BusyDialogCancelWaitsForTheWorker)
{
    MakeFiles({{"z.bin", 32u << 20}});
    Run({"z.bin"}, kEncrypt, [&](CUser& u) {
        AnswerSettings(u, "pass", 0, false);
        HWND hBusy = u.WaitWindow(kBusyCaption);
        Press(hBusy, IDCANCEL);
        // The dialog stays, in its stopping state, until the worker is out.
        for (DWORD t = GetTickCount(); IsWindow(hBusy) && GetTickCount() - t < 5000; Pause(5)) {
            if (ControlText(hBusy, kCount) == "Waiting for operation to complete.") {
                EXPECT_FALSE(IsEnabled(hBusy, IDCANCEL));
                return;
            }
        }
        // A fast machine may have finished the file before the press.
    });
    EXPECT_FALSE(Exists(Path("z._in")));
}

namespace {
ULONGLONG ThreadCpuMs(HANDLE hThread)
{
    FILETIME c, e, k, u;
    GetThreadTimes(hThread, &c, &e, &k, &u);
    auto ms = [](const FILETIME& f) { return ((ULONGLONG(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 10000; };
    return ms(k) + ms(u);
}
}  // namespace

// The shell's thread waits for messages between polls instead of spinning.
TEST_F(BatchUi, PollingLeavesTheProcessorFree)
{
    MakeFiles({{"z.bin", 64u << 20}});
    Run({"z.bin"}, kEncrypt, [&](CUser& u) {
        AnswerSettings(u, "pass", 0, false);
        HWND hBusy = u.WaitWindow(kBusyCaption);
        HANDLE hShell = OpenThread(THREAD_QUERY_INFORMATION, FALSE, u.ShellThreadId());
        ULONGLONG cpu0 = ThreadCpuMs(hShell);
        DWORD t0 = GetTickCount();
        Pause(600);
        ULONGLONG cpu = ThreadCpuMs(hShell) - cpu0;
        DWORD wall = GetTickCount() - t0;
        bool bStillBusy = IsWindowVisible(hBusy) != FALSE;
        CloseHandle(hShell);
        if (bStillBusy) {
            EXPECT_LT(cpu, wall / 2) << "the shell thread used " << cpu << " ms of " << wall << " ms";
        }
        Press(hBusy, IDCANCEL);
    });
}

// A damaged middle container: OK goes on with the last file, Cancel stops;
// either way one message at the end sums the batch up.
class FailureAnswer : public BatchUi, public ::testing::WithParamInterface<int> {};

TEST_P(FailureAnswer, OnTheSecondOfThreeFiles)
{
    const int nAnswer = GetParam();
    auto files = MakeFiles({{"a.txt", 2000}, {"b.txt", 2000}, {"c.txt", 2000}});
    Run({"a.txt", "b.txt", "c.txt"}, kEncrypt, [&](CUser& u) { AnswerSettings(u, "pass", 2, true); });
    MoveOriginalsAside(files);
    WriteFile(Path("b._xt"), "this is not a container at all");

    Run({"a._xt", "b._xt", "c._xt"}, kDecrypt, [&](CUser& u) {
        AnswerSettings(u, "pass", 2, true, false);
        AnswerMessage(u,
                      "Kestrin was unable to process the file : " + Path("b._xt") +
                          ".\nThe file format is not recognized." + kPrompt,
                      nAnswer);
        AnswerMessage(u,
                      nAnswer == IDOK ? "Kestrin processed 3 files: 2 succeeded, 1 failed, 0 skipped.\n\nFailed:\n" +
                                            Path("b._xt")
                                      : "Kestrin processed 2 files: 1 succeeded, 1 failed, 0 skipped.\nThe batch was "
                                        "stopped before the other 1 file.\n\nFailed:\n" +
                                            Path("b._xt"),
                      IDOK);
        EXPECT_FALSE(u.Appears(kMessageCaption, 60000));
    });
    EXPECT_EQ(files["c.txt"], ReadFile(Path("c.txt")));
    EXPECT_FALSE(Exists(Path("b.txt")));
    EXPECT_EQ(nAnswer == IDOK, Exists(Path("a.txt")));
    if (nAnswer == IDOK) {
        EXPECT_EQ(files["a.txt"], ReadFile(Path("a.txt")));
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, FailureAnswer, ::testing::Values(IDOK, IDCANCEL));

// ---------------------------------------------------------------- messages of failed files

// A password that opens nothing brings the settings back for the same file
// at once, as often as the user likes; ticking the batch box there keeps
// the new password for the rest of the batch. A download mark planted as
// Wine shows a stream name (a file called "a._xt:Zone.Identifier") is not
// taken for one: Wine's volumes say they have no streams.
TEST_F(BatchUi, AWrongPasswordAsksAgainForTheSameFile)
{
    auto files = MakeFiles({{"a.txt", 2000}, {"b.txt", 3000}});
    Run({"a.txt", "b.txt"}, kEncrypt, [&](CUser& u) { AnswerSettings(u, "right", 3, true); });
    MoveOriginalsAside(files);
    WriteFile(Path("b._xt:Zone.Identifier"), "[ZoneTransfer]\r\nZoneId=3\r\n");
    Run({"a._xt", "b._xt"}, kDecrypt, [&](CUser& u) {
        AnswerSettings(u, "wrong", 0, false, false);
        bool bTicked = false;  // as last confirmed
        for (const char* pszTry : {"still wrong", "right"}) {
            HWND h = u.WaitWindow(kSettingsCaption);
            ExpectAskedAgain(h, Path("b._xt"), kRetryNote);
            EXPECT_EQ(0, SelectedItem(h, kMethod)) << "the last choice, from the registry";
            EXPECT_EQ(bTicked, IsChecked(h, kBatch));
            bTicked = true;
            TypeText(h, kPassword, pszTry);
            SetChecked(h, kBatch, true);
            Press(h, IDOK);
            u.WaitGone(h);
        }
        EXPECT_FALSE(u.Appears(kSettingsCaption, 60000)) << "the new password holds for the rest";
        EXPECT_FALSE(u.Appears(kMessageCaption, 1));
    });
    for (const auto& f : files)
        EXPECT_EQ(f.second, ReadFile(Path(f.first))) << f.first;
    EXPECT_EQ((std::vector<std::string>{"a._xt", "a.txt", "b._xt", "b._xt:Zone.Identifier", "b.txt", "orig"}),
              ListFolder(m_folder));
}

// Cancel when asked again skips the file; the batch goes on with the next,
// and its closing message counts the skipped files and names the first few.
TEST_F(BatchUi, CancelWhenAskedAgainSkipsTheFile)
{
    auto files = MakeFiles({{"a.txt", 2000}});
    Run({"a.txt"}, kEncrypt, [&](CUser& u) { AnswerSettings(u, "right", 1, false); });
    MoveOriginalsAside(files);
    // Containers of another password: the name check opens none of them.
    std::vector<std::string> names = {"a._xt"};
    for (char c = 'b'; c <= 'h'; ++c) {
        names.push_back(std::string(1, c) + "._xt");
        WriteFile(Path(names.back()), "VXJ1" + SampleData(400, unsigned(c)));
    }
    Run(names, kDecrypt, [&](CUser& u) {
        AnswerSettings(u, "right", 3, true, false);
        for (char c = 'h'; c >= 'b'; --c) {  // descending order
            HWND h = u.WaitWindow(kSettingsCaption);
            ExpectAskedAgain(h, Path(std::string(1, c) + "._xt"), kRetryNote);
            EXPECT_TRUE(IsChecked(h, kBatch));
            Press(h, IDCANCEL);
            u.WaitGone(h);
        }
        std::string skipped;
        for (char c = 'h'; c >= 'd'; --c)
            skipped += "\n" + Path(std::string(1, c) + "._xt");
        AnswerMessage(u, "Kestrin processed 8 files: 1 succeeded, 0 failed, 7 skipped.\n\nSkipped:" + skipped +
                             "\nand 2 more",
                      IDOK);
    });
    EXPECT_EQ(files["a.txt"], ReadFile(Path("a.txt")));
}

// Authenticated containers made here, all under one header with the fewest
// iterations a reader takes, so that the DLL derives the key once and
// quickly under Wine.
class SealedBox {
public:
    explicit SealedBox(const char* pszPassword)
    {
        m_header.nIterations = kV2MinIterations;
        m_bReady = MasterKeys().ForReading(pszPassword, m_header, m_master);
    }
    // data stored under the name, as a container's bytes ("" on failure).
    std::string Seal(const std::string& name, const std::string& data)
    {
        CContainerV2Writer writer(1);
        CMemorySource in(reinterpret_cast<const uint8_t*>(data.data()), data.size());
        CMemorySink out;
        bool bCancelled = false;
        if (!m_bReady || writer.Begin(m_header, m_master) != WR_OK ||
            writer.Write(CString(name.data(), int(name.size())), in, data.size(), out, nullptr, bCancelled) != WR_OK)
            return "";
        return std::string(out.m_bytes.begin(), out.m_bytes.end());
    }

private:
    CV2Header m_header;
    CKey32 m_master;
    bool m_bReady = false;
};

// An authenticated container's reader knows what happened, and says it in
// texts of its own.
TEST_F(BatchUi, AuthenticatedContainerFailuresSayWhatHappened)
{
    const std::string data = SampleData(20000, 3);
    const std::string good = SealedBox("right").Seal("a.txt", data);
    ASSERT_FALSE(good.empty());
    std::string altered = good, iterations = good;
    altered[good.size() - 20] ^= 0x55;                  // inside the last record
    iterations.replace(6, 4, std::string("\x81\x96\x98\x00", 4));  // 10,000,001
    const std::string strCannot = "Kestrin was unable to decrypt the file : " + Path("a._xt") + ".\n";
    const struct {
        std::string container;
        const char* pszPassword;
        std::string text;  // empty: asked again, then opened with the right password
    } kCases[] = {
        {good, "wrong", ""},
        {iterations, "right", "The file's header is damaged: iterations 10000001 out of range."},
        {altered, "right", "@"},  // the record and its offset: filled in below
    };
    for (const auto& c : kCases) {
        WriteFile(Path("a._xt"), c.container);
        if (c.text.empty()) {
            Run({"a._xt"}, kDecrypt, [&](CUser& u) {
                AnswerSettings(u, c.pszPassword, 0, false, false);
                HWND h = u.WaitWindow(kSettingsCaption);
                ExpectAskedAgain(h, Path("a._xt"), kRetryNoteV2);
                TypeText(h, kPassword, "right");
                Press(h, IDOK);
                u.WaitGone(h);
                EXPECT_FALSE(u.Appears(kMessageCaption, 60000));
            });
            EXPECT_EQ(data, ReadFile(Path("a.txt")));
            RemoveFile(Path("a.txt"));
            continue;
        }
        std::string text = c.text;
        if (text == "@") {
            // The last record begins where its length field says the one before it ends.
            size_t nAt = kV2PrefixSize, nIndex = 0, nLastAt = 0;
            while (nAt + 4 <= good.size()) {
                nLastAt = nAt;
                nAt += 4 + (uint8_t(good[nAt]) | uint8_t(good[nAt + 1]) << 8);
                ++nIndex;
            }
            text = "The file was altered or damaged at record " + std::to_string(nIndex - 1) + " (byte offset " +
                   std::to_string(nLastAt) + ").";
        }
        Run({"a._xt"}, kDecrypt, [&](CUser& u) {
            AnswerSettings(u, c.pszPassword, 0, false, false);
            AnswerMessage(u, strCannot + text + "\nNothing was written." + kPrompt, IDOK);
        });
        EXPECT_EQ(std::vector<std::string>{"a._xt"}, ListFolder(m_folder));
    }
}

// A container names the file it restores, and whoever made it chose that
// name: the output lands beside the container under a name safe to create,
// never over an existing file, never outside the folder. (Wine shows a
// stream name as part of a file name and knows no devices: what the
// system would make of "a.txt:evil" or "CON" only Windows can show; here
// the names must simply come out changed.)
TEST_F(BatchUi, HostileStoredNamesLandBesideTheContainer)
{
    const std::string longest(300, 'L');
    const struct {
        const char* pszBox;
        std::string stored, restored;
    } kCases[] = {
        {"n01._xt", "..\\..\\evil1.txt", "evil1.txt"},
        {"n02._xt", "C:\\evil2.txt", "evil2.txt"},
        {"n03._xt", "\\\\server\\share\\evil3.txt", "evil3.txt"},
        {"n04._xt", "../evil4.txt", "evil4.txt"},
        {"n05._xt", "keep.txt:evil", "keep1.txt"},  // keep.txt is there already
        {"n06._xt", "CON", "_CON"},
        {"n07._xt", "aux.txt", "_aux.txt"},
        {"n08._xt", "trail. . ", "trail"},
        {"n09._xt", "\x01\x1b]0;x\x07" "ctl.txt", "]0;xctl.txt"},
        {"n10._xt", longest + ".txt", std::string(251, 'L') + ".txt"},
        {"n11._xt", "n11._xt", "n13._xt"},  // its own name: n11 and n12 are taken
        {"n12._xt", "..", "n12._xt.out"},
    };
    SealedBox box("right");
    WriteFile(Path("keep.txt"), "kept");
    std::vector<std::string> boxes, expected = {"keep.txt"};
    for (const auto& c : kCases) {
        WriteFile(Path(c.pszBox), box.Seal(c.stored, SampleData(1000, unsigned(boxes.size()))));
        boxes.push_back(c.pszBox);
        expected.push_back(c.pszBox);
        expected.push_back(c.restored);
    }
    Run(boxes, kDecrypt, [&](CUser& u) {
        AnswerSettings(u, "right", 0, true, false);
        EXPECT_FALSE(u.Appears(kMessageCaption, 20000));
    });
    std::sort(expected.begin(), expected.end());
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    EXPECT_EQ(expected, ListFolder(m_folder));
    EXPECT_EQ("kept", ReadFile(Path("keep.txt")));
    EXPECT_TRUE(SampleData(1000, 9) == ReadFile(Path(kCases[9].restored)));
    const std::string parent = m_folder.substr(0, m_folder.rfind('\\'));
    for (const std::string& path : {parent + "\\evil1.txt", parent + "\\evil4.txt", std::string("C:\\evil2.txt")})
        EXPECT_FALSE(Exists(path)) << path;
}

TEST_F(BatchUi, UnreadableSourceIsReportedAsAReadFailure)
{
    MakeFiles({{"a.txt", 2000}});
    HANDLE hLock = CreateFileA(Path("a.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hLock);
    Run({"a.txt"}, kEncrypt, [&](CUser& u) {
        AnswerSettings(u, "pass", 0, false);
        AnswerMessage(u, "Kestrin was unable to read the file : " + Path("a.txt") + "." + kPrompt, IDCANCEL);
    });
    CloseHandle(hLock);
    EXPECT_EQ(std::vector<std::string>{"a.txt"}, ListFolder(m_folder));
}

TEST_F(BatchUi, DamagedBlockIsReportedAsAnInflateFailure)
{
    MakeFiles({{"a.txt", 20000}});
    Run({"a.txt"}, kEncrypt, [&](CUser& u) { AnswerSettings(u, "pass", 0, false); });
    std::string container = ReadFile(Path("a._xt"));
    ASSERT_GT(container.size(), 200u);
    container[container.size() - 20] ^= 0x55;  // inside the last block's body
    WriteFile(Path("a._xt"), container);
    MoveFileA(Path("a.txt").c_str(), Path("a.orig").c_str());
    Run({"a._xt"}, kDecrypt, [&](CUser& u) {
        AnswerSettings(u, "pass", 0, false, false);
        AnswerMessage(u,
                      "Kestrin was unable to inflate the file : " + Path("a._xt") +
                          ".\nThe file format is not recognized.\nOnly the part before the damage was restored, as " +
                          Path("a.txt") + "." + kPrompt,
                      IDOK);
    });
    EXPECT_EQ(ReadFile(Path("a.orig")).substr(0, ReadFile(Path("a.txt")).size()), ReadFile(Path("a.txt")));
}

// The restored name, of the longest length a name may have, is taken (the
// original is still there): the number takes the place of the stem's last
// character, as one more character would make a name no system creates.
TEST_F(BatchUi, ATakenNameOfTheLongestLengthIsNumberedWithinIt)
{
    const std::string stem(251, 'L');
    const std::string plain = "C:\\" + stem + ".txt";  // 255 characters in the name, 258 in the path
    const std::string container = "C:\\" + stem + "._xt";
    const std::string numbered = "C:\\" + stem.substr(1) + "1.txt";
    WriteFile(plain, "short text");
    for (UINT nCommand : {kEncrypt, kDecrypt}) {
        IContextMenu* pMenu = CKestrin::Get().CreateMenuFor({nCommand == kEncrypt ? plain : container});
        CUser user([&](CUser& u) {
            AnswerSettings(u, "pass", 0, false, nCommand == kEncrypt);
            EXPECT_FALSE(u.Appears(kMessageCaption, 20000));
        });
        EXPECT_EQ(S_OK, user.Invoke(pMenu, nCommand, nullptr));
        EXPECT_EQ("", user.Failure());
        pMenu->Release();
    }
    EXPECT_EQ("short text", ReadFile(numbered));
    for (const std::string& path : {plain, container, numbered})
        DeleteFileA(path.c_str());
}

// Wine keeps names as UTF-8 on the Linux side, where a name has at most 255
// bytes: 200 "é" make a name Windows takes and Wine cannot create. The
// message names the path the decrypt routine tried to create, not the
// container.
TEST_F(BatchUi, WriteFailureNamesThePathTheDecryptRoutineTriedToCreate)
{
    std::string name;
    for (int i = 0; i < 200; ++i)
        name += "\xC3\xA9";
    name += ".txt";
    WriteFile(Path("a._xt"), SealedBox("pass").Seal(name, "short text"));
    Run({"a._xt"}, kDecrypt, [&](CUser& u) {
        AnswerSettings(u, "pass", 0, false, false);
        AnswerMessage(u, "Kestrin was unable to write the file : " + Path(name) + "." + kPrompt, IDOK);
    });
    EXPECT_EQ(std::vector<std::string>{"a._xt"}, ListFolder(m_folder));
}

// ---------------------------------------------------------------- what starts nothing

TEST_F(BatchUi, FolderOnlySelectionAsksNothing)
{
    CreateDirectoryA(Path("one").c_str(), nullptr);
    CreateDirectoryA(Path("two").c_str(), nullptr);
    auto enables = Run({"one", "two"}, kEncrypt, [&](CUser& u) {
        EXPECT_FALSE(u.Appears(kSettingsCaption, 60000));
        EXPECT_FALSE(u.Appears(kMessageCaption, 1));
    });
    EXPECT_EQ(kEnabledAround, enables);
    EXPECT_EQ((std::vector<std::string>{"one", "two"}), ListFolder(m_folder));
    EXPECT_EQ(nullptr, FindWindowA("#32770", kBusyCaption));
}

// Removes the links a test made on every way out: Wine's own calls would
// delete what they lead to.
class CUnixLinks {
public:
    ~CUnixLinks()
    {
        for (const std::string& link : m_links) {
            try {
                RemoveUnixLink(link);
            } catch (const std::exception& e) {
                ADD_FAILURE() << e.what();
            }
        }
    }
    void Make(const std::string& target, const std::string& link)
    {
        MakeUnixLink(target, link);
        m_links.push_back(link);
    }

private:
    std::vector<std::string> m_links;
};

// A folder stands for the files in it, all the way down. Encrypting skips
// what are containers already, decrypting takes only containers. Links to
// folders are never followed (Wine shows a Unix link to a folder as a folder
// with the reparse-point attribute; it can make neither junctions nor
// Windows links); a link to a file is a file (Wine shows it as a plain
// file); a temporary file a crash left is none of the user's. The busy
// dialog counts every file.
TEST_F(BatchUi, AFolderStandsForTheFilesInItAllTheWayDown)
{
    for (const char* pszFolder : {"root", "root\\sub", "root\\sub\\nested", "outside"})
        MakeFolder(Path(pszFolder));
    auto files = MakeFiles({{"root\\a.txt", 3000},
                            {"root\\box.txt", 100},
                            {"root\\sub\\b.txt", 5000},
                            {"root\\sub\\.kestrin-0123abcd.partial", 100},  // what a crash left
                            {"root\\sub\\nested\\c.txt", 70000},
                            {"outside\\e.txt", 200},
                            {"outside\\f.txt", 300}});
    Run({"root\\box.txt"}, kEncrypt, [](CUser& u) { AnswerSettings(u, "pass", 3, false); });
    RemoveFile(Path("root\\box.txt"));  // its container stays in the tree
    CUnixLinks links;
    links.Make(Path("outside"), Path("root\\linked"));
    links.Make("..", Path("root\\sub\\loop"));
    links.Make(Path("outside\\f.txt"), Path("root\\flink"));
    const DWORD kKind = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    EXPECT_EQ(kKind, GetFileAttributesA(Path("root\\linked").c_str()) & kKind);
    EXPECT_EQ(0u, GetFileAttributesA(Path("root\\flink").c_str()) & kKind);

    const std::vector<std::string> order = {"root\\sub\\nested\\c.txt", "root\\sub\\b.txt", "root\\flink",
                                            "root\\a.txt"};
    Run({"root"}, kEncrypt, [&](CUser& u) {
        for (size_t i = 0; i < order.size(); ++i) {
            HWND h = u.WaitWindow(kSettingsCaption);
            EXPECT_EQ(Path(order[i]), ControlText(h, kFileName));
            if (i == 1) {
                EXPECT_EQ("Processing file 1 of 4", ControlText(FindWindowA("#32770", kBusyCaption), kCount));
            }
            TypeText(h, kPassword, "pass");
            TypeText(h, kConfirm, "pass");
            SelectItem(h, kMethod, 2);
            Press(h, IDOK);
            u.WaitGone(h);
        }
    });
    EXPECT_EQ((std::vector<std::string>{"a._xt", "a.txt", "box._xt", "flink", "flink._", "linked", "sub"}),
              ListFolder(Path("root")));
    EXPECT_EQ((std::vector<std::string>{".kestrin-0123abcd.partial", "b._xt", "b.txt", "loop", "nested"}),
              ListFolder(Path("root\\sub")));
    EXPECT_EQ((std::vector<std::string>{"c._xt", "c.txt"}), ListFolder(Path("root\\sub\\nested")));
    EXPECT_EQ((std::vector<std::string>{"e.txt", "f.txt"}), ListFolder(Path("outside")));

    for (const char* pszPlain : {"root\\a.txt", "root\\sub\\b.txt", "root\\sub\\nested\\c.txt"})
        RemoveFile(Path(pszPlain));
    // A search's results may show a folder and a file in it side by side.
    Run({"root", "root\\a._xt"}, kDecrypt, [&](CUser& u) {
        AnswerSettings(u, "pass", 0, true, false);
        EXPECT_FALSE(u.Appears(kSettingsCaption, 60000));
        EXPECT_FALSE(u.Appears(kMessageCaption, 1)) << "the files that are no containers are left alone";
    });
    for (const char* pszPlain : {"root\\a.txt", "root\\box.txt", "root\\sub\\b.txt", "root\\sub\\nested\\c.txt"})
        EXPECT_EQ(files[pszPlain], ReadFile(Path(pszPlain))) << pszPlain;
    EXPECT_EQ(files["outside\\f.txt"], ReadFile(Path("root\\flink1"))) << "the link's name is taken by the link";
    EXPECT_FALSE(Exists(Path("root\\a1.txt"))) << "a file selected twice is decrypted once";
    EXPECT_EQ((std::vector<std::string>{"e.txt", "f.txt"}), ListFolder(Path("outside")));
    EXPECT_EQ(files["outside\\f.txt"], ReadFile(Path("outside\\f.txt")));
}

TEST_F(BatchUi, UnknownVerbStringDoesNothing)
{
    MakeFiles({{"a.txt", 100}});
    IContextMenu* pMenu = CKestrin::Get().CreateMenuFor(Paths({"a.txt"}));
    COwnerWindow owner;
    CMINVOKECOMMANDINFO ci{};
    ci.cbSize = sizeof ci;
    ci.hwnd = owner.Handle();
    ci.lpVerb = "open";
    EXPECT_EQ(S_OK, pMenu->InvokeCommand(&ci));
    pMenu->Release();
    EXPECT_TRUE(owner.Collect().enables.empty()) << "no WM_ENABLE for a verb string";
    EXPECT_EQ(std::vector<std::string>{"a.txt"}, ListFolder(m_folder));
}

}  // namespace
