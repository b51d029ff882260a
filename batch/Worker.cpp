#include "batch/Worker.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "cipher/Methods.h"
#include "container/FileProcessor.h"

namespace {

// Wakes WaitForWorkerDone. The worker never holds it together with g_csWork,
// so no lock order arises.
std::mutex s_doneMutex;
std::condition_variable s_doneSignal;

enum class Mode { kRun, kVerify };

int ProcessItem(CWorkItem& item, Mode mode)
{
    const int nEncType = LockedGet(item.m_nEncType);
    CFileProcessor processor;
    int nResult = WR_OK;  // stays so for an EncType that names no method
    WithCipher(nEncType, [&](CCipher& cipher) {
        nResult = mode == Mode::kRun ? processor.Run(item, cipher) : processor.Verify(item, cipher);
    });
    return nResult;
}

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

UINT ThreadBody(LPVOID pParam, Mode mode)
{
    CWorkItem* pItem = static_cast<CWorkItem*>(pParam);
    if (!pItem)
        return 0;
    LockedSet(pItem->m_bDone, 0);
    HANDLE hDone = DuplicateDoneEvent(*pItem);
    int nResult;
    // Nothing may leave a thread procedure; allocation is all that throws here.
    try {
        nResult = ProcessItem(*pItem, mode);
    } catch (...) {
        nResult = WR_NO_MEMORY;
    }
    // The driver reads the result as soon as it sees the flag, and may
    // destroy the item at once.
    {
        CScopedLock lock(g_csWork);
        pItem->m_nResult = nResult;
        pItem->m_bDone = 1;
    }
    SignalDone(hDone);
    // Taking the mutex orders this wake after a waiter's last look at the flag.
    { std::lock_guard<std::mutex> lock(s_doneMutex); }
    s_doneSignal.notify_all();
    return 0;
}

}  // namespace

UINT WorkerThreadProc(LPVOID pParam) { return ThreadBody(pParam, Mode::kRun); }

UINT VerifyThreadProc(LPVOID pParam) { return ThreadBody(pParam, Mode::kVerify); }

bool WaitForWorkerDone(CWorkItem& item, unsigned nMilliseconds)
{
    std::unique_lock<std::mutex> lock(s_doneMutex);
    return s_doneSignal.wait_for(lock, std::chrono::milliseconds(nMilliseconds),
                                 [&item] { return LockedGet(item.m_bDone) != 0; });
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
