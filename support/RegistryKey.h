// One registry key, opened for reading or for writing, with 4-byte values
// read against a default. Every operation returns the Win32 code (0 = done);
// only a key that cannot be opened for writing is reported to the user.
#pragma once

#ifdef _WIN32
#include "framework/afxdefs.h"
#include "framework/afxstr.h"

class CRegistryKey {
public:
    CRegistryKey();
    virtual ~CRegistryKey();
    CRegistryKey(const CRegistryKey&) = delete;
    CRegistryKey& operator=(const CRegistryKey&) = delete;

    LONG Open(HKEY hRoot, const char* pszKey);
    // Opens or creates the key; on failure shows a message naming the key.
    LONG OpenWritable(HKEY hRoot, const char* pszKey);
    void Close();

    // dwValue gets the stored bytes (shorter values zero-extended) or, on
    // any failure, dwDefault.
    LONG ReadValue(const char* pszName, DWORD& dwValue, DWORD dwDefault);
    DWORD ReadDWORD(const char* pszName, DWORD dwDefault);
    LONG WriteDWORD(const char* pszName, DWORD dwValue);

    HKEY m_hKey;
    CString m_strKeyName;
};

// "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_USERS", or empty.
const char* RegistryRootName(HKEY hRoot);

// The text OpenWritable shows for a key it could not open.
CString FormatWritableKeyError(HKEY hRoot, const char* pszKey, LONG code);
#endif
