// The reading direction of CFileProcessor: verify the header, then restore
// the blocks in file order.
#include <cstring>

#include "container/FileGuards.h"
#include "container/FileProcessor.h"
#include "container/PathUtils.h"

namespace {

uint32_t Le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }

}  // namespace

int CFileProcessor::DecryptFile(CWorkItem& item, CCipher& cipher, bool bWrite)
{
    m_facts = CContainerFacts();
    const CString strSource = LockedCopy(item.m_strSource);
    KeyCipher(item, cipher);
    const CString strDest = LockedCopy(item.m_strDest);
    if (!m_pStreamIn && !IsRegularFile(strSource))
        return WR_READ_ERROR;

    const uint64_t nSize = m_pStreamIn ? kUnknownSize : GetFileSize64(strSource);
    CInputFile in(m_pStreamIn ? nullptr : strSource.GetString());
    FILE* pIn = m_pStreamIn ? m_pStreamIn : in.Get();
    if (!pIn)
        return WR_READ_ERROR;
    uint8_t abMagic[4];
    if (std::fread(abMagic, 1, 4, pIn) < 4)
        return WR_READ_ERROR;
    if (std::memcmp(abMagic, kContainerMagic, 4) != 0)
        return WR_BAD_FORMAT;

    CString strName;
    uint32_t nHeader = 0;
    int nResult = ReadNameHeader(strName, pIn, cipher, nHeader);
    if (nResult != WR_OK)
        return nResult;
    m_facts.strName = strName;
    m_facts.bHeaderPassed = true;
    const uint64_t nConsumed = 4 + uint64_t(nHeader);
    bool bCancelled = false;
    if (!bWrite)
        return ReadBlocks(item, cipher, pIn, nullptr, nSize, nConsumed, bCancelled);

    CString strOut;
    FILE* pOut = m_pStreamOut;
    if (!pOut)
        pOut = CreateUniqueFile(GetOutputDirectory(strDest), MakeSafeFileName(strName, strSource), strOut,
                                [&item](const CString& strPath) { LockedAssign(item.m_strDest, strPath); });
    if (!pOut)
        return WR_WRITE_ERROR;
    COutputFile out(m_pStreamOut ? nullptr : pOut, strOut);
    // What was restored before a damaged block is the user's only salvage.
    out.Keep(true);
    nResult = ReadBlocks(item, cipher, pIn, pOut, nSize, nConsumed, bCancelled);
    if (m_pStreamOut && std::fflush(pOut) != 0 && nResult == WR_OK)
        nResult = WR_WRITE_ERROR;
    if (!out.Close() && nResult == WR_OK)
        nResult = WR_WRITE_ERROR;
    out.Keep(!bCancelled);
    return nResult;
}

int CFileProcessor::ReadBlocks(CWorkItem& item, CCipher& cipher, FILE* pIn, FILE* pOut, uint64_t nSize,
                               uint64_t nConsumed, bool& bCancelled)
{
    // A failed init leaves a stream that inflate refuses: result 6 at the first block.
    std::memset(&m_zstream, 0, sizeof m_zstream);
    inflateInit(&m_zstream);
    CInflateGuard inflateGuard(m_zstream);

    uint8_t abHeader[6];
    int nResult = NextBlockHeader(abHeader, cipher, pIn, nConsumed);
    while (nResult == WR_OK) {
        m_facts.nBlockOffset = nConsumed;
        nResult = ReadBlock(cipher, pIn, abHeader, nConsumed);
        m_facts.nConsumed = nConsumed;
        if (nResult != WR_OK)
            return nResult;
        if (LockedGet(item.m_bCancel)) {
            bCancelled = true;
            return WR_OK;
        }
        if (nSize != kUnknownSize)
            LockedSet(item.m_nPercent, Percent(nConsumed, nSize));
        const uint32_t nRaw = Le16(abHeader);
        if (pOut && std::fwrite(m_abPlain, 1, nRaw, pOut) < nRaw)
            return WR_WRITE_ERROR;
        ++m_facts.nBlocks;
        m_facts.nPlainBytes += nRaw;
        if (inflateReset(&m_zstream) != Z_OK)
            return WR_INFLATE_ERROR;
        if (std::feof(pIn))
            return WR_OK;
        nResult = NextBlockHeader(abHeader, cipher, pIn, nConsumed);
    }
    m_facts.nBlockOffset = nConsumed;
    if (nResult == WR_NO_MEMORY)
        return nResult;
    // A stream cannot be measured: it ends cleanly only right after a block.
    if (nResult == kNoMoreBlocks)
        return nSize == kUnknownSize || nConsumed == nSize ? WR_OK : WR_READ_ERROR;
    return nSize != kUnknownSize && nConsumed == nSize ? WR_OK : WR_READ_ERROR;
}

