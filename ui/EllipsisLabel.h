// A static text that paints itself on one line, cut with an ellipsis at its
// end when it is wider than the control, in its parent's font; with
// DT_PATH_ELLIPSIS in the format the cut goes into the folders instead, so
// that a path still ends in its file name.
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
