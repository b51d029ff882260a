// The block loops of CFileProcessor with the chunks' zlib work on helper
// threads. The worker still reads, ciphers and writes in file order (the
// cipher's state runs on from block to block), so the container is the one
// the serial loops write, byte for byte; a failure, a cancel or the progress
// is seen at the same block as there.
#include <cstring>

#include "container/BlockPool.h"
#include "container/FileProcessor.h"

namespace {

uint32_t Le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }

// The result a block loop returns when the blocks in flight are all written.
const int kGoingOn = -1;

}  // namespace

int CFileProcessor::WriteBody(CWorkItem& item, CCipher& cipher, FILE* pIn, FILE* pOut, uint64_t nSize,
                              bool& bCancelled)
{
    const int nThreads = m_nThreads > 0 ? m_nThreads : PipelineThreads();
    if (nThreads > 1) {
        CBlockPool pool(CBlockPool::Kind::kDeflate, nThreads);
        if (pool.Start())
            return WritePooled(item, cipher, pool, pIn, pOut, nSize, bCancelled);
    }
    return WriteBlocks(item, cipher, pIn, pOut, nSize, bCancelled);
}

int CFileProcessor::ReadBody(CWorkItem& item, CCipher& cipher, FILE* pIn, FILE* pOut, uint64_t nSize,
                             uint64_t nConsumed, bool& bCancelled, uint64_t& nRestored)
{
    const int nThreads = m_nThreads > 0 ? m_nThreads : PipelineThreads();
    if (nThreads > 1) {
        CBlockPool pool(CBlockPool::Kind::kInflate, nThreads);
        if (pool.Start())
            return ReadPooled(item, cipher, pool, pIn, pOut, nSize, nConsumed, bCancelled, nRestored);
    }
    return ReadBlocks(item, cipher, pIn, pOut, nSize, nConsumed, bCancelled, nRestored);
}

int CFileProcessor::WritePooled(CWorkItem& item, CCipher& cipher, CBlockPool& pool, FILE* pIn, FILE* pOut,
                                uint64_t nSize, bool& bCancelled)
{
    const CCipherKey* pKey = cipher.GetKey();
    const CFieldEncryptor keyed(pKey->Data(), pKey->Length());
    CFieldEncryptor scratch(pKey->Data(), pKey->Length());
    uint64_t nRead = 0;
    bool bMore = true;
    for (;;) {
        // Read ahead into every free slot, so the helpers never wait on the worker.
        for (CBlockPool::Slot* pSlot; bMore && (pSlot = pool.Free()) != nullptr;) {
            const size_t n = std::fread(pSlot->abIn, 1, kChunkSize, pIn);
            if (n == 0) {
                bMore = false;
                break;
            }
            nRead += n;
            pSlot->nIn = uint32_t(n);
            pSlot->nMark = nRead;
            pool.Submit();
            bMore = !std::feof(pIn);
        }
        CBlockPool::Slot* pSlot = pool.WaitOldest();
        if (!pSlot)
            break;
        if (LockedGet(item.m_bCancel)) {
            bCancelled = true;
            return WR_OK;
        }
        if (nSize != 0)
            LockedSet(item.m_nPercent, Percent(pSlot->nMark, nSize));
        if (pSlot->nResult != WR_OK)
            return pSlot->nResult;

        const uint32_t nRaw = pSlot->nIn, nPacked = pSlot->nOut;
        const uint64_t nStored = cipher.PaddedLength(nPacked);
        if (nStored > uint64_t(kPackedBufferSize))
            return WR_ENCRYPT_ERROR;
        std::memset(pSlot->abOut + nPacked, 0, size_t(nStored - nPacked));  // the padding, as the serial loop's
        if (!cipher.Process(pSlot->abOut, uint32_t(nStored), 1))
            return WR_ENCRYPT_ERROR;
        const uint8_t abHeader[6] = {uint8_t(nRaw),    uint8_t(nRaw >> 8),    uint8_t(nStored),
                                     uint8_t(nStored >> 8), uint8_t(nPacked), uint8_t(nPacked >> 8)};
        const int nResult = WriteProtected(abHeader, 6, keyed, scratch, pOut);
        if (nResult != WR_OK)
            return nResult;
        if (std::fwrite(pSlot->abOut, 1, size_t(nStored), pOut) < nStored)
            return WR_WRITE_ERROR;
        pool.Release();
    }
    // A source that shrank or grew after it was measured fails here.
    return nRead == nSize ? WR_OK : WR_READ_ERROR;
}

int CFileProcessor::ReadPooled(CWorkItem& item, CCipher& cipher, CBlockPool& pool, FILE* pIn, FILE* pOut,
                               uint64_t nSize, uint64_t nConsumed, bool& bCancelled, uint64_t& nRestored)
{
    const CCipherKey* pKey = cipher.GetKey();
    const CFieldDecryptor keyed(pKey->Data(), pKey->Length());
    CFieldDecryptor scratch(pKey->Data(), pKey->Length());
    // Where the blocks end: set by the reading side, returned once every
    // block before that point has been written.
    int nEnd = kGoingOn;
    for (;;) {
        for (CBlockPool::Slot* pSlot; nEnd == kGoingOn && (pSlot = pool.Free()) != nullptr;) {
            uint8_t abHeader[6];
            int nResult = ReadProtected(abHeader, 6, keyed, scratch, pIn);
            if (nResult != WR_OK) {
                // No further header: the end, or a cut-off or overlong container.
                nEnd = nResult == WR_NO_MEMORY ? nResult : (nConsumed == nSize ? WR_OK : WR_READ_ERROR);
                break;
            }
            nResult = ReadSealedBlock(cipher, pIn, abHeader, nConsumed, pSlot->abIn);
            if (nResult != WR_OK) {
                nEnd = nResult;
                break;
            }
            pSlot->nIn = Le16(abHeader + 4);
            pSlot->nExpect = Le16(abHeader);
            pSlot->nMark = nConsumed;
            pool.Submit();
            if (std::feof(pIn))
                nEnd = WR_OK;
        }
        CBlockPool::Slot* pSlot = pool.WaitOldest();
        if (!pSlot)
            break;
        if (pSlot->nResult != WR_OK)
            return pSlot->nResult;
        if (LockedGet(item.m_bCancel)) {
            bCancelled = true;
            return WR_OK;
        }
        LockedSet(item.m_nPercent, Percent(pSlot->nMark, nSize));
        if (pOut && std::fwrite(pSlot->abOut, 1, pSlot->nExpect, pOut) < pSlot->nExpect)
            return WR_WRITE_ERROR;
        ++nRestored;
        pool.Release();
    }
    return nEnd;
}
