#include "cli/Job.h"

#include <cerrno>
#include <chrono>
#include <system_error>

#include "cipher/Methods.h"

bool CJob::Start()
{
    try {
        m_thread = std::thread([this] { Body(); });
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

void CJob::Join()
{
    if (m_thread.joinable())
        m_thread.join();
}

void CJob::Body()
{
    int nResult = WR_OK;
    errno = 0;
    // Nothing may leave a thread procedure; allocation is all that throws here.
    try {
        CFileProcessor processor;
        processor.SetStreams(pIn, pOut);
        WithCipher(LockedGet(item.m_nEncType), [&](CCipher& cipher) {
            nResult = mode == Mode::kRun ? processor.Run(item, cipher) : processor.Verify(item, cipher);
        });
        nErrno = errno;
        facts = processor.Facts();
    } catch (...) {
        nResult = WR_NO_MEMORY;
    }
    {
        CScopedLock lock(g_csWork);
        item.m_nResult = nResult;
        item.m_bDone = 1;
    }
    // Taking the mutex orders this wake after the waiter's last look at the flag.
    { std::lock_guard<std::mutex> lock(m_doneMutex); }
    m_doneSignal.notify_all();
}

bool CJob::WaitDone(unsigned nMilliseconds)
{
    std::unique_lock<std::mutex> lock(m_doneMutex);
    return m_doneSignal.wait_for(lock, std::chrono::milliseconds(nMilliseconds),
                                 [this] { return LockedGet(item.m_bDone) != 0; });
}
