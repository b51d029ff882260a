#include "batch/Worker.h"

#include "container/RunItem.h"

namespace {

#ifdef _WIN32
// Read before the done flag is set, while the waiting side still holds its
// own handle open.
HANDLE DuplicateDoneEvent(CWorkItem& item)
{
    HANDLE hEvent;
    {
        CScopedLock lock(g_csWork);
        hEvent = item.m_hDoneEvent;
    }
    HANDLE hOwn = nullptr;
    if (hEvent && !::DuplicateHandle(::GetCurrentProcess(), hEvent, ::GetCurrentProcess(), &hOwn, 0, FALSE,
                                     DUPLICATE_SAME_ACCESS))
        hOwn = nullptr;  // the waiter still sees the flag at its next poll
    return hOwn;
}

void SignalDone(HANDLE hEvent)
{
    if (!hEvent)
        return;
    ::SetEvent(hEvent);
    ::CloseHandle(hEvent);
}
#else
HANDLE DuplicateDoneEvent(CWorkItem&) { return nullptr; }
void SignalDone(HANDLE) {}
#endif

}  // namespace

UINT WorkerThreadProc(LPVOID pParam)
{
    CWorkItem* pItem = static_cast<CWorkItem*>(pParam);
    if (!pItem)
        return 0;
    HANDLE hDone = DuplicateDoneEvent(*pItem);
    RunItem(*pItem);
    SignalDone(hDone);
    return 0;
}

bool StartWorker(CWorkItem* pItem, AFX_THREADPROC pfn)
{
    CWinThread* pThread = AfxBeginThread(pfn, pItem, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED, nullptr);
    if (!pThread)
        return false;
    if (pThread->ResumeThread() == DWORD(-1)) {
        delete pThread;  // never ran, so it cannot delete itself
        return false;
    }
    return true;
}
