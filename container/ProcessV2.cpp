// CFileProcessor's side of the authenticated method: the files, the item's
// password, progress and cancel around ContainerV2's writer and reader.
#include <cstring>

#include "base/WorkQueue.h"
#include "container/ContainerV2.h"
#include "base/FileGuards.h"
#include "container/FileProcessor.h"
#include "base/PathUtils.h"

namespace {

// Holds the magic back: until the container is whole the file starts with
// zeros, so a temporary file left by a crash is never taken for a container.
class CUnfinishedSink : public CFileSink {
public:
    explicit CUnfinishedSink(FILE* pFile) : CFileSink(pFile) {}
    bool Write(const uint8_t* p, size_t n) override
    {
        if (m_bStarted || n < 4)
            return CFileSink::Write(p, n);
        m_bStarted = true;
        static const uint8_t kZeros[4] = {};
        return CFileSink::Write(kZeros, 4) && CFileSink::Write(p + 4, n - 4);
    }

private:
    bool m_bStarted = false;
};

// Verifying writes nothing, but what passed is counted for the caller.
class CCountingSink : public CByteSink {
public:
    explicit CCountingSink(CContainerFacts& facts) : m_facts(facts) {}
    bool Write(const uint8_t*, size_t n) override
    {
        ++m_facts.nBlocks;
        m_facts.nPlainBytes += n;
        return true;
    }

private:
    CContainerFacts& m_facts;
};

FProgress ItemProgress(CWorkItem& item, uint64_t nTotal)
{
    return [&item, nTotal](uint64_t nDone) {
        if (nTotal != 0)
            LockedSet(item.m_nPercent, nDone >= nTotal ? 100 : int(nDone * 100 / nTotal));
        return !LockedGet(item.m_bCancel);
    };
}

}  // namespace

int CFileProcessor::Threads() const
{
    return PipelineThreads(m_nThreads);
}

int CFileProcessor::WriteContainerV2(CWorkItem& item, const CString& strStoredName, FILE* pIn, uint64_t nSize,
                                     FILE* pOut, bool& bCancelled)
{
    CContainerV2Writer writer(Threads());
    {
        CString strPassword = LockedCopy(item.m_strPassword);
        CWipeOnExit wipe(strPassword);
        const int nBegin = writer.Begin(strPassword);
        if (nBegin != WR_OK)
            return nBegin;
    }
    // A stream cannot be rewound: its reader learns of a failure from the
    // exit status, and the authentication finds any cut.
    const bool bStream = pOut == m_pStreamOut;
    CFileSource source(pIn);
    CUnfinishedSink unfinished(pOut);
    CFileSink direct(pOut);
    CFileSink& sink = bStream ? direct : unfinished;
    const uint64_t nKnown = nSize == kUnknownSize ? 0 : nSize;
    int nResult = writer.Write(strStoredName, source, nSize, sink, ItemProgress(item, nKnown), bCancelled);
    if (nResult == WR_OK && !bCancelled && !bStream &&
        (std::fseek(pOut, 0, SEEK_SET) != 0 || std::fwrite(kContainerMagicV2, 1, 4, pOut) < 4))
        nResult = WR_WRITE_ERROR;
    return nResult;
}

int CFileProcessor::DecryptFileV2(CWorkItem& item, CInputFile& in, FILE* pIn, uint64_t nSize, const uint8_t* pMagic,
                                  const CString& strSource, const CString& strDest, bool bWrite)
{
    CContainerV2Reader reader(Threads());
    CFileSource file(pIn);
    CPrefixedSource source(pMagic, 4, file);  // the magic that told the version is read
    CString strStored;
    int nResult;
    {
        CString strPassword = LockedCopy(item.m_strPassword);
        CWipeOnExit wipe(strPassword);
        nResult = reader.Begin(source, strPassword, strStored);
    }
    m_facts.nVersion = 2;
    if (nResult == WR_OK) {
        m_facts.strName = strStored;
        m_facts.bHeaderPassed = true;
        m_facts.nIterations = reader.Header().nIterations;
        nResult = ReadRecordsV2(item, reader, in.Mode(), nSize, strSource, strDest, bWrite);
    }
    m_facts.nConsumed = reader.Consumed();
    LockedSet(item.m_v2Fault, reader.Fault());
    return nResult;
}

int CFileProcessor::ReadRecordsV2(CWorkItem& item, CContainerV2Reader& reader, unsigned nMode, uint64_t nSize,
                                  const CString& strSource, const CString& strDest, bool bWrite)
{
    const FProgress progress = ItemProgress(item, nSize == kUnknownSize ? 0 : nSize);
    bool bCancelled = false;
    if (!bWrite) {
        CCountingSink counter(m_facts);
        return reader.Read(&counter, progress, bCancelled);
    }
    // A stream gets each record as soon as it is authenticated; a failure
    // later ends it early, and the exit status says so.
    if (m_pStreamOut) {
        CFileSink stream(m_pStreamOut);
        return FlushStream(m_pStreamOut, reader.Read(&stream, progress, bCancelled));
    }
    const CString strDirectory = GetOutputDirectory(strDest);
    const CString strName = MakeSafeFileName(m_facts.strName, strSource);
    LockedAssign(item.m_strDest, JoinPath(strDirectory, strName));  // named by a write-failure message
    COutputFile out;
    if (!out.Create(strDirectory, nMode))
        return WR_WRITE_ERROR;
    CFileSink sink(out.Get());
    const int nResult = reader.Read(&sink, progress, bCancelled);
    // Every byte written was authenticated, but only the whole file is the
    // file: a damaged container keeps nothing.
    return SettleOutput(item, out, strName, nResult, nResult == WR_OK && !bCancelled ? KEPT_WHOLE : KEPT_NOTHING);
}
