// The one parallel pipeline of both container formats: batches of
// consecutive chunks read in order by the worker, transformed on any thread,
// and taken back in order to be written. A format brings its batch (the
// chunks in flight, their input, output and outcome), its context (what one
// thread needs for its share: a zlib stream, a cipher) and the work of one
// batch on one context. Batches are made when first filled and a helper's
// context on the helper's own thread when it first works, so a small file
// pays for one of each; the helpers are joined before either goes.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <new>
#include <vector>

#include "base/WorkQueue.h"

template <class TContext, class TBatch>
class CParallelPipe {
public:
    // Readies a new context on the thread that will use it: 0, or a status
    // that fnFail then gives every batch that context would have worked.
    typedef std::function<int(TContext&)> FMake;
    // The work of one batch on a ready context. Neither may throw.
    typedef std::function<void(TContext&, TBatch&)> FWork;
    typedef std::function<void(TBatch&, int nStatus)> FFail;

    // Batches in flight per thread: enough that reading ahead keeps the
    // helpers busy while the worker writes.
    static const int kBatchesPerThread = 3;

    // nThreads: the worker included (PipelineThreads). nNoMemory: the
    // caller's status for memory that could not be had.
    CParallelPipe(int nThreads, int nNoMemory, FMake fnMake, FWork fnWork, FFail fnFail)
        : m_nThreads(nThreads < 1 ? 1 : nThreads), m_nNoMemory(nNoMemory), m_fnMake(std::move(fnMake)),
          m_fnWork(std::move(fnWork)), m_fnFail(std::move(fnFail))
    {
    }
    ~CParallelPipe() { m_queue.reset(); }  // joins the helpers before their contexts and batches go
    CParallelPipe(const CParallelPipe&) = delete;
    CParallelPipe& operator=(const CParallelPipe&) = delete;

    // The slots, the queue and the worker's own context: 0, nNoMemory, or
    // what fnMake said of the worker's context.
    int Start()
    {
        try {
            m_contexts.resize(size_t(m_nThreads));
            m_batches.resize(size_t(m_nThreads) * kBatchesPerThread);
            m_queue.reset(new CWorkQueue(m_batches.size(), m_nThreads - 1,
                                         [this](int nContext, size_t nSlot) { Work(nContext, nSlot); }));
        } catch (const std::bad_alloc&) {
            return m_nNoMemory;
        }
        return MakeContext(0);
    }

    // The batch of a slot CWorkQueue handed out, made when first filled.
    // Only the worker calls this before submitting; helpers find it made.
    TBatch& Batch(size_t nSlot)
    {
        if (!m_batches[nSlot])
            m_batches[nSlot].reset(new TBatch);
        return *m_batches[nSlot];
    }
    // The worker's context, once Start has made it.
    TContext& WorkerContext() { return *m_contexts[0]; }

    // CWorkQueue::RunInOrder over the batches: fill(nSlot, bSubmit) reads
    // into Batch(nSlot), drain(nSlot) writes it out. Returns drain's result,
    // or nNoMemory when a batch's work was lost, or CWorkQueue::kGoOn once
    // every submitted batch is drained.
    template <class Fill, class Drain>
    int Run(Fill fill, Drain drain)
    {
        const int nResult = m_queue->RunInOrder(fill, drain);
        return nResult == CWorkQueue::kLost ? m_nNoMemory : nResult;
    }

private:
    int MakeContext(size_t i)
    {
        try {
            m_contexts[i].reset(new TContext);
        } catch (const std::bad_alloc&) {
            return m_nNoMemory;
        }
        const int nMade = m_fnMake(*m_contexts[i]);
        if (nMade != 0)
            m_contexts[i].reset();  // not half made: the next batch tries again
        return nMade;
    }

    // On the thread that owns context nContext, which alone makes and uses it.
    void Work(int nContext, size_t nSlot)
    {
        TBatch& batch = *m_batches[nSlot];
        const size_t i = size_t(nContext);
        const int nMade = m_contexts[i] ? 0 : MakeContext(i);
        if (nMade == 0)
            m_fnWork(*m_contexts[i], batch);
        else
            m_fnFail(batch, nMade);
    }

    const int m_nThreads;
    const int m_nNoMemory;
    const FMake m_fnMake;
    const FWork m_fnWork;
    const FFail m_fnFail;
    std::vector<std::unique_ptr<TContext>> m_contexts;
    std::vector<std::unique_ptr<TBatch>> m_batches;
    std::unique_ptr<CWorkQueue> m_queue;
};
