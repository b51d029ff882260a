#include "ui/EllipsisLabel.h"

#include <string>

#include "framework/afxconv.h"

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
        HFONT hFont = reinterpret_cast<HFONT>(::SendMessageW(hParent, WM_GETFONT, 0, 0));
        if (hFont)
            hOldFont = pDC->SelectObject(hFont);
    }
    CString strText;
    GetWindowText(strText);
    RECT rc;
    GetClientRect(&rc);
    pDC->SetTextColor(m_clrText);
    // A path keeps its file name: the cut goes into the folders.
    const UINT nCut = (m_nFormat & DT_PATH_ELLIPSIS) ? 0 : DT_END_ELLIPSIS;
    std::wstring wText = Utf8ToWide(strText);
    wText.push_back(L'\0');
    ::DrawTextExW(pDC->m_hDC, &wText[0], -1, &rc, m_nFormat | nCut, nullptr);
    if (hOldFont)
        pDC->SelectObject(hOldFont);
}
