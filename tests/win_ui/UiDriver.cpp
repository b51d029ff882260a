#include "tests/win_ui/UiDriver.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "shellext/ShellExtGuid.h"
#include "tests/common/WinePath.h"

namespace ui {

// ---------------------------------------------------------------- watchdog

namespace {
std::atomic<DWORD> g_dwDeadline{0};
}

void StartWatchdog(DWORD dwSeconds)
{
    static std::atomic<bool> s_bRunning{false};
    g_dwDeadline = GetTickCount() + dwSeconds * 1000;
    if (s_bRunning.exchange(true))
        return;
    std::thread([] {
        for (;;) {
            Sleep(500);
            if (LONG(GetTickCount() - g_dwDeadline.load()) > 0) {
                std::fprintf(stderr, "watchdog: a test hung; ending the process\n");
                std::fflush(stderr);
                ExitProcess(3);
            }
        }
    }).detach();
}

// ---------------------------------------------------------------- the DLL

namespace {
// Test paths and texts are UTF-8, as in the module.
std::wstring Widen(const std::string& s)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0);
    std::wstring w(size_t(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, &w[0], n);
    w.resize(w.size() - 1);
    return w;
}

std::string Narrow(const wchar_t* pw)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, pw, -1, nullptr, 0, nullptr, nullptr);
    std::string s(size_t(n > 0 ? n : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, pw, -1, &s[0], n, nullptr, nullptr);
    s.resize(s.size() - 1);
    return s;
}

// Long absolute paths in the form that MAX_PATH does not limit.
std::wstring FilePath(const std::string& s)
{
    std::wstring w = Widen(s);
    return w.size() >= MAX_PATH - 12 && w.compare(0, 4, L"\\\\?\\") != 0 ? L"\\\\?\\" + w : w;
}

}  // namespace

#ifdef KESTRIN_DLL_PATH
CKestrin& CKestrin::Get()
{
    static CKestrin s_instance;
    return s_instance;
}

CKestrin::CKestrin()
{
    OleInitialize(nullptr);
    m_hModule = LoadLibraryA(WinePath(KESTRIN_DLL_PATH).c_str());
    if (!m_hModule)
        throw std::runtime_error("Kestrin.dll did not load");
    typedef HRESULT(STDAPICALLTYPE * GetClassObjectFn)(REFCLSID, REFIID, void**);
    auto pfn = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(m_hModule, "DllGetClassObject")));
    if (!pfn || FAILED(pfn(CLSID_ShellExt, IID_IClassFactory, reinterpret_cast<void**>(&m_pFactory))))
        throw std::runtime_error("no class factory");
}

#endif

namespace {

// CF_HDROP alone, as Explorer offers it for any selection. Wine 8's shell
// cannot name an item deeper than MAX_PATH (SHParseDisplayName fails), so
// such selections are handed over in this form, which is what the handler
// reads from the shell's object too.
class CDropDataObject final : public IDataObject {
public:
    explicit CDropDataObject(const std::vector<std::string>& paths)
    {
        std::wstring list;
        for (const std::string& p : paths)
            list += Widen(p) + L'\0';
        list += L'\0';
        m_data.resize(sizeof(DROPFILES) + list.size() * sizeof(wchar_t));
        DROPFILES df{};
        df.pFiles = sizeof(DROPFILES);
        df.fWide = TRUE;
        std::memcpy(&m_data[0], &df, sizeof df);
        std::memcpy(&m_data[sizeof df], list.data(), list.size() * sizeof(wchar_t));
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDataObject) ? this : nullptr;
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() override
    {
        ULONG n = --m_cRef;
        if (n == 0)
            delete this;
        return n;
    }
    STDMETHODIMP GetData(FORMATETC* pFmt, STGMEDIUM* pMedium) override
    {
        if (QueryGetData(pFmt) != S_OK)
            return DV_E_FORMATETC;
        HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, m_data.size());
        if (!h)
            return E_OUTOFMEMORY;
        std::memcpy(GlobalLock(h), m_data.data(), m_data.size());
        GlobalUnlock(h);
        pMedium->tymed = TYMED_HGLOBAL;
        pMedium->hGlobal = h;
        pMedium->pUnkForRelease = nullptr;
        return S_OK;
    }
    STDMETHODIMP QueryGetData(FORMATETC* pFmt) override
    {
        return pFmt && pFmt->cfFormat == CF_HDROP && (pFmt->tymed & TYMED_HGLOBAL) ? S_OK : DV_E_FORMATETC;
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    ULONG m_cRef = 1;
    std::vector<char> m_data;
};

}  // namespace

