#include "framework/afxthread.h"

#include <new>

#ifdef _WIN32
#include <process.h>
#else
#include <system_error>
#include <thread>
#endif

CWinThread::CWinThread(AFX_THREADPROC pfn, LPVOID pParam)
    : m_pfnThreadProc(pfn), m_pThreadParams(pParam) {}

CWinThread::~CWinThread()
{
#ifdef _WIN32
    if (m_hThread)
        CloseHandle(m_hThread);
    // Only a thread that never ran still leaves the reference here.
    if (m_hModule)
        ::FreeLibrary(m_hModule);
#endif
}

void CWinThread::Run(CWinThread* pThread)
{
    pThread->m_pfnThreadProc(pThread->m_pThreadParams);
    if (pThread->m_bAutoDelete)
        delete pThread;
}

#ifdef _WIN32

// The thread keeps the module that holds its code loaded until its very last
// instruction, which runs in the system: a host that unloads the module once
// its objects are gone (DllCanUnloadNow) must not pull the code from under a
// thread that is still returning through it.
unsigned __stdcall CWinThread::ThreadEntry(void* p)
{
    CWinThread* pThread = static_cast<CWinThread*>(p);
    HMODULE hModule = pThread->m_hModule;
    pThread->m_hModule = nullptr;  // the thread's from here on
    Run(pThread);
    if (hModule)
        ::FreeLibraryAndExitThread(hModule, 0);
    return 0;
}

bool CWinThread::Start(int nPriority, UINT nStackSize, DWORD dwCreateFlags)
{
    HMODULE hModule = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                              reinterpret_cast<LPCWSTR>(&CWinThread::ThreadEntry), &hModule))
        return false;
    m_hModule = hModule;
    unsigned id = 0;
    uintptr_t h = _beginthreadex(nullptr, nStackSize, &ThreadEntry, this, CREATE_SUSPENDED, &id);
    if (h == 0) {
        m_hModule = nullptr;
        ::FreeLibrary(hModule);
        return false;
    }
    m_hThread = reinterpret_cast<HANDLE>(h);
    m_nThreadID = id;
    SetThreadPriority(m_hThread, nPriority);
    if (!(dwCreateFlags & CREATE_SUSPENDED))
        ::ResumeThread(m_hThread);
    return true;
}

DWORD CWinThread::ResumeThread()
{
    return m_hThread ? ::ResumeThread(m_hThread) : DWORD(-1);
}

#else

bool CWinThread::Start(int, UINT, DWORD dwCreateFlags)
{
    m_bSuspended = true;
    if (!(dwCreateFlags & CREATE_SUSPENDED))
        return ResumeThread() != DWORD(-1);
    return true;
}

DWORD CWinThread::ResumeThread()
{
    if (!m_bSuspended)
        return 0;
    // Cleared before the start: a self-deleting thread may be gone by the
    // time detach() returns, and this object with it.
    m_bSuspended = false;
    try {
        std::thread(&CWinThread::Run, this).detach();
    } catch (const std::system_error&) {
        m_bSuspended = true;
        return DWORD(-1);
    }
    return 1;
}

#endif

CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam, int nPriority,
                           UINT nStackSize, DWORD dwCreateFlags, void*)
{
    CWinThread* pThread = new (std::nothrow) CWinThread(pfnThreadProc, pParam);
    if (!pThread)
        return nullptr;
    if (!pThread->Start(nPriority, nStackSize, dwCreateFlags)) {
        delete pThread;
        return nullptr;
    }
    return pThread;
}
