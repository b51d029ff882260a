// Numbered slots handed from one worker to helper threads and taken back in
// the order they were handed out. The worker fills a slot (reading, and
// whatever must stay in file order), submits it, and later takes the oldest
// back to finish it in order; the work in between runs on any thread. While
// the oldest slot is not ready the worker does queued work itself rather
// than sleep, so N threads keep N cores busy and a pool whose helpers could
// not start still finishes every slot.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class CWorkQueue {
public:
    // The work of slot nSlot on context nContext: 0 is the worker's, 1 to
    // nHelpers the helpers'. It must not throw.
    typedef std::function<void(int nContext, size_t nSlot)> FWork;
    static constexpr size_t kNone = SIZE_MAX;
    // RunInOrder's own answers; its callers' results are the other numbers.
    static constexpr int kGoOn = -1;
    static constexpr int kLost = -2;  // a slot's work was lost: its helper failed

    CWorkQueue(size_t nSlots, int nHelpers, FWork fnWork);
    // Stops and joins every helper.
    ~CWorkQueue();
    CWorkQueue(const CWorkQueue&) = delete;
    CWorkQueue& operator=(const CWorkQueue&) = delete;

    // The worker's whole loop. While fill(nSlot, bSubmit) says there is more
    // input it is handed every free slot, and sets bSubmit when the slot
    // holds work (a call that says "more" must submit). drain(nSlot) then
    // finishes the oldest slot in order and returns kGoOn, or a result that
    // ends the loop at once. Returns that result, kLost for a slot whose
    // work was lost, or kGoOn once every submitted slot is finished.
    template <class Fill, class Drain>
    int RunInOrder(Fill fill, Drain drain)
    {
        bool bMore = true;
        for (;;) {
            // Reading ahead into every free slot keeps the other threads from waiting on the worker.
            for (size_t nSlot; bMore && (nSlot = Free()) != kNone;) {
                bool bSubmit = false;
                bMore = fill(nSlot, bSubmit);
                if (bSubmit)
                    Submit();
            }
            const size_t nSlot = WaitOldest();
            if (nSlot == kNone)
                return kGoOn;
            if (Lost(nSlot))
                return kLost;
            const int nResult = drain(nSlot);
            Release();
            if (nResult != kGoOn)
                return nResult;
        }
    }

    // The steps RunInOrder takes, one by one.
    // The next slot to fill, or kNone while every slot is in flight.
    size_t Free() const;
    // Hands the slot Free() returned to the helpers. They are started with
    // the second slot in flight, so work of one slot never pays for them;
    // as many as can be had, none at all being no failure.
    void Submit();
    // The oldest submitted slot once its work is done, or kNone when none is in flight.
    size_t WaitOldest();
    // True when the slot's work was lost (its helper failed); its output is not to be used.
    bool Lost(size_t nSlot) const { return m_lost[nSlot] != 0; }
    // Gives the slot WaitOldest() returned back.
    void Release();

private:
    void StartHelpers();
    void HelperMain(int nContext);
    void HelperLoop(int nContext, size_t& nHeld);
    // Takes the next queued slot and runs it with the lock released.
    void RunNext(std::unique_lock<std::mutex>& lock, int nContext, size_t& nHeld);

    const size_t m_nSlots;
    const int m_nHelpers;
    const FWork m_fnWork;
    std::vector<std::thread> m_threads;
    std::vector<char> m_done, m_lost;

    std::mutex m_mutex;
    std::condition_variable m_cvWork;  // helpers: a slot was submitted, or stop
    std::condition_variable m_cvDone;  // worker: a slot was finished
    // Sequence numbers: [m_nHead, m_nNext) taken, [m_nNext, m_nTail) queued.
    uint64_t m_nHead = 0, m_nNext = 0, m_nTail = 0;
    bool m_bStop = false;
    bool m_bStarted = false;  // the worker's own
};

// The one setting of how many threads a file is processed with, the worker
// included: 0 means every hardware thread, 1 the serial path. Set once,
// before files are processed.
void SetPipelineThreads(int nThreads);
// The number a run uses: nRequested when it asks for a number of its own
// (more than 0), else the setting, with 0 resolved to the hardware's count;
// never more than the queue takes.
int PipelineThreads(int nRequested = 0);
