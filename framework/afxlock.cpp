#include "framework/afxlock.h"

#ifdef _WIN32
CCriticalSection::CCriticalSection() { InitializeCriticalSection(&m_cs); }
CCriticalSection::~CCriticalSection() { DeleteCriticalSection(&m_cs); }
void CCriticalSection::Lock() { EnterCriticalSection(&m_cs); }
void CCriticalSection::Unlock() { LeaveCriticalSection(&m_cs); }
#else
CCriticalSection::CCriticalSection() = default;
CCriticalSection::~CCriticalSection() = default;
void CCriticalSection::Lock() { m_mutex.lock(); }
void CCriticalSection::Unlock() { m_mutex.unlock(); }
#endif
