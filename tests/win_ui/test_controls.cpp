// The busy dialog's two custom controls painted into memory device contexts,
// and the texts of the failure messages.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "container/Messages.h"
#include "ui/EllipsisLabel.h"
#include "ui/GradientProgressCtrl.h"
#include "ui/MemoryDC.h"

namespace {

// A 32-bit DIB selected into a memory context: colours read back exactly.
class CDibCanvas {
public:
    CDibCanvas(int cx, int cy, COLORREF clrFill) : m_cx(cx), m_cy(cy)
    {
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = cx;
        bi.bmiHeader.biHeight = -cy;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        void* pBits = nullptr;
        m_hBitmap = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &pBits, nullptr, 0);
        m_dc.CreateCompatibleDC(nullptr);
        m_hOld = SelectObject(m_dc, m_hBitmap);
        RECT rc{0, 0, cx, cy};
        m_dc.FillSolidRect(&rc, clrFill);
    }
    ~CDibCanvas()
    {
        SelectObject(m_dc, m_hOld);
        DeleteObject(m_hBitmap);
    }
    CDC& DC() { return m_dc; }
    COLORREF At(int x, int y) const { return m_dc.GetPixel(x, y); }
    bool SameAs(const CDibCanvas& other) const
    {
        for (int y = 0; y < m_cy; ++y)
            for (int x = 0; x < m_cx; ++x)
                if (At(x, y) != other.At(x, y))
                    return false;
        return true;
    }

private:
    int m_cx, m_cy;
    CDC m_dc;
    HBITMAP m_hBitmap;
    HGDIOBJ m_hOld;
};

const COLORREF kGreen = RGB(0, 200, 0);

// A hidden parent that answers WM_GETFONT as a dialog does.
LRESULT CALLBACK ParentProc(HWND h, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_GETFONT)
        return reinterpret_cast<LRESULT>(GetStockObject(DEFAULT_GUI_FONT));
    return DefWindowProcA(h, msg, wp, lp);
}

HWND MakeParent()
{
    static bool s_bRegistered = false;
    if (!s_bRegistered) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = ParentProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "KestrinTestParent";
        RegisterClassA(&wc);
        INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&icc);
        s_bRegistered = true;
    }
    // Shown: a hidden window collects no update region.
    HWND h = CreateWindowA("KestrinTestParent", "parent", WS_POPUP, 0, 0, 400, 100, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
    ShowWindow(h, SW_SHOWNOACTIVATE);
    return h;
}

// ---------------------------------------------------------------- gradient bar

const int kBarWidth = 250, kBarHeight = 12;

bool IsRed(COLORREF clr) { return GetRValue(clr) >= 250 && GetGValue(clr) == 0 && GetBValue(clr) <= 5; }

class GradientBar : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_hParent = MakeParent();
        HWND h = CreateWindowA(PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 0, 0, kBarWidth, kBarHeight, m_hParent,
                               nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_TRUE(m_bar.SubclassWindow(h));
    }
    void TearDown() override { DestroyWindow(m_hParent); }

    // The bar as it paints at this moment, on a green canvas.
    std::unique_ptr<CDibCanvas> Painted()
    {
        auto canvas = std::make_unique<CDibCanvas>(kBarWidth, kBarHeight, kGreen);
        m_bar.Paint(&canvas->DC());
        return canvas;
    }
    static bool AllColumns(const CDibCanvas& c, int x0, int x1, COLORREF clr)
    {
        for (int x = x0; x < x1; ++x)
            for (int y = 0; y < kBarHeight; ++y)
                if (c.At(x, y) != clr)
                    return false;
        return true;
    }

    HWND m_hParent = nullptr;
    CGradientProgressCtrl m_bar;
};

TEST_F(GradientBar, EmptyAtTheLowerAndAtTheUpperBound)
{
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    m_bar.SetRange(0, 101);
    EXPECT_TRUE(AllColumns(*Painted(), 0, kBarWidth, face)) << "position 0";
    m_bar.SetPos(101);
    EXPECT_TRUE(AllColumns(*Painted(), 0, kBarWidth, face)) << "position at the upper bound";
    m_bar.SetPos(100);
    m_bar.SetStep(10);
    m_bar.StepIt();
    EXPECT_EQ(110, m_bar.m_nPos) << "the copy is not clamped";
    EXPECT_TRUE(AllColumns(*Painted(), 0, kBarWidth, face)) << "stepped past the upper bound";
}

