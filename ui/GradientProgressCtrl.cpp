#include "ui/GradientProgressCtrl.h"

#include <algorithm>
#include <cstdlib>

#include "ui/MemoryDC.h"

CGradientProgressCtrl::CGradientProgressCtrl()
    : m_nLower(0), m_nUpper(100), m_nStep(10), m_nPos(0),
      m_clrStart(RGB(255, 0, 0)), m_clrEnd(RGB(0, 0, 255)), m_clrBkgnd(::GetSysColor(COLOR_BTNFACE)) {}

// Each change repaints at once: the native bar clamps and may see no change
// where the copy did change.
int CGradientProgressCtrl::SetRange(int nLower, int nUpper)
{
    m_nLower = nLower;
    m_nUpper = nUpper;
    m_nPos = nLower;
    int r = CProgressCtrl::SetRange(nLower, nUpper);
    Invalidate(FALSE);
    return r;
}

int CGradientProgressCtrl::SetPos(int nPos)
{
    m_nPos = nPos;
    int r = LOWORD(CProgressCtrl::SetPos(nPos));
    Invalidate(FALSE);
    return r;
}

int CGradientProgressCtrl::SetStep(int nStep)
{
    m_nStep = nStep;
    return LOWORD(CProgressCtrl::SetStep(nStep));
}

int CGradientProgressCtrl::StepIt()
{
    m_nPos += m_nStep;
    int r = LOWORD(CProgressCtrl::StepIt());
    Invalidate(FALSE);
    return r;
}

BOOL CGradientProgressCtrl::OnWndMsg(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    switch (msg) {
    case WM_ERASEBKGND:
        *pResult = TRUE;  // the paint covers the whole client area
        return TRUE;
    case WM_PAINT: {
        CPaintDC dc(this);
        Paint(&dc);
        *pResult = 0;
        return TRUE;
    }
    default:
        return CProgressCtrl::OnWndMsg(msg, wParam, lParam, pResult);
    }
}

void CGradientProgressCtrl::Paint(CDC* pDC)
{
    RECT rc;
    GetClientRect(&rc);
    if (m_nLower < m_nPos && m_nPos < m_nUpper && m_nUpper > 0) {
        double fill = double(m_nPos) / double(m_nUpper) * double(rc.right - rc.left);
        DrawGradient(pDC, rc, int(fill));
    } else {
        pDC->FillSolidRect(&rc, ::GetSysColor(COLOR_BTNFACE));
    }
}

// Bands of the full-scale gradient up to the one that crosses nFill; the
// rest is background, so a column keeps its colour as the bar grows.
void CGradientProgressCtrl::DrawGradient(CDC* pDC, const RECT& rcClient, int nFill)
{
    CMemoryDC memDC(pDC);
    int r1 = GetRValue(m_clrStart), g1 = GetGValue(m_clrStart), b1 = GetBValue(m_clrStart);
    int dr = GetRValue(m_clrEnd) - r1, dg = GetGValue(m_clrEnd) - g1, db = GetBValue(m_clrEnd) - b1;
    int steps = std::max({std::abs(dr), std::abs(dg), std::abs(db)});
    if (steps == 0)
        return;
    float width = float(rcClient.right - rcClient.left);
    float band = width / float(steps);
    float rInc = float(dr) / float(steps), gInc = float(dg) / float(steps), bInc = float(db) / float(steps);
    for (int i = 0; i < steps; ++i) {
        RECT rcBand{int(float(i) * band), 0, int(float(i + 1) * band), rcClient.bottom + 1};
        COLORREF clr = RGB(int(float(r1) + float(i) * rInc) & 0xFF, int(float(g1) + float(i) * gInc) & 0xFF,
                           int(float(b1) + float(i) * bInc) & 0xFF);
        memDC.FillSolidRect(&rcBand, clr);
        if (rcBand.right > nFill) {
            RECT rcRest{rcBand.right, 0, rcClient.right, rcClient.bottom};
            memDC.FillSolidRect(&rcRest, m_clrBkgnd);
            break;
        }
    }
}
