// The COM server as the shell reaches it: registry lookup, class factory,
// object identity, reference counts, and when the module may go.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <cstring>
#include <string>

#include "TestSupport.h"
#include "shellext/ShellExtGuid.h"

namespace {
HMODULE KestrinModule()
{
    return GetModuleHandleA("Kestrin.dll");
}

template <typename PFN>
PFN Export(const char* pszName)
{
    return reinterpret_cast<PFN>(reinterpret_cast<void*>(GetProcAddress(KestrinModule(), pszName)));
}

HRESULT CanUnloadNow()
{
    auto pfn = Export<HRESULT(STDAPICALLTYPE*)()>("DllCanUnloadNow");
    return pfn ? pfn() : E_UNEXPECTED;
}

ULONG RefCount(IUnknown* p)
{
    p->AddRef();
    return p->Release();
}

class ClassFactory : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CoGetClassObject(CLSID_ShellExt, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                   m_factory.ReceiveVoid()),
                  S_OK);
        ASSERT_NE(KestrinModule(), nullptr);
    }
    CComRef<IClassFactory> m_factory;
};
}  // namespace

TEST_F(ClassFactory, ComesFromTheRegisteredModuleFile)
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(KestrinModule(), path, MAX_PATH);
    EXPECT_STRCASEEQ(path, WinePath(KESTRIN_DLL).c_str());
}