TEST_F(GradientBar, NearlyFullRunsFromRedToBlueThenBackground)
{
    m_bar.SetRange(0, 101);
    m_bar.SetPos(100);
    auto c = Painted();
    const int fill = 100 * kBarWidth / 101;  // 247
    // Bands are narrower than a pixel here: the first column shows band 1.
    EXPECT_TRUE(IsRed(c->At(0, 0)));
    EXPECT_TRUE(IsRed(c->At(0, kBarHeight - 1)));
    COLORREF right = c->At(fill - 1, kBarHeight / 2);
    EXPECT_LT(GetRValue(right), 10);
    EXPECT_EQ(0, GetGValue(right));
    EXPECT_GT(GetBValue(right), 245);
    COLORREF mid = c->At(kBarWidth / 2, 3);
    EXPECT_NEAR(128, GetRValue(mid), 3);
    EXPECT_NEAR(127, GetBValue(mid), 3);
    EXPECT_TRUE(AllColumns(*c, kBarWidth - 1, kBarWidth, m_bar.m_clrBkgnd)) << "past the filled width";
    for (int x = 1; x < fill; ++x)
        ASSERT_LE(GetRValue(c->At(x, 5)), GetRValue(c->At(x - 1, 5))) << "red falls from left to right, x=" << x;
}

TEST_F(GradientBar, HalfwayDrawsTheCrossingBandAndBackgroundAfterIt)
{
    m_bar.SetRange(0, 2);
    m_bar.SetPos(1);
    auto c = Painted();
    EXPECT_TRUE(IsRed(c->At(0, 0)));
    COLORREF last = c->At(124, 4);
    EXPECT_NE(m_bar.m_clrBkgnd, last);
    EXPECT_NEAR(128, GetRValue(last), 3);
    EXPECT_TRUE(AllColumns(*c, 127, kBarWidth, m_bar.m_clrBkgnd));
}

TEST_F(GradientBar, AColumnKeepsItsColourAsTheBarGrows)
{
    m_bar.SetRange(0, 101);
    m_bar.SetPos(40);
    COLORREF at40 = Painted()->At(60, 6);
    m_bar.SetPos(100);
    EXPECT_EQ(at40, Painted()->At(60, 6));
}

// A bar whose window was never made (the busy dialog could not be created)
// must not repaint the whole desktop: a null window means all of them.
TEST(GradientBarWithoutWindow, ChangesInvalidateNothing)
{
    HWND hOther = CreateWindowA("STATIC", "other", WS_POPUP | WS_VISIBLE, 0, 0, 80, 40, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(hOther, nullptr);
    UpdateWindow(hOther);
    ASSERT_FALSE(GetUpdateRect(hOther, nullptr, FALSE));
    CGradientProgressCtrl bar;
    bar.SetRange(0, 101);
    bar.SetStep(1);
    for (int i = 0; i < 5; ++i) {
        bar.SetPos(i);
        bar.StepIt();
    }
    EXPECT_FALSE(GetUpdateRect(hOther, nullptr, FALSE));
    DestroyWindow(hOther);
}

TEST(MemoryDC, CopiesOnlyTheTargetsClipBoxToTheSamePlace)
{
    CDibCanvas target(100, 20, kGreen);
    IntersectClipRect(target.DC(), 10, 2, 60, 8);
    {
        CMemoryDC mem(&target.DC());
        RECT all{0, 0, 100, 20};
        mem.FillSolidRect(&all, RGB(200, 0, 0));
        RECT dot{20, 4, 21, 5};  // drawn in the target's coordinates
        mem.FillSolidRect(&dot, RGB(0, 0, 200));
    }
    SelectClipRgn(target.DC(), nullptr);
    EXPECT_EQ(RGB(200, 0, 0), target.At(10, 2));
    EXPECT_EQ(RGB(200, 0, 0), target.At(59, 7));
    EXPECT_EQ(RGB(0, 0, 200), target.At(20, 4));
    EXPECT_EQ(kGreen, target.At(9, 2));
    EXPECT_EQ(kGreen, target.At(60, 7));
    EXPECT_EQ(kGreen, target.At(30, 8));
}

// ---------------------------------------------------------------- ellipsis label

const int kLabelWidth = 140, kLabelHeight = 16;

class EllipsisLabelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_hParent = MakeParent();
        HWND h = CreateWindowA("STATIC", "", WS_CHILD | WS_VISIBLE | SS_LEFT, 0, 0, kLabelWidth, kLabelHeight,
                               m_hParent, nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_TRUE(m_label.SubclassWindow(h));
    }
    void TearDown() override { DestroyWindow(m_hParent); }

    std::unique_ptr<CDibCanvas> Painted(const char* pszText)
    {
        m_label.SetWindowText(pszText);
        auto c = std::make_unique<CDibCanvas>(kLabelWidth, kLabelHeight, kGreen);
        m_label.Paint(&c->DC());
        return c;
    }
    // The same text drawn directly, in the parent's font, with these flags.
    static std::unique_ptr<CDibCanvas> Reference(const char* pszText, UINT nFlags)
    {
        auto c = std::make_unique<CDibCanvas>(kLabelWidth, kLabelHeight, kGreen);
        SelectObject(c->DC(), GetStockObject(DEFAULT_GUI_FONT));
        SetTextColor(c->DC(), GetSysColor(COLOR_BTNTEXT));
        RECT rc{0, 0, kLabelWidth, kLabelHeight};
        std::string s = pszText;
        DrawTextExA(c->DC(), &s[0], -1, &rc, nFlags, nullptr);
        return c;
    }

    HWND m_hParent = nullptr;
    CEllipsisLabel m_label{DT_NOPREFIX | DT_VCENTER};
};

