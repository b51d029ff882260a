#include "framework/afxapp.h"

#include "framework/afxconv.h"
#include "framework/afxres.h"

namespace {
CWinApp* g_pApp = nullptr;

CString TitleFromPath(const char* pszPath)
{
    CString name(pszPath);
    int slash = name.ReverseFind('\\');
    if (slash < 0)
        slash = name.ReverseFind('/');
    if (slash >= 0)
        name = name.Mid(slash + 1);
    int dot = name.ReverseFind('.');
    return dot > 0 ? name.Left(dot) : name;
}
}  // namespace

CWinApp::CWinApp(const char* pszAppName) : m_pszAppName(nullptr)
{
    SetAppName(pszAppName);
    g_pApp = this;
}

CWinApp::~CWinApp()
{
    if (g_pApp == this)
        g_pApp = nullptr;
}

BOOL CWinApp::InitInstance()
{
    if (m_strAppName.IsEmpty())
        SetAppName(AfxModuleTitle(AfxGetInstanceHandle()));
    return TRUE;
}

int CWinApp::ExitInstance()
{
    return 0;
}

void CWinApp::SetAppName(const char* pszAppName)
{
    m_strAppName = pszAppName;
    m_pszAppName = m_strAppName.GetString();
}

CWinApp* AfxGetApp()
{
    return g_pApp;
}

CString AfxGetModuleFileName(HMODULE hModule)
{
    // The system cuts the name to the buffer without saying how long it is.
    for (DWORD cch = MAX_PATH; cch <= 32768; cch *= 2) {
        std::wstring buffer(cch, L'\0');
        DWORD n = GetModuleFileNameW(hModule, &buffer[0], cch);
        if (n == 0)
            return CString();
        if (n < cch)
            return WideToUtf8(buffer.c_str(), int(n));
    }
    return CString();
}

CString AfxModuleTitle(HMODULE hModule)
{
    CString path = AfxGetModuleFileName(hModule);
    return path.IsEmpty() ? path : TitleFromPath(path);
}

CString AfxGetAppTitle()
{
    try {
        if (g_pApp && g_pApp->m_pszAppName && *g_pApp->m_pszAppName)
            return CString(g_pApp->m_pszAppName);
        return AfxModuleTitle(AfxGetInstanceHandle());
    } catch (...) {
        return CString();
    }
}

int AfxMessageBox(const char* text, UINT type, UINT /*helpId*/)
{
    if ((type & MB_ICONMASK) == 0)
        type |= MB_ICONEXCLAMATION;
    try {
        CString caption = AfxGetAppTitle();
        return MessageBoxW(GetActiveWindow(), Utf8ToWide(text).c_str(), Utf8ToWide(caption).c_str(), type);
    } catch (...) {
        return MessageBoxW(GetActiveWindow(), L"", L"", type);
    }
}