IDataObject* MakeDataObject(const std::vector<std::string>& paths)
{
    // A folder's view hands over items of that folder; a search's results
    // come from several folders, in a list of their own.
    auto parent = [](const std::string& p) { return p.substr(0, p.find_last_of('\\')); };
    for (const std::string& p : paths) {
        if (parent(p) != parent(paths[0]))
            return new CDropDataObject(paths);
    }
    std::vector<PIDLIST_ABSOLUTE> full;
    for (const std::string& p : paths) {
        PIDLIST_ABSOLUTE pidl = nullptr;
        if (FAILED(SHParseDisplayName(Widen(p).c_str(), nullptr, &pidl, 0, nullptr))) {
            for (PIDLIST_ABSOLUTE q : full)
                CoTaskMemFree(q);
            if (Widen(p).size() >= MAX_PATH)
                return new CDropDataObject(paths);
            throw std::runtime_error("SHParseDisplayName failed for " + p);
        }
        full.push_back(pidl);
    }
    IShellFolder* pFolder = nullptr;
    PCUITEMID_CHILD pFirst = nullptr;
    IDataObject* pData = nullptr;
    HRESULT hr = SHBindToParent(full[0], IID_IShellFolder, reinterpret_cast<void**>(&pFolder), &pFirst);
    if (SUCCEEDED(hr)) {
        std::vector<PCUITEMID_CHILD> children;
        for (PIDLIST_ABSOLUTE pidl : full)
            children.push_back(ILFindLastID(pidl));
        hr = pFolder->GetUIObjectOf(nullptr, UINT(children.size()), children.data(), IID_IDataObject, nullptr,
                                    reinterpret_cast<void**>(&pData));
        pFolder->Release();
    }
    for (PIDLIST_ABSOLUTE pidl : full)
        CoTaskMemFree(pidl);
    if (FAILED(hr) || !pData)
        throw std::runtime_error("no data object for the selection");
    return pData;
}

IContextMenu* TakeSelection(IShellExtInit* pInit, const std::vector<std::string>& paths)
{
    IDataObject* pData = nullptr;
    try {
        pData = MakeDataObject(paths);
    } catch (...) {
        pInit->Release();
        throw;
    }
    HRESULT hr = pInit->Initialize(nullptr, pData, nullptr);
    pData->Release();
    IContextMenu* pMenu = nullptr;
    if (SUCCEEDED(hr))
        hr = pInit->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&pMenu));
    pInit->Release();
    if (FAILED(hr))
        throw std::runtime_error("the handler did not take the selection");
    return pMenu;
}

#ifdef KESTRIN_DLL_PATH
IContextMenu* CKestrin::CreateMenuFor(const std::vector<std::string>& paths)
{
    IShellExtInit* pInit = nullptr;
    if (FAILED(m_pFactory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&pInit))))
        throw std::runtime_error("CreateInstance failed");
    IContextMenu* pMenu = TakeSelection(pInit, paths);
    // As the shell does before it invokes anything.
    HMENU hMenu = CreatePopupMenu();
    pMenu->QueryContextMenu(hMenu, 0, 1, 0x7FFF, CMF_NORMAL);
    DestroyMenu(hMenu);
    return pMenu;
}
#endif

// ---------------------------------------------------------------- owner window

namespace {
const UINT kRunCall = WM_APP + 17;

LRESULT CALLBACK OwnerProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_ENABLE) {
        if (auto* pLog = reinterpret_cast<OwnerLog*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA)))
            pLog->enables.push_back(wParam);
        return 0;
    }
    if (msg == kRunCall) {
        std::unique_ptr<std::function<void()>> pFn(reinterpret_cast<std::function<void()>*>(lParam));
        (*pFn)();
        return 0;
    }
    if (msg == WM_NCDESTROY) {  // closed by a test while a command runs
        delete reinterpret_cast<OwnerLog*>(SetWindowLongPtrA(hWnd, GWLP_USERDATA, 0));
    }
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}
}  // namespace

void COwnerWindow::PostCall(HWND hWnd, std::function<void()> fn)
{
    auto* pFn = new std::function<void()>(std::move(fn));
    if (!PostMessageA(hWnd, kRunCall, 0, reinterpret_cast<LPARAM>(pFn)))
        delete pFn;
}

