// The windowing half of the framework layer: window objects bound to HWNDs,
// subclassing, modal and modeless dialogs with data exchange, the common
// controls the dialogs use, device contexts and the thread's message pump.
//
// Every window or dialog procedure that enters C++ code catches whatever the
// code throws: an exception must never unwind through a system callback.
#pragma once

#ifdef _WIN32
#include "framework/afxdefs.h"
#include "framework/afxgdi.h"
#include "framework/afxstr.h"

#include <commctrl.h>

class CDataExchange;

class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // The object bound to hWnd, or a temporary one owned by the framework
    // (freed by DeleteTempMap) when no object of ours is bound to it.
    static CWnd* FromHandle(HWND hWnd);
    static CWnd* FromHandlePermanent(HWND hWnd);
    static void DeleteTempMap();

    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return GetSafeHwnd(); }

    // Binds the object to an existing window without changing its procedure.
    BOOL Attach(HWND hWnd);
    HWND Detach();
    // Routes the window's messages through WindowProc; unhandled messages
    // reach the previous procedure.
    BOOL SubclassWindow(HWND hWnd);
    BOOL SubclassDlgItem(UINT nID, CWnd* pParent);
    HWND UnsubclassWindow();

    CWnd* GetDlgItem(int nID) const;
    CWnd* GetParent() const;
    void SetWindowText(LPCSTR pszText);
    void GetWindowText(CString& str) const;
    int GetWindowTextLength() const;
    BOOL ShowWindow(int nCmdShow);
    BOOL EnableWindow(BOOL bEnable = TRUE);
    BOOL IsWindowEnabled() const;
    BOOL IsWindowVisible() const;
    CWnd* SetFocus();
    void GetClientRect(LPRECT pRect) const;
    void Invalidate(BOOL bErase = TRUE);
    void UpdateWindow();
    virtual BOOL DestroyWindow();
    LRESULT SendMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL PostMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const;
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse);
    BOOL KillTimer(UINT_PTR nIDEvent);
    HFONT GetFont() const;

    // The message map: returns TRUE with *pResult set when the message was
    // handled. Overrides call the base for what they do not handle.
    virtual BOOL OnWndMsg(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    // Dispatch of a subclassed window: the message map, else the default.
    virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
    virtual LRESULT DefWindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
    // Called after the window's last message; the object may delete itself.
    virtual void PostNcDestroy() {}

    HWND m_hWnd = nullptr;

protected:
    static LRESULT CALLBACK WndProcThunk(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
    void OnNcDestroyed();

    WNDPROC m_pfnSuper = nullptr;
};

class CDataExchange {
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
    HWND PrepareCtrl(int nIDC);
    // The control nIDC holds what its member cannot: the exchange fails.
    void Fail(int nIDC) { if (!m_nFailedId) m_nFailedId = nIDC; }

    BOOL m_bSaveAndValidate;  // TRUE: controls to members
    CWnd* m_pDlgWnd;
    int m_nFailedId = 0;      // the first control that failed, or 0
};

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value);
void DDX_Check(CDataExchange* pDX, int nIDC, int& value);
void DDX_CBIndex(CDataExchange* pDX, int nIDC, int& index);
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    // Runs the dialog from template m_nIDTemplate of AfxGetResourceHandle();
    // -1 when it cannot be created.
    virtual INT_PTR DoModal();
    // Creates the dialog modeless; FALSE when the window cannot be created.
    virtual BOOL Create(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    // FALSE when a control failed its exchange (a text that holds a lone
    // surrogate, which no UTF-8 string can): LastFailedControl() says which.
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    int LastFailedControl() const { return m_nFailedId; }
    void EndDialog(int nResult);
    BOOL IsModal() const { return m_bModal; }

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

    BOOL OnWndMsg(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    LRESULT DefWindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

protected:
    virtual void DoDataExchange(CDataExchange*) {}
    void ExecuteDlgInit();
    void CenterWindow();

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

private:
    static INT_PTR CALLBACK DialogProcThunk(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
    bool m_bModal = false;
    int m_nFailedId = 0;
};

class CButton : public CWnd {
public:
    int GetCheck() const { return int(SendMessage(BM_GETCHECK)); }
    void SetCheck(int nCheck) { SendMessage(BM_SETCHECK, WPARAM(nCheck)); }
};

class CStatic : public CWnd {
public:
    HICON SetIcon(HICON hIcon) { return HICON(SendMessage(STM_SETICON, WPARAM(hIcon))); }
    HICON GetIcon() const { return HICON(SendMessage(STM_GETICON)); }
};

class CProgressCtrl : public CWnd {
public:
    int SetRange(int nLower, int nUpper);
    int SetPos(int nPos);
    int SetStep(int nStep);
    int StepIt();
    int GetPos() const { return int(SendMessage(PBM_GETPOS)); }
};

// A device context that the object owns (deletes) or merely uses (the handle
// was attached from a paint or window context that someone else releases).
class CDC {
public:
    CDC() = default;
    virtual ~CDC();
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    BOOL Attach(HDC hDC);
    HDC Detach();
    BOOL CreateCompatibleDC(CDC* pDC);
    BOOL DeleteDC();
    HDC GetSafeHdc() const { return m_hDC; }
    operator HDC() const { return m_hDC; }

    BOOL IsPrinting() const { return m_bPrinting; }
    int GetClipBox(LPRECT pRect) const { return ::GetClipBox(m_hDC, pRect); }
    HBITMAP SelectObject(CBitmap* pBitmap);
    HGDIOBJ SelectObject(HGDIOBJ hObject);
    void FillRect(const RECT* pRect, CBrush* pBrush);
    void FillSolidRect(const RECT* pRect, COLORREF clr);
    COLORREF SetTextColor(COLORREF clr) { return ::SetTextColor(m_hDC, clr); }
    POINT SetWindowOrg(int x, int y);
    BOOL BitBlt(int x, int y, int cx, int cy, CDC* pSrc, int xSrc, int ySrc, DWORD dwRop);
    COLORREF GetPixel(int x, int y) const { return ::GetPixel(m_hDC, x, y); }

    HDC m_hDC = nullptr;
    BOOL m_bPrinting = FALSE;

protected:
    bool m_bOwned = false;
};

class CPaintDC : public CDC {
public:
    explicit CPaintDC(CWnd* pWnd);
    ~CPaintDC() override;

    PAINTSTRUCT m_ps{};

private:
    HWND m_hWnd;
};

class CWaitCursor {
public:
    CWaitCursor() : m_hPrev(::SetCursor(::LoadCursor(nullptr, IDC_WAIT))) {}
    ~CWaitCursor() { ::SetCursor(m_hPrev); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

private:
    HCURSOR m_hPrev;
};

// One message of the calling thread: retrieved, given to its modeless
// dialog's keyboard handling, else translated and dispatched. FALSE on WM_QUIT
// (which is posted again for the thread's outer loop).
BOOL AfxPumpMessage();
// The same, but a WM_QUIT is taken off the queue and its exit code stored in
// nQuitCode: the caller hands it back (PostQuitMessage) once its own loop has
// ended. Posting it again at once would wake every later wait immediately.
BOOL AfxPumpMessage(int& nQuitCode);
#endif
