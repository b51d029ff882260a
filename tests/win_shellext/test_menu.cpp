// The context menu as the shell drives it: the submenu read back from a real
// menu for every flag combination, the verb and help strings, and which
// invocations run a batch.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <cstring>
#include <string>
#include <vector>

#include "MenuImageCheck.h"
#include "TestSupport.h"
#include "shellext/ShellExtGuid.h"

namespace {
const UINT kFirst = 100;

struct MenuItem {
    std::string text;
    UINT id;
    UINT type;
    HMENU submenu;
    HBITMAP checked;
    HBITMAP unchecked;
    HBITMAP bitmap;
};

std::vector<MenuItem> ReadMenu(HMENU hmenu)
{
    std::vector<MenuItem> items;
    for (int i = 0; i < GetMenuItemCount(hmenu); ++i) {
        char text[128] = {};
        MENUITEMINFOA info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_STRING | MIIM_ID | MIIM_FTYPE | MIIM_SUBMENU | MIIM_CHECKMARKS | MIIM_BITMAP;
        info.dwTypeData = text;
        info.cch = sizeof(text);
        EXPECT_TRUE(GetMenuItemInfoA(hmenu, UINT(i), TRUE, &info));
        items.push_back(
            {text, info.wID, info.fType, info.hSubMenu, info.hbmpChecked, info.hbmpUnchecked, info.hbmpItem});
    }
    return items;
}

class CMenuHandle {
public:
    CMenuHandle() : m_h(CreatePopupMenu()) {}
    ~CMenuHandle() { DestroyMenu(m_h); }
    CMenuHandle(const CMenuHandle&) = delete;
    CMenuHandle& operator=(const CMenuHandle&) = delete;
    operator HMENU() const { return m_h; }

private:
    HMENU m_h;
};

class ContextMenu : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CoCreateInstance(CLSID_ShellExt, nullptr, CLSCTX_INPROC_SERVER, IID_IContextMenu,
                                   m_menu.ReceiveVoid()),
                  S_OK);
    }
    CComRef<IContextMenu> m_menu;
};

// The "Kestrin" popup with the two commands at kFirst and kFirst + 1.
void ExpectSubmenu(const MenuItem& item)
{
    EXPECT_EQ(item.text, "Kestrin");
    ASSERT_NE(item.submenu, nullptr);
    std::vector<MenuItem> sub = ReadMenu(item.submenu);
    ASSERT_EQ(sub.size(), 2u);
    EXPECT_EQ(sub[0].text, "Encrypt with Kestrin");
    EXPECT_EQ(sub[0].id, kFirst);
    EXPECT_EQ(sub[1].text, "Decrypt with Kestrin");
    EXPECT_EQ(sub[1].id, kFirst + 1);
    for (const MenuItem& s : sub) {
        EXPECT_EQ(s.type & MFT_SEPARATOR, 0u);
        EXPECT_EQ(s.submenu, nullptr);
    }
    // The item's own image at the small-icon size of this DPI, not a check mark.
    EXPECT_EQ(DescribeMenuImage(item.bitmap), ExpectedMenuImage(GetSystemMetrics(SM_CXSMICON)));
    EXPECT_EQ(item.checked, nullptr);
    EXPECT_EQ(item.unchecked, nullptr);
}

struct FlagCase {
    const char* name;
    UINT uFlags;
    bool bAdds;
};

const FlagCase kFlagCases[] = {
    {"Normal", CMF_NORMAL, true},
    {"DefaultOnly", CMF_DEFAULTONLY, false},
    {"VerbsOnly", CMF_VERBSONLY, true},
    {"Explore", CMF_EXPLORE, true},
    {"NoVerbs", CMF_NOVERBS, false},
    {"DefaultOnlyNoVerbs", CMF_DEFAULTONLY | CMF_NOVERBS, false},
    {"DefaultOnlyVerbsOnly", CMF_DEFAULTONLY | CMF_VERBSONLY, true},
    {"DefaultOnlyExplore", CMF_DEFAULTONLY | CMF_EXPLORE, true},
    {"NoVerbsVerbsOnly", CMF_NOVERBS | CMF_VERBSONLY, true},
    {"NoVerbsExplore", CMF_NOVERBS | CMF_EXPLORE, true},
    {"VerbsOnlyExplore", CMF_VERBSONLY | CMF_EXPLORE, true},
    {"DefaultOnlyVerbsOnlyExplore", CMF_DEFAULTONLY | CMF_VERBSONLY | CMF_EXPLORE, true},
    {"DefaultOnlyNoVerbsVerbsOnly", CMF_DEFAULTONLY | CMF_NOVERBS | CMF_VERBSONLY, true},
    {"DefaultOnlyNoVerbsExplore", CMF_DEFAULTONLY | CMF_NOVERBS | CMF_EXPLORE, true},
    {"NoVerbsVerbsOnlyExplore", CMF_NOVERBS | CMF_VERBSONLY | CMF_EXPLORE, true},
    {"AllLowFour", 0x0F, true},
    {"CanRename", CMF_CANRENAME, true},
    {"ExtendedVerbs", CMF_EXTENDEDVERBS, true},
    {"ExtendedVerbsDefaultOnly", CMF_EXTENDEDVERBS | CMF_DEFAULTONLY, false},
    {"CanRenameNoVerbs", CMF_CANRENAME | CMF_NOVERBS, false},
};

