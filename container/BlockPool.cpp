#include "container/BlockPool.h"

#include <atomic>
#include <cstring>
#include <system_error>

#include "batch/WorkItem.h"
#include "container/SecureBuffer.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::atomic<int> g_nPipelineThreads{0};

const int kMaxHelpers = 64;

}  // namespace

void SetPipelineThreads(int nThreads)
{
    g_nPipelineThreads = nThreads < 0 ? 0 : nThreads;
}

int PipelineThreads()
{
    int n = g_nPipelineThreads;
    if (n == 0)
        n = int(std::thread::hardware_concurrency());
    if (n < 1)
        n = 1;
    return n > kMaxHelpers ? kMaxHelpers : n;
}

CBlockPool::CBlockPool(Kind kind, int nHelpers)
    : m_kind(kind), m_nHelpers(nHelpers < 1 ? 1 : (nHelpers > kMaxHelpers ? kMaxHelpers : nHelpers))
{
}

CBlockPool::~CBlockPool()
{
    Stop();
    for (int i = 0; i < m_nStreams; ++i) {
        if (m_kind == Kind::kDeflate)
            deflateEnd(&m_streams[i]);
        else
            inflateEnd(&m_streams[i]);
    }
    for (Slot& slot : m_slots) {
        SecureZero(slot.abIn, sizeof slot.abIn);
        SecureZero(slot.abOut, sizeof slot.abOut);
    }
}

bool CBlockPool::Start()
{
    try {
        m_slots.resize(size_t(m_nHelpers) * kSlotsPerHelper);
        m_streams.resize(size_t(m_nHelpers));
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (z_stream& zs : m_streams) {
        std::memset(&zs, 0, sizeof zs);
        const int nInit = m_kind == Kind::kDeflate ? deflateInit(&zs, Z_DEFAULT_COMPRESSION) : inflateInit(&zs);
        if (nInit != Z_OK)
            return false;
        ++m_nStreams;
    }
    try {
        m_threads.reserve(size_t(m_nHelpers));
        for (int i = 0; i < m_nHelpers; ++i) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                ++m_nAlive;
            }
            m_threads.emplace_back(&CBlockPool::HelperMain, this, i);
        }
    } catch (const std::exception&) {  // std::system_error or std::bad_alloc
        Stop();
        return false;
    }
    return true;
}

void CBlockPool::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStop = true;
    }
    m_cvWork.notify_all();
    for (std::thread& t : m_threads)
        t.join();
    m_threads.clear();
}

CBlockPool::Slot* CBlockPool::Free()
{
    // Only the worker moves m_nHead and m_nTail, so no lock is needed to read them.
    if (m_nTail - m_nHead >= m_slots.size())
        return nullptr;
    Slot& slot = m_slots[m_nTail % m_slots.size()];
    slot.bDone = false;
    slot.nResult = 0;
    slot.nOut = 0;
    return &slot;
}

void CBlockPool::Submit()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_nTail;
    }
    m_cvWork.notify_one();
}

CBlockPool::Slot* CBlockPool::WaitOldest()
{
    if (m_nHead == m_nTail)
        return nullptr;
    Slot& slot = m_slots[m_nHead % m_slots.size()];
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cvDone.wait(lock, [this, &slot] { return slot.bDone || m_nAlive == 0; });
    if (!slot.bDone)
        slot.nResult = WR_NO_MEMORY;  // no helper left to do it
    return &slot;
}

void CBlockPool::Release()
{
    ++m_nHead;
}

void CBlockPool::HelperMain(int nIndex)
{
#ifdef _WIN32
    // Inside Explorer: the desktop keeps the upper hand over a big file.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
#endif
    // Nothing may leave a thread procedure. Should the lock itself fail, the
    // chunk in hand fails, and with the last helper gone every chunk does.
    Slot* pSlot = nullptr;
    try {
        HelperLoop(m_streams[size_t(nIndex)], pSlot);
    } catch (...) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (pSlot) {
            pSlot->nResult = WR_NO_MEMORY;
            pSlot->bDone = true;
        }
        --m_nAlive;
        m_cvDone.notify_one();
        return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_nAlive;
}

void CBlockPool::HelperLoop(z_stream& zs, Slot*& pSlot)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_cvWork.wait(lock, [this] { return m_bStop || m_nNext < m_nTail; });
        if (m_bStop)
            return;
        pSlot = &m_slots[m_nNext++ % m_slots.size()];
        lock.unlock();
        Transform(zs, *pSlot);
        lock.lock();
        pSlot->bDone = true;
        pSlot = nullptr;
        m_cvDone.notify_one();
    }
}

// zlib reports every failure by its return code; nothing here throws. A
// failed stream is reset too, so the helper's next chunk starts clean.
void CBlockPool::Transform(z_stream& zs, Slot& slot) const
{
    zs.next_in = slot.abIn;
    zs.avail_in = uInt(slot.nIn);
    zs.next_out = slot.abOut;
    if (m_kind == Kind::kDeflate) {
        zs.avail_out = kSlotBytes;
        const bool bOk = deflate(&zs, Z_FINISH) == Z_STREAM_END;
        slot.nOut = uint32_t(zs.total_out);
        const bool bReset = deflateReset(&zs) == Z_OK;
        slot.nResult = bOk && bReset ? WR_OK : WR_DEFLATE_ERROR;
        return;
    }
    zs.avail_out = kChunkBytes;
    const bool bOk = inflate(&zs, Z_FINISH) == Z_STREAM_END && zs.total_out == slot.nExpect;
    slot.nOut = uint32_t(zs.total_out);
    const bool bReset = inflateReset(&zs) == Z_OK;
    slot.nResult = bOk && bReset ? WR_OK : WR_INFLATE_ERROR;
}
