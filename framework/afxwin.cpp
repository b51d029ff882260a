#include "framework/afxwin.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <unordered_map>

#include "framework/afxconv.h"
#include "framework/afxres.h"

namespace {

// Which object each bound window belongs to. A table in this module rather
// than a window property: the lookup runs for every message, and under Wine
// every property call is a round trip to its server. Being the module's own,
// two modules using the framework in one process (a test program and the
// DLL) never take each other's objects. Every binding ends at WM_NCDESTROY
// or with its object, so no entry outlives its window.
SRWLOCK g_bindingLock = SRWLOCK_INIT;

std::unordered_map<HWND, CWnd*>& Bindings()
{
    static std::unordered_map<HWND, CWnd*> s_map;
    return s_map;
}

// Objects FromHandle made for windows nobody bound; they only carry the handle.
thread_local std::map<HWND, CWnd*>* t_pTempMap = nullptr;

}  // namespace

// ---------------------------------------------------------------- CWnd

CWnd::~CWnd()
{
    if (m_hWnd && FromHandlePermanent(m_hWnd) == this) {
        UnsubclassWindow();
        Detach();
    }
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd)
{
    if (!hWnd)
        return nullptr;
    ::AcquireSRWLockShared(&g_bindingLock);
    const auto it = Bindings().find(hWnd);
    CWnd* p = it == Bindings().end() ? nullptr : it->second;
    ::ReleaseSRWLockShared(&g_bindingLock);
    return p;
}

CWnd* CWnd::FromHandle(HWND hWnd)
{
    if (!hWnd)
        return nullptr;
    if (CWnd* p = FromHandlePermanent(hWnd))
        return p;
    if (!t_pTempMap)
        t_pTempMap = new std::map<HWND, CWnd*>;
    CWnd*& rp = (*t_pTempMap)[hWnd];
    if (!rp) {
        rp = new CWnd;
        rp->m_hWnd = hWnd;
    }
    return rp;
}

void CWnd::DeleteTempMap()
{
    if (!t_pTempMap)
        return;
    for (auto& entry : *t_pTempMap) {
        entry.second->m_hWnd = nullptr;
        delete entry.second;
    }
    delete t_pTempMap;
    t_pTempMap = nullptr;
}

BOOL CWnd::Attach(HWND hWnd)
{
    if (m_hWnd || !hWnd || FromHandlePermanent(hWnd))
        return FALSE;
    try {
        ::AcquireSRWLockExclusive(&g_bindingLock);
        Bindings()[hWnd] = this;
    } catch (const std::bad_alloc&) {
        ::ReleaseSRWLockExclusive(&g_bindingLock);
        return FALSE;
    }
    ::ReleaseSRWLockExclusive(&g_bindingLock);
    m_hWnd = hWnd;
    return TRUE;
}

HWND CWnd::Detach()
{
    HWND h = m_hWnd;
    if (h) {
        ::AcquireSRWLockExclusive(&g_bindingLock);
        const auto it = Bindings().find(h);
        if (it != Bindings().end() && it->second == this)
            Bindings().erase(it);
        ::ReleaseSRWLockExclusive(&g_bindingLock);
    }
    m_hWnd = nullptr;
    return h;
}

BOOL CWnd::SubclassWindow(HWND hWnd)
{
    if (!Attach(hWnd))
        return FALSE;
    m_pfnSuper = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::WndProcThunk)));
    if (!m_pfnSuper) {
        Detach();
        return FALSE;
    }
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT nID, CWnd* pParent)
{
    HWND h = pParent ? ::GetDlgItem(pParent->m_hWnd, int(nID)) : nullptr;
    return h ? SubclassWindow(h) : FALSE;
}

HWND CWnd::UnsubclassWindow()
{
    if (m_hWnd && m_pfnSuper)
        ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    m_pfnSuper = nullptr;
    return m_hWnd;
}

void CWnd::OnNcDestroyed()
{
    UnsubclassWindow();
    Detach();
    PostNcDestroy();
}

LRESULT CALLBACK CWnd::WndProcThunk(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    CWnd* p = FromHandlePermanent(hWnd);
    if (!p)
        return ::DefWindowProcW(hWnd, msg, wParam, lParam);
    LRESULT r = 0;
    try {
        r = p->WindowProc(msg, wParam, lParam);
    } catch (...) {
        // The system must still see its own handling of the window's end.
        if (msg == WM_NCDESTROY)
            r = p->CWnd::DefWindowProc(msg, wParam, lParam);
    }
    if (msg == WM_NCDESTROY)
        p->OnNcDestroyed();
    return r;
}

