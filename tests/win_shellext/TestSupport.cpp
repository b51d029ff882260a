#include "TestSupport.h"

#include <shellapi.h>

#include <cstring>
#include <fstream>

std::string ScratchDir()
{
    static const std::string dir = [] {
        std::string d = WinePath(KESTRIN_TEST_SCRATCH);
        CreateDirectoryA(d.c_str(), nullptr);
        return d;
    }();
    return dir;
}

std::string MakeFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

namespace {
std::wstring Widen(const std::string& s)
{
    std::wstring w(s.size() + 1, L'\0');
    int n = MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, &w[0], int(w.size()));
    w.resize(n > 0 ? size_t(n - 1) : 0);
    return w;
}

struct CPidlList {
    std::vector<PIDLIST_ABSOLUTE> items;
    ~CPidlList()
    {
        for (PIDLIST_ABSOLUTE p : items)
            CoTaskMemFree(p);
    }
};
}  // namespace

HRESULT ShellDataObject(const std::vector<std::string>& paths, IDataObject** ppdo)
{
    *ppdo = nullptr;
    if (paths.empty())
        return E_INVALIDARG;
    CPidlList pidls;
    for (const std::string& path : paths) {
        PIDLIST_ABSOLUTE pidl = nullptr;
        HRESULT hr = SHParseDisplayName(Widen(path).c_str(), nullptr, &pidl, 0, nullptr);
        if (FAILED(hr))
            return hr;
        pidls.items.push_back(pidl);
    }
    CComRef<IShellFolder> folder;
    PCUITEMID_CHILD first = nullptr;
    HRESULT hr = SHBindToParent(pidls.items[0], IID_IShellFolder, folder.ReceiveVoid(), &first);
    if (FAILED(hr))
        return hr;
    std::vector<PCUITEMID_CHILD> children;
    for (PIDLIST_ABSOLUTE p : pidls.items)
        children.push_back(ILFindLastID(p));
    return folder->GetUIObjectOf(nullptr, UINT(children.size()), children.data(), IID_IDataObject, nullptr,
                                 reinterpret_cast<void**>(ppdo));
}

CTestDataObject::CTestDataObject(std::vector<std::string> paths, IDataObject* pInner)
    : m_paths(std::move(paths)), m_pInner(pInner)
{
    if (m_pInner)
        m_pInner->AddRef();
}

CTestDataObject::~CTestDataObject()
{
    if (m_pInner)
        m_pInner->Release();
}

STDMETHODIMP CTestDataObject::QueryInterface(REFIID riid, void** ppv)
{
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDataObject))
        return E_NOINTERFACE;
    *ppv = static_cast<IDataObject*>(this);
    AddRef();
    return S_OK;
}

// The object lives on the test's stack: counting only, never self-deleting.
STDMETHODIMP_(ULONG) CTestDataObject::AddRef()
{
    return ULONG(1 + ++m_nAddRef - m_nRelease);
}

STDMETHODIMP_(ULONG) CTestDataObject::Release()
{
    if (++m_nRelease == m_nAddRef)
        ++m_nDroppedToZero;
    return ULONG(1 + m_nAddRef - m_nRelease);
}

STDMETHODIMP CTestDataObject::GetData(FORMATETC* pfe, STGMEDIUM* pmed)
{
    if (m_pInner)
        return m_pInner->GetData(pfe, pmed);
    if (m_paths.empty() || pfe->cfFormat != CF_HDROP || !(pfe->tymed & TYMED_HGLOBAL))
        return DV_E_FORMATETC;
    size_t cb = sizeof(DROPFILES) + 1;
    for (const std::string& p : m_paths)
        cb += p.size() + 1;
    HGLOBAL hGlobal = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, cb);
    if (!hGlobal)
        return E_OUTOFMEMORY;
    auto* pDrop = static_cast<DROPFILES*>(GlobalLock(hGlobal));
    pDrop->pFiles = sizeof(DROPFILES);
    pDrop->fWide = FALSE;
    char* pText = reinterpret_cast<char*>(pDrop + 1);
    for (const std::string& p : m_paths) {
        std::memcpy(pText, p.c_str(), p.size() + 1);
        pText += p.size() + 1;
    }
    GlobalUnlock(hGlobal);
    pmed->tymed = TYMED_HGLOBAL;
    pmed->hGlobal = hGlobal;
    pmed->pUnkForRelease = nullptr;
    return S_OK;
}

STDMETHODIMP CTestDataObject::QueryGetData(FORMATETC* pfe)
{
    if (m_pInner)
        return m_pInner->QueryGetData(pfe);
    return !m_paths.empty() && pfe->cfFormat == CF_HDROP ? S_OK : DV_E_FORMATETC;
}

STDMETHODIMP CTestDataObject::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* pOut)
{
    pOut->ptd = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CTestDataObject::EnumFormatEtc(DWORD, IEnumFORMATETC** pp)
{
    *pp = nullptr;
    return E_NOTIMPL;
}

#include <gtest/gtest.h>

namespace {
// Every test runs on the main thread, a single-threaded apartment as in Explorer.
class CComEnvironment : public testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override { CoUninitialize(); }
};
testing::Environment* const g_pComEnvironment = testing::AddGlobalTestEnvironment(new CComEnvironment);
}  // namespace

namespace {
struct CBoxWatch {
    DWORD dwThreadId;
    int idButton;
    HANDLE hDone;  // set when fn has returned: no box is coming any more
    CBoxSeen seen;
};

BOOL CALLBACK FindBox(HWND hwnd, LPARAM lParam)
{
    char cls[32] = {};
    GetClassNameA(hwnd, cls, sizeof(cls));
    if (std::strcmp(cls, "#32770") != 0 || !IsWindowVisible(hwnd))
        return TRUE;
    *reinterpret_cast<HWND*>(lParam) = hwnd;
    return FALSE;
}

DWORD WINAPI WatchForBox(LPVOID p)
{
    auto* watch = static_cast<CBoxWatch*>(p);
    for (int i = 0; i < 400 && WaitForSingleObject(watch->hDone, 0) == WAIT_TIMEOUT; ++i) {
        HWND box = nullptr;
        EnumThreadWindows(watch->dwThreadId, FindBox, reinterpret_cast<LPARAM>(&box));
        if (box) {
            char text[1024] = {};
            GetWindowTextA(box, text, sizeof(text));
            watch->seen.caption = text;
            GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
            watch->seen.text = text;
            HWND icon = GetDlgItem(box, 0x0440);  // the message box's icon static
            if (icon && IsWindowVisible(icon))
                watch->seen.hIcon = reinterpret_cast<HICON>(SendMessageA(icon, STM_GETICON, 0, 0));
            watch->seen.bFound = true;
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(watch->idButton, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(box, watch->idButton)));
            return 0;
        }
        Sleep(25);
    }
    return 0;
}
}  // namespace

CBoxSeen AnswerMessageBox(const std::function<void()>& fn, int idButton)
{
    CBoxWatch watch{GetCurrentThreadId(), idButton, CreateEventA(nullptr, TRUE, FALSE, nullptr), {}};
    HANDLE hThread = CreateThread(nullptr, 0, WatchForBox, &watch, 0, nullptr);
    fn();
    SetEvent(watch.hDone);
    if (hThread) {
        WaitForSingleObject(hThread, INFINITE);
        CloseHandle(hThread);
    }
    CloseHandle(watch.hDone);
    return watch.seen;
}
