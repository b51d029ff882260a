#include "container/RunItem.h"

#include <cerrno>
#include <vector>

#include "cipher/Methods.h"
#include "container/FileProcessor.h"
#include "container/Sniff.h"

namespace {

// A container whose method is only the user's first guess: the method that
// opens it, found from its leading bytes as the tool finds it, goes into the
// item. False when no method does: nResult and facts say why. A version-2
// container names itself, and anything else fails in the run as it would
// with any method.
bool FindMethod(CWorkItem& item, int& nResult, CContainerFacts& facts)
{
    const int nFirst = LockedGet(item.m_nEncType);
    if (!GetMethodInfo(nFirst))
        return true;  // names no method: the run touches no file
    std::vector<uint8_t> leading;
    const CSniff sniff = SniffContainer(LockedGet(item.m_strSource), &leading);
    if (sniff.nVersion != 1)
        return true;
    const int nFound = WithPassword(item, [&](const CString& strPassword) {
        return FindLegacyMethod(leading.data(), leading.size(), strPassword, nResult, facts, nFirst);
    });
    if (nFound < 0)
        return false;
    LockedSet(item.m_nEncType, nFound);
    return true;
}

// The password opened nothing, so another one may: no legacy method passed
// the name check, or an authenticated container's key check failed.
bool PasswordRefused(int nResult, const CContainerFacts& facts, const CV2Fault& fault)
{
    if (fault.nKind == V2_FAULT_WRONG_PASSWORD || fault.nKind == V2_FAULT_PASSWORD_UTF8)
        return true;
    return facts.nVersion == 1 && nResult == WR_DECRYPT_ERROR && !facts.bHeaderPassed;
}

}  // namespace

int RunItem(CWorkItem& item, const CRunOptions& options, CRunReport* pReport, const std::function<void()>& onDone)
{
    LockedSet(item.m_bDone, 0);
    int nResult = WR_OK;  // stays so for an EncType that names no method
    bool bRefused = false;
    errno = 0;
    // Nothing may leave a thread procedure; allocation is all that throws here.
    try {
        const bool bDecrypting = !LockedGet(item.m_bEncrypt);
        CContainerFacts facts;
        if (bDecrypting && LockedGet(item.m_bFirstGuess) && !FindMethod(item, nResult, facts)) {
            bRefused = PasswordRefused(nResult, facts, CV2Fault());
        } else {
            CFileProcessor processor;
            processor.SetStreams(options.pIn, options.pOut);
            processor.SetNameRule(options.nameRule);
            WithCipher(LockedGet(item.m_nEncType), [&](CCipher& cipher) {
                nResult = options.bVerify ? processor.Verify(item, cipher) : processor.Run(item, cipher);
            });
            facts = processor.Facts();
            bRefused = bDecrypting && PasswordRefused(nResult, facts, LockedGet(item.m_v2Fault));
        }
        if (pReport) {
            pReport->nErrno = errno;
            pReport->facts = facts;
        }
    } catch (...) {
        nResult = WR_NO_MEMORY;
    }
    // The waiting side reads the result as soon as it sees the flag, and may
    // destroy the item at once.
    {
        CScopedLock lock(g_csWork);
        item.m_nResult = nResult;
        item.m_bPasswordRefused = bRefused;
        item.m_bDone = 1;
    }
    if (onDone)
        onDone();
    return nResult;
}