COwnerWindow::COwnerWindow(bool bShown)
{
    WNDCLASSA wc{};
    wc.lpfnWndProc = OwnerProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "KestrinTestOwner";
    RegisterClassA(&wc);
    m_hWnd = CreateWindowA("KestrinTestOwner", "owner", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr,
                           wc.hInstance, nullptr);
    SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new OwnerLog));
    if (bShown) {
        ShowWindow(m_hWnd, SW_SHOW);
        SetActiveWindow(m_hWnd);
    }
}

COwnerWindow::~COwnerWindow()
{
    DestroyWindow(m_hWnd);  // its WM_NCDESTROY frees the log
}

OwnerLog COwnerWindow::Collect()
{
    MSG msg;
    while (PeekMessageA(&msg, m_hWnd, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
    auto* pLog = reinterpret_cast<OwnerLog*>(GetWindowLongPtrA(m_hWnd, GWLP_USERDATA));
    if (!pLog)
        return OwnerLog();
    OwnerLog log = *pLog;
    pLog->enables.clear();
    return log;
}

// ---------------------------------------------------------------- the user

CUser::CUser(std::function<void(CUser&)> script) : m_script(std::move(script)) {}

CUser::~CUser()
{
    m_bInvokeDone = true;
    if (m_thread.joinable())
        m_thread.join();
}

HRESULT CUser::Invoke(IContextMenu* pMenu, UINT nOffset, HWND hwndOwner)
{
    m_dwShellThread = GetCurrentThreadId();
    m_bInvokeDone = false;
    m_thread = std::thread([this] { Run(); });
    CMINVOKECOMMANDINFO ci{};
    ci.cbSize = sizeof ci;
    ci.hwnd = hwndOwner;
    ci.lpVerb = MAKEINTRESOURCEA(nOffset);
    ci.nShow = SW_SHOWNORMAL;
    HRESULT hr = pMenu->InvokeCommand(&ci);
    m_dwReturnedAt = GetTickCount();
    m_bInvokeDone = true;
    m_thread.join();
    return hr;
}

void CUser::Run()
{
    try {
        m_script(*this);
    } catch (const std::exception& e) {
        m_strFailure = e.what();
    }
    // The command must end on its own once the script is through.
    for (DWORD dwStart = GetTickCount(); !m_bInvokeDone && GetTickCount() - dwStart < m_dwPatienceMs;)
        Sleep(20);
    if (!m_bInvokeDone) {
        if (m_strFailure.empty())
            m_strFailure = "the command did not return after the user's last step";
        Rescue();
    }
}

// Cancels every Kestrin window until the command has returned.
void CUser::Rescue()
{
    const char* captions[] = {kMessageCaption, kAboutCaption, kSettingsCaption, kBusyCaption};
    while (!m_bInvokeDone) {
        for (const char* c : captions) {
            HWND h = FindWindowA("#32770", c);
            if (h)
                PostMessageA(h, WM_COMMAND, IDCANCEL, 0);
        }
        Sleep(100);
    }
}

namespace {
struct FindData {
    const char* pszCaption;
    const char* pszClass;
    DWORD dwThread;
    HWND hFound;
};

BOOL CALLBACK FindVisible(HWND hWnd, LPARAM lParam)
{
    auto* p = reinterpret_cast<FindData*>(lParam);
    char text[256] = {}, cls[64] = {};
    if (!IsWindowVisible(hWnd) || GetWindowThreadProcessId(hWnd, nullptr) != p->dwThread)
        return TRUE;
    GetWindowTextA(hWnd, text, sizeof text);
    GetClassNameA(hWnd, cls, sizeof cls);
    if (std::strcmp(text, p->pszCaption) == 0 && std::strcmp(cls, p->pszClass) == 0) {
        p->hFound = hWnd;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

HWND CUser::WaitWindow(const char* pszCaption, DWORD dwTimeoutMs, const char* pszClass)
{
    for (DWORD dwStart = GetTickCount();;) {
        FindData fd{pszCaption, pszClass, m_dwShellThread, nullptr};
        EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&fd));
        if (fd.hFound) {
            Sleep(50);  // let the dialog finish its initialisation
            return fd.hFound;
        }
        if (m_bInvokeDone)
            throw Timeout(std::string("the command ended before \"") + pszCaption + "\" appeared");
        if (GetTickCount() - dwStart > dwTimeoutMs)
            throw Timeout(std::string("no window \"") + pszCaption + "\" appeared");
        Sleep(20);
    }
}

bool CUser::Appears(const char* pszCaption, DWORD dwTimeoutMs)
{
    for (DWORD dwStart = GetTickCount(); GetTickCount() - dwStart <= dwTimeoutMs;) {
        FindData fd{pszCaption, "#32770", m_dwShellThread, nullptr};
        EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&fd));
        if (fd.hFound)
            return true;
        if (m_bInvokeDone)
            return false;
        Sleep(20);
    }
    return false;
}

void CUser::WaitGone(HWND hWnd, DWORD dwTimeoutMs)
{
    for (DWORD dwStart = GetTickCount(); IsWindow(hWnd) && IsWindowVisible(hWnd);) {
        if (GetTickCount() - dwStart > dwTimeoutMs)
            throw Timeout("a window did not close");
        Sleep(20);
    }
}

// ---------------------------------------------------------------- controls

void TypeText(HWND hDlg, int nId, const char* pszText)
{
    SendMessageW(GetDlgItem(hDlg, nId), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Widen(pszText).c_str()));
}

