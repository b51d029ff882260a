#include "container/FileProcessor.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/FileGuards.h"
#include "base/FileStreams.h"
#include "base/NamedStreams.h"
#include "base/PathUtils.h"
#include "cipher/Methods.h"
#include "container/ContainerV2.h"
#include "container/Sniff.h"
#include "container/StoredName.h"
#include "framework/afxconv.h"

namespace {

// Holds the magic back: until the container is whole the file starts with
// zeros, so a temporary file left by a crash never verifies as one. A
// stream cannot be rewound and does without: its reader learns of a failure
// from the exit status.
class CUnfinishedSink : public CFileSink {
public:
    explicit CUnfinishedSink(FILE* pFile) : CFileSink(pFile), m_pFile(pFile) {}
    bool Write(const uint8_t* p, size_t n) override
    {
        static const uint8_t kZeros[sizeof m_abMagic] = {};
        const size_t nHeld = std::min(n, sizeof m_abMagic - m_nHeld);
        if (nHeld) {
            std::memcpy(m_abMagic + m_nHeld, p, nHeld);
            m_nHeld += nHeld;
            if (!CFileSink::Write(kZeros, nHeld))
                return false;
        }
        return n == nHeld || CFileSink::Write(p + nHeld, n - nHeld);
    }
    // The magic in its place: the container is whole.
    bool Finish()
    {
        return m_nHeld == sizeof m_abMagic && std::fseek(m_pFile, 0, SEEK_SET) == 0 &&
               std::fwrite(m_abMagic, 1, sizeof m_abMagic, m_pFile) == sizeof m_abMagic;
    }

private:
    FILE* m_pFile;
    uint8_t m_abMagic[4] = {};
    size_t m_nHeld = 0;
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

// The formats' progress as the item's percentage (of nTotal bytes, 0 when
// unknown), and its cancel flag as the answer.
FProgress ItemProgress(CWorkItem& item, uint64_t nTotal)
{
    return [&item, nTotal](uint64_t nDone) {
        if (nTotal != 0 && nTotal != kUnknownSize)
            LockedSet(item.m_nPercent, nDone >= nTotal ? 100 : int(nDone * 100 / nTotal));
        return !LockedGet(item.m_bCancel);
    };
}

// A damaged container: the restored part before the damage is the user's only salvage.
bool IsDamage(int nResult)
{
    return nResult == WR_READ_ERROR || nResult == WR_DECRYPT_ERROR || nResult == WR_INFLATE_ERROR;
}

}  // namespace

CFileProcessor::CFileProcessor() : m_pNamedStreams(&SystemNamedStreams()) {}

int CFileProcessor::Run(CWorkItem& item, CCipher& cipher)
{
    return LockedGet(item.m_bEncrypt) ? Encrypt(item, cipher) : Decrypt(item, cipher);
}

int CFileProcessor::Encrypt(CWorkItem& item, CCipher& cipher)
{
    try {
        return EncryptFile(item, cipher);
    } catch (const std::bad_alloc&) {
        return WR_NO_MEMORY;
    }
}

int CFileProcessor::Decrypt(CWorkItem& item, CCipher& cipher)
{
    try {
        return DecryptFile(item, cipher, true);
    } catch (const std::bad_alloc&) {
        return WR_NO_MEMORY;
    }
}

int CFileProcessor::Verify(CWorkItem& item, CCipher& cipher)
{
    try {
        return DecryptFile(item, cipher, false);
    } catch (const std::bad_alloc&) {
        return WR_NO_MEMORY;
    }
}

void CFileProcessor::SetStreams(FILE* pIn, FILE* pOut)
{
    m_pStreamIn = pIn;
    m_pStreamOut = pOut;
}

bool CFileProcessor::KeyCipher(CWorkItem& item, CCipher& cipher, bool bReading)
{
    return WithPassword(item, [&](const CString& strPassword) {
        return KeyLegacyCipher(strPassword, cipher, bReading, 0);
    });
}

int CFileProcessor::SettleOutput(CWorkItem& item, COutputFile& out, const CString& strSource, const CString& strName,
                                 int nResult, int nKeep)
{
    if (nKeep != KEPT_NOTHING) {
        // The mark goes on while the output is unnamed, so that it never
        // appears without it; failing that, once it is named. A mark that
        // cannot be carried does not fail the file. A stream input has no
        // mark, and its source path only names it.
        const MarkCarried carried = m_pStreamIn ? MarkCarried::kNoMark
                                                : CarryDownloadMark(*m_pNamedStreams, strSource, out.TemporaryPath());
        CString strFinal;
        out.SetNameRule(m_nameRule);
        const int nFinish =
            out.Finish(strName, strFinal, [&item](const CString& strPath) { LockedSet(item.m_strDest, strPath); });
        if (nFinish == WR_OK) {
            if (carried == MarkCarried::kNotWritten)
                CarryDownloadMark(*m_pNamedStreams, strSource, strFinal);
            LockedSet(item.m_nKept, nKeep);
            return nResult;
        }
        nResult = nFinish;
    }
    LockedSet(item.m_nKept, out.Discard() ? KEPT_NOTHING : KEPT_TEMPORARY);
    return nResult;
}

int CFileProcessor::FlushStream(FILE* pOut, int nResult)
{
    if (std::fflush(pOut) != 0 && nResult == WR_OK)
        return WR_WRITE_ERROR;
    return nResult;
}

int CFileProcessor::EncryptFile(CWorkItem& item, CCipher& cipher)
{
    const CString strSource = LockedGet(item.m_strSource);
    // Keyed first: a password no key can be made from touches no file.
    if (!KeyCipher(item, cipher, false))
        return WR_ENCRYPT_ERROR;
    const CString strWanted = LockedGet(item.m_strDest);
    CInputFile file;
    if (!m_pStreamIn && !file.Open(strSource))
        return WR_READ_ERROR;
    CFileSource in(m_pStreamIn ? m_pStreamIn : file.Get());
    const uint64_t nSize = m_pStreamIn ? kUnknownSize : file.Size();
    // Version 2 stores the name in UTF-8; version 1 in the legacy code page.
    const CString strStored = LockedGet(item.m_nEncType) == kEncTypeAuthenticated
                                  ? EncodeStoredNameV2(GetFileNamePart(strSource), GetLegacyCodePage())
                                  : EncodeStoredName(GetFileNamePart(strSource), GetLegacyCodePage());
    bool bCancelled = false;
    if (m_pStreamOut) {
        CFileSink out(m_pStreamOut);
        return FlushStream(m_pStreamOut, WriteContainer(item, cipher, strStored, in, nSize, out, bCancelled));
    }
    const CString strDirectory = GetOutputDirectory(strWanted), strName = GetFileNamePart(strWanted);
    LockedSet(item.m_strDest, JoinPath(strDirectory, strName));  // named by a write-failure message
    COutputFile out;
    if (!out.Create(strDirectory, file.Mode()))
        return WR_WRITE_ERROR;
    CUnfinishedSink sink(out.Get());
    int nResult = WriteContainer(item, cipher, strStored, in, nSize, sink, bCancelled);
    if (nResult == WR_OK && !bCancelled && !sink.Finish())
        nResult = WR_WRITE_ERROR;
    // A version-1 container has no trailer: a cut-off one would decrypt
    // without complaint to a cut-off file. Only a finished one gets a name.
    return SettleOutput(item, out, strSource, strName, nResult,
                        nResult == WR_OK && !bCancelled ? KEPT_WHOLE : KEPT_NOTHING);
}

int CFileProcessor::WriteContainer(CWorkItem& item, CCipher& cipher, const CString& strStored, CByteSource& in,
                                   uint64_t nSize, CByteSink& out, bool& bCancelled)
{
    const FProgress progress = ItemProgress(item, nSize);
    if (LockedGet(item.m_nEncType) != kEncTypeAuthenticated) {
        CContainerV1Writer writer(cipher, m_buffers, m_nThreads);
        return writer.Write(strStored, in, nSize, out, progress, bCancelled);
    }
    CContainerV2Writer writer(m_nThreads);
    const int nBegin = WithPassword(item, [&](const CString& strPassword) { return writer.Begin(strPassword); });
    if (nBegin != WR_OK)
        return nBegin;
    return writer.Write(strStored, in, nSize, out, progress, bCancelled);
}

int CFileProcessor::DecryptFile(CWorkItem& item, CCipher& cipher, bool bWrite)
{
    m_facts = CContainerFacts();
    const CString strSource = LockedGet(item.m_strSource);
    const CString strDest = LockedGet(item.m_strDest);
    CInputFile file;
    if (!m_pStreamIn && !file.Open(strSource))
        return WR_READ_ERROR;
    CFileSource source(m_pStreamIn ? m_pStreamIn : file.Get());
    const uint64_t nSize = m_pStreamIn ? kUnknownSize : file.Size();
    uint8_t abMagic[4];
    const CSniff sniff = SniffContainer(abMagic, ReadFull(source, abMagic, sizeof abMagic));
    if (sniff.nVersion == 0)
        return sniff.nResult;
    // The magic that told the version is read: the readers get it back.
    CPrefixedSource in(abMagic, sizeof abMagic, source);
    // A version-2 container says what it is: the chosen method does not matter.
    if (sniff.nVersion == 2)
        return ReadV2(item, in, nSize, file.Mode(), strSource, strDest, bWrite);
    // Only the legacy methods key a cipher of their own (an empty password gives none).
    if (!KeyCipher(item, cipher, true))
        return WR_DECRYPT_ERROR;
    return ReadV1(item, cipher, in, nSize, file.Mode(), strSource, strDest, bWrite);
}

int CFileProcessor::ReadV1(CWorkItem& item, CCipher& cipher, CByteSource& in, uint64_t nSize, unsigned nMode,
                           const CString& strSource, const CString& strDest, bool bWrite)
{
    CContainerV1Reader reader(cipher, m_buffers, m_nThreads);
    CString strStored;
    const int nResult =
        WithPassword(item, [&](const CString& strPassword) { return reader.Begin(in, strPassword, strStored); });
    if (nResult != WR_OK)
        return nResult;
    m_facts.strName = DecodeStoredName(strStored, GetLegacyCodePage());
    m_facts.bHeaderPassed = true;
    const FProgress progress = ItemProgress(item, nSize);
    const FRead read = [&](CByteSink* pOut, bool& bCancelled) {
        const int nRead = reader.Read(pOut, nSize, progress, bCancelled);
        m_facts.nBlocks = reader.Blocks();
        m_facts.nPlainBytes = reader.PlainBytes();
        m_facts.nBlockOffset = reader.BlockOffset();
        m_facts.nConsumed = reader.Consumed();
        return nRead;
    };
    return Restore(item, read, nullptr, nMode, strSource, strDest, bWrite, true);
}

int CFileProcessor::ReadV2(CWorkItem& item, CByteSource& in, uint64_t nSize, unsigned nMode,
                           const CString& strSource, const CString& strDest, bool bWrite)
{
    CContainerV2Reader reader(m_nThreads);
    CString strStored;
    int nResult =
        WithPassword(item, [&](const CString& strPassword) { return reader.Begin(in, strPassword, strStored); });
    m_facts.nVersion = 2;
    if (nResult == WR_OK) {
        m_facts.strName = strStored;
        m_facts.bHeaderPassed = true;
        m_facts.nIterations = reader.Header().nIterations;
        const FProgress progress = ItemProgress(item, nSize);
        CCountingSink counter(m_facts);
        // Every byte written was authenticated, but only the whole file is
        // the file: a damaged container keeps nothing.
        nResult = Restore(
            item, [&](CByteSink* pOut, bool& bCancelled) { return reader.Read(pOut, progress, bCancelled); },
            &counter, nMode, strSource, strDest, bWrite, false);
    }
    m_facts.nConsumed = reader.Consumed();
    LockedSet(item.m_v2Fault, reader.Fault());
    return nResult;
}

int CFileProcessor::Restore(CWorkItem& item, const FRead& read, CByteSink* pCheck, unsigned nMode,
                            const CString& strSource, const CString& strDest, bool bWrite, bool bKeepPart)
{
    bool bCancelled = false;
    if (!bWrite)
        return read(pCheck, bCancelled);
    // A stream gets each block as soon as it is restored (an authenticated
    // one, each record as soon as it is authenticated); a failure later ends
    // it early, and the exit status says so.
    if (m_pStreamOut) {
        CFileSink stream(m_pStreamOut);
        return FlushStream(m_pStreamOut, read(&stream, bCancelled));
    }
    const CString strDirectory = GetOutputDirectory(strDest);
    const CString strName = m_nameRule == NameRule::kNextFree ? MakeSafeFileName(m_facts.strName, strSource)
                                                              : GetFileNamePart(strDest);
    LockedSet(item.m_strDest, JoinPath(strDirectory, strName));  // named by a write-failure message
    COutputFile out;
    if (!out.Create(strDirectory, nMode))
        return WR_WRITE_ERROR;
    CFileSink sink(out.Get());
    const int nResult = read(&sink, bCancelled);
    int nKeep = KEPT_NOTHING;
    if (!bCancelled && nResult == WR_OK)
        nKeep = KEPT_WHOLE;
    else if (bKeepPart && !bCancelled && m_facts.nBlocks > 0 && IsDamage(nResult) &&
             m_nameRule != NameRule::kReplacing)  // only a whole file replaces one
        nKeep = KEPT_PARTIAL;
    return SettleOutput(item, out, strSource, strName, nResult, nKeep);
}
