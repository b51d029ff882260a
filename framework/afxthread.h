// Worker thread start in the framework's shape: AfxBeginThread makes a
// self-deleting CWinThread, optionally suspended; ResumeThread starts it.
#pragma once

#include "framework/afxdefs.h"

typedef UINT (*AFX_THREADPROC)(LPVOID);

class CWinThread {
public:
    CWinThread(AFX_THREADPROC pfn, LPVOID pParam);
    virtual ~CWinThread();
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    // Starts a suspended thread. Returns the previous suspend count, or
    // (DWORD)-1 when the thread could not be started.
    DWORD ResumeThread();

    bool m_bAutoDelete = true;
#ifdef _WIN32
    HANDLE m_hThread = nullptr;
    DWORD m_nThreadID = 0;
#endif

private:
#ifdef _WIN32
    // A reference to the module of the thread's code, taken before the
    // thread exists and released by the thread's last call.
    HMODULE m_hModule = nullptr;
#endif

private:
    friend CWinThread* AfxBeginThread(AFX_THREADPROC, LPVOID, int, UINT, DWORD, void*);
    bool Start(int nPriority, UINT nStackSize, DWORD dwCreateFlags);
    static void Run(CWinThread* pThread);
#ifdef _WIN32
    static unsigned __stdcall ThreadEntry(void* p);
#endif

    AFX_THREADPROC m_pfnThreadProc;
    LPVOID m_pThreadParams;
    bool m_bSuspended = false;
};

// Returns null when the thread cannot be created. Never throws.
CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam,
                           int nPriority = THREAD_PRIORITY_NORMAL, UINT nStackSize = 0,
                           DWORD dwCreateFlags = 0, void* lpSecurityAttrs = nullptr);
