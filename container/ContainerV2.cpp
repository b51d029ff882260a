#include "container/ContainerV2.h"

#include <cstring>
#include <new>

#include "base/ParallelPipe.h"
#include "base/ResultCodes.h"
#include "base/SecureBuffer.h"
#include "base/WipingZlib.h"
#include "framework/afxconv.h"

namespace {

uint32_t GetLe32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

// A run of consecutive records in flight: each chunk's plain bytes, the
// record's plaintext and the record on the wire.
struct CBatch {
    static const int kRecords = 16;
    struct CRecord {
        uint8_t abPlain[kV2ChunkSize];
        uint8_t abWork[kV2MaxChunkRecord];  // the record's plaintext
        uint8_t abRecord[kV2MaxRecord];     // on the wire (writing), its sealed bytes (reading)
        uint32_t nPlain = 0, nRecord = 0;
        uint64_t nIndex = 0;
        uint64_t nStart = 0;  // reading: where its length field begins
        uint64_t nMark = 0;   // bytes of the source or container done with this record
        bool bLast = false;
        int nResult = WR_OK;
    };
    CRecord records[kRecords];
    int nRecords = 0;
    int nMost = 0;  // records ever written, to be wiped
    // Record i, about to be written.
    CRecord& Use(int i)
    {
        nMost = i + 1 > nMost ? i + 1 : nMost;
        return records[i];
    }
    ~CBatch() { SecureZero(records, size_t(nMost) * sizeof(CRecord)); }
};

// A cipher and a zlib stream per thread. Every record's bytes depend only on
// its own chunk, index and flag, so the count of threads changes nothing in
// the output.
struct CRecordContext {
    CAesGcm gcm;
    CZStream zs;
};

// The pipeline over records: each context keyed with the file key, each
// record of a batch through fnRecord.
class CRecordPipe {
public:
    typedef std::function<void(CRecordContext&, CBatch::CRecord&)> FRecord;

    CRecordPipe(int nThreads, bool bDeflate, const CKey32& key, FRecord fnRecord)
        : m_bDeflate(bDeflate), m_fnRecord(std::move(fnRecord)),
          m_pipe(nThreads, WR_NO_MEMORY, [this](CRecordContext& c) { return Make(c); },
                 [this](CRecordContext& c, CBatch& batch) {
                     for (int r = 0; r < batch.nRecords; ++r)
                         m_fnRecord(c, batch.records[r]);
                 },
                 [](CBatch& batch, int nStatus) {
                     for (int r = 0; r < batch.nRecords; ++r)
                         batch.records[r].nResult = nStatus;
                 })
    {
        std::memcpy(m_key.ab, key.ab, sizeof m_key.ab);
    }
    CParallelPipe<CRecordContext, CBatch>& Pipe() { return m_pipe; }

private:
    int Make(CRecordContext& c) const
    {
        const int nInit = c.zs.Init(m_bDeflate);
        if (nInit != Z_OK)
            return nInit == Z_MEM_ERROR ? WR_NO_MEMORY : (m_bDeflate ? WR_DEFLATE_ERROR : WR_INFLATE_ERROR);
        if (!c.gcm.SetKey(m_key.ab))
            return m_bDeflate ? WR_ENCRYPT_ERROR : WR_DECRYPT_ERROR;
        return WR_OK;
    }