TEST_F(ClassFactory, ModuleStaysWhileTheFactoryLives)
{
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    m_factory.Reset();
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST_F(ClassFactory, ModuleStaysWhileEitherObjectLives)
{
    CComRef<IContextMenu> menu;
    ASSERT_EQ(m_factory->CreateInstance(nullptr, IID_IContextMenu, menu.ReceiveVoid()), S_OK);
    m_factory.Reset();
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    menu.Reset();
    EXPECT_EQ(CanUnloadNow(), S_OK);

    ASSERT_EQ(CoGetClassObject(CLSID_ShellExt, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               m_factory.ReceiveVoid()),
              S_OK);
    ASSERT_EQ(m_factory->CreateInstance(nullptr, IID_IContextMenu, menu.ReceiveVoid()), S_OK);
    menu.Reset();
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    m_factory.Reset();
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

// A lock counts like a live object: the module stays until the unlock.
TEST_F(ClassFactory, LockServerPinsTheModuleUntilUnlocked)
{
    EXPECT_EQ(m_factory->LockServer(TRUE), S_OK);
    m_factory.Reset();
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    ASSERT_EQ(CoGetClassObject(CLSID_ShellExt, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               m_factory.ReceiveVoid()),
              S_OK);
    EXPECT_EQ(m_factory->LockServer(FALSE), S_OK);
    m_factory.Reset();
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST_F(ClassFactory, AnswersOnlyForItself)
{
    CComRef<IUnknown> unk;
    ASSERT_EQ(m_factory->QueryInterface(IID_IUnknown, unk.ReceiveVoid()), S_OK);
    EXPECT_EQ(static_cast<void*>(unk.get()), static_cast<void*>(m_factory.get()));
    void* p = &p;
    EXPECT_EQ(m_factory->QueryInterface(IID_IContextMenu, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(RefCount(m_factory.get()), 2u);  // ours and unk's
}

TEST_F(ClassFactory, RefusesAggregation)
{
    CTestDataObject outer;
    void* p = &p;
    EXPECT_EQ(m_factory->CreateInstance(&outer, IID_IUnknown, &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
    p = &p;
    EXPECT_EQ(CoCreateInstance(CLSID_ShellExt, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, &p),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
    m_factory.Reset();
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

// A handler nobody can take must not linger and keep the module loaded.
TEST_F(ClassFactory, UnofferedInterfaceLeavesNoObjectBehind)
{
    void* p = &p;
    EXPECT_EQ(m_factory->CreateInstance(nullptr, IID_IDataObject, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    m_factory.Reset();
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST(DllGetClassObject, OtherClassIsNotAvailable)
{
    CComRef<IClassFactory> keepLoaded;
    ASSERT_EQ(CoGetClassObject(CLSID_ShellExt, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               keepLoaded.ReceiveVoid()),
              S_OK);
    auto pfn = Export<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>("DllGetClassObject");
    ASSERT_NE(pfn, nullptr);
    const CLSID others[] = {CLSID_NULL, CLSID_ShellLink, {CLSID_ShellExt.Data1 ^ 1, CLSID_ShellExt.Data2,
                                                           CLSID_ShellExt.Data3, {0x98, 0xb2, 0xce, 0x9d, 0x23, 0x6a, 0xce, 0x8a}}};
    for (const CLSID& clsid : others) {
        void* p = &p;
        EXPECT_EQ(pfn(clsid, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
        EXPECT_EQ(p, nullptr);
    }
    void* p = &p;
    EXPECT_EQ(pfn(CLSID_ShellExt, IID_IContextMenu, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    keepLoaded.Reset();
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST(ShellExt, BothInterfacesShareOneIdentity)
{
    CComRef<IShellExtInit> init;
    ASSERT_EQ(CoCreateInstance(CLSID_ShellExt, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                               init.ReceiveVoid()),
              S_OK);
    EXPECT_EQ(RefCount(init.get()), 1u);
    CComRef<IContextMenu> menu;
    ASSERT_EQ(init->QueryInterface(IID_IContextMenu, menu.ReceiveVoid()), S_OK);
    EXPECT_EQ(RefCount(init.get()), 2u);
    EXPECT_NE(static_cast<void*>(menu.get()), static_cast<void*>(init.get()));

    CComRef<IUnknown> fromMenu, fromInit;
    ASSERT_EQ(menu->QueryInterface(IID_IUnknown, fromMenu.ReceiveVoid()), S_OK);
    ASSERT_EQ(init->QueryInterface(IID_IUnknown, fromInit.ReceiveVoid()), S_OK);
    EXPECT_EQ(fromMenu.get(), fromInit.get());
    EXPECT_EQ(static_cast<void*>(fromInit.get()), static_cast<void*>(init.get()));

    CComRef<IContextMenu> menuAgain;
    ASSERT_EQ(init->QueryInterface(IID_IContextMenu, menuAgain.ReceiveVoid()), S_OK);
    EXPECT_EQ(menuAgain.get(), menu.get());
    CComRef<IShellExtInit> initAgain;
    ASSERT_EQ(menu->QueryInterface(IID_IShellExtInit, initAgain.ReceiveVoid()), S_OK);
    EXPECT_EQ(initAgain.get(), init.get());
    EXPECT_EQ(RefCount(menu.get()), 6u);
}

TEST(ShellExt, CountsReferencesAndGoesAtZero)
{
    IContextMenu* pMenu = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_ShellExt, nullptr, CLSCTX_INPROC_SERVER, IID_IContextMenu,
                               reinterpret_cast<void**>(&pMenu)),
              S_OK);
    EXPECT_EQ(pMenu->AddRef(), 2u);
    EXPECT_EQ(pMenu->AddRef(), 3u);
    EXPECT_EQ(pMenu->Release(), 2u);
    EXPECT_EQ(pMenu->Release(), 1u);
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    EXPECT_EQ(pMenu->Release(), 0u);
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST(ShellExt, RefusesOtherInterfaces)
{
    CComRef<IContextMenu> menu;
    ASSERT_EQ(CoCreateInstance(CLSID_ShellExt, nullptr, CLSCTX_INPROC_SERVER, IID_IContextMenu,
                               menu.ReceiveVoid()),
              S_OK);
    const IID* refused[] = {&IID_IContextMenu2, &IID_IContextMenu3, &IID_IDataObject, &IID_IClassFactory,
                            &IID_IPersistFile, &IID_IShellPropSheetExt};
    for (size_t i = 0; i < sizeof(refused) / sizeof(refused[0]); ++i) {
        void* p = &p;
        EXPECT_EQ(menu->QueryInterface(*refused[i], &p), E_NOINTERFACE) << "interface " << i;
        EXPECT_EQ(p, nullptr) << "interface " << i;
    }
    EXPECT_EQ(RefCount(menu.get()), 1u);
}

// reg query shows the data; the stored length must include the terminator.
TEST(Registration, ValuesAreStringsStoredWithTheirTerminator)
{
    const std::string clsidKey = std::string("CLSID\\") + kShellExtClsidString;
    const struct {
        HKEY hRoot;
        std::string key;
        const char* value;
    } rows[] = {
        {HKEY_CLASSES_ROOT, clsidKey, nullptr},
        {HKEY_CLASSES_ROOT, clsidKey + "\\InProcServer32", nullptr},
        {HKEY_CLASSES_ROOT, clsidKey + "\\InProcServer32", "ThreadingModel"},
        {HKEY_CLASSES_ROOT, "*\\shellex\\ContextMenuHandlers\\Kestrin", nullptr},
        {HKEY_CLASSES_ROOT, "Directory\\shellex\\ContextMenuHandlers\\Kestrin", nullptr},
        {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved",
         kShellExtClsidString},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.key);
        HKEY hKey = nullptr;
        ASSERT_EQ(RegOpenKeyExA(r.hRoot, r.key.c_str(), 0, KEY_READ, &hKey), ERROR_SUCCESS);
        char data[MAX_PATH] = {};
        DWORD type = 0, cb = sizeof(data);
        EXPECT_EQ(RegQueryValueExA(hKey, r.value, nullptr, &type, reinterpret_cast<BYTE*>(data), &cb), ERROR_SUCCESS);
        RegCloseKey(hKey);
        EXPECT_EQ(type, DWORD(REG_SZ));
        EXPECT_GT(cb, 1u);
        EXPECT_EQ(cb, std::strlen(data) + 1);
    }
}
