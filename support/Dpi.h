// The DPI a window or a menu is shown at, and the system metrics for it.
// The per-DPI calls came with later Windows versions (and Wine has only some),
// so each is looked up at run time; without them everything follows the
// system DPI, which is all such a system scales by.
#pragma once

#ifdef _WIN32
#include "framework/afxdefs.h"

const UINT kDefaultDpi = 96;  // 100 %

// The DPI the calling thread sees for the system (96 in a thread that is not
// DPI aware, which Windows scales as a whole).
UINT GetSystemDpi();

// The DPI of the monitor a window is on, as its thread sees it.
UINT GetWindowDpi(HWND hWnd);

// The DPI of a context menu about to open. A per-monitor aware thread (as
// Explorer's) shows it on the monitor under the pointer; others at the
// system DPI.
UINT GetMenuDpi();

// GetSystemMetrics(nIndex) as it is at nDpi.
int GetSystemMetricForDpi(int nIndex, UINT nDpi);
#endif
