#include "support/Dpi.h"

namespace {
template <typename Fn>
Fn FindProc(HMODULE hModule, const char* pszName)
{
    return hModule ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(hModule, pszName))) : nullptr;
}

template <typename Fn>
Fn UserProc(const char* pszName)
{
    return FindProc<Fn>(::GetModuleHandleW(L"user32.dll"), pszName);
}

using PFN_GETDPIFORSYSTEM = UINT(WINAPI*)();
using PFN_GETDPIFORWINDOW = UINT(WINAPI*)(HWND);
using PFN_GETSYSTEMMETRICSFORDPI = int(WINAPI*)(int, UINT);
using PFN_GETTHREADDPIAWARENESSCONTEXT = HANDLE(WINAPI*)();
using PFN_GETAWARENESSFROMDPIAWARENESSCONTEXT = int(WINAPI*)(HANDLE);
using PFN_GETDPIFORMONITOR = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);

const int kPerMonitorAware = 2;  // DPI_AWARENESS_PER_MONITOR_AWARE
const int kEffectiveDpi = 0;     // MDT_EFFECTIVE_DPI

UINT ScreenDpi()
{
    HDC hdc = ::GetDC(nullptr);
    if (!hdc)
        return kDefaultDpi;
    const int n = ::GetDeviceCaps(hdc, LOGPIXELSY);
    ::ReleaseDC(nullptr, hdc);
    return n > 0 ? UINT(n) : kDefaultDpi;
}

bool ThreadIsPerMonitorAware()
{
    static const auto pfnContext = UserProc<PFN_GETTHREADDPIAWARENESSCONTEXT>("GetThreadDpiAwarenessContext");
    static const auto pfnAwareness =
        UserProc<PFN_GETAWARENESSFROMDPIAWARENESSCONTEXT>("GetAwarenessFromDpiAwarenessContext");
    return pfnContext && pfnAwareness && pfnAwareness(pfnContext()) == kPerMonitorAware;
}

// 0 when the system cannot tell a monitor's DPI (before Windows 8.1).
UINT MonitorDpiAt(POINT pt)
{
    // Only from the system folder: a shcore.dll beside a document must not load.
    static const HMODULE hShcore = ::LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    static const auto pfn = FindProc<PFN_GETDPIFORMONITOR>(hShcore, "GetDpiForMonitor");
    UINT x = 0, y = 0;
    if (!pfn || pfn(::MonitorFromPoint(pt, MONITOR_DEFAULTTONEAREST), kEffectiveDpi, &x, &y) != S_OK)
        return 0;
    return y;
}
}  // namespace

UINT GetSystemDpi()
{
    static const auto pfn = UserProc<PFN_GETDPIFORSYSTEM>("GetDpiForSystem");
    return pfn ? pfn() : ScreenDpi();
}

UINT GetWindowDpi(HWND hWnd)
{
    static const auto pfn = UserProc<PFN_GETDPIFORWINDOW>("GetDpiForWindow");
    const UINT nDpi = pfn && hWnd ? pfn(hWnd) : 0;
    return nDpi ? nDpi : GetSystemDpi();
}

UINT GetMenuDpi()
{
    POINT pt;
    if (ThreadIsPerMonitorAware() && ::GetCursorPos(&pt)) {
        if (const UINT nDpi = MonitorDpiAt(pt))
            return nDpi;
    }
    return GetSystemDpi();
}

int GetSystemMetricForDpi(int nIndex, UINT nDpi)
{
    static const auto pfn = UserProc<PFN_GETSYSTEMMETRICSFORDPI>("GetSystemMetricsForDpi");
    if (pfn)
        return pfn(nIndex, nDpi);
    return ::MulDiv(::GetSystemMetrics(nIndex), int(nDpi), int(GetSystemDpi()));
}
