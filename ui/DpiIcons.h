// A run of the module's icon resources loaded at the size a DPI asks for
// (SM_CXICON there), so a dialog's icons stay sharp at any scaling and can be
// reloaded when the dialog moves to a monitor of another DPI. The icons are
// destroyed with their owner.
#pragma once

#ifdef _WIN32
#include "framework/afxdefs.h"

class CDpiIcons {
public:
    // Resources nFirstId .. nFirstId + nCount - 1, nCount at most kMaxIcons.
    CDpiIcons(UINT nFirstId, int nCount);
    ~CDpiIcons();
    CDpiIcons(const CDpiIcons&) = delete;
    CDpiIcons& operator=(const CDpiIcons&) = delete;

    // Loads every icon at the size for nDpi; a missing one stays null. The
    // icons of the load before stay valid until the next one, so controls
    // that still show them can be given the new ones meanwhile.
    void Load(UINT nDpi);
    HICON operator[](int i) const { return i >= 0 && i < m_nCount ? m_hIcons[i] : nullptr; }

    static const int kMaxIcons = 10;

private:
    static void Destroy(HICON (&hIcons)[kMaxIcons]);

    UINT m_nFirstId;
    int m_nCount;
    HICON m_hIcons[kMaxIcons] = {};
    HICON m_hPrevious[kMaxIcons] = {};
};

// Sets the icon of the static control nId of hDlg.
void SetDlgItemIcon(HWND hDlg, int nId, HICON hIcon);
#endif