    const bool m_bDeflate;
    const FRecord m_fnRecord;
    CKey32 m_key;
    CParallelPipe<CRecordContext, CBatch> m_pipe;  // last: its helpers go before the rest
};

// ---- writing

CContainerV2Writer::CContainerV2Writer(int nThreads) : m_nThreads(PipelineThreads(nThreads)) {}

CContainerV2Writer::~CContainerV2Writer() = default;

int CContainerV2Writer::Begin(const CString& strPassword)
{
    // The key is made from the password's UTF-8 bytes exactly: other bytes
    // would give a container that opens only where the same bytes are typed.
    CV2Header header;
    CKey32 master;
    if (!IsValidUtf8(strPassword, size_t(strPassword.GetLength())) ||
        !CryptoRandom(header.abFileId, sizeof header.abFileId) || !MasterKeys().ForWriting(strPassword, header, master))
        return WR_ENCRYPT_ERROR;
    return Begin(header, master);
}

int CContainerV2Writer::Begin(const CV2Header& header, const CKey32& master)
{
    EncodeHeaderV2(header, m_abPrefix);
    return KeyHeaderV2(m_abPrefix, master, m_fileKey, m_abPrefix + kV2HeaderSize) ? WR_OK : WR_ENCRYPT_ERROR;
}

namespace {

// Up to a batch of chunks as records to seal. One chunk is read ahead: only
// when it comes back empty is the one before it the last.
int FillBatch(CBatch& batch, CByteSource& in, uint8_t* pAhead, size_t& nAhead, uint64_t& nIndex, uint64_t& nRead,
              bool& bMore)
{
    batch.nRecords = 0;
    while (batch.nRecords < CBatch::kRecords) {
        CBatch::CRecord& r = batch.Use(batch.nRecords++);
        std::memcpy(r.abPlain, pAhead, nAhead);
        r.nPlain = uint32_t(nAhead);
        r.nIndex = nIndex++;
        nRead += nAhead;
        r.nMark = nRead;
        nAhead = ReadFull(in, pAhead, kV2ChunkSize);
        if (in.Failed())
            return WR_READ_ERROR;
        r.bLast = nAhead == 0;
        if (r.bLast) {
            bMore = false;
            break;
        }
    }
    return WR_OK;
}

}  // namespace

int CContainerV2Writer::Write(const CString& strName, CByteSource& in, uint64_t nSize, CByteSink& out,
                              const FProgress& progress, bool& bCancelled)
{
    const uint32_t nName = uint32_t(std::strlen(strName));
    if (nName < 1 || nName > kV2MaxName || nName != uint32_t(strName.GetLength()) || !IsValidUtf8(strName, nName))
        return WR_ENCRYPT_ERROR;
    CRecordPipe workers(m_nThreads, true, m_fileKey, [this](CRecordContext& c, CBatch::CRecord& r) {
        uint32_t nWork = 0;
        r.nResult = PackChunkV2(c.zs.Get(), r.abPlain, r.nPlain, r.abWork, nWork);
        if (r.nResult == WR_OK) {
            r.nRecord = SealRecordV2(c.gcm, m_abPrefix, r.nIndex, r.bLast, r.abWork, nWork, r.abRecord);
            if (r.nRecord == 0)
                r.nResult = WR_ENCRYPT_ERROR;
        }
    });
    int nResult = workers.Pipe().Start();
    if (nResult != WR_OK)
        return nResult;

    CSecureBuffer nameRecord(4 + kV2MaxNameSealed);
    const uint32_t nNameRecord =
        SealRecordV2(workers.Pipe().WorkerContext().gcm, m_abPrefix, 0, false,
                     reinterpret_cast<const uint8_t*>(static_cast<const char*>(strName)), nName, nameRecord.Data());
    if (nNameRecord == 0)
        return WR_ENCRYPT_ERROR;
    if (!out.Write(m_abPrefix, kV2PrefixSize) || !out.Write(nameRecord.Data(), nNameRecord))
        return WR_WRITE_ERROR;

    CSecureBuffer ahead(kV2ChunkSize);
    size_t nAhead = ReadFull(in, ahead.Data(), kV2ChunkSize);
    if (in.Failed())
        return WR_READ_ERROR;
    uint64_t nIndex = 1, nRead = 0;
    int nFilled = WR_OK;
    const auto fill = [&](size_t nSlot, bool& bSubmit) {
        bool bMore = true;
        nFilled = FillBatch(workers.Pipe().Batch(nSlot), in, ahead.Data(), nAhead, nIndex, nRead, bMore);
        bSubmit = nFilled == WR_OK;
        return bMore && bSubmit;
    };
    const auto drain = [&](size_t nSlot) -> int {
        const CBatch& batch = workers.Pipe().Batch(nSlot);
        for (int i = 0; i < batch.nRecords; ++i) {
            const CBatch::CRecord& r = batch.records[i];
            if (r.nResult != WR_OK)
                return r.nResult;
            if (!out.Write(r.abRecord, r.nRecord))
                return WR_WRITE_ERROR;
        }
        if (progress && !progress(batch.records[batch.nRecords - 1].nMark)) {
            bCancelled = true;
            return WR_OK;
        }
        return CWorkQueue::kGoOn;
    };
    nResult = workers.Pipe().Run(fill, drain);
    if (nResult != CWorkQueue::kGoOn)
        return nResult;
    if (nFilled != WR_OK)
        return nFilled;
    // A source that changed size after it was measured is not copied whole;
    // a stream (UINT64_MAX) has no size to compare.
    return nSize == UINT64_MAX || nRead == nSize ? WR_OK : WR_READ_ERROR;
}

// ---- reading

CContainerV2Reader::CContainerV2Reader(int nThreads) : m_nThreads(PipelineThreads(nThreads)) {}

CContainerV2Reader::~CContainerV2Reader() = default;

int CContainerV2Reader::Damaged(uint64_t nIndex, uint64_t nOffset)
{
    m_fault = CV2Fault();
    m_fault.nKind = V2_FAULT_RECORD;
    m_fault.nRecord = int64_t(nIndex);
    m_fault.nOffset = nOffset;
    return WR_INFLATE_ERROR;
}

int CContainerV2Reader::ReadAhead()
{
    m_nAhead = ReadFull(*m_pIn, m_abAhead, sizeof m_abAhead);
    return m_pIn->Failed() ? WR_READ_ERROR : WR_OK;
}

int CContainerV2Reader::ReadRecord(uint64_t nIndex, uint8_t* pSealed, uint32_t& nSealed, bool& bLast)
{
    // Ends before the record, or inside its length field: cut. A length out
    // of bounds is refused here, before any byte of the record is read.
    const uint64_t nStart = m_nConsumed;
    if (m_nAhead < sizeof m_abAhead)
        return Damaged(nIndex, nStart);
    nSealed = GetLe32(m_abAhead);
    if (!SealedLengthFitsV2(nIndex, nSealed))
        return Damaged(nIndex, nStart);
    if (ReadFull(*m_pIn, pSealed, nSealed) < nSealed)
        return m_pIn->Failed() ? WR_READ_ERROR : Damaged(nIndex, nStart);
    m_nConsumed += sizeof m_abAhead + nSealed;
    const int nResult = ReadAhead();
    bLast = m_nAhead == 0;
    return nResult;
}

int CContainerV2Reader::Begin(CByteSource& in, const CString& strPassword, CString& strName)
{
    m_pIn = &in;
    m_fault = CV2Fault();
    const size_t nHeader = ReadFull(in, m_abPrefix, kV2HeaderSize);
    if (in.Failed())
        return WR_READ_ERROR;
    m_nConsumed = nHeader;
    int nResult = DecodeHeaderV2(m_abPrefix, nHeader, m_header, m_fault);
    if (nResult != WR_OK)
        return nResult;
    const size_t nCommitment = ReadFull(in, m_abPrefix + kV2HeaderSize, kV2CommitmentSize);
    if (in.Failed())
        return WR_READ_ERROR;
    m_nConsumed += nCommitment;
    if (nCommitment < kV2CommitmentSize) {
        m_fault.nKind = V2_FAULT_HEADER_FIELD;
        m_fault.nField = V2_FIELD_COMMITMENT;
        m_fault.nValue = uint32_t(nCommitment);
        return WR_INFLATE_ERROR;
    }
    // Keyed from its UTF-8 bytes exactly, never from a code page's reading of them.
    if (!IsValidUtf8(strPassword, size_t(strPassword.GetLength()))) {
        m_fault.nKind = V2_FAULT_PASSWORD_UTF8;
        return WR_DECRYPT_ERROR;
    }
    {
        CKey32 master;
        uint8_t abCommitment[kV2CommitmentSize];
        if (!MasterKeys().ForReading(strPassword, m_header, master) ||
            !KeyHeaderV2(m_abPrefix, master, m_fileKey, abCommitment))
            return WR_DECRYPT_ERROR;
        if (!EqualInConstantTime(abCommitment, m_abPrefix + kV2HeaderSize, kV2CommitmentSize)) {
            m_fault.nKind = V2_FAULT_WRONG_PASSWORD;
            return WR_DECRYPT_ERROR;
        }
    }
    // The key is right from here on: whatever fails now is damage.
    nResult = ReadAhead();
    if (nResult != WR_OK)
        return nResult;
    CSecureBuffer sealed(kV2MaxNameSealed), plain(kV2MaxName);
    uint32_t nSealed = 0;
    bool bLast = false;
    const uint64_t nStart = m_nConsumed;
    nResult = ReadRecord(0, sealed.Data(), nSealed, bLast);
    if (nResult != WR_OK)
        return nResult;
    CAesGcm gcm;
    if (!gcm.SetKey(m_fileKey.ab))
        return WR_DECRYPT_ERROR;
    if (OpenRecordV2(gcm, m_abPrefix, 0, false, sealed.Data(), nSealed, plain.Data(), plain.Size()) != kGcmOk)
        return Damaged(0, nStart);
    const char* pName = reinterpret_cast<const char*>(plain.Data());
    const uint32_t nName = nSealed - uint32_t(kGcmTagSize);
    if (std::memchr(pName, 0, nName) != nullptr || !IsValidUtf8(pName, nName))
        return Damaged(0, nStart);
    strName = CString(pName, int(nName));
    return WR_OK;
}

// Up to a batch of records off the wire; false once the reading is over,
// nFraming then saying how it ended.
bool CContainerV2Reader::FillBatch(CBatch& batch, uint64_t& nIndex, int& nFraming)
{
    batch.nRecords = 0;
    while (batch.nRecords < CBatch::kRecords && !m_bEnded) {
        CBatch::CRecord& r = batch.Use(batch.nRecords);
        r.nStart = m_nConsumed;
        bool bLast = false;
        nFraming = ReadRecord(nIndex, r.abRecord, r.nRecord, bLast);
        if (nFraming != WR_OK)
            return false;
        r.nIndex = nIndex++;
        r.bLast = bLast;
        r.nMark = m_nConsumed;
        m_bEnded = bLast;
        ++batch.nRecords;
    }
    return !m_bEnded;
}

int CContainerV2Reader::Read(CByteSink* pOut, const FProgress& progress, bool& bCancelled)
{
    CRecordPipe workers(m_nThreads, false, m_fileKey, [this](CRecordContext& c, CBatch::CRecord& r) {
        r.nResult = WR_INFLATE_ERROR;
        if (OpenRecordV2(c.gcm, m_abPrefix, r.nIndex, r.bLast, r.abRecord, r.nRecord, r.abWork, sizeof r.abWork) !=
                kGcmOk ||
            UnpackChunkV2(c.zs.Get(), r.abWork, r.nRecord - uint32_t(kGcmTagSize), r.abPlain, r.nPlain) != WR_OK)
            return;
        // Every chunk but the last is whole; only an empty file has an empty one.
        const bool bDue = r.bLast ? (r.nPlain > 0 || r.nIndex == 1) : r.nPlain == kV2ChunkSize;
        if (bDue)
            r.nResult = WR_OK;
    });
    int nResult = workers.Pipe().Start();
    if (nResult != WR_OK)
        return nResult;
    uint64_t nIndex = 1;
    int nFraming = WR_OK;  // how the reading ended: damage in the framing ends the file after the records before it
    const auto fill = [&](size_t nSlot, bool& bSubmit) {
        CBatch& batch = workers.Pipe().Batch(nSlot);
        const bool bMore = FillBatch(batch, nIndex, nFraming);
        bSubmit = batch.nRecords > 0;
        return bMore;
    };
    const auto drain = [&](size_t nSlot) -> int {
        const CBatch& batch = workers.Pipe().Batch(nSlot);
        for (int i = 0; i < batch.nRecords; ++i) {
            const CBatch::CRecord& r = batch.records[i];
            if (r.nResult != WR_OK)
                return r.nResult == WR_INFLATE_ERROR ? Damaged(r.nIndex, r.nStart) : r.nResult;
            if (pOut && !pOut->Write(r.abPlain, r.nPlain))
                return WR_WRITE_ERROR;
        }
        if (progress && !progress(batch.records[batch.nRecords - 1].nMark)) {
            bCancelled = true;
            return WR_OK;
        }
        return CWorkQueue::kGoOn;
    };
    nResult = workers.Pipe().Run(fill, drain);
    if (nResult != CWorkQueue::kGoOn)
        return nResult;
    return nFraming;
}
