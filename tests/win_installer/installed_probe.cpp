// Plays the shell's part for an installed copy, holds a module loaded, and
// plays the next logon.
//
//   installed_probe menu FILE    builds the context menu for FILE from the
//                                per-user registration and prints it
//   installed_probe hold MODULE FLAG   loads MODULE (a DLL, or kestrin.exe
//                                mapped as an image), writes FLAG.held, keeps
//                                it loaded until FLAG exists, then deletes
//                                FLAG.held
//   installed_probe logon VALUE  runs the user's RunOnce entry VALUE as the
//                                next logon would: the value is deleted,
//                                then its command runs to its end
//
// Wine 8's COM does not read HKCU\Software\Classes when it creates objects
// (CoCreateInstance answers REGDB_E_CLASSNOTREG for a class registered only
// there, where Windows merges it into HKCR), so "menu" follows the per-user
// keys itself: handler key to CLSID, CLSID to InProcServer32, then
// DllGetClassObject and IClassFactory, as COM would.
#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "shellext/ShellExtGuid.h"
#include "tests/win_shellext/TestSupport.h"

namespace {
std::string ReadUserClassValue(const std::string& key, const char* pszName)
{
    char data[1024] = {};
    DWORD cb = sizeof(data) - 1;
    const std::string path = "Software\\Classes\\" + key;
    if (RegGetValueA(HKEY_CURRENT_USER, path.c_str(), pszName, RRF_RT_REG_SZ, nullptr, data, &cb) != ERROR_SUCCESS)
        return std::string();
    return data;
}

std::string MenuText(HMENU hMenu, UINT pos)
{
    char text[256] = {};
    GetMenuStringA(hMenu, pos, text, sizeof(text), MF_BYPOSITION);
    return text;
}

// The file the loaded module was mapped from, as an NTFS-style file index.
unsigned long long FileIndex(const std::string& path)
{
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info = {};
    const bool bOk = h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &info);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    return bOk ? (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow : 0;
}

int Menu(const char* pszFile)
{
    if (ReadUserClassValue("*\\shellex\\ContextMenuHandlers\\Kestrin", nullptr) != kShellExtClsidString)
        return std::printf("no per-user handler key\n"), 10;
    const std::string server = "CLSID\\" + std::string(kShellExtClsidString) + "\\InProcServer32";
    const std::string module = ReadUserClassValue(server, nullptr);
    if (module.empty() || ReadUserClassValue(server, "ThreadingModel") != "Apartment")
        return std::printf("no per-user server key\n"), 11;
    HMODULE hModule = LoadLibraryA(module.c_str());
    typedef HRESULT(STDAPICALLTYPE * PFNGETCLASSOBJECT)(REFCLSID, REFIID, void**);
    auto pfn = reinterpret_cast<PFNGETCLASSOBJECT>(
        reinterpret_cast<void*>(hModule ? GetProcAddress(hModule, "DllGetClassObject") : nullptr));
    if (!pfn)
        return std::printf("cannot load %s\n", module.c_str()), 12;
    char loaded[MAX_PATH] = {};
    GetModuleFileNameA(hModule, loaded, MAX_PATH);
    std::printf("server %s\nfile-index %llu\n", loaded, FileIndex(loaded));

    CComRef<IClassFactory> factory;
    CComRef<IShellExtInit> init;
    CComRef<IDataObject> data;
    CComRef<IContextMenu> menu;
    HRESULT hr = pfn(CLSID_ShellExt, IID_IClassFactory, factory.ReceiveVoid());
    if (SUCCEEDED(hr))
        hr = factory->CreateInstance(nullptr, IID_IShellExtInit, init.ReceiveVoid());
    if (SUCCEEDED(hr))
        hr = ShellDataObject({pszFile}, data.Receive());
    if (SUCCEEDED(hr))
        hr = init->Initialize(nullptr, data.get(), nullptr);
    if (SUCCEEDED(hr))
        hr = init->QueryInterface(IID_IContextMenu, menu.ReceiveVoid());
    HMENU hMenu = CreatePopupMenu();
    if (SUCCEEDED(hr))
        hr = menu->QueryContextMenu(hMenu, 0, 1, 0x7FFF, CMF_NORMAL);
    if (FAILED(hr))
        return std::printf("menu failed 0x%08lX\n", static_cast<unsigned long>(hr)), 13;
    for (int i = 0; i < GetMenuItemCount(hMenu); ++i) {
        std::printf("item %s\n", MenuText(hMenu, UINT(i)).c_str());
        if (HMENU hSub = GetSubMenu(hMenu, i)) {
            for (int j = 0; j < GetMenuItemCount(hSub); ++j)
                std::printf("  sub %s\n", MenuText(hSub, UINT(j)).c_str());
        }
    }
    DestroyMenu(hMenu);
    return 0;
}

int Hold(const char* pszDll, const std::string& flag)
{
    HMODULE hModule = LoadLibraryA(pszDll);
    if (!hModule)
        return std::printf("cannot load %s\n", pszDll), 20;
    MakeFile(flag + ".held", "");
    for (int i = 0; i < 1200 && GetFileAttributesA(flag.c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(100);
    FreeLibrary(hModule);
    // Gone once the module is released: the test waits for that.
    DeleteFileA((flag + ".held").c_str());
    return 0;
}

int Logon(const char* pszValue)
{
    const char* const pszKey = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, pszKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &hKey) != ERROR_SUCCESS)
        return std::printf("no RunOnce key\n"), 30;
    char command[4096] = {};
    DWORD cb = sizeof(command) - 1;
    LONG code = RegQueryValueExA(hKey, pszValue, nullptr, nullptr, reinterpret_cast<BYTE*>(command), &cb);
    if (code == ERROR_SUCCESS)
        RegDeleteValueA(hKey, pszValue);
    RegCloseKey(hKey);
    if (code != ERROR_SUCCESS)
        return std::printf("no RunOnce value %s\n", pszValue), 31;
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi))
        return std::printf("cannot run %s\n", command), 32;
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD exitCode = 0;
    GetExitCodeProcess(pi.hProcess, &exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    std::printf("ran %s\nexit %lu\n", command, static_cast<unsigned long>(exitCode));
    return 0;
}
}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "menu") == 0) {
        CoInitialize(nullptr);
        int rc = Menu(argv[2]);
        CoUninitialize();
        return rc;
    }
    if (argc == 4 && std::strcmp(argv[1], "hold") == 0)
        return Hold(argv[2], argv[3]);
    if (argc == 3 && std::strcmp(argv[1], "logon") == 0)
        return Logon(argv[2]);
    std::fprintf(stderr, "usage: installed_probe menu FILE | hold MODULE FLAG | logon VALUE\n");
    return 2;
}
