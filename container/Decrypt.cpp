// The reading direction of CFileProcessor: verify the header, then restore
// the blocks in file order.
#include <cstring>

#include "base/FileGuards.h"
#include "base/FileStreams.h"
#include "container/FormatV2.h"
#include "container/FileProcessor.h"
#include "base/PathUtils.h"
#include "container/StoredName.h"
#include "base/WipingZlib.h"
#include "framework/afxconv.h"

namespace {

uint32_t Le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }

}  // namespace

namespace {

// A damaged container: the restored part before the damage is the user's only salvage.
bool IsDamage(int nResult)
{
    return nResult == WR_READ_ERROR || nResult == WR_DECRYPT_ERROR || nResult == WR_INFLATE_ERROR;
}

}  // namespace

int CFileProcessor::DecryptFile(CWorkItem& item, CCipher& cipher, bool bWrite)
{
    m_facts = CContainerFacts();
    const CString strSource = LockedCopy(item.m_strSource);
    if (!KeyCipher(item, cipher, true, 0))
        return WR_DECRYPT_ERROR;
    const CString strDest = LockedCopy(item.m_strDest);
    CInputFile in;
    if (!m_pStreamIn && !in.Open(strSource))
        return WR_READ_ERROR;
    FILE* pIn = m_pStreamIn ? m_pStreamIn : in.Get();
    const uint64_t nSize = m_pStreamIn ? kUnknownSize : in.Size();
    uint8_t abMagic[4];
    if (std::fread(abMagic, 1, 4, pIn) < 4)
        return WR_READ_ERROR;
    // A version-2 container says what it is: the chosen method does not matter.
    if (HasMagicV2(abMagic, 4))
        return DecryptFileV2(item, in, pIn, nSize, abMagic, strSource, strDest, bWrite);
    if (std::memcmp(abMagic, kContainerMagic, 4) != 0)
        return WR_BAD_FORMAT;

    CString strStored;
    uint32_t nHeader = 0;
    int nResult = ReadNameHeader(strStored, pIn, cipher, nHeader);
    // A password typed on the other platform, or in the other form: the
    // name check tells which key the writer used. A stream cannot go back.
    if (nResult == WR_DECRYPT_ERROR && !m_pStreamIn && std::fseek(pIn, 4, SEEK_SET) == 0 &&
        KeyCipher(item, cipher, true, 1))
        nResult = ReadNameHeader(strStored, pIn, cipher, nHeader);
    if (nResult != WR_OK)
        return nResult;
    m_facts.strName = DecodeStoredName(strStored, GetLegacyCodePage());
    m_facts.bHeaderPassed = true;
    const uint64_t nConsumed = 4 + uint64_t(nHeader);
    bool bCancelled = false;
    uint64_t nRestored = 0;
    if (!bWrite)
        return ReadBody(item, cipher, pIn, nullptr, nSize, nConsumed, bCancelled, nRestored);
    if (m_pStreamOut)
        return FlushStream(m_pStreamOut,
                           ReadBody(item, cipher, pIn, m_pStreamOut, nSize, nConsumed, bCancelled, nRestored));

    const CString strDirectory = GetOutputDirectory(strDest);
    const CString strName = MakeSafeFileName(DecodeStoredName(strStored, GetLegacyCodePage()), strSource);
    LockedAssign(item.m_strDest, JoinPath(strDirectory, strName));  // named by a write-failure message
    COutputFile out;
    if (!out.Create(strDirectory, in.Mode()))
        return WR_WRITE_ERROR;
    nResult = ReadBody(item, cipher, pIn, out.Get(), nSize, nConsumed, bCancelled, nRestored);
    int nKeep = KEPT_NOTHING;
    if (!bCancelled && nResult == WR_OK)
        nKeep = KEPT_WHOLE;
    else if (!bCancelled && nRestored > 0 && IsDamage(nResult))
        nKeep = KEPT_PARTIAL;
    return SettleOutput(item, out, strName, nResult, nKeep);
}

int CFileProcessor::ReadBlocks(CWorkItem& item, CCipher& cipher, FILE* pIn, FILE* pOut, uint64_t nSize,
                               uint64_t nConsumed, bool& bCancelled, uint64_t& nRestored)
{
    // A failed init leaves a stream that inflate refuses: result 6 at the first block.
    InflateInitWiping(m_zstream);
    CInflateGuard inflateGuard(m_zstream);

    const CCipherKey* pKey = cipher.GetKey();
    const CFieldDecryptor keyed(pKey->Data(), pKey->Length());
    CFieldDecryptor scratch(pKey->Data(), pKey->Length());
    uint8_t abHeader[6];
    int nResult = NextBlockHeader(abHeader, keyed, scratch, pIn, nConsumed);
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
        ++nRestored;
        ++m_facts.nBlocks;
        m_facts.nPlainBytes += nRaw;
        if (inflateReset(&m_zstream) != Z_OK)
            return WR_INFLATE_ERROR;
        if (std::feof(pIn))
            return WR_OK;
        nResult = NextBlockHeader(abHeader, keyed, scratch, pIn, nConsumed);
    }
    m_facts.nBlockOffset = nConsumed;
    return EndOfBlocks(nResult, nConsumed, nSize);
}

// What a missing further block header means: the end, or a cut-off or
// overlong container. A stream cannot be measured: it ends cleanly only
// right after a block.
int CFileProcessor::EndOfBlocks(int nHeaderResult, uint64_t nConsumed, uint64_t nSize)
{
    if (nHeaderResult == WR_NO_MEMORY)
        return nHeaderResult;
    if (nHeaderResult == kNoMoreBlocks)
        return nSize == kUnknownSize || nConsumed == nSize ? WR_OK : WR_READ_ERROR;
    return nSize != kUnknownSize && nConsumed == nSize ? WR_OK : WR_READ_ERROR;
}

// The next block header, or kNoMoreBlocks when the input ends before it.
int CFileProcessor::NextBlockHeader(uint8_t* pHeader, const CFieldDecryptor& keyed, CFieldDecryptor& scratch,
                                    FILE* pIn, uint64_t nConsumed)
{
    m_facts.nConsumed = nConsumed;
    const int c = std::fgetc(pIn);
    if (c == EOF)
        return std::ferror(pIn) ? WR_READ_ERROR : kNoMoreBlocks;
    std::ungetc(c, pIn);
    return ReadProtected(pHeader, 6, keyed, scratch, pIn);
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
    CString strStored;
    int nResult = ReadNameHeader(strStored, pIn, cipher, nHeader);
    if (nResult != WR_OK)
        return nResult;
    m_facts.strName = DecodeStoredName(strStored, GetLegacyCodePage());
    m_facts.bHeaderPassed = true;

    InflateInitWiping(m_zstream);
    CInflateGuard inflateGuard(m_zstream);
    uint64_t nConsumed = 4 + uint64_t(nHeader);
    uint8_t abHeader[6];
    const CCipherKey* pKey = cipher.GetKey();
    const CFieldDecryptor keyed(pKey->Data(), pKey->Length());
    CFieldDecryptor scratch(pKey->Data(), pKey->Length());
    nResult = NextBlockHeader(abHeader, keyed, scratch, pIn, nConsumed);
    if (nResult == kNoMoreBlocks)
        return WR_OK;
    m_facts.nBlockOffset = nConsumed;
    return nResult == WR_OK ? ReadBlock(cipher, pIn, abHeader, nConsumed) : nResult;
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
