// Thin owners of kernel and registry handles: the handle is closed when the
// owner goes, unless it was detached first.
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

class CHandle {
public:
    CHandle() = default;
    explicit CHandle(HANDLE h) : m_h(h) {}
    ~CHandle() { Close(); }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;

    BOOL Close()
    {
        BOOL ok = TRUE;
        if (m_h && m_h != INVALID_HANDLE_VALUE)
            ok = CloseHandle(m_h);
        m_h = nullptr;
        return ok;
    }
    HANDLE Detach() { HANDLE h = m_h; m_h = nullptr; return h; }
    void Attach(HANDLE h) { Close(); m_h = h; }
    bool IsValid() const { return m_h && m_h != INVALID_HANDLE_VALUE; }
    operator HANDLE() const { return m_h; }

private:
    HANDLE m_h = nullptr;
};
#endif