class QueryContextMenuFlags : public ContextMenu, public testing::WithParamInterface<FlagCase> {};
}  // namespace

TEST_P(QueryContextMenuFlags, InsertsTheSubmenuOrNothing)
{
    const FlagCase& c = GetParam();
    CMenuHandle hmenu;
    AppendMenuA(hmenu, MF_STRING, 1, "Open");
    AppendMenuA(hmenu, MF_STRING, 2, "Properties");
    HRESULT hr = m_menu->QueryContextMenu(hmenu, 1, kFirst, kFirst + 50, c.uFlags);
    std::vector<MenuItem> items = ReadMenu(hmenu);
    if (!c.bAdds) {
        EXPECT_EQ(hr, MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0));
        EXPECT_EQ(items.size(), 2u);
        return;
    }
    EXPECT_EQ(hr, MAKE_HRESULT(SEVERITY_SUCCESS, 0, 2));
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].text, "Open");
    ExpectSubmenu(items[1]);
    EXPECT_EQ(items[2].text, "Properties");
}

INSTANTIATE_TEST_SUITE_P(Flags, QueryContextMenuFlags, testing::ValuesIn(kFlagCases),
                         [](const testing::TestParamInfo<FlagCase>& info) { return std::string(info.param.name); });

TEST_F(ContextMenu, EmptyMenuGetsTheSubmenuFirst)
{
    CMenuHandle hmenu;
    EXPECT_EQ(m_menu->QueryContextMenu(hmenu, 0, kFirst, kFirst + 50, CMF_NORMAL), 2);
    std::vector<MenuItem> items = ReadMenu(hmenu);
    ASSERT_EQ(items.size(), 1u);
    ExpectSubmenu(items[0]);
}

// idCmdLast is the last identifier the handler may take; the next ones
// belong to other handlers. Two are needed, or nothing is added.
TEST_F(ContextMenu, IdentifiersStayWithinIdCmdLast)
{
    const struct {
        UINT idLast;
        HRESULT hr;
    } cases[] = {{0, 0}, {1, 0}, {2, 2}};
    for (const auto& c : cases) {
        CMenuHandle hmenu;
        EXPECT_EQ(m_menu->QueryContextMenu(hmenu, 0, 1, c.idLast, CMF_NORMAL), c.hr) << "idCmdLast " << c.idLast;
        std::vector<MenuItem> items = ReadMenu(hmenu);
        ASSERT_EQ(items.size(), c.hr ? 1u : 0u) << "idCmdLast " << c.idLast;
        if (c.hr) {
            std::vector<MenuItem> sub = ReadMenu(items[0].submenu);
            ASSERT_EQ(sub.size(), 2u);
            EXPECT_EQ(sub[1].id, 2u);
        }
    }
}

// A host may destroy its menu only after it has released the handler.
TEST_F(ContextMenu, MenuImageOutlivesTheHandler)
{
    CMenuHandle hmenu;
    ASSERT_EQ(m_menu->QueryContextMenu(hmenu, 0, kFirst, kFirst + 50, CMF_NORMAL), 2);
    m_menu.Reset();
    std::vector<MenuItem> items = ReadMenu(hmenu);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(DescribeMenuImage(items[0].bitmap), ExpectedMenuImage(GetSystemMetrics(SM_CXSMICON)));
}

// Explorer may pass a position past the end; the image must follow the item.
TEST_F(ContextMenu, PositionPastTheEndAppends)
{
    CMenuHandle hmenu;
    AppendMenuA(hmenu, MF_STRING, 1, "Open");
    EXPECT_EQ(m_menu->QueryContextMenu(hmenu, 40, kFirst, kFirst + 50, CMF_EXPLORE), 2);
    std::vector<MenuItem> items = ReadMenu(hmenu);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].text, "Open");
    EXPECT_EQ(items[0].bitmap, nullptr);
    ExpectSubmenu(items[1]);
}

// ---------------------------------------------------------------------------
// GetCommandString