LRESULT CWnd::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    LRESULT r = 0;
    if (OnWndMsg(msg, wParam, lParam, &r))
        return r;
    return DefWindowProc(msg, wParam, lParam);
}

LRESULT CWnd::DefWindowProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (m_pfnSuper)
        return ::CallWindowProcW(m_pfnSuper, m_hWnd, msg, wParam, lParam);
    return ::DefWindowProcW(m_hWnd, msg, wParam, lParam);
}

BOOL CWnd::OnWndMsg(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    if (msg == WM_COMMAND && OnCommand(wParam, lParam)) {
        *pResult = 0;
        return TRUE;
    }
    return FALSE;
}

BOOL CWnd::OnCommand(WPARAM, LPARAM) { return FALSE; }

CWnd* CWnd::GetDlgItem(int nID) const { return FromHandle(::GetDlgItem(m_hWnd, nID)); }
CWnd* CWnd::GetParent() const { return FromHandle(::GetParent(m_hWnd)); }
namespace {
// Window texts cross as UTF-16, so every character of a file name shows.
void SetText(HWND h, const char* pszText)
{
    ::SetWindowTextW(h, Utf8ToWide(pszText).c_str());
}

// The window's text as UTF-8. bExact: false, leaving str as it was, for a
// text that holds a lone surrogate: it has no UTF-8 form, and U+FFFD in its
// place would silently be another text (another password). Otherwise such a
// character shows as U+FFFD.
bool ReadText(HWND h, CString& str, bool bExact)
{
    int n = ::GetWindowTextLengthW(h);
    std::wstring buffer(size_t(n) + 1, L'\0');
    int got = ::GetWindowTextW(h, &buffer[0], n + 1);
    bool bRead = true;
    if (bExact)
        bRead = WideToUtf8Exact(buffer.c_str(), got > 0 ? got : 0, str);
    else
        str = WideToUtf8(buffer.c_str(), got > 0 ? got : 0);
    // The buffer may have held a password.
    volatile wchar_t* pw = &buffer[0];
    for (size_t i = 0; i < buffer.size(); ++i)
        pw[i] = 0;
    return bRead;
}

CString GetText(HWND h)
{
    CString str;
    ReadText(h, str, false);
    return str;
}
}  // namespace

void CWnd::SetWindowText(LPCSTR pszText) { SetText(m_hWnd, pszText); }
int CWnd::GetWindowTextLength() const { return ::GetWindowTextLengthW(m_hWnd); }
void CWnd::GetWindowText(CString& str) const { str = GetText(m_hWnd); }

BOOL CWnd::ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
BOOL CWnd::EnableWindow(BOOL bEnable) { return ::EnableWindow(m_hWnd, bEnable); }
BOOL CWnd::IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
BOOL CWnd::IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
CWnd* CWnd::SetFocus() { return FromHandle(::SetFocus(m_hWnd)); }
void CWnd::GetClientRect(LPRECT pRect) const { ::GetClientRect(m_hWnd, pRect); }
// Without a window these would reach every window of the desktop (a null
// handle means all of them), or make a timer for the whole thread.
void CWnd::Invalidate(BOOL bErase)
{
    if (m_hWnd)
        ::InvalidateRect(m_hWnd, nullptr, bErase);
}
void CWnd::UpdateWindow()
{
    if (m_hWnd)
        ::UpdateWindow(m_hWnd);
}
BOOL CWnd::DestroyWindow() { return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE; }
UINT_PTR CWnd::SetTimer(UINT_PTR nIDEvent, UINT nElapse)
{
    return m_hWnd ? ::SetTimer(m_hWnd, nIDEvent, nElapse, nullptr) : 0;
}
BOOL CWnd::KillTimer(UINT_PTR nIDEvent) { return ::KillTimer(m_hWnd, nIDEvent); }
HFONT CWnd::GetFont() const { return reinterpret_cast<HFONT>(SendMessage(WM_GETFONT)); }