std::string ControlText(HWND hDlg, int nId)
{
    wchar_t text[2048] = {};
    SendMessageW(GetDlgItem(hDlg, nId), WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text));
    return Narrow(text);
}

std::string MessageText(HWND hBox) { return ControlText(hBox, 0xFFFF); }

void SelectItem(HWND hDlg, int nId, int nIndex) { SendMessageA(GetDlgItem(hDlg, nId), CB_SETCURSEL, WPARAM(nIndex), 0); }
int SelectedItem(HWND hDlg, int nId) { return int(SendMessageA(GetDlgItem(hDlg, nId), CB_GETCURSEL, 0, 0)); }

void SetChecked(HWND hDlg, int nId, bool bChecked)
{
    SendMessageA(GetDlgItem(hDlg, nId), BM_SETCHECK, bChecked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool IsChecked(HWND hDlg, int nId) { return SendMessageA(GetDlgItem(hDlg, nId), BM_GETCHECK, 0, 0) == BST_CHECKED; }

void Press(HWND hDlg, int nId)
{
    PostMessageA(hDlg, WM_COMMAND, MAKEWPARAM(nId, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(hDlg, nId)));
}

bool IsEnabled(HWND hDlg, int nId) { return IsWindowEnabled(GetDlgItem(hDlg, nId)) != FALSE; }

HWND FocusOf(HWND hDlg)
{
    GUITHREADINFO gi{};
    gi.cbSize = sizeof gi;
    GetGUIThreadInfo(GetWindowThreadProcessId(hDlg, nullptr), &gi);
    return gi.hwndFocus;
}

HWND FocusSettlesOn(HWND hDlg, HWND hExpected, DWORD dwTimeoutMs)
{
    HWND hFocus = FocusOf(hDlg);
    for (DWORD dwStart = GetTickCount(); hFocus != hExpected && GetTickCount() - dwStart < dwTimeoutMs;) {
        Sleep(10);
        hFocus = FocusOf(hDlg);
    }
    return hFocus;
}

void Pause(DWORD dwMs) { Sleep(dwMs); }

void AnswerSettings(CUser& user, const char* pszPassword, int nEncType, bool bBatch, bool bConfirm)
{
    HWND h = user.WaitWindow(kSettingsCaption);
    TypeText(h, 1001, pszPassword);
    if (bConfirm)
        TypeText(h, 1006, pszPassword);
    SelectItem(h, 1004, nEncType);
    SetChecked(h, 1002, bBatch);
    Press(h, IDOK);
    user.WaitGone(h);
}

// ---------------------------------------------------------------- files

std::string TempFolder(const char* pszTag)
{
    static int s_nCounter = 0;
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    std::string tag = pszTag;
    for (char& c : tag)
        if (!isalnum(static_cast<unsigned char>(c)))
            c = '_';
    std::string folder = std::string(temp) + "kestrin-ui-" + tag + "-" + std::to_string(GetCurrentProcessId()) +
                         "-" + std::to_string(++s_nCounter);
    RemoveFolder(folder);
    MakeFolder(folder);
    return folder;
}

void WriteFile(const std::string& path, const std::string& data)
{
    HANDLE h = CreateFileW(FilePath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot write " + path);
    DWORD dw = 0;
    BOOL bOk = data.empty() || ::WriteFile(h, data.data(), DWORD(data.size()), &dw, nullptr);
    CloseHandle(h);
    if (!bOk || dw != data.size())
        throw std::runtime_error("short write to " + path);
}

std::string ReadFile(const std::string& path)
{
    HANDLE h = CreateFileW(FilePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::string();
    std::string s;
    char buf[65536];
    DWORD dw = 0;
    while (::ReadFile(h, buf, sizeof buf, &dw, nullptr) && dw > 0)
        s.append(buf, dw);
    CloseHandle(h);
    return s;
}

bool Exists(const std::string& path) { return GetFileAttributesW(FilePath(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

void MakeFolder(const std::string& path) { CreateDirectoryW(FilePath(path).c_str(), nullptr); }

void RemoveFile(const std::string& path) { DeleteFileW(FilePath(path).c_str()); }

std::vector<std::string> ListFolder(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(FilePath(folder + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (std::wcscmp(fd.cFileName, L".") != 0 && std::wcscmp(fd.cFileName, L"..") != 0)
            names.push_back(Narrow(fd.cFileName));
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    std::sort(names.begin(), names.end());
    return names;
}

void RemoveFolder(const std::string& folder)
{
    for (const std::string& name : ListFolder(folder)) {
        std::string path = folder + "\\" + name;
        const DWORD dwAttributes = GetFileAttributesW(FilePath(path).c_str());
        // Wine deletes what a link leads to, not the link: RemoveUnixLink.
        if (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            continue;
        if (dwAttributes & FILE_ATTRIBUTE_DIRECTORY)
            RemoveFolder(path);
        else
            DeleteFileW(FilePath(path).c_str());
    }
    RemoveDirectoryW(FilePath(folder).c_str());
}

std::string SampleData(size_t nSize, unsigned nSeed)
{
    std::string s;
    s.reserve(nSize);
    unsigned x = nSeed * 2654435761u + 1;
    while (s.size() < nSize) {
        x = x * 1103515245u + 12345u;
        if ((x >> 16) & 1) {
            s += "line " + std::to_string(s.size()) + " of the sample & its text\r\n";
        } else {
            for (int i = 0; i < 64; ++i) {
                x = x * 1103515245u + 12345u;
                s += char(x >> 24);
            }
        }
    }
    s.resize(nSize);
    return s;
}

namespace {
// The Unix path Wine maps a Windows one to (wine_get_unix_file_name).
std::string UnixPath(const std::string& path)
{
    typedef char*(CDECL * UnixNameFn)(const wchar_t*);
    auto pfn = reinterpret_cast<UnixNameFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    char* psz = pfn ? pfn(Widen(path).c_str()) : nullptr;
    if (!psz)
        throw std::runtime_error("no Unix path for " + path);
    std::string unix = psz;
    HeapFree(GetProcessHeap(), 0, psz);
    return unix;
}
}  // namespace

namespace {
bool EntryExists(const std::string& path)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(FilePath(path).c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    FindClose(h);
    return true;
}

// Runs a Unix program (Wine starts it as it would a Windows one, but does
// not wait for it) until the entry at path exists, or no longer does.
void RunUnixUntil(const std::string& command, const std::string& path, bool bExists)
{
    std::wstring line = Widen(command);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        throw std::runtime_error("cannot run " + command);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    for (DWORD dwStart = GetTickCount(); GetTickCount() - dwStart < 10000; Sleep(20)) {
        if (EntryExists(path) == bExists)
            return;
    }
    throw std::runtime_error("no effect of " + command);
}

std::string UnixEntry(const std::string& path)
{
    const size_t cut = path.find_last_of('\\');
    return UnixPath(path.substr(0, cut)) + "/" + path.substr(cut + 1);
}
}  // namespace

void MakeUnixLink(const std::string& target, const std::string& link)
{
    const std::string unixTarget = target.find('\\') != std::string::npos ? UnixPath(target) : target;
    RunUnixUntil("/bin/ln -s \"" + unixTarget + "\" \"" + UnixEntry(link) + "\"", link, true);
}

void RemoveUnixLink(const std::string& link)
{
    RunUnixUntil("/bin/rm -f \"" + UnixEntry(link) + "\"", link, false);
}

// ---------------------------------------------------------------- registry

namespace {
const char kSettingsKey[] = "SOFTWARE\\Tallowmere\\Kestrin";
}

void ClearSettings() { RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKey); }

bool ReadSetting(const char* pszName, DWORD& dwValue)
{
    DWORD dwType = 0, cb = sizeof dwValue;
    LONG r = RegGetValueA(HKEY_CURRENT_USER, kSettingsKey, pszName, RRF_RT_ANY, &dwType, &dwValue, &cb);
    return r == ERROR_SUCCESS && dwType == REG_DWORD;
}

void WriteSetting(const char* pszName, DWORD dwValue)
{
    HKEY hKey = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr) ==
        ERROR_SUCCESS) {
        RegSetValueExA(hKey, pszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), sizeof dwValue);
        RegCloseKey(hKey);
    }
}

}  // namespace ui