const UINT kLabelFlags = DT_NOPREFIX | DT_VCENTER | DT_END_ELLIPSIS;

TEST_F(EllipsisLabelTest, ALongPathEndsInAnEllipsis)
{
    const char path[] = "C:\\Users\\someone\\Documents\\Quarterly reports\\2024\\final\\report.txt";
    auto painted = Painted(path);
    EXPECT_TRUE(painted->SameAs(*Reference(path, kLabelFlags)));
    EXPECT_FALSE(painted->SameAs(*Reference(path, DT_NOPREFIX | DT_VCENTER))) << "the cut is not plain clipping";
    // What the cut text reads: the start of the path, then "...".
    std::string s(path);
    s.resize(s.size() + 8);
    RECT rc{0, 0, kLabelWidth, kLabelHeight};
    HDC hdc = painted->DC();
    SelectObject(hdc, GetStockObject(DEFAULT_GUI_FONT));
    DrawTextExA(hdc, &s[0], -1, &rc, kLabelFlags | DT_MODIFYSTRING | DT_CALCRECT, nullptr);
    s.resize(std::strlen(s.c_str()));
    ASSERT_GT(s.size(), 3u);
    EXPECT_EQ("...", s.substr(s.size() - 3));
    EXPECT_EQ(0u, std::string(path).find(s.substr(0, s.size() - 3)));
}

TEST_F(EllipsisLabelTest, AnAmpersandIsDrawnAsItself)
{
    const char name[] = "Tom&Jerry.txt";
    auto painted = Painted(name);
    EXPECT_TRUE(painted->SameAs(*Reference(name, kLabelFlags)));
    EXPECT_FALSE(painted->SameAs(*Reference(name, DT_VCENTER | DT_END_ELLIPSIS))) << "not a mnemonic marker";
}

TEST_F(EllipsisLabelTest, AShortTextIsDrawnUnchangedAtTheLeft)
{
    auto painted = Painted("a.txt");
    EXPECT_TRUE(painted->SameAs(*Reference("a.txt", DT_NOPREFIX | DT_VCENTER)));
    EXPECT_EQ(kGreen, painted->At(kLabelWidth - 1, kLabelHeight / 2)) << "nothing drawn at the right";
}

TEST_F(EllipsisLabelTest, SettingTheTextRepaintsEvenWhenUnchanged)
{
    for (int i = 0; i < 2; ++i) {
        ValidateRect(m_label.m_hWnd, nullptr);
        EXPECT_EQ(TRUE, SendMessageA(m_label.m_hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("same")));
        RECT rc;
        EXPECT_TRUE(GetUpdateRect(m_label.m_hWnd, &rc, FALSE)) << "pass " << i;
        CString s;
        m_label.GetWindowText(s);
        EXPECT_STREQ("same", s);
    }
}

// The busy dialog's label: a long path is cut in its folders, so it still
// ends in the file name, and every character of the name is drawn.
TEST_F(EllipsisLabelTest, WithPathEllipsisTheFileNameStaysVisible)
{
    const wchar_t path[] = L"C:\\Users\\someone\\\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac\\"
                           L"Quarterly reports 2024\\\u65e5\u672c.txt";
    const UINT kPathFlags = DT_NOPREFIX | DT_VCENTER | DT_PATH_ELLIPSIS;
    m_label.m_nFormat = kPathFlags;
    char utf8[256];
    WideCharToMultiByte(CP_UTF8, 0, path, -1, utf8, sizeof utf8, nullptr, nullptr);
    auto painted = Painted(utf8);
    CString shown;
    m_label.GetWindowText(shown);
    EXPECT_STREQ(utf8, shown) << "the text keeps every character";

    auto reference = std::make_unique<CDibCanvas>(kLabelWidth, kLabelHeight, kGreen);
    SelectObject(reference->DC(), GetStockObject(DEFAULT_GUI_FONT));
    SetTextColor(reference->DC(), GetSysColor(COLOR_BTNTEXT));
    std::wstring cut(path);
    cut.resize(cut.size() + 8);
    RECT rc{0, 0, kLabelWidth, kLabelHeight};
    DrawTextExW(reference->DC(), &cut[0], -1, &rc, kPathFlags | DT_MODIFYSTRING, nullptr);
    EXPECT_TRUE(painted->SameAs(*reference));
    cut.resize(std::wcslen(cut.c_str()));
    const std::wstring name = L"\\\u65e5\u672c.txt";
    ASSERT_GT(cut.size(), name.size());
    EXPECT_EQ(name, cut.substr(cut.size() - name.size())) << "ends in the file name";
    EXPECT_NE(std::wstring::npos, cut.find(L"...")) << "cut in the folders";
}

