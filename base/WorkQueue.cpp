#include "base/WorkQueue.h"

#include <atomic>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::atomic<int> g_nPipelineThreads{0};

const int kMaxThreads = 64;

}  // namespace

void SetPipelineThreads(int nThreads)
{
    g_nPipelineThreads = nThreads < 0 ? 0 : nThreads;
}

int PipelineThreads(int nRequested)
{
    int n = nRequested > 0 ? nRequested : int(g_nPipelineThreads);
    if (n == 0)
        n = int(std::thread::hardware_concurrency());
    if (n < 1)
        n = 1;
    return n > kMaxThreads ? kMaxThreads : n;
}

CWorkQueue::CWorkQueue(size_t nSlots, int nHelpers, FWork fnWork)
    : m_nSlots(nSlots < 1 ? 1 : nSlots),
      m_nHelpers(nHelpers < 0 ? 0 : (nHelpers > kMaxThreads ? kMaxThreads : nHelpers)),
      m_fnWork(std::move(fnWork)),
      m_done(m_nSlots, 0),
      m_lost(m_nSlots, 0)
{
}

CWorkQueue::~CWorkQueue()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStop = true;
    }
    m_cvWork.notify_all();
    for (std::thread& t : m_threads)
        t.join();
}

void CWorkQueue::StartHelpers()
{
    m_bStarted = true;
    try {
        m_threads.reserve(size_t(m_nHelpers));
        for (int i = 1; i <= m_nHelpers; ++i)
            m_threads.emplace_back(&CWorkQueue::HelperMain, this, i);
    } catch (const std::exception&) {
        // std::system_error or std::bad_alloc: the helpers started so far and the worker share the work.
    }
}

size_t CWorkQueue::Free() const
{
    // Only the worker moves m_nHead and m_nTail, so it reads them without the lock.
    return m_nTail - m_nHead >= m_nSlots ? kNone : size_t(m_nTail % m_nSlots);
}

void CWorkQueue::Submit()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const size_t nSlot = size_t(m_nTail % m_nSlots);
        m_done[nSlot] = 0;
        m_lost[nSlot] = 0;
        ++m_nTail;
    }
    if (!m_bStarted && m_nTail - m_nHead > 1)
        StartHelpers();
    m_cvWork.notify_one();
}

size_t CWorkQueue::WaitOldest()
{
    if (m_nHead == m_nTail)
        return kNone;
    const size_t nSlot = size_t(m_nHead % m_nSlots);
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_done[nSlot]) {
        if (m_nNext < m_nTail) {
            size_t nHeld = kNone;
            RunNext(lock, 0, nHeld);
        } else {
            m_cvDone.wait(lock);
        }
    }
    return nSlot;
}

void CWorkQueue::Release()
{
    ++m_nHead;
}

void CWorkQueue::RunNext(std::unique_lock<std::mutex>& lock, int nContext, size_t& nHeld)
{
    nHeld = size_t(m_nNext++ % m_nSlots);
    lock.unlock();
    m_fnWork(nContext, nHeld);
    lock.lock();
    m_done[nHeld] = 1;
    nHeld = kNone;
}

void CWorkQueue::HelperMain(int nContext)
{
#ifdef _WIN32
    // Inside Explorer: the desktop keeps the upper hand over a big file.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
#endif
    // Nothing may leave a thread procedure. Should the lock itself fail, the
    // slot in hand is marked lost; the worker does the queued rest itself.
    size_t nHeld = kNone;
    try {
        HelperLoop(nContext, nHeld);
    } catch (...) {
        try {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (nHeld != kNone) {
                m_lost[nHeld] = 1;
                m_done[nHeld] = 1;
            }
        } catch (...) {
        }
        m_cvDone.notify_one();
    }
}

void CWorkQueue::HelperLoop(int nContext, size_t& nHeld)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_cvWork.wait(lock, [this] { return m_bStop || m_nNext < m_nTail; });
        if (m_bStop)
            return;
        RunNext(lock, nContext, nHeld);
        m_cvDone.notify_one();
    }
}
