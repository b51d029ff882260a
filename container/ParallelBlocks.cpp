// The block loops of CFileProcessor with the chunks' zlib work shared out
// over threads. The worker still reads, ciphers and writes in file order
// (the cipher's state runs on from block to block), so the container is the
// one the serial loops write, byte for byte; a failure, a cancel or the
// progress is seen at the same block as there. Chunks travel in batches so
// that threads meet once per batch rather than once per 4 KiB.
#include <cstring>
#include <memory>
#include <new>

#include "container/FileProcessor.h"
#include "base/SecureBuffer.h"
#include "base/WipingZlib.h"
#include "base/WorkQueue.h"

namespace {

uint32_t Le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }

const int kGoOn = CWorkQueue::kGoOn;

const int kBatchesPerThread = 3;

}  // namespace

// A run of consecutive blocks: their input, their output and their facts.
struct CBlockBatch {
    static const int kBlocks = 16;
    static const uint32_t kBytes = CFileProcessor::kPackedBufferSize;  // the larger of plain and packed
    struct Block {
        uint32_t nIn = 0;      // bytes of abIn to transform
        uint32_t nExpect = 0;  // inflate: the stored raw length the output must have
        uint32_t nOut = 0;     // set by the transform
        int nResult = WR_OK;   // set by the transform
        uint64_t nMark = 0;    // file position, for the progress
        uint64_t nStart = 0;   // where the block began, to name a damaged one
    };
    uint8_t abIn[kBlocks][kBytes];
    uint8_t abOut[kBlocks][kBytes];
    Block blocks[kBlocks];
    int nBlocks = 0;
    int nMost = 0;  // rows ever written, to be wiped
    // Row i of abIn, about to be written.
    uint8_t* In(int i)
    {
        nMost = i + 1 > nMost ? i + 1 : nMost;
        return abIn[i];
    }
    ~CBlockBatch()
    {
        // They held file contents.
        SecureZero(abIn, size_t(nMost) * kBytes);
        SecureZero(abOut, size_t(nMost) * kBytes);
    }
};

// The batches, a zlib stream per thread and the queue that shares them out.
class CChunkPipe {
public:
    CChunkPipe(bool bDeflate, int nThreads) : m_bDeflate(bDeflate), m_nThreads(nThreads) {}
    ~CChunkPipe()
    {
        m_queue.reset();  // joins the helpers before their streams and batches go
        for (int i = 0; i < m_nStreams; ++i)
            m_bDeflate ? deflateEnd(&m_streams[size_t(i)]) : inflateEnd(&m_streams[size_t(i)]);
    }
    CChunkPipe(const CChunkPipe&) = delete;
    CChunkPipe& operator=(const CChunkPipe&) = delete;

    // False when memory or a stream could not be had: the caller goes serial.
    bool Start()
    {
        try {
            m_streams.resize(size_t(m_nThreads));
            m_batches.resize(size_t(m_nThreads) * kBatchesPerThread);
            m_queue.reset(new CWorkQueue(m_batches.size(), m_nThreads - 1,
                                         [this](int nContext, size_t nSlot) { Transform(nContext, nSlot); }));
        } catch (const std::bad_alloc&) {
            return false;
        }
        for (z_stream& zs : m_streams) {
            if ((m_bDeflate ? DeflateInitWiping(zs, Z_DEFAULT_COMPRESSION) : InflateInitWiping(zs)) != Z_OK)
                return false;
            ++m_nStreams;
        }
        return true;
    }
    CWorkQueue& Queue() { return *m_queue; }
    // Made when first filled, so that a small file never pays for all of them.
    // Only the worker calls this before submitting; helpers find it made.
    CBlockBatch& Batch(size_t i)
    {
        if (!m_batches[i])
            m_batches[i].reset(new CBlockBatch);
        return *m_batches[i];
    }

private:
    void Transform(int nContext, size_t nSlot)
    {
        CBlockBatch& batch = *m_batches[nSlot];
        z_stream& zs = m_streams[size_t(nContext)];
        for (int i = 0; i < batch.nBlocks; ++i)
            TransformBlock(zs, batch.abIn[i], batch.abOut[i], batch.blocks[i]);
    }
    // zlib reports every failure by its return code; nothing here throws. A
    // failed stream is reset too, so the next chunk starts clean.
    void TransformBlock(z_stream& zs, uint8_t* pIn, uint8_t* pOut, CBlockBatch::Block& block) const
    {
        zs.next_in = pIn;
        zs.avail_in = uInt(block.nIn);
        zs.next_out = pOut;
        if (m_bDeflate) {
            zs.avail_out = CBlockBatch::kBytes;
            const bool bOk = deflate(&zs, Z_FINISH) == Z_STREAM_END;
            block.nOut = uint32_t(zs.total_out);
            const bool bReset = deflateReset(&zs) == Z_OK;
            block.nResult = bOk && bReset ? WR_OK : WR_DEFLATE_ERROR;
            return;
        }
        zs.avail_out = CFileProcessor::kChunkSize;
        const bool bOk = inflate(&zs, Z_FINISH) == Z_STREAM_END && zs.total_out == block.nExpect;
        block.nOut = uint32_t(zs.total_out);
        const bool bReset = inflateReset(&zs) == Z_OK;
        block.nResult = bOk && bReset ? WR_OK : WR_INFLATE_ERROR;
    }

