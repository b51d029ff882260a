#include "ui/EllipsisLabel.h"

CEllipsisLabel::CEllipsisLabel(UINT nFormat) : m_nFormat(nFormat), m_clrText(::GetSysColor(COLOR_BTNTEXT)) {}

CEllipsisLabel::~CEllipsisLabel() = default;

BOOL CEllipsisLabel::OnWndMsg(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    switch (msg) {
    case WM_SETTEXT:
        DefWindowProc(msg, wParam, lParam);
        Invalidate(TRUE);
        *pResult = TRUE;
        return TRUE;
    case WM_ERASEBKGND: {
        RECT rc;
        GetClientRect(&rc);
        CBrush brush(::GetSysColor(COLOR_BTNFACE));
        ::FillRect(reinterpret_cast<HDC>(wParam), &rc, brush);
        *pResult = TRUE;
        return TRUE;
    }
    case WM_PAINT: {
        CPaintDC dc(this);
        Paint(&dc);
        *pResult = 0;
        return TRUE;
    }
    default:
        return CWnd::OnWndMsg(msg, wParam, lParam, pResult);
    }
}

void CEllipsisLabel::Paint(CDC* pDC)
{
    HGDIOBJ hOldFont = nullptr;
    if (HWND hParent = ::GetParent(m_hWnd)) {
        HFONT hFont = reinterpret_cast<HFONT>(::SendMessageA(hParent, WM_GETFONT, 0, 0));
        if (hFont)
            hOldFont = pDC->SelectObject(hFont);
    }
    CString strText;
    GetWindowText(strText);
    RECT rc;
    GetClientRect(&rc);
    pDC->SetTextColor(m_clrText);
    ::DrawTextExA(pDC->m_hDC, const_cast<char*>(strText.GetString()), -1, &rc, m_nFormat | DT_END_ELLIPSIS, nullptr);
    if (hOldFont)
        pDC->SelectObject(hOldFont);
}