namespace {
struct TextCase {
    UINT_PTR idCmd;
    bool bHelp;
    UINT cchMax;
    const char* expect;
};

const TextCase kTextCases[] = {
    {0, false, 64, "EncryptFile"},
    {1, false, 64, "DecryptFile"},
    {2, false, 64, "Kestrin"},
    {7, false, 64, "Kestrin"},
    {0, true, 64, "Encrypt the selected file(s)"},
    {1, true, 64, "Decrypt the selected file(s)"},
    {7, true, 64, "Kestrin"},
    {0xFFFF, true, 64, "Kestrin"},
    {1, false, 5, "Decr"},
    {1, false, 12, "DecryptFile"},  // exactly fits with its terminator
    {1, false, 11, "DecryptFil"},
    {1, false, 1, ""},
    {0, true, 8, "Encrypt"},
    {7, true, 3, "Ke"},
};

const unsigned char kSentinel = 0x7E;

// Calls GetCommandString into a sentinel-filled buffer of units of Ch and
// returns what lies in the first `want` + 1 units, checking nothing else moved.
template <typename Ch>
void ExpectWritten(IContextMenu* pMenu, UINT uFlags, const TextCase& c)
{
    Ch buffer[80];
    std::memset(buffer, kSentinel, sizeof(buffer));
    HRESULT hr = pMenu->GetCommandString(c.idCmd, uFlags, nullptr, reinterpret_cast<CHAR*>(buffer), c.cchMax);
    EXPECT_EQ(hr, S_OK);
    size_t n = std::strlen(c.expect);
    std::basic_string<Ch> got(buffer, buffer + n);
    EXPECT_EQ(got, std::basic_string<Ch>(c.expect, c.expect + n));
    EXPECT_EQ(buffer[n], Ch(0));
    const unsigned char* raw = reinterpret_cast<const unsigned char*>(buffer);
    for (size_t b = (n + 1) * sizeof(Ch); b < sizeof(buffer); ++b)
        ASSERT_EQ(raw[b], kSentinel) << "byte " << b << " written past the text";
}

template <typename Ch>
bool Untouched(IContextMenu* pMenu, UINT_PTR idCmd, UINT uFlags, UINT cchMax)
{
    Ch buffer[40];
    std::memset(buffer, kSentinel, sizeof(buffer));
    EXPECT_EQ(pMenu->GetCommandString(idCmd, uFlags, nullptr, reinterpret_cast<CHAR*>(buffer), cchMax), S_OK);
    const unsigned char* raw = reinterpret_cast<const unsigned char*>(buffer);
    for (size_t b = 0; b < sizeof(buffer); ++b)
        if (raw[b] != kSentinel)
            return false;
    return true;
}
}  // namespace

TEST_F(ContextMenu, GetCommandStringNarrow)
{
    for (const TextCase& c : kTextCases) {
        SCOPED_TRACE(testing::Message() << "idCmd " << c.idCmd << " help " << c.bHelp << " cchMax " << c.cchMax);
        ExpectWritten<char>(m_menu.get(), c.bHelp ? GCS_HELPTEXTA : GCS_VERBA, c);
    }
}

TEST_F(ContextMenu, GetCommandStringWide)
{
    for (const TextCase& c : kTextCases) {
        SCOPED_TRACE(testing::Message() << "idCmd " << c.idCmd << " help " << c.bHelp << " cchMax " << c.cchMax);
        ExpectWritten<wchar_t>(m_menu.get(), c.bHelp ? GCS_HELPTEXTW : GCS_VERBW, c);
    }
}

TEST_F(ContextMenu, GetCommandStringWritesNothingElse)
{
    for (UINT_PTR idCmd : {UINT_PTR(0), UINT_PTR(1), UINT_PTR(7)}) {
        EXPECT_TRUE(Untouched<char>(m_menu.get(), idCmd, GCS_VALIDATEA, 40));
        EXPECT_TRUE(Untouched<wchar_t>(m_menu.get(), idCmd, GCS_VALIDATEW, 40));
        EXPECT_TRUE(Untouched<wchar_t>(m_menu.get(), idCmd, 0x14 /* GCS_VERBICONW */, 40));
        EXPECT_TRUE(Untouched<char>(m_menu.get(), idCmd, GCS_VERBA, 0));
        EXPECT_TRUE(Untouched<wchar_t>(m_menu.get(), idCmd, GCS_HELPTEXTW, 0));
    }
    EXPECT_EQ(m_menu->GetCommandString(0, GCS_VERBA, nullptr, nullptr, 64), S_OK);
}

// ---------------------------------------------------------------------------
// InvokeCommand: a batch that runs announces itself to the owner window with
// WM_ENABLE and ends with WM_ENABLE TRUE; an invocation we do not own posts
// nothing. No selection was given, so a batch ends at once.

