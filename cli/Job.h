// One file's run on a worker thread (RunItem, as the batch driver's worker
// runs it), over files or standard streams, keeping what the run learned of
// the container.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "container/RunItem.h"

struct CJob {
    CWorkItem item;
    CRunOptions options;
    // Filled by the worker before it sets item.m_bDone.
    CRunReport report;

    bool Start();
    // Waits at most nMilliseconds for the worker to store its result; true
    // once item.m_bDone is 1. The worker wakes its waiter at once.
    bool WaitDone(unsigned nMilliseconds);
    // Waits for the worker; call once item.m_bDone is seen, or to give up.
    void Join();

private:
    std::thread m_thread;
    std::mutex m_doneMutex;
    std::condition_variable m_doneSignal;
};
