#include "container/ContainerV1.h"

#include <cstring>
#include <new>

#include "base/FileGuards.h"
#include "base/ParallelPipe.h"
#include "base/ResultCodes.h"
#include "base/SecureBuffer.h"
#include "base/WipingZlib.h"

CV1Buffers::CV1Buffers()
{
    Clear();
    std::memset(&zs, 0, sizeof zs);
}

CV1Buffers::~CV1Buffers()
{
    SecureZero(abPlain, sizeof abPlain);
    SecureZero(abPacked, sizeof abPacked);
}

void CV1Buffers::Clear()
{
    std::memset(abPlain, 0, sizeof abPlain);
    std::memset(abPacked, 0, sizeof abPacked);
}

// ---- the pipeline of blocks
//
// The worker still reads, ciphers and writes in file order (the cipher's
// state runs on from block to block); only the chunks' zlib work goes to the
// helpers. Chunks travel in batches so that threads meet once per batch
// rather than once per 4 KiB.

// A run of consecutive blocks: their input, their output and their facts.
struct CBlockBatch {
    static const int kBlocks = 16;
    static const uint32_t kBytes = kV1PackedSize;  // the larger of plain and packed
    struct Block {
        uint32_t nIn = 0;      // bytes of abIn to transform
        uint32_t nExpect = 0;  // inflate: the stored raw length the output must have
        uint32_t nOut = 0;     // set by the transform
        int nResult = WR_OK;   // set by the transform
        uint64_t nMark = 0;    // source or container position after it, for the progress
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

// The blocks' zlib work on the pipeline: a stream per thread.
class CChunkPipe : public CParallelPipe<CZStream, CBlockBatch> {
public:
    CChunkPipe(int nThreads, bool bDeflate)
        : CParallelPipe(
              nThreads, WR_NO_MEMORY,
              [bDeflate](CZStream& zs) {
                  const int nInit = zs.Init(bDeflate);
                  if (nInit == Z_OK)
                      return int(WR_OK);
                  return nInit == Z_MEM_ERROR ? int(WR_NO_MEMORY) : bDeflate ? int(WR_DEFLATE_ERROR)
                                                                             : int(WR_INFLATE_ERROR);
              },
              [bDeflate](CZStream& zs, CBlockBatch& batch) {
                  for (int i = 0; i < batch.nBlocks; ++i)
                      Transform(bDeflate, zs.Get(), batch.abIn[i], batch.abOut[i], batch.blocks[i]);
              },
              [](CBlockBatch& batch, int nStatus) {
                  for (int i = 0; i < batch.nBlocks; ++i)
                      batch.blocks[i].nResult = nStatus;
              })
    {
    }

private:
    // zlib reports every failure by its return code; nothing here throws. A
    // failed stream is reset too, so the next chunk starts clean.
    static void Transform(bool bDeflate, z_stream& zs, uint8_t* pIn, uint8_t* pOut, CBlockBatch::Block& block)
    {
        zs.next_in = pIn;
        zs.avail_in = uInt(block.nIn);
        zs.next_out = pOut;
        if (bDeflate) {
            zs.avail_out = CBlockBatch::kBytes;
            const bool bOk = deflate(&zs, Z_FINISH) == Z_STREAM_END;
            block.nOut = uint32_t(zs.total_out);
            const bool bReset = deflateReset(&zs) == Z_OK;
            block.nResult = bOk && bReset ? WR_OK : WR_DEFLATE_ERROR;
            return;
        }
        zs.avail_out = kV1ChunkSize;
        const bool bOk = inflate(&zs, Z_FINISH) == Z_STREAM_END && zs.total_out == block.nExpect;
        block.nOut = uint32_t(zs.total_out);
        const bool bReset = inflateReset(&zs) == Z_OK;
        block.nResult = bOk && bReset ? WR_OK : WR_INFLATE_ERROR;
    }
};

namespace {

// Helpers pay off from the second block on; a smaller file would only pay
// for their start. A count asked for is always obeyed.
int ChooseThreads(int nRequested, uint64_t nRemaining, uint64_t nOneBlock)
{
    if (nRequested > 0)
        return PipelineThreads(nRequested);
    return nRemaining > nOneBlock ? PipelineThreads() : 1;
}

// A source that shrank or grew after it was measured is not copied whole; a
// stream has no size to hold the count against, its read error is all there is.
int SourceComplete(CByteSource& in, uint64_t nRead, uint64_t nSize)
{
    if (nSize == kUnknownSize)
        return in.Failed() ? WR_READ_ERROR : WR_OK;
    return nRead == nSize ? WR_OK : WR_READ_ERROR;
}

}  // namespace

// ---- writing

CContainerV1Writer::CContainerV1Writer(CCipher& cipher, CV1Buffers& buffers, int nThreads)
    : m_cipher(cipher), m_buffers(buffers), m_nThreads(nThreads)
{
}

int CContainerV1Writer::Write(const CString& strName, CByteSource& in, uint64_t nSize, CByteSink& out,
                              const FProgress& progress, bool& bCancelled)
{
    if (!out.Write(kContainerMagic, sizeof kContainerMagic))
        return WR_WRITE_ERROR;
    uint32_t nHeader = 0;
    const int nResult = WriteNameHeader(strName, out, m_cipher, nHeader);
    if (nResult != WR_OK)
        return nResult;
    const int nThreads = ChooseThreads(m_nThreads, nSize, kV1ChunkSize);
    if (nThreads > 1) {
        CChunkPipe pipe(nThreads, true);
        // Without the pipeline's memory or streams the file goes serial.
        if (pipe.Start() == WR_OK)
            return WritePooled(pipe, in, nSize, out, progress, bCancelled);
    }
    return WriteSerial(in, nSize, out, progress, bCancelled);
}

int CContainerV1Writer::WriteSerial(CByteSource& in, uint64_t nSize, CByteSink& out, const FProgress& progress,
                                    bool& bCancelled)
{
    z_stream& zs = m_buffers.zs;
    // A failed init leaves a stream that deflate refuses: result 7 at the first chunk.
    DeflateInitWiping(zs, Z_DEFAULT_COMPRESSION);
    CDeflateGuard deflateGuard(zs);
    const CCipherKey* pKey = m_cipher.GetKey();
    const CFieldEncryptor keyed(pKey->Data(), pKey->Length());
    CFieldEncryptor scratch(pKey->Data(), pKey->Length());
    uint64_t nRead = 0;
    m_buffers.Clear();
    size_t n = ReadFull(in, m_buffers.abPlain, kV1ChunkSize);
    while (n > 0) {
        nRead += n;
        if (progress && !progress(nRead)) {
            bCancelled = true;
            return WR_OK;
        }

        zs.next_in = m_buffers.abPlain;
        zs.avail_in = uInt(n);
        zs.next_out = m_buffers.abPacked;
        zs.avail_out = kV1PackedSize;
        if (deflate(&zs, Z_FINISH) != Z_STREAM_END)
            return WR_DEFLATE_ERROR;
        const uint32_t nPacked = uint32_t(zs.total_out);
        if (deflateReset(&zs) != Z_OK)
            return WR_DEFLATE_ERROR;

        // The fill bytes come from the cleared buffer: zeros.
        const uint64_t nStored = m_cipher.PaddedLength(nPacked);
        if (nStored > uint64_t(kV1PackedSize) || !m_cipher.Process(m_buffers.abPacked, uint32_t(nStored), 1))
            return WR_ENCRYPT_ERROR;

        const uint8_t abHeader[kV1BlockHeaderSize] = {uint8_t(n),       uint8_t(n >> 8),       uint8_t(nStored),
                                                      uint8_t(nStored >> 8), uint8_t(nPacked), uint8_t(nPacked >> 8)};
        const int nResult = WriteProtected(abHeader, kV1BlockHeaderSize, keyed, scratch, out);
        if (nResult != WR_OK)
            return nResult;
        if (!out.Write(m_buffers.abPacked, size_t(nStored)))
            return WR_WRITE_ERROR;

        // A short chunk is the source's last: a source that shrank after it
        // was measured ends here too, so compare at this exit as well, or a
        // cut-off copy would count as success.
        if (n < size_t(kV1ChunkSize))
            return SourceComplete(in, nRead, nSize);
        m_buffers.Clear();
        n = ReadFull(in, m_buffers.abPlain, kV1ChunkSize);
    }
    return SourceComplete(in, nRead, nSize);
}

namespace {

// Up to a batch of chunks from the source; false once it has ended.
bool FillPlain(CBlockBatch& batch, CByteSource& in, uint64_t& nRead)
{
    batch.nBlocks = 0;
    while (batch.nBlocks < CBlockBatch::kBlocks) {
        const size_t n = ReadFull(in, batch.In(batch.nBlocks), kV1ChunkSize);
        if (n == 0)
            return false;
        nRead += n;
        CBlockBatch::Block& block = batch.blocks[batch.nBlocks++];
        block.nIn = uint32_t(n);
        block.nMark = nRead;
        if (n < size_t(kV1ChunkSize))
            return false;
    }
    return true;
}

// A packed chunk padded, enciphered and written after its protected header.
int SealBlock(CCipher& cipher, const CFieldEncryptor& keyed, CFieldEncryptor& scratch, uint8_t* pPacked,
              const CBlockBatch::Block& block, CByteSink& out)
{
    const uint32_t nRaw = block.nIn, nPacked = block.nOut;
    const uint64_t nStored = cipher.PaddedLength(nPacked);
    if (nStored > uint64_t(kV1PackedSize))
        return WR_ENCRYPT_ERROR;
    std::memset(pPacked + nPacked, 0, size_t(nStored - nPacked));  // the padding, as the serial loop's
    if (!cipher.Process(pPacked, uint32_t(nStored), 1))
        return WR_ENCRYPT_ERROR;
    const uint8_t abHeader[kV1BlockHeaderSize] = {uint8_t(nRaw),         uint8_t(nRaw >> 8),    uint8_t(nStored),
                                                  uint8_t(nStored >> 8), uint8_t(nPacked), uint8_t(nPacked >> 8)};
    const int nResult = WriteProtected(abHeader, kV1BlockHeaderSize, keyed, scratch, out);
    if (nResult != WR_OK)
        return nResult;
    return out.Write(pPacked, size_t(nStored)) ? WR_OK : WR_WRITE_ERROR;
}

}  // namespace

int CContainerV1Writer::WritePooled(CChunkPipe& pipe, CByteSource& in, uint64_t nSize, CByteSink& out,
                                    const FProgress& progress, bool& bCancelled)
{
    const CCipherKey* pKey = m_cipher.GetKey();
    const CFieldEncryptor keyed(pKey->Data(), pKey->Length());
    CFieldEncryptor scratch(pKey->Data(), pKey->Length());
    uint64_t nRead = 0;
    const auto fill = [&](size_t nSlot, bool& bSubmit) {
        CBlockBatch& batch = pipe.Batch(nSlot);
        const bool bMore = FillPlain(batch, in, nRead);
        bSubmit = batch.nBlocks > 0;
        return bMore;
    };
    const auto drain = [&](size_t nSlot) -> int {
        CBlockBatch& batch = pipe.Batch(nSlot);
        for (int i = 0; i < batch.nBlocks; ++i) {
            const CBlockBatch::Block& block = batch.blocks[i];
            if (progress && !progress(block.nMark)) {
                bCancelled = true;
                return WR_OK;
            }
            if (block.nResult != WR_OK)
                return block.nResult;
            const int nResult = SealBlock(m_cipher, keyed, scratch, batch.abOut[i], block, out);
            if (nResult != WR_OK)
                return nResult;
        }
        return CWorkQueue::kGoOn;
    };
    const int nResult = pipe.Run(fill, drain);
    if (nResult != CWorkQueue::kGoOn)
        return nResult;
    return SourceComplete(in, nRead, nSize);
}

// ---- reading

void CContainerV1Reader::CBlockInput::Start(CByteSource& in, const uint8_t* pBack, size_t nBack)
{
    m_pIn = &in;
    std::memcpy(m_abBack, pBack, nBack);
    m_nBack = nBack;
    m_nNext = 0;
}

size_t CContainerV1Reader::CBlockInput::Read(uint8_t* p, size_t n)
{
    if (m_nNext < m_nBack) {
        const size_t nTake = n < m_nBack - m_nNext ? n : m_nBack - m_nNext;
        std::memcpy(p, m_abBack + m_nNext, nTake);
        m_nNext += nTake;
        return nTake;
    }
    return m_pIn->Read(p, n);
}

bool CContainerV1Reader::CBlockInput::AtEnd()
{
    if (m_nNext < m_nBack)
        return false;
    m_nBack = m_pIn->Read(m_abBack, 1);
    m_nNext = 0;
    return m_nBack == 0;
}

CContainerV1Reader::CContainerV1Reader(CCipher& cipher, CV1Buffers& buffers, int nThreads)
    : m_cipher(cipher), m_buffers(buffers), m_nThreads(nThreads)
{
}

CContainerV1Reader::~CContainerV1Reader() = default;

int CContainerV1Reader::Begin(CByteSource& in, const CString& strPassword, CString& strName)
{
    uint8_t abMagic[sizeof kContainerMagic];
    if (ReadFull(in, abMagic, sizeof abMagic) < sizeof abMagic)
        return WR_READ_ERROR;
    if (std::memcmp(abMagic, kContainerMagic, sizeof abMagic) != 0)
        return WR_BAD_FORMAT;
    // The longest name header, read once: a password's second key form is
    // tried on the same bytes, which a stream could not give again.
    uint8_t abWindow[6 + kV1MaxNameLength];
    const size_t nWindow = ReadFull(in, abWindow, sizeof abWindow);
    uint32_t nHeader = 0;
    CMemorySource first(abWindow, nWindow);
    int nResult = ReadNameHeader(strName, first, m_cipher, nHeader);
    if (nResult == WR_DECRYPT_ERROR && KeyLegacyCipher(strPassword, m_cipher, true, 1)) {
        CMemorySource second(abWindow, nWindow);
        nResult = ReadNameHeader(strName, second, m_cipher, nHeader);
    }
    if (nResult == WR_OK) {
        m_in.Start(in, abWindow + nHeader, nWindow - nHeader);
        m_nPos = sizeof abMagic + uint64_t(nHeader);
    }
    SecureZero(abWindow, sizeof abWindow);
    return nResult;
}

int CContainerV1Reader::Threads(uint64_t nSize) const
{
    return ChooseThreads(m_nThreads, nSize > m_nPos ? nSize - m_nPos : 0, kV1BlockHeaderSize + uint64_t(kV1PackedSize));
}

int CContainerV1Reader::Read(CByteSink* pOut, uint64_t nSize, const FProgress& progress, bool& bCancelled)
{
    const int nThreads = Threads(nSize);
    if (nThreads > 1) {
        CChunkPipe pipe(nThreads, false);
        if (pipe.Start() == WR_OK)
            return ReadPooled(pipe, pOut, nSize, progress, bCancelled);
    }
    return ReadSerial(pOut, nSize, progress, bCancelled);
}

// The next block header, or kNoMoreBlocks when the input ends before it.
int CContainerV1Reader::NextBlockHeader(uint8_t* pHeader, const CFieldDecryptor& keyed, CFieldDecryptor& scratch)
{
    m_nConsumed = m_nPos;
    if (m_in.AtEnd())
        return m_in.Failed() ? WR_READ_ERROR : kNoMoreBlocks;
    return ReadProtected(pHeader, kV1BlockHeaderSize, keyed, scratch, m_in);
}

int CContainerV1Reader::ReadSealedBlock(const uint8_t* pHeader, uint8_t* pPacked)
{
    const uint32_t nRaw = GetLe16(pHeader), nStored = GetLe16(pHeader + 2), nPacked = GetLe16(pHeader + 4);
    m_nPos += kV1BlockHeaderSize;
    if (nRaw == 0 || nRaw > uint32_t(kV1ChunkSize) || nStored > uint32_t(kV1PackedSize) || nPacked > nStored)
        return WR_DECRYPT_ERROR;

    std::memset(pPacked, 0, kV1PackedSize);
    const size_t nBody = ReadFull(m_in, pPacked, nStored);
    if (nBody == 0)
        return WR_READ_ERROR;
    m_nPos += nBody;  // a short body is accepted: its missing tail stays zero
    m_bEnded = nBody < nStored;
    if (!m_cipher.Process(pPacked, nStored, 0))
        return WR_DECRYPT_ERROR;
    return WR_OK;
}

int CContainerV1Reader::ReadBlock(const uint8_t* pHeader)
{
    m_buffers.Clear();
    const int nResult = ReadSealedBlock(pHeader, m_buffers.abPacked);
    if (nResult != WR_OK)
        return nResult;
    z_stream& zs = m_buffers.zs;
    zs.next_in = m_buffers.abPacked;
    zs.avail_in = GetLe16(pHeader + 4);
    zs.next_out = m_buffers.abPlain;
    zs.avail_out = kV1ChunkSize;
    if (inflate(&zs, Z_FINISH) != Z_STREAM_END || zs.total_out != GetLe16(pHeader))
        return WR_INFLATE_ERROR;
    return WR_OK;
}

// What a missing further block header means: the end, or a cut-off or
// overlong container. A stream cannot be measured: it ends cleanly only
// right after a block.
int CContainerV1Reader::EndOfBlocks(int nHeaderResult, uint64_t nSize) const
{
    if (nHeaderResult == WR_NO_MEMORY)
        return nHeaderResult;
    if (nHeaderResult == kNoMoreBlocks)
        return nSize == kUnknownSize || m_nPos == nSize ? WR_OK : WR_READ_ERROR;
    return nSize != kUnknownSize && m_nPos == nSize ? WR_OK : WR_READ_ERROR;
}

int CContainerV1Reader::ReadSerial(CByteSink* pOut, uint64_t nSize, const FProgress& progress, bool& bCancelled)
{
    z_stream& zs = m_buffers.zs;
    // A failed init leaves a stream that inflate refuses: result 6 at the first block.
    InflateInitWiping(zs);
    CInflateGuard inflateGuard(zs);
    const CCipherKey* pKey = m_cipher.GetKey();
    const CFieldDecryptor keyed(pKey->Data(), pKey->Length());
    CFieldDecryptor scratch(pKey->Data(), pKey->Length());
    uint8_t abHeader[kV1BlockHeaderSize];
    int nResult = NextBlockHeader(abHeader, keyed, scratch);
    while (nResult == WR_OK) {
        m_nBlockOffset = m_nPos;
        nResult = ReadBlock(abHeader);
        m_nConsumed = m_nPos;
        if (nResult != WR_OK)
            return nResult;
        if (progress && !progress(m_nPos)) {
            bCancelled = true;
            return WR_OK;
        }
        const uint32_t nRaw = GetLe16(abHeader);
        if (pOut && !pOut->Write(m_buffers.abPlain, nRaw))
            return WR_WRITE_ERROR;
        ++m_nBlocks;
        m_nPlainBytes += nRaw;
        if (inflateReset(&zs) != Z_OK)
            return WR_INFLATE_ERROR;
        if (m_bEnded)
            return WR_OK;
        nResult = NextBlockHeader(abHeader, keyed, scratch);
    }
    m_nBlockOffset = m_nPos;
    return EndOfBlocks(nResult, nSize);
}

int CContainerV1Reader::ReadFirstBlock()
{
    // The serial loop, stopped as by a cancel once the first block has passed.
    bool bStopped = false;
    return ReadSerial(nullptr, kUnknownSize, [](uint64_t) { return false; }, bStopped);
}

// Up to a batch of blocks read and deciphered; kMoreBlocks, or the result the
// blocks end with once those before have been written.
int CContainerV1Reader::FillSealed(CBlockBatch& batch, const CFieldDecryptor& keyed, CFieldDecryptor& scratch,
                                   uint64_t nSize, uint64_t& nEndOffset)
{
    batch.nBlocks = 0;
    while (batch.nBlocks < CBlockBatch::kBlocks) {
        uint8_t abHeader[kV1BlockHeaderSize];
        nEndOffset = m_nPos;
        int nResult = NextBlockHeader(abHeader, keyed, scratch);
        if (nResult != WR_OK)
            return EndOfBlocks(nResult, nSize);
        nResult = ReadSealedBlock(abHeader, batch.In(batch.nBlocks));
        if (nResult != WR_OK)
            return nResult;
        CBlockBatch::Block& block = batch.blocks[batch.nBlocks++];
        block.nIn = GetLe16(abHeader + 4);
        block.nExpect = GetLe16(abHeader);
        block.nStart = nEndOffset;
        block.nMark = m_nPos;
        if (m_bEnded) {
            nEndOffset = m_nPos;
            return WR_OK;
        }
    }
    return kMoreBlocks;
}

int CContainerV1Reader::ReadPooled(CChunkPipe& pipe, CByteSink* pOut, uint64_t nSize, const FProgress& progress,
                                   bool& bCancelled)
{
    const CCipherKey* pKey = m_cipher.GetKey();
    const CFieldDecryptor keyed(pKey->Data(), pKey->Length());
    CFieldDecryptor scratch(pKey->Data(), pKey->Length());
    // Where the blocks end: set by the reading side, returned once every
    // block before that point has been written.
    int nEnd = kMoreBlocks;
    uint64_t nEndOffset = m_nPos;
    const auto fill = [&](size_t nSlot, bool& bSubmit) {
        CBlockBatch& batch = pipe.Batch(nSlot);
        nEnd = FillSealed(batch, keyed, scratch, nSize, nEndOffset);
        bSubmit = batch.nBlocks > 0;
        return nEnd == kMoreBlocks;
    };
    const auto drain = [&](size_t nSlot) -> int {
        const CBlockBatch& batch = pipe.Batch(nSlot);
        for (int i = 0; i < batch.nBlocks; ++i) {
            const CBlockBatch::Block& block = batch.blocks[i];
            // The place a failure is named by: as the serial loop leaves it.
            m_nBlockOffset = block.nStart;
            m_nConsumed = block.nMark;
            if (block.nResult != WR_OK)
                return block.nResult;
            if (progress && !progress(block.nMark)) {
                bCancelled = true;
                return WR_OK;
            }
            if (pOut && !pOut->Write(batch.abOut[i], block.nExpect))
                return WR_WRITE_ERROR;
            ++m_nBlocks;
            m_nPlainBytes += block.nExpect;
        }
        return CWorkQueue::kGoOn;
    };
    const int nResult = pipe.Run(fill, drain);
    if (nResult != CWorkQueue::kGoOn)
        return nResult;
    m_nBlockOffset = nEndOffset;
    m_nConsumed = m_nPos;
    return nEnd;
}
