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
    const CString strSource = LockedCopy(item.m_strSource);
    KeyCipher(item, cipher);
    const CString strDest = LockedCopy(item.m_strDest);
    if (!IsRegularFile(strSource))
        return WR_READ_ERROR;

    const uint64_t nSize = GetFileSize64(strSource);
    CInputFile in(strSource);
    if (!in.Get())
        return WR_READ_ERROR;
    uint8_t abMagic[4];
    if (std::fread(abMagic, 1, 4, in.Get()) < 4)
        return WR_READ_ERROR;
    if (std::memcmp(abMagic, kContainerMagic, 4) != 0)
        return WR_BAD_FORMAT;

    CString strName;
    uint32_t nHeader = 0;
    int nResult = ReadNameHeader(strName, in.Get(), cipher, nHeader);
    if (nResult != WR_OK)
        return nResult;
    const uint64_t nConsumed = 4 + uint64_t(nHeader);
    bool bCancelled = false;
    if (!bWrite)
        return ReadBody(item, cipher, in.Get(), nullptr, nSize, nConsumed, bCancelled);

    CString strOut;
    FILE* pOut = CreateUniqueFile(GetOutputDirectory(strDest), MakeSafeFileName(strName, strSource), strOut,
                                  [&item](const CString& strPath) { LockedAssign(item.m_strDest, strPath); });
    if (!pOut)
        return WR_WRITE_ERROR;
    COutputFile out(pOut, strOut);
    // What was restored before a damaged block is the user's only salvage.
    out.Keep(true);
    nResult = ReadBody(item, cipher, in.Get(), pOut, nSize, nConsumed, bCancelled);
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

    const CCipherKey* pKey = cipher.GetKey();
    const CFieldDecryptor keyed(pKey->Data(), pKey->Length());
    CFieldDecryptor scratch(pKey->Data(), pKey->Length());
    uint8_t abHeader[6];
    int nResult = ReadProtected(abHeader, 6, keyed, scratch, pIn);
    while (nResult == WR_OK) {
        nResult = ReadBlock(cipher, pIn, abHeader, nConsumed);
        if (nResult != WR_OK)
            return nResult;
        if (LockedGet(item.m_bCancel)) {
            bCancelled = true;
            return WR_OK;
        }
        LockedSet(item.m_nPercent, Percent(nConsumed, nSize));
        const uint32_t nRaw = Le16(abHeader);
        if (pOut && std::fwrite(m_abPlain, 1, nRaw, pOut) < nRaw)
            return WR_WRITE_ERROR;
        if (inflateReset(&m_zstream) != Z_OK)
            return WR_INFLATE_ERROR;
        if (std::feof(pIn))
            return WR_OK;
        nResult = ReadProtected(abHeader, 6, keyed, scratch, pIn);
    }
    if (nResult == WR_NO_MEMORY)
        return nResult;
    return nConsumed == nSize ? WR_OK : WR_READ_ERROR;
}

int CFileProcessor::ReadSealedBlock(CCipher& cipher, FILE* pIn, const uint8_t* pHeader, uint64_t& nConsumed,
                                    uint8_t* pPacked)
{
    const uint32_t nRaw = Le16(pHeader), nStored = Le16(pHeader + 2), nPacked = Le16(pHeader + 4);
    nConsumed += 6;
    if (nRaw == 0 || nRaw > uint32_t(kChunkSize) || nStored > uint32_t(kPackedBufferSize) || nPacked > nStored)
        return WR_DECRYPT_ERROR;

    std::memset(pPacked, 0, kPackedBufferSize);
    const size_t nBody = std::fread(pPacked, 1, nStored, pIn);
    if (nBody == 0)
        return WR_READ_ERROR;
    nConsumed += nBody;  // a short body is accepted: its missing tail stays zero
    if (!cipher.Process(pPacked, nStored, 0))
        return WR_DECRYPT_ERROR;
    return WR_OK;
}

// One block: read and deciphered as above, then inflated into m_abPlain.
int CFileProcessor::ReadBlock(CCipher& cipher, FILE* pIn, const uint8_t* pHeader, uint64_t& nConsumed)
{
    ClearBuffers();
    const int nResult = ReadSealedBlock(cipher, pIn, pHeader, nConsumed, m_abPacked);
    if (nResult != WR_OK)
        return nResult;
    m_zstream.next_in = m_abPacked;
    m_zstream.avail_in = Le16(pHeader + 4);
    m_zstream.next_out = m_abPlain;
    m_zstream.avail_out = kChunkSize;
    if (inflate(&m_zstream, Z_FINISH) != Z_STREAM_END || m_zstream.total_out != Le16(pHeader))
        return WR_INFLATE_ERROR;
    return WR_OK;
}