// The next block header, or kNoMoreBlocks when the input ends before it.
int CFileProcessor::NextBlockHeader(uint8_t* pHeader, CCipher& cipher, FILE* pIn, uint64_t nConsumed)
{
    m_facts.nConsumed = nConsumed;
    const int c = std::fgetc(pIn);
    if (c == EOF)
        return std::ferror(pIn) ? WR_READ_ERROR : kNoMoreBlocks;
    std::ungetc(c, pIn);
    return ReadProtected(pHeader, 6, cipher, pIn);
}

int CFileProcessor::Probe(FILE* pIn, CCipher& cipher)
{
    m_facts = CContainerFacts();
    uint8_t abMagic[4];
    if (std::fread(abMagic, 1, 4, pIn) < 4)
        return WR_READ_ERROR;
    if (std::memcmp(abMagic, kContainerMagic, 4) != 0)
        return WR_BAD_FORMAT;
    uint32_t nHeader = 0;
    int nResult = ReadNameHeader(m_facts.strName, pIn, cipher, nHeader);
    if (nResult != WR_OK)
        return nResult;
    m_facts.bHeaderPassed = true;

    std::memset(&m_zstream, 0, sizeof m_zstream);
    inflateInit(&m_zstream);
    CInflateGuard inflateGuard(m_zstream);
    uint64_t nConsumed = 4 + uint64_t(nHeader);
    uint8_t abHeader[6];
    nResult = NextBlockHeader(abHeader, cipher, pIn, nConsumed);
    if (nResult == kNoMoreBlocks)
        return WR_OK;
    m_facts.nBlockOffset = nConsumed;
    return nResult == WR_OK ? ReadBlock(cipher, pIn, abHeader, nConsumed) : nResult;
}

// One block: its header checked against the buffers, its body read,
// decrypted and inflated into m_abPlain.
int CFileProcessor::ReadBlock(CCipher& cipher, FILE* pIn, const uint8_t* pHeader, uint64_t& nConsumed)
{
    const uint32_t nRaw = Le16(pHeader), nStored = Le16(pHeader + 2), nPacked = Le16(pHeader + 4);
    nConsumed += 6;
    if (nRaw == 0 || nRaw > uint32_t(kChunkSize) || nStored > uint32_t(kPackedBufferSize) || nPacked > nStored)
        return WR_DECRYPT_ERROR;

    ClearBuffers();
    const size_t nBody = std::fread(m_abPacked, 1, nStored, pIn);
    if (nBody == 0)
        return WR_READ_ERROR;
    nConsumed += nBody;  // a short body is accepted: its missing tail stays zero
    if (!cipher.Process(m_abPacked, nStored, 0))
        return WR_DECRYPT_ERROR;

    m_zstream.next_in = m_abPacked;
    m_zstream.avail_in = nPacked;
    m_zstream.next_out = m_abPlain;
    m_zstream.avail_out = kChunkSize;
    if (inflate(&m_zstream, Z_FINISH) != Z_STREAM_END || m_zstream.total_out != nRaw)
        return WR_INFLATE_ERROR;
    return WR_OK;
}
