// A progress bar whose filled part is a red-to-blue gradient fixed to the
// whole bar's width, drawn off-screen. It keeps its own copy of range, step
// and position and paints from the copies alone: a position at or beyond
// either bound shows an empty bar.
#pragma once

#ifdef _WIN32
#include "framework/afxwin.h"

class CGradientProgressCtrl : public CProgressCtrl {
public:
    CGradientProgressCtrl();

    int SetRange(int nLower, int nUpper);
    int SetPos(int nPos);
    int SetStep(int nStep);
    int StepIt();

    // Paints the whole bar into pDC, as WM_PAINT does.
    void Paint(CDC* pDC);

    BOOL OnWndMsg(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;

    int m_nLower;
    int m_nUpper;
    int m_nStep;
    int m_nPos;
    COLORREF m_clrStart;
    COLORREF m_clrEnd;
    COLORREF m_clrBkgnd;

private:
    void DrawGradient(CDC* pDC, const RECT& rcClient, int nFill);
};
#endif