LRESULT CWnd::SendMessage(UINT msg, WPARAM wParam, LPARAM lParam) const
{
    return ::SendMessageW(m_hWnd, msg, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT msg, WPARAM wParam, LPARAM lParam) const
{
    return ::PostMessageW(m_hWnd, msg, wParam, lParam);
}

// ---------------------------------------------------------------- data exchange

HWND CDataExchange::PrepareCtrl(int nIDC) { return ::GetDlgItem(m_pDlgWnd->m_hWnd, nIDC); }

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value)
{
    HWND h = pDX->PrepareCtrl(nIDC);
    if (!h)
        return;
    if (pDX->m_bSaveAndValidate) {
        value.SecureEmpty();
        if (!ReadText(h, value, true))
            pDX->Fail(nIDC);
    } else
        SetText(h, value);
}

void DDX_Check(CDataExchange* pDX, int nIDC, int& value)
{
    HWND h = pDX->PrepareCtrl(nIDC);
    if (!h)
        return;
    if (pDX->m_bSaveAndValidate)
        value = int(::SendMessageW(h, BM_GETCHECK, 0, 0));
    else
        ::SendMessageW(h, BM_SETCHECK, WPARAM(value), 0);
}

void DDX_CBIndex(CDataExchange* pDX, int nIDC, int& index)
{
    HWND h = pDX->PrepareCtrl(nIDC);
    if (!h)
        return;
    if (pDX->m_bSaveAndValidate)
        index = int(::SendMessageW(h, CB_GETCURSEL, 0, 0));
    else
        ::SendMessageW(h, CB_SETCURSEL, WPARAM(index), 0);
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl)
{
    if (rControl.m_hWnd)
        return;
    HWND h = pDX->PrepareCtrl(nIDC);
    if (h)
        rControl.SubclassWindow(h);
}

// ---------------------------------------------------------------- CDialog

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog()
{
    // A window outliving its object must not call back into freed memory.
    if (HWND h = Detach())
        ::DestroyWindow(h);
}

INT_PTR CDialog::DoModal()
{
    // Without a parent the thread's active window owns the dialog, so that a
    // box opened from a dialog is modal to it.
    HWND hParent = m_pParentWnd ? m_pParentWnd->m_hWnd : ::GetActiveWindow();
    if (hParent && !::IsWindowVisible(hParent))
        hParent = nullptr;
    m_bModal = true;
    INT_PTR r = ::DialogBoxParamW(AfxGetResourceHandle(), MAKEINTRESOURCEW(m_nIDTemplate), hParent,
                                  &CDialog::DialogProcThunk, reinterpret_cast<LPARAM>(this));
    m_bModal = false;
    return r;
}

BOOL CDialog::Create(UINT nIDTemplate, CWnd* pParentWnd)
{
    m_nIDTemplate = nIDTemplate;
    m_pParentWnd = pParentWnd;
    HWND hParent = pParentWnd ? pParentWnd->m_hWnd : nullptr;
    HWND h = ::CreateDialogParamW(AfxGetResourceHandle(), MAKEINTRESOURCEW(nIDTemplate), hParent,
                                  &CDialog::DialogProcThunk, reinterpret_cast<LPARAM>(this));
    return h != nullptr;
}

namespace {
// Messages whose dialog-procedure result is the answer itself rather than
// "handled" with the answer in DWLP_MSGRESULT.
bool ReturnsDirectly(UINT msg)
{
    switch (msg) {
    case WM_INITDIALOG: case WM_CTLCOLORMSGBOX: case WM_CTLCOLOREDIT: case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN: case WM_CTLCOLORDLG: case WM_CTLCOLORSCROLLBAR: case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM: case WM_VKEYTOITEM: case WM_CHARTOITEM: case WM_QUERYDRAGICON:
        return true;
    default:
        return false;
    }
}
}  // namespace

INT_PTR CALLBACK CDialog::DialogProcThunk(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_INITDIALOG)
        reinterpret_cast<CDialog*>(lParam)->Attach(hWnd);
    CDialog* p = dynamic_cast<CDialog*>(FromHandlePermanent(hWnd));
    if (!p)
        return FALSE;
    INT_PTR ret = FALSE;
    try {
        LRESULT r = 0;
        if (p->OnWndMsg(msg, wParam, lParam, &r)) {
            if (ReturnsDirectly(msg)) {
                ret = r;
            } else {
                ::SetWindowLongPtrW(hWnd, DWLP_MSGRESULT, r);
                ret = TRUE;
            }
        }
    } catch (...) {
        ret = FALSE;
    }
    if (msg == WM_NCDESTROY)
        p->OnNcDestroyed();
    return ret;
}

