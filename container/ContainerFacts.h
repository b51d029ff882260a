// What a reading run learned about a container, for the front ends to tell
// the user: the stored name, how far the blocks or records got, where the
// one in work began (a damaged one is named by its place) and the format.
#pragma once

#include <cstdint>

#include "framework/afxstr.h"

struct CContainerFacts {
    CString strName;
    bool bHeaderPassed = false;
    uint64_t nBlocks = 0;
    uint64_t nPlainBytes = 0;
    uint64_t nBlockOffset = 0;
    uint64_t nConsumed = 0;
    int nVersion = 1;          // 2: the authenticated container
    uint32_t nIterations = 0;  // its key derivation's rounds
};
