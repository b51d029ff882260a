#include "support/RegistryKey.h"

#include "framework/afxapp.h"
#include "framework/afxconv.h"

namespace {
// The system's text for a Win32 code, empty when it has none.
CString SystemErrorText(LONG code)
{
    wchar_t text[256] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, DWORD(code),
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, 255, nullptr);
    return WideToUtf8(text);
}
}  // namespace

const char* RegistryRootName(HKEY hRoot)
{
    if (hRoot == HKEY_LOCAL_MACHINE)
        return "HKEY_LOCAL_MACHINE";
    if (hRoot == HKEY_CURRENT_USER)
        return "HKEY_CURRENT_USER";
    if (hRoot == HKEY_USERS)
        return "HKEY_USERS";
    return "";
}

CString FormatWritableKeyError(HKEY hRoot, const char* pszKey, LONG code)
{
    CString name = CString(RegistryRootName(hRoot)) + "\\" + pszKey;
    CString text;
    text.Format("Error opening writable key in the system Registry:\n%s\n%s", name.GetString(),
                SystemErrorText(code).GetString());
    return text;
}

CRegistryKey::CRegistryKey() : m_hKey(nullptr) {}

CRegistryKey::~CRegistryKey()
{
    Close();
}

LONG CRegistryKey::Open(HKEY hRoot, const char* pszKey)
{
    Close();
    m_strKeyName = pszKey;
    LONG code = RegOpenKeyExA(hRoot, pszKey, 0, KEY_READ, &m_hKey);
    if (code != ERROR_SUCCESS)
        m_hKey = nullptr;
    return code;
}

LONG CRegistryKey::OpenWritable(HKEY hRoot, const char* pszKey)
{
    Close();
    m_strKeyName = pszKey;
    LONG code = RegCreateKeyExA(hRoot, pszKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                                &m_hKey, nullptr);
    if (code != ERROR_SUCCESS) {
        m_hKey = nullptr;
        AfxMessageBox(FormatWritableKeyError(hRoot, pszKey, code), MB_OK | MB_ICONEXCLAMATION);
    }
    return code;
}

void CRegistryKey::Close()
{
    if (m_hKey) {
        RegCloseKey(m_hKey);
        m_hKey = nullptr;
    }
}

LONG CRegistryKey::ReadValue(const char* pszName, DWORD& dwValue, DWORD dwDefault)
{
    DWORD data = 0;
    DWORD cb = sizeof(data);
    LONG code = RegQueryValueExA(m_hKey, pszName, nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &cb);
    dwValue = code == ERROR_SUCCESS ? data : dwDefault;
    return code;
}

DWORD CRegistryKey::ReadDWORD(const char* pszName, DWORD dwDefault)
{
    DWORD value = dwDefault;
    ReadValue(pszName, value, dwDefault);
    return value;
}

LONG CRegistryKey::WriteDWORD(const char* pszName, DWORD dwValue)
{
    return RegSetValueExA(m_hKey, pszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue),
                          sizeof(dwValue));
}
