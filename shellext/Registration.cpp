// Self-registration, driven by one table of rows: the class, its in-process
// server and threading model, the handler's keys (files and folders) and the
// approval, written for the machine (DllRegisterServer) or for the calling
// user only (DllInstall "user"), and removed again; and the cleanup of copies
// an installer moved aside. dll.cpp's exports call in here.
#include "shellext/Registration.h"

#include <string>
#include <objbase.h>
#include <olectl.h>
#include <shlobj.h>

#include "base/PathUtils.h"
#include "framework/afxconv.h"
#include "shellext/Module.h"
#include "shellext/ShellExtGuid.h"
#include "support/WinHandles.h"

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
    {HKEY_CLASSES_ROOT, "Directory\\shellex\\ContextMenuHandlers\\Kestrin", nullptr, "%s", RowData::ClsidString, false},
    {HKEY_LOCAL_MACHINE, kApprovedKey, "%s", "Kestrin", RowData::Literal, true},
};

// Deleted in this order: a key with subkeys cannot be deleted on NT.
const char* const kKeysToDelete[] = {
    "CLSID\\%s\\InProcServer32",
    "CLSID\\%s",
    "*\\shellex\\ContextMenuHandlers\\Kestrin",
    "Directory\\shellex\\ContextMenuHandlers\\Kestrin",
};

CString ClsidString()
{
    wchar_t wide[64] = {};
    char narrow[MAX_PATH] = {};
    if (StringFromGUID2(CLSID_ShellExt, wide, 64) > 0)
        WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof(narrow), nullptr, nullptr);
    return CString(narrow);
}

CString Expand(const char* pszPattern, const CString& arg)
{
    CString text;
    text.Format(pszPattern, arg.GetString());
    return text;
}

// Machine rows go where the table says; per-user rows go under
// HKEY_CURRENT_USER. Class rows go below Software\Classes of either root,
// which Windows merges into HKEY_CLASSES_ROOT, and the machine's are named
// outright: written or deleted through HKEY_CLASSES_ROOT, a key the user
// also has (a per-user copy's registration) is the one changed, which would
// break that copy. (Wine's HKEY_CLASSES_ROOT is the machine's key alone, so
// its tests cannot show the difference.)
enum class Scope { Machine, User };

const char kClasses[] = "Software\\Classes\\";

HKEY ScopeRoot(HKEY hRoot, Scope scope)
{
    if (scope == Scope::User)
        return HKEY_CURRENT_USER;
    return hRoot == HKEY_CLASSES_ROOT ? HKEY_LOCAL_MACHINE : hRoot;
}

CString ScopeKey(HKEY hRoot, const CString& key)
{
    return hRoot == HKEY_CLASSES_ROOT ? CString(kClasses) + key : key;
}

HRESULT WriteRow(const CRegistrationRow& row, const CString& clsid, const CString& module, Scope scope)
{
    CKeyHandle key;
    if (RegCreateKeyExW(ScopeRoot(row.hRoot, scope),
                        Utf8ToWide(ScopeKey(row.hRoot, Expand(row.pszKey, clsid))).c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, key.Receive(), nullptr) != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    const std::wstring data = Utf8ToWide(Expand(row.pszData, row.data == RowData::ModulePath ? module : clsid));
    const std::wstring name = row.pszValueName ? Utf8ToWide(Expand(row.pszValueName, clsid)) : std::wstring();
    RegSetValueExW(key, row.pszValueName ? name.c_str() : nullptr, 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(data.c_str()), DWORD((data.size() + 1) * sizeof(wchar_t)));
    return S_OK;
}

HRESULT RegisterRows(Scope scope)
{
    const CString clsid = ClsidString();
    const CString module = GetModulePath();
    const bool bNT = IsWindowsNT();
    for (const CRegistrationRow& row : kRows) {
        if (row.bNTOnly && !bNT)
            continue;
        if (FAILED(WriteRow(row, clsid, module, scope)))
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
        if (RegDeleteKeyA(HKEY_LOCAL_MACHINE, ScopeKey(HKEY_CLASSES_ROOT, Expand(pszKey, clsid))) != ERROR_SUCCESS)
            return SELFREG_E_CLASS;
    }
    if (IsWindowsNT())
        RemoveApproval(clsid);
    return S_OK;
}

bool Gone(LONG code)
{
    return code == ERROR_SUCCESS || code == ERROR_FILE_NOT_FOUND;
}

CString ParentKey(const CString& key)
{
    const int cut = key.ReverseFind('\\');
    return cut < 0 ? CString() : key.Left(cut);
}

// Registering for a user who had none of these keys created their parents
// too: from key upwards, each key left empty goes, stopping at stop.
void PruneEmptyKeys(CString key, const CString& stop)
{
    for (; key.GetLength() > stop.GetLength(); key = ParentKey(key)) {
        DWORD nSubKeys = 1, nValues = 1;
        CKeyHandle hKey;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_READ, hKey.Receive()) != ERROR_SUCCESS ||
            RegQueryInfoKeyA(hKey, nullptr, nullptr, nullptr, &nSubKeys, nullptr, nullptr, &nValues, nullptr,
                             nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
            nSubKeys || nValues)
            return;
        hKey.Close();
        if (RegDeleteKeyA(HKEY_CURRENT_USER, key) != ERROR_SUCCESS)
            return;
    }
}