BOOL CDialog::OnWndMsg(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    if (msg == WM_INITDIALOG) {
        *pResult = OnInitDialog();
        return TRUE;
    }
    return CWnd::OnWndMsg(msg, wParam, lParam, pResult);
}

BOOL CDialog::OnCommand(WPARAM wParam, LPARAM)
{
    if (HIWORD(wParam) != BN_CLICKED)
        return FALSE;
    switch (LOWORD(wParam)) {
    case IDOK: OnOK(); return TRUE;
    case IDCANCEL: OnCancel(); return TRUE;
    default: return FALSE;
    }
}

// A dialog's default handling is the dialog manager's, reached by reporting
// the message as not handled.
LRESULT CDialog::DefWindowProc(UINT, WPARAM, LPARAM) { return 0; }

BOOL CDialog::UpdateData(BOOL bSaveAndValidate)
{
    if (!m_hWnd)
        return FALSE;
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    m_nFailedId = dx.m_nFailedId;
    return m_nFailedId == 0;
}

void CDialog::EndDialog(int nResult)
{
    if (m_hWnd)
        ::EndDialog(m_hWnd, nResult);
}

// The template's initialisation data (resource type RT_DLGINIT, same id):
// entries of control id, message, byte count and data, ended by a zero id.
// Only the list-filling messages are carried out.
void CDialog::ExecuteDlgInit()
{
    const WORD kRtDlgInit = 240, kWin16LbAddString = 0x0401, kWin16CbAddString = 0x0403;
    HINSTANCE hInst = AfxGetResourceHandle();
    HRSRC hRes = ::FindResourceA(hInst, MAKEINTRESOURCEA(m_nIDTemplate), MAKEINTRESOURCEA(kRtDlgInit));
    HGLOBAL hData = hRes ? ::LoadResource(hInst, hRes) : nullptr;
    const BYTE* p = hData ? static_cast<const BYTE*>(::LockResource(hData)) : nullptr;
    if (!p)
        return;
    const DWORD size = ::SizeofResource(hInst, hRes);
    for (DWORD off = 0; off + 8 <= size;) {
        WORD id, msg;
        DWORD len;
        std::memcpy(&id, p + off, 2);
        std::memcpy(&msg, p + off + 2, 2);
        std::memcpy(&len, p + off + 4, 4);
        if (id == 0 || len > size - off - 8)
            break;
        const char* text = reinterpret_cast<const char*>(p + off + 8);
        bool terminated = len > 0 && text[len - 1] == '\0';
        UINT real = msg == kWin16CbAddString ? CB_ADDSTRING : msg == kWin16LbAddString ? LB_ADDSTRING : msg;
        if (terminated && (real == CB_ADDSTRING || real == LB_ADDSTRING))
            ::SendDlgItemMessageA(m_hWnd, id, real, 0, reinterpret_cast<LPARAM>(text));
        off += 8 + len;
    }
}

