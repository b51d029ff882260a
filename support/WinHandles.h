// A thin owner of a registry key handle: the key is closed when the owner
// goes, unless it was detached first.
#pragma once

#ifdef _WIN32
#include "framework/afxdefs.h"

class CKeyHandle {
public:
    CKeyHandle() = default;
    explicit CKeyHandle(HKEY hKey) : m_hKey(hKey) {}
    ~CKeyHandle() { Close(); }
    CKeyHandle(const CKeyHandle&) = delete;
    CKeyHandle& operator=(const CKeyHandle&) = delete;

    LONG Close()
    {
        LONG code = ERROR_SUCCESS;
        if (m_hKey)
            code = RegCloseKey(m_hKey);
        m_hKey = nullptr;
        return code;
    }
    HKEY Detach() { HKEY h = m_hKey; m_hKey = nullptr; return h; }
    // For calls that return a new key through an out parameter.
    HKEY* Receive() { Close(); return &m_hKey; }
    operator HKEY() const { return m_hKey; }

private:
    HKEY m_hKey = nullptr;
};
#endif