TEST_F(EllipsisLabelTest, EraseFillsWithTheButtonFace)
{
    CDibCanvas c(kLabelWidth, kLabelHeight, kGreen);
    EXPECT_EQ(TRUE, SendMessageA(m_label.m_hWnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(HDC(c.DC())), 0));
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), c.At(0, 0));
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), c.At(kLabelWidth - 1, kLabelHeight - 1));
}

// ---------------------------------------------------------------- failure texts

TEST(ResultMessages, TextsOfCodesOneToNine)
{
    const char path[] = "D:\\Docs\\report.txt";
    const std::string prompt = "\nPress OK to continue, or Cancel to Quit.";
    struct Row {
        int code;
        std::string text;
    } rows[] = {
        {1, "Kestrin was unable to read the file : D:\\Docs\\report.txt." + prompt},
        {2, "Kestrin was unable to write the file : D:\\Docs\\report.txt." + prompt},
        {3, "Kestrin encountered an out of memory condition and was unable to process the file : "
            "D:\\Docs\\report.txt." + prompt},
        {4, "Kestrin was unable to process the file : D:\\Docs\\report.txt.\nThe file format is not recognized." +
                prompt},
        {5, "Kestrin was unable to decrypt the file : D:\\Docs\\report.txt.\nThe file format is not recognized." +
                prompt},
        {6, "Kestrin was unable to inflate the file : D:\\Docs\\report.txt.\nThe file format is not recognized." +
                prompt},
        {7, "Kestrin was unable to deflate the file : D:\\Docs\\report.txt." + prompt},
        {8, "Kestrin was unable to encrypt the file : D:\\Docs\\report.txt." + prompt},
        {9, "Kestrin : Error 9"},
        {-3, "Kestrin : Error -3"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(r.text, std::string(FormatResultMessage(r.code, path, true).GetString())) << "code " << r.code;
}

// Authenticated containers: what the reader found, and that nothing was written.
TEST(ResultMessages, TextsOfAnAuthenticatedContainer)
{
    const char path[] = "D:\\Docs\\report._xt";
    const std::string head = "Kestrin was unable to decrypt the file : D:\\Docs\\report._xt.\n";
    const std::string tail = "\nNothing was written.\nPress OK to continue, or Cancel to Quit.";
    struct Row {
        CV2Fault fault;
        std::string text;
    };
    auto fault = [](int nKind, int nField, uint32_t nValue, int64_t nRecord, uint64_t nOffset) {
        CV2Fault f;
        f.nKind = nKind;
        f.nField = nField;
        f.nValue = nValue;
        f.nRecord = nRecord;
        f.nOffset = nOffset;
        return f;
    };
    const Row rows[] = {
        {fault(V2_FAULT_WRONG_PASSWORD, 0, 0, -1, 0),
         head + "The password is wrong, or the file's header is damaged." + tail},
        {fault(V2_FAULT_PASSWORD_UTF8, 0, 0, -1, 0), head + "The password is not valid Unicode text." + tail},
        {fault(V2_FAULT_HEADER_FIELD, V2_FIELD_VERSION, 1, -1, 0),
         head + "The file's header is damaged: version 1 out of range." + tail},
        {fault(V2_FAULT_HEADER_FIELD, V2_FIELD_ITERATIONS, 10000001, -1, 0),
         head + "The file's header is damaged: iterations 10000001 out of range." + tail},
        {fault(V2_FAULT_HEADER_FIELD, V2_FIELD_COMMITMENT, 12, -1, 0),
         head + "The file's header is damaged: key commitment cut short (12 of 32 bytes)." + tail},
        {fault(V2_FAULT_RECORD, 0, 0, 3, 8312),
         head + "The file was altered or damaged at record 3 (byte offset 8312)." + tail},
    };
    for (const Row& r : rows)
        EXPECT_EQ(r.text, std::string(FormatFaultMessageV2(r.fault, path, true).GetString()))
            << "kind " << r.fault.nKind;
}

}  // namespace
