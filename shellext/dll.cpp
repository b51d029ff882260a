// The module: its application object, the exported entry points, the class
// factory, and self-registration.
#include "framework/afxdefs.h"

#include <new>
#include <string>
#include <objbase.h>
#include <olectl.h>
#include <shlobj.h>

#include "framework/afxapp.h"
#include "framework/afxconv.h"
#include "framework/afxres.h"
#include "framework/afxstr.h"
#include "shellext/Module.h"
#include "shellext/ShellExt.h"
#include "shellext/ShellExtGuid.h"
#include "support/Settings.h"
#include "support/WinHandles.h"

LONG g_nObjects = 0;

namespace {
bool IsWindowsNT()
{
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}
}  // namespace

// ---------------------------------------------------------------------------
// Application object

class CKestrinApp : public CWinApp {
public:
    BOOL InitInstance() override;
    int ExitInstance() override;
};

BOOL CKestrinApp::InitInstance()
{
    // The work lock is a static object: it exists before any export is called.
    if (IsWindowsNT())
        g_hSettingsRoot = HKEY_CURRENT_USER;
    return CWinApp::InitInstance();
}

int CKestrinApp::ExitInstance()
{
    return CWinApp::ExitInstance();
}

namespace {
CKestrinApp theApp;
}  // namespace

// ---------------------------------------------------------------------------
// Class factory

class CShellExtClassFactory final : public IClassFactory {
public:
    CShellExtClassFactory() : m_cRef(0) { ModuleObjectCreated(); }
    CShellExtClassFactory(const CShellExtClassFactory&) = delete;
    CShellExtClassFactory& operator=(const CShellExtClassFactory&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    ~CShellExtClassFactory() { ModuleObjectDestroyed(); }

    ULONG m_cRef;
};

STDMETHODIMP CShellExtClassFactory::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory))
        return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CShellExtClassFactory::Release()
{
    if (--m_cRef)
        return m_cRef;
    delete this;
    return 0;
}

// Hands out the requested interface of a fresh object; an object nobody
// takes (the interface is not offered) is destroyed instead of leaking.
template <typename T>
HRESULT QueryNewObject(T* pObject, REFIID riid, void** ppv)
{
    pObject->AddRef();
    HRESULT hr = pObject->QueryInterface(riid, ppv);
    pObject->Release();
    return hr;
}