    const bool m_bDeflate;
    const int m_nThreads;
    std::vector<z_stream> m_streams;
    int m_nStreams = 0;  // initialised ones, ended in the destructor
    std::vector<std::unique_ptr<CBlockBatch>> m_batches;
    std::unique_ptr<CWorkQueue> m_queue;
};

// Helpers pay off from the second block on; a smaller file would only pay
// for their start. A count set on the processor itself is always obeyed.
int CFileProcessor::PooledThreads(uint64_t nRemaining, uint64_t nOneBlock) const
{
    if (m_nThreads > 0)
        return m_nThreads;
    return nRemaining > nOneBlock ? PipelineThreads() : 1;
}

int CFileProcessor::WriteBody(CWorkItem& item, CCipher& cipher, FILE* pIn, FILE* pOut, uint64_t nSize,
                              bool& bCancelled)
{
    const int nThreads = PooledThreads(nSize, kChunkSize);
    if (nThreads > 1) {
        CChunkPipe pipe(true, nThreads);
        if (pipe.Start())
            return WritePooled(item, cipher, pipe, pIn, pOut, nSize, bCancelled);
    }
    return WriteBlocks(item, cipher, pIn, pOut, nSize, bCancelled);
}

int CFileProcessor::ReadBody(CWorkItem& item, CCipher& cipher, FILE* pIn, FILE* pOut, uint64_t nSize,
                             uint64_t nConsumed, bool& bCancelled, uint64_t& nRestored)
{
    const uint64_t nRemaining = nSize > nConsumed ? nSize - nConsumed : 0;
    const int nThreads = PooledThreads(nRemaining, 6 + uint64_t(kPackedBufferSize));
    if (nThreads > 1) {
        CChunkPipe pipe(false, nThreads);
        if (pipe.Start())
            return ReadPooled(item, cipher, pipe, pIn, pOut, nSize, nConsumed, bCancelled, nRestored);
    }
    return ReadBlocks(item, cipher, pIn, pOut, nSize, nConsumed, bCancelled, nRestored);
}


namespace {

// Up to a batch of chunks from the source; false once it has ended.
bool FillPlain(CBlockBatch& batch, FILE* pIn, uint64_t& nRead)
{
    batch.nBlocks = 0;
    while (batch.nBlocks < CBlockBatch::kBlocks) {
        const size_t n = std::fread(batch.In(batch.nBlocks), 1, CFileProcessor::kChunkSize, pIn);
        if (n == 0)
            return false;
        nRead += n;
        CBlockBatch::Block& block = batch.blocks[batch.nBlocks++];
        block.nIn = uint32_t(n);
        block.nMark = nRead;
        if (std::feof(pIn))
            return false;
    }
    return true;
}

// A packed chunk padded, enciphered and written after its protected header.
int SealBlock(CCipher& cipher, const CFieldEncryptor& keyed, CFieldEncryptor& scratch, uint8_t* pPacked,
              const CBlockBatch::Block& block, FILE* pOut)
{
    const uint32_t nRaw = block.nIn, nPacked = block.nOut;
    const uint64_t nStored = cipher.PaddedLength(nPacked);
    if (nStored > uint64_t(CFileProcessor::kPackedBufferSize))
        return WR_ENCRYPT_ERROR;
    std::memset(pPacked + nPacked, 0, size_t(nStored - nPacked));  // the padding, as the serial loop's
    if (!cipher.Process(pPacked, uint32_t(nStored), 1))
        return WR_ENCRYPT_ERROR;
    const uint8_t abHeader[6] = {uint8_t(nRaw),         uint8_t(nRaw >> 8),    uint8_t(nStored),
                                 uint8_t(nStored >> 8), uint8_t(nPacked), uint8_t(nPacked >> 8)};
    const int nResult = CFileProcessor::WriteProtected(abHeader, 6, keyed, scratch, pOut);
    if (nResult != WR_OK)
        return nResult;
    return std::fwrite(pPacked, 1, size_t(nStored), pOut) < nStored ? WR_WRITE_ERROR : WR_OK;
}

}  // namespace

