// A critical section and its scoped lock. On Windows a real CRITICAL_SECTION;
// natively a mutex. Held for one field access at a time, never recursively.
#pragma once

#include "framework/afxdefs.h"

#ifndef _WIN32
#include <mutex>
#endif

class CCriticalSection {
public:
    CCriticalSection();
    ~CCriticalSection();
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    void Lock();
    void Unlock();

private:
#ifdef _WIN32
    CRITICAL_SECTION m_cs;
#else
    std::mutex m_mutex;
#endif
};

class CScopedLock {
public:
    explicit CScopedLock(CCriticalSection& cs) : m_cs(cs) { m_cs.Lock(); }
    ~CScopedLock() { m_cs.Unlock(); }
    CScopedLock(const CScopedLock&) = delete;
    CScopedLock& operator=(const CScopedLock&) = delete;

private:
    CCriticalSection& m_cs;
};
