// Helper threads that deflate or inflate chunks for one file while the
// worker keeps everything order-dependent (reading, the cipher, writing).
// The worker fills slots in file order and takes them back in the same
// order; at most kSlotsPerHelper chunks per helper are in flight, so memory
// stays bounded whatever the file's size.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include <zlib.h>

class CBlockPool {
public:
    enum class Kind { kDeflate, kInflate };
    static const int kSlotsPerHelper = 4;
    static const uint32_t kChunkBytes = 4096;
    static const uint32_t kSlotBytes = 6144;  // the packed buffer, the larger of the two

    struct Slot {
        uint8_t abIn[kSlotBytes];
        uint8_t abOut[kSlotBytes];
        uint32_t nIn = 0;      // bytes of abIn to transform
        uint32_t nExpect = 0;  // inflate: the stored raw length the output must have
        uint32_t nOut = 0;     // set by the helper
        int nResult = 0;       // set by the helper: 0 or the WR_ code of the failure
        uint64_t nMark = 0;    // the worker's own: file position for the progress
        bool bDone = false;
    };

    CBlockPool(Kind kind, int nHelpers);
    // Stops and joins every helper, then wipes the slots: they held file contents.
    ~CBlockPool();
    CBlockPool(const CBlockPool&) = delete;
    CBlockPool& operator=(const CBlockPool&) = delete;

    // Builds the zlib streams and starts the helpers. False when any of that
    // failed; the pool is then empty and the caller takes the serial path.
    bool Start();

    // The next slot to fill, or null while every slot is in flight.
    Slot* Free();
    // Hands the slot Free() returned to the helpers.
    void Submit();
    // Waits for the oldest submitted slot; null when none is in flight.
    Slot* WaitOldest();
    // Gives the slot WaitOldest() returned back.
    void Release();

private:
    void HelperMain(int nIndex);
    void HelperLoop(z_stream& zs, Slot*& pSlot);
    void Transform(z_stream& zs, Slot& slot) const;
    void Stop();

    const Kind m_kind;
    const int m_nHelpers;
    std::vector<Slot> m_slots;
    std::vector<z_stream> m_streams;
    int m_nStreams = 0;  // initialised ones, ended in the destructor
    std::vector<std::thread> m_threads;

    std::mutex m_mutex;
    std::condition_variable m_cvWork;  // helpers: a slot was submitted, or stop
    std::condition_variable m_cvDone;  // worker: a slot was finished
    // Sequence numbers: [m_nHead, m_nNext) taken by helpers, [m_nNext, m_nTail) waiting.
    uint64_t m_nHead = 0, m_nNext = 0, m_nTail = 0;
    bool m_bStop = false;
    int m_nAlive = 0;  // helpers started and not yet returned
};

// The process-wide number of threads that compress: 0 means every hardware
// thread, 1 the serial path. Set once, before files are processed.
void SetPipelineThreads(int nThreads);
// The number in force, with 0 resolved to the hardware's count.
int PipelineThreads();