STDMETHODIMP CShellExtClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter)
        return CLASS_E_NOAGGREGATION;
    try {
        CShellExt* pExt = new (std::nothrow) CShellExt;
        if (!pExt)
            return E_OUTOFMEMORY;
        return QueryNewObject(pExt, riid, ppv);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

// ---------------------------------------------------------------------------
// Exports

STDAPI DllCanUnloadNow()
{
    return InterlockedCompareExchange(&g_nObjects, 0, 0) == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, CLSID_ShellExt))
        return CLASS_E_CLASSNOTAVAILABLE;
    try {
        CShellExtClassFactory* pFactory = new (std::nothrow) CShellExtClassFactory;
        if (!pFactory)
            return E_OUTOFMEMORY;
        return QueryNewObject(pFactory, riid, ppv);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

// ---------------------------------------------------------------------------
// Registration

namespace {
enum class RowData { Literal, ModulePath, ClsidString };

// Key and value-name patterns take the CLSID string; the data pattern takes
// what `data` names. A null value name is the key's default value.
struct CRegistrationRow {
    HKEY hRoot;
    const char* pszKey;
    const char* pszValueName;
    const char* pszData;
    RowData data;
    bool bNTOnly;
};

const char kApprovedKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

const CRegistrationRow kRows[] = {
    {HKEY_CLASSES_ROOT, "CLSID\\%s", nullptr, "Kestrin", RowData::Literal, false},
    {HKEY_CLASSES_ROOT, "CLSID\\%s\\InProcServer32", nullptr, "%s", RowData::ModulePath, false},
    {HKEY_CLASSES_ROOT, "CLSID\\%s\\InProcServer32", "ThreadingModel", "Apartment", RowData::Literal, false},
    {HKEY_CLASSES_ROOT, "*\\shellex\\ContextMenuHandlers\\Kestrin", nullptr, "%s", RowData::ClsidString, false},
    {HKEY_LOCAL_MACHINE, kApprovedKey, "%s", "Kestrin", RowData::Literal, true},
};

// Deleted in this order: a key with subkeys cannot be deleted on NT.
const char* const kKeysToDelete[] = {
    "CLSID\\%s\\InProcServer32",
    "CLSID\\%s",
    "*\\shellex\\ContextMenuHandlers\\Kestrin",
};

CString ClsidString()
{
    wchar_t wide[64] = {};
    char narrow[MAX_PATH] = {};
    if (StringFromGUID2(CLSID_ShellExt, wide, 64) > 0)
        WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof(narrow), nullptr, nullptr);
    return CString(narrow);
}

// The full path even past MAX_PATH and outside the code page: a cut or
// '?'-filled path would register a file that does not exist.
CString ModulePath()
{
    return AfxGetModuleFileName(AfxGetInstanceHandle());
}

CString Expand(const char* pszPattern, const CString& arg)
{
    CString text;
    text.Format(pszPattern, arg.GetString());
    return text;
}

HRESULT WriteRow(const CRegistrationRow& row, const CString& clsid, const CString& module)
{
    CKeyHandle key;
    if (RegCreateKeyExW(row.hRoot, Utf8ToWide(Expand(row.pszKey, clsid)).c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, key.Receive(), nullptr) != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    const std::wstring data = Utf8ToWide(Expand(row.pszData, row.data == RowData::ModulePath ? module : clsid));
    const std::wstring name = row.pszValueName ? Utf8ToWide(Expand(row.pszValueName, clsid)) : std::wstring();
    RegSetValueExW(key, row.pszValueName ? name.c_str() : nullptr, 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(data.c_str()), DWORD((data.size() + 1) * sizeof(wchar_t)));
    return S_OK;
}

HRESULT RegisterRows()
{
    const CString clsid = ClsidString();
    const CString module = ModulePath();
    const bool bNT = IsWindowsNT();
    for (const CRegistrationRow& row : kRows) {
        if (row.bNTOnly && !bNT)
            continue;
        if (FAILED(WriteRow(row, clsid, module)))
            return SELFREG_E_CLASS;
    }
    return S_OK;
}

void RemoveApproval(const CString& clsid)
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, CString(kApprovedKey) + "\\Kestrin");  // outcome not looked at
    CKeyHandle key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kApprovedKey, 0, KEY_SET_VALUE, key.Receive()) == ERROR_SUCCESS)
        RegDeleteValueA(key, clsid);
}

HRESULT UnregisterRows()
{
    const CString clsid = ClsidString();
    for (const char* pszKey : kKeysToDelete) {
        if (RegDeleteKeyA(HKEY_CLASSES_ROOT, Expand(pszKey, clsid)) != ERROR_SUCCESS)
            return SELFREG_E_CLASS;
    }
    if (IsWindowsNT())
        RemoveApproval(clsid);
    return S_OK;
}

// Explorer caches handler lists; tell it they changed.
void NotifyShell()
{
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}
}  // namespace

STDAPI DllRegisterServer()
{
    HRESULT hr = SELFREG_E_CLASS;
    try {
        hr = RegisterRows();
    } catch (...) {
        hr = SELFREG_E_CLASS;
    }
    NotifyShell();
    return hr;
}

STDAPI DllUnregisterServer()
{
    HRESULT hr = SELFREG_E_CLASS;
    try {
        hr = UnregisterRows();
    } catch (...) {
        hr = SELFREG_E_CLASS;
    }
    NotifyShell();
    return hr;
}

// ---------------------------------------------------------------------------
// Entry

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID)
{
    try {
        if (dwReason == DLL_PROCESS_ATTACH) {
            AfxSetInstanceHandle(hInstance);
            AfxSetResourceHandle(hInstance);
            DisableThreadLibraryCalls(hInstance);
            return theApp.InitInstance();
        }
        if (dwReason == DLL_PROCESS_DETACH)
            theApp.ExitInstance();
    } catch (...) {
        return FALSE;
    }
    return TRUE;
}
