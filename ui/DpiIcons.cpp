#include "ui/DpiIcons.h"

#include <algorithm>
#include <utility>

#include "framework/afxres.h"
#include "support/Dpi.h"

CDpiIcons::CDpiIcons(UINT nFirstId, int nCount) : m_nFirstId(nFirstId), m_nCount(std::min(nCount, kMaxIcons)) {}

CDpiIcons::~CDpiIcons()
{
    Destroy(m_hIcons);
    Destroy(m_hPrevious);
}

void CDpiIcons::Destroy(HICON (&hIcons)[kMaxIcons])
{
    for (HICON& h : hIcons) {
        if (h)
            ::DestroyIcon(h);
        h = nullptr;
    }
}

void CDpiIcons::Load(UINT nDpi)
{
    Destroy(m_hPrevious);
    std::swap(m_hIcons, m_hPrevious);
    const int cx = GetSystemMetricForDpi(SM_CXICON, nDpi), cy = GetSystemMetricForDpi(SM_CYICON, nDpi);
    for (int i = 0; i < m_nCount; ++i)
        m_hIcons[i] = static_cast<HICON>(::LoadImageA(AfxGetResourceHandle(), MAKEINTRESOURCEA(m_nFirstId + UINT(i)),
                                                      IMAGE_ICON, cx, cy, LR_DEFAULTCOLOR));
}

void SetDlgItemIcon(HWND hDlg, int nId, HICON hIcon)
{
    ::SendDlgItemMessageA(hDlg, nId, STM_SETICON, reinterpret_cast<WPARAM>(hIcon), 0);
}