namespace {
std::vector<WPARAM> g_enables;

LRESULT CALLBACK OwnerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_ENABLE)
        g_enables.push_back(wParam);
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

HWND MakeOwnerWindow()
{
    static const ATOM atom = [] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = OwnerProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "KestrinTestOwner";
        return RegisterClassA(&wc);
    }();
    return atom ? CreateWindowA("KestrinTestOwner", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr)
                : nullptr;
}

void PumpAll()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

struct InvokeCase {
    const char* name;
    bool bExtended;
    DWORD fMask;
    LPCSTR lpVerb;
    LPCWSTR lpVerbW;
    bool bRuns;
};

const InvokeCase kInvokeCases[] = {
    {"Offset0", false, 0, MAKEINTRESOURCEA(0), nullptr, true},
    {"Offset1", false, 0, MAKEINTRESOURCEA(1), nullptr, true},
    {"Offset2", false, 0, MAKEINTRESOURCEA(2), nullptr, false},
    {"Offset100", false, 0, MAKEINTRESOURCEA(100), nullptr, false},
    {"VerbEncrypt", false, 0, "EncryptFile", nullptr, true},
    {"VerbDecrypt", false, 0, "DecryptFile", nullptr, true},
    {"VerbLowerCase", false, 0, "decryptfile", nullptr, true},
    {"VerbOpen", false, 0, "open", nullptr, false},
    {"VerbProduct", false, 0, "Kestrin", nullptr, false},
    {"VerbEmpty", false, 0, "", nullptr, false},
    {"VerbLonger", false, 0, "EncryptFiles", nullptr, false},
    {"WideEncrypt", true, CMIC_MASK_UNICODE, "EncryptFile", L"EncryptFile", true},
    {"WideDecryptAnsiOther", true, CMIC_MASK_UNICODE, "x", L"DecryptFile", true},
    {"WideOnly", true, CMIC_MASK_UNICODE, MAKEINTRESOURCEA(0), L"DecryptFile", true},
    {"WideOpen", true, CMIC_MASK_UNICODE, "open", L"open", false},
    {"WideOffsets", true, CMIC_MASK_UNICODE, MAKEINTRESOURCEA(1), MAKEINTRESOURCEW(1), true},
    {"WideOffsetOther", true, CMIC_MASK_UNICODE, MAKEINTRESOURCEA(3), MAKEINTRESOURCEW(3), false},
    {"WideNotFlagged", true, 0, "open", L"EncryptFile", false},
    {"ShortRecordFlagged", false, CMIC_MASK_UNICODE, "open", L"EncryptFile", false},
};

class InvokeCommand : public ContextMenu, public testing::WithParamInterface<InvokeCase> {
protected:
    void SetUp() override
    {
        ContextMenu::SetUp();
        m_hwnd = MakeOwnerWindow();
        ASSERT_NE(m_hwnd, nullptr);
        PumpAll();
        g_enables.clear();
    }
    void TearDown() override
    {
        if (m_hwnd)
            DestroyWindow(m_hwnd);
    }
    HWND m_hwnd = nullptr;
};
}  // namespace

TEST_P(InvokeCommand, RunsOnlyOurCommands)
{
    const InvokeCase& c = GetParam();
    CMINVOKECOMMANDINFOEX info = {};
    info.cbSize = c.bExtended ? sizeof(CMINVOKECOMMANDINFOEX) : sizeof(CMINVOKECOMMANDINFO);
    info.fMask = c.fMask;
    info.hwnd = m_hwnd;
    info.lpVerb = c.lpVerb;
    info.lpVerbW = c.lpVerbW;
    info.nShow = SW_SHOWNORMAL;
    EXPECT_EQ(m_menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&info)), S_OK);
    PumpAll();
    if (c.bRuns) {
        ASSERT_FALSE(g_enables.empty());
        EXPECT_EQ(g_enables.back(), WPARAM(TRUE));
    } else {
        EXPECT_TRUE(g_enables.empty()) << g_enables.size() << " WM_ENABLE posted";
    }
}

INSTANTIATE_TEST_SUITE_P(Verbs, InvokeCommand, testing::ValuesIn(kInvokeCases),
                         [](const testing::TestParamInfo<InvokeCase>& info) { return std::string(info.param.name); });

TEST_F(ContextMenu, InvokeWithoutOwnerWindow)
{
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof(info);
    info.lpVerb = MAKEINTRESOURCEA(1);
    EXPECT_EQ(m_menu->InvokeCommand(&info), S_OK);
    EXPECT_EQ(m_menu->InvokeCommand(nullptr), S_OK);  // a careless host: nothing runs
    PumpAll();
}