int CFileProcessor::WritePooled(CWorkItem& item, CCipher& cipher, CChunkPipe& pipe, FILE* pIn, FILE* pOut,
                                uint64_t nSize, bool& bCancelled)
{
    const CCipherKey* pKey = cipher.GetKey();
    const CFieldEncryptor keyed(pKey->Data(), pKey->Length());
    CFieldEncryptor scratch(pKey->Data(), pKey->Length());
    uint64_t nRead = 0;
    const auto fill = [&](size_t nSlot, bool& bSubmit) {
        CBlockBatch& batch = pipe.Batch(nSlot);
        const bool bMore = FillPlain(batch, pIn, nRead);
        bSubmit = batch.nBlocks > 0;
        return bMore;
    };
    const auto drain = [&](size_t nSlot) -> int {
        CBlockBatch& batch = pipe.Batch(nSlot);
        for (int i = 0; i < batch.nBlocks; ++i) {
            if (LockedGet(item.m_bCancel)) {
                bCancelled = true;
                return WR_OK;
            }
            const CBlockBatch::Block& block = batch.blocks[i];
            if (nSize != 0 && nSize != kUnknownSize)
                LockedSet(item.m_nPercent, Percent(block.nMark, nSize));
            if (block.nResult != WR_OK)
                return block.nResult;
            const int nResult = SealBlock(cipher, keyed, scratch, batch.abOut[i], block, pOut);
            if (nResult != WR_OK)
                return nResult;
        }
        return kGoOn;
    };
    const int nResult = pipe.Queue().RunInOrder(fill, drain);
    if (nResult == CWorkQueue::kLost)
        return WR_NO_MEMORY;
    if (nResult != kGoOn)
        return nResult;
    // A source that shrank or grew after it was measured fails here.
    return SourceComplete(pIn, nRead, nSize);
}

// Up to a batch of blocks read and deciphered; kGoOn, or the result the
// blocks end with once those before have been written.
int CFileProcessor::FillSealed(CBlockBatch& batch, CCipher& cipher, const CFieldDecryptor& keyed,
                               CFieldDecryptor& scratch, FILE* pIn, uint64_t nSize, uint64_t& nConsumed,
                               uint64_t& nEndOffset)
{
    batch.nBlocks = 0;
    while (batch.nBlocks < CBlockBatch::kBlocks) {
        uint8_t abHeader[6];
        nEndOffset = nConsumed;
        int nResult = NextBlockHeader(abHeader, keyed, scratch, pIn, nConsumed);
        if (nResult != WR_OK)
            return EndOfBlocks(nResult, nConsumed, nSize);
        nResult = ReadSealedBlock(cipher, pIn, abHeader, nConsumed, batch.In(batch.nBlocks));
        if (nResult != WR_OK)
            return nResult;
        CBlockBatch::Block& block = batch.blocks[batch.nBlocks++];
        block.nIn = Le16(abHeader + 4);
        block.nExpect = Le16(abHeader);
        block.nStart = nEndOffset;
        block.nMark = nConsumed;
        if (std::feof(pIn)) {
            nEndOffset = nConsumed;
            return WR_OK;
        }
    }
    return kGoOn;
}

int CFileProcessor::ReadPooled(CWorkItem& item, CCipher& cipher, CChunkPipe& pipe, FILE* pIn, FILE* pOut,
                               uint64_t nSize, uint64_t nConsumed, bool& bCancelled, uint64_t& nRestored)
{
    const CCipherKey* pKey = cipher.GetKey();
    const CFieldDecryptor keyed(pKey->Data(), pKey->Length());
    CFieldDecryptor scratch(pKey->Data(), pKey->Length());
    // Where the blocks end: set by the reading side, returned once every
    // block before that point has been written.
    int nEnd = kGoOn;
    uint64_t nEndOffset = nConsumed;
    const auto fill = [&](size_t nSlot, bool& bSubmit) {
        CBlockBatch& batch = pipe.Batch(nSlot);
        nEnd = FillSealed(batch, cipher, keyed, scratch, pIn, nSize, nConsumed, nEndOffset);
        bSubmit = batch.nBlocks > 0;
        return nEnd == kGoOn;
    };
    const auto drain = [&](size_t nSlot) -> int {
        const CBlockBatch& batch = pipe.Batch(nSlot);
        for (int i = 0; i < batch.nBlocks; ++i) {
            const CBlockBatch::Block& block = batch.blocks[i];
            // The facts a failure is named by: as the serial loop leaves them.
            m_facts.nBlockOffset = block.nStart;
            m_facts.nConsumed = block.nMark;
            if (block.nResult != WR_OK)
                return block.nResult;
            if (LockedGet(item.m_bCancel)) {
                bCancelled = true;
                return WR_OK;
            }
            if (nSize != kUnknownSize)
                LockedSet(item.m_nPercent, Percent(block.nMark, nSize));
            if (pOut && std::fwrite(batch.abOut[i], 1, block.nExpect, pOut) < block.nExpect)
                return WR_WRITE_ERROR;
            ++nRestored;
            ++m_facts.nBlocks;
            m_facts.nPlainBytes += block.nExpect;
        }
        return kGoOn;
    };
    const int nResult = pipe.Queue().RunInOrder(fill, drain);
    if (nResult == CWorkQueue::kLost)
        return WR_NO_MEMORY;
    if (nResult != kGoOn)
        return nResult;
    m_facts.nBlockOffset = nEndOffset;
    m_facts.nConsumed = nConsumed;
    return nEnd;
}
