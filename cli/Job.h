// One file's run on a worker thread, as the batch driver runs it, but over
// files or standard streams and keeping what the run learned of the container.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "batch/WorkItem.h"
#include "container/FileProcessor.h"

struct CJob {
    enum class Mode { kRun, kVerify };

    CWorkItem item;
    Mode mode = Mode::kRun;
    FILE* pIn = nullptr;   // a stream in place of the source file
    FILE* pOut = nullptr;  // a stream in place of the output file
    // Filled by the worker before it sets item.m_bDone.
    CContainerFacts facts;
    int nErrno = 0;  // the system's reason for a read or write failure

    bool Start();
    // Waits at most nMilliseconds for the worker to store its result; true
    // once item.m_bDone is 1. The worker wakes its waiter at once.
    bool WaitDone(unsigned nMilliseconds);
    // Waits for the worker; call once item.m_bDone is seen, or to give up.
    void Join();

private:
    void Body();
    std::thread m_thread;
    std::mutex m_doneMutex;
    std::condition_variable m_doneSignal;
};