// The per-user rows, from the same tables. Unlike the machine-wide path this
// succeeds when the rows are already gone, so an uninstaller may run it twice.
HRESULT UnregisterUserRows()
{
    const CString clsid = ClsidString();
    const CString classes(kClasses);
    bool bOk = true;
    for (const char* pszKey : kKeysToDelete) {
        CString key = ScopeKey(HKEY_CLASSES_ROOT, Expand(pszKey, clsid));
        bOk = Gone(RegDeleteKeyA(HKEY_CURRENT_USER, key)) && bOk;
        PruneEmptyKeys(ParentKey(key), ParentKey(classes));
    }
    // The approval: a value of its own in a key other extensions share.
    for (const CRegistrationRow& row : kRows) {
        if (row.hRoot == HKEY_CLASSES_ROOT)
            continue;
        const CString key = ScopeKey(row.hRoot, Expand(row.pszKey, clsid));
        CKeyHandle hKey;
        LONG code = RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_SET_VALUE, hKey.Receive());
        if (code == ERROR_SUCCESS)
            code = RegDeleteValueA(hKey, Expand(row.pszValueName, clsid));
        hKey.Close();
        bOk = Gone(code) && bOk;
        PruneEmptyKeys(key, ParentKey(ParentKey(key)));
    }
    return bOk ? S_OK : SELFREG_E_CLASS;
}

// Explorer caches handler lists; tell it they changed.
void NotifyShell()
{
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}
}  // namespace

HRESULT RegisterServer(bool bForUser)
{
    HRESULT hr = SELFREG_E_CLASS;
    try {
        hr = RegisterRows(bForUser ? Scope::User : Scope::Machine);
    } catch (...) {
        hr = SELFREG_E_CLASS;
    }
    NotifyShell();
    return hr;
}

HRESULT UnregisterServer(bool bForUser)
{
    HRESULT hr = SELFREG_E_CLASS;
    try {
        hr = bForUser ? UnregisterUserRows() : UnregisterRows();
    } catch (...) {
        hr = SELFREG_E_CLASS;
    }
    NotifyShell();
    return hr;
}

// An installer that finds this module loaded renames it to "<module>.<n>.old"
// before it puts the new file in place; the first process that loads the new
// file removes the ones no process holds any more.
void RemoveMovedAsideCopies()
{
    static LONG s_nDone = 0;
    if (InterlockedExchange(&s_nDone, 1))
        return;
    const CString module = GetModulePath();
    const int cut = module.ReverseFind('\\');
    if (module.IsEmpty() || cut < 0)
        return;
    // Wide calls: the folder may be below a user name outside the code page.
    WIN32_FIND_DATAW found;
    HANDLE hFind = FindFirstFileW(Win32Path(module + ".*.old").c_str(), &found);
    if (hFind == INVALID_HANDLE_VALUE)
        return;
    do {
        // A copy still loaded elsewhere stays.
        DeleteFileW(Win32Path(module.Left(cut + 1) + WideToUtf8(found.cFileName)).c_str());
    } while (FindNextFileW(hFind, &found));
    FindClose(hFind);
}
