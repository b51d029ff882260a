#include "cli/Job.h"

#include <chrono>
#include <system_error>

bool CJob::Start()
{
    try {
        m_thread = std::thread([this] {
            RunItem(item, options, &report, [this] {
                // Taking the mutex orders this wake after the waiter's last look at the flag.
                { std::lock_guard<std::mutex> lock(m_doneMutex); }
                m_doneSignal.notify_all();
            });
        });
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

bool CJob::WaitDone(unsigned nMilliseconds)
{
    std::unique_lock<std::mutex> lock(m_doneMutex);
    return m_doneSignal.wait_for(lock, std::chrono::milliseconds(nMilliseconds),
                                 [this] { return LockedGet(item.m_bDone) != 0; });
}