BOOL CDialog::OnInitDialog()
{
    ExecuteDlgInit();
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    if (UpdateData(TRUE))
        EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::CenterWindow()
{
    RECT rcArea;
    HWND hOwner = ::GetWindow(m_hWnd, GW_OWNER);
    if (hOwner && ::IsWindowVisible(hOwner) && !::IsIconic(hOwner))
        ::GetWindowRect(hOwner, &rcArea);
    else
        ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &rcArea, 0);
    RECT rc;
    ::GetWindowRect(m_hWnd, &rc);
    int cx = rc.right - rc.left, cy = rc.bottom - rc.top;
    int x = rcArea.left + ((rcArea.right - rcArea.left) - cx) / 2;
    int y = rcArea.top + ((rcArea.bottom - rcArea.top) - cy) / 2;
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---------------------------------------------------------------- CProgressCtrl

int CProgressCtrl::SetRange(int nLower, int nUpper)
{
    return int(SendMessage(PBM_SETRANGE, 0, MAKELPARAM(nLower, nUpper)));
}
int CProgressCtrl::SetPos(int nPos) { return int(SendMessage(PBM_SETPOS, WPARAM(nPos))); }
int CProgressCtrl::SetStep(int nStep) { return int(SendMessage(PBM_SETSTEP, WPARAM(nStep))); }
int CProgressCtrl::StepIt() { return int(SendMessage(PBM_STEPIT)); }

// ---------------------------------------------------------------- CDC

CDC::~CDC() { DeleteDC(); }

BOOL CDC::Attach(HDC hDC)
{
    if (m_hDC || !hDC)
        return FALSE;
    m_hDC = hDC;
    m_bOwned = false;
    m_bPrinting = ::GetDeviceCaps(hDC, TECHNOLOGY) == DT_RASPRINTER;
    return TRUE;
}

HDC CDC::Detach()
{
    HDC h = m_hDC;
    m_hDC = nullptr;
    m_bOwned = false;
    return h;
}

BOOL CDC::CreateCompatibleDC(CDC* pDC)
{
    if (m_hDC)
        return FALSE;
    m_hDC = ::CreateCompatibleDC(pDC ? pDC->m_hDC : nullptr);
    m_bOwned = m_hDC != nullptr;
    return m_bOwned;
}

BOOL CDC::DeleteDC()
{
    if (!m_hDC)
        return FALSE;
    BOOL ok = m_bOwned ? ::DeleteDC(m_hDC) : TRUE;
    m_hDC = nullptr;
    m_bOwned = false;
    return ok;
}

HBITMAP CDC::SelectObject(CBitmap* pBitmap)
{
    return static_cast<HBITMAP>(::SelectObject(m_hDC, pBitmap->GetSafeHandle()));
}

HGDIOBJ CDC::SelectObject(HGDIOBJ hObject) { return ::SelectObject(m_hDC, hObject); }

void CDC::FillRect(const RECT* pRect, CBrush* pBrush) { ::FillRect(m_hDC, pRect, *pBrush); }

// An opaque empty text run in the background colour: no brush made and
// deleted for each of the many bands of a gradient.
void CDC::FillSolidRect(const RECT* pRect, COLORREF clr)
{
    COLORREF clrOld = ::SetBkColor(m_hDC, clr);
    ::ExtTextOutW(m_hDC, 0, 0, ETO_OPAQUE, pRect, nullptr, 0, nullptr);
    ::SetBkColor(m_hDC, clrOld);
}

POINT CDC::SetWindowOrg(int x, int y)
{
    POINT pt{};
    ::SetWindowOrgEx(m_hDC, x, y, &pt);
    return pt;
}

BOOL CDC::BitBlt(int x, int y, int cx, int cy, CDC* pSrc, int xSrc, int ySrc, DWORD dwRop)
{
    return ::BitBlt(m_hDC, x, y, cx, cy, pSrc ? pSrc->m_hDC : nullptr, xSrc, ySrc, dwRop);
}

CPaintDC::CPaintDC(CWnd* pWnd) : m_hWnd(pWnd->m_hWnd)
{
    Attach(::BeginPaint(m_hWnd, &m_ps));
}

CPaintDC::~CPaintDC()
{
    ::EndPaint(m_hWnd, &m_ps);
    Detach();
}

// ---------------------------------------------------------------- message pump

namespace {
// Keyboard navigation (Tab, Esc, Enter) of a modeless dialog of ours.
bool PreTranslateMessage(MSG& msg)
{
    if (!msg.hwnd || msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST)
        return false;
    HWND hTop = ::GetAncestor(msg.hwnd, GA_ROOT);
    CDialog* pDlg = dynamic_cast<CDialog*>(CWnd::FromHandlePermanent(hTop));
    return pDlg && !pDlg->IsModal() && ::IsDialogMessageW(hTop, &msg);
}
}  // namespace

BOOL AfxPumpMessage(int& nQuitCode)
{
    MSG msg;
    // Never blocks: a caller that saw a message pending may find it gone
    // (a paint validated meanwhile), and it must then regain control at once.
    if (!::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        return TRUE;
    if (msg.message == WM_QUIT) {
        nQuitCode = int(msg.wParam);
        return FALSE;
    }
    if (!PreTranslateMessage(msg)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return TRUE;
}

BOOL AfxPumpMessage()
{
    int nQuitCode = 0;
    if (AfxPumpMessage(nQuitCode))
        return TRUE;
    ::PostQuitMessage(nQuitCode);
    return FALSE;
}
