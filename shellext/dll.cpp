// The module: its instance handle and application object, the count of live
// objects, the class factory and the exported entry points. Registration's
// rows are Registration.cpp's.
#include "framework/afxdefs.h"

#include <new>
#include <objbase.h>

#include "framework/afxapp.h"
#include "framework/afxres.h"
#include "shellext/Module.h"
#include "shellext/Registration.h"
#include "shellext/ShellExt.h"
#include "shellext/ShellExtGuid.h"
#include "support/Settings.h"

LONG g_nObjects = 0;

namespace {
// Server locks taken by LockServer(TRUE) and not yet released; each also
// counts in g_nObjects.
LONG g_nServerLocks = 0;
}  // namespace

bool IsWindowsNT()
{
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

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
    STDMETHODIMP LockServer(BOOL fLock) override;

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

// A host that locks the server keeps the module loaded as a live object
// does, until it unlocks. An unlock without a lock is ignored: it must not
// let the module go under objects that still live.
STDMETHODIMP CShellExtClassFactory::LockServer(BOOL fLock)
{
    if (fLock) {
        InterlockedIncrement(&g_nServerLocks);
        ModuleObjectCreated();
        return S_OK;
    }
    LONG nLocks = InterlockedCompareExchange(&g_nServerLocks, 0, 0);
    while (nLocks > 0) {
        const LONG nSeen = InterlockedCompareExchange(&g_nServerLocks, nLocks - 1, nLocks);
        if (nSeen == nLocks) {
            ModuleObjectDestroyed();
            break;
        }
        nLocks = nSeen;
    }
    return S_OK;
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
        RemoveMovedAsideCopies();
        CShellExtClassFactory* pFactory = new (std::nothrow) CShellExtClassFactory;
        if (!pFactory)
            return E_OUTOFMEMORY;
        return QueryNewObject(pFactory, riid, ppv);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

// ---------------------------------------------------------------------------
// Registration exports (Registration.cpp)

STDAPI DllRegisterServer()
{
    return RegisterServer(false);
}

STDAPI DllUnregisterServer()
{
    return UnregisterServer(false);
}

// "user" registers for the calling user only, which needs no administrator:
//   regsvr32 /n /i:user Kestrin.dll      regsvr32 /u /n /i:user Kestrin.dll
STDAPI DllInstall(BOOL bInstall, LPCWSTR pszCmdLine)
{
    if (!pszCmdLine || lstrcmpiW(pszCmdLine, L"user") != 0)
        return E_INVALIDARG;
    return bInstall ? RegisterServer(true) : UnregisterServer(true);
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
