// A static text that paints itself on one line, cut with an ellipsis at its
// end when it is wider than the control, in its parent's font.
#pragma once

#ifdef _WIN32
#include "framework/afxwin.h"

class CEllipsisLabel : public CWnd {
public:
    explicit CEllipsisLabel(UINT nFormat);
    ~CEllipsisLabel() override;

    // Draws the text into pDC, as WM_PAINT does.
    void Paint(CDC* pDC);

    BOOL OnWndMsg(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;

    UINT m_nFormat;
    COLORREF m_clrText;
};
#endif
