#include "container/RunItem.h"

#include <cerrno>

#include "cipher/Methods.h"
#include "container/FileProcessor.h"

int RunItem(CWorkItem& item, const CRunOptions& options, CRunReport* pReport, const std::function<void()>& onDone)
{
    LockedSet(item.m_bDone, 0);
    int nResult = WR_OK;  // stays so for an EncType that names no method
    errno = 0;
    // Nothing may leave a thread procedure; allocation is all that throws here.
    try {
        CFileProcessor processor;
        processor.SetStreams(options.pIn, options.pOut);
        processor.SetNameRule(options.nameRule);
        WithCipher(LockedGet(item.m_nEncType), [&](CCipher& cipher) {
            nResult = options.bVerify ? processor.Verify(item, cipher) : processor.Run(item, cipher);
        });
        if (pReport) {
            pReport->nErrno = errno;
            pReport->facts = processor.Facts();
        }
    } catch (...) {
        nResult = WR_NO_MEMORY;
    }
    // The waiting side reads the result as soon as it sees the flag, and may
    // destroy the item at once.
    {
        CScopedLock lock(g_csWork);
        item.m_nResult = nResult;
        item.m_bDone = 1;
    }
    if (onDone)
        onDone();
    return nResult;
}
