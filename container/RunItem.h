// One file's whole run on a worker thread, the same for both front ends: the
// cipher its EncType names, a CFileProcessor, and the result published to
// the thread that waits for it. The DLL's worker (batch/Worker.cpp) and the
// tool's job (cli/Job.cpp) are each this body, started and waited for in
// their own way.
#pragma once

#include <cstdio>
#include <functional>

#include "base/FileStreams.h"
#include "container/ContainerFacts.h"
#include "container/WorkItem.h"

// How an item is run beyond its own fields.
struct CRunOptions {
    bool bVerify = false;  // the container's checks only, writing nothing (the tool's verify and info)
    FILE* pIn = nullptr;   // a stream in place of the source file
    FILE* pOut = nullptr;  // a stream in place of the output file
    // Other than kNextFree: the output is the item's m_strDest exactly (the tool's -o FILE).
    NameRule nameRule = NameRule::kNextFree;
};

// What a run learned beyond the item's fields.
struct CRunReport {
    CContainerFacts facts;
    int nErrno = 0;  // the system's reason for a read or write failure
};

// Runs the item on the calling thread: m_bDone = 0; the file by its EncType
// and direction (an EncType that names no method touches no file: WR_OK);
// decrypting with m_bFirstGuess, the legacy method that opens the container
// first (FindLegacyMethod, the item's EncType tried first), and none opening
// it is the run's result; pReport filled; then m_nResult, m_bPasswordRefused
// and m_bDone = 1 in one locked section, after which the item is not touched
// again (its owner may destroy it at once); then onDone, to wake the waiting
// thread. Never throws. Returns the file's WR_ code.
int RunItem(CWorkItem& item, const CRunOptions& options = CRunOptions(), CRunReport* pReport = nullptr,
            const std::function<void()>& onDone = nullptr);
