#include "container/ContainerV2.h"

#include <cstring>
#include <new>
#include <thread>

#include "batch/WorkItem.h"
#include "container/SecureBuffer.h"

namespace {

const int kSlotsPerThread = 8;

uint32_t GetLe32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

size_t ReadFull(CByteSource& in, uint8_t* p, size_t n)
{
    size_t nDone = 0;
    while (nDone < n) {
        const size_t nGot = in.Read(p + nDone, n - nDone);
        if (nGot == 0)
            break;
        nDone += nGot;
    }
    return nDone;
}

// One record in flight: the chunk's plain bytes and the record on the wire.
struct CSlot {
    uint8_t abPlain[kV2ChunkSize];
    uint8_t abWork[1 + kV2ChunkSize];  // the record's plaintext
    uint8_t abRecord[kV2MaxRecord];
    uint32_t nPlain = 0, nRecord = 0;
    uint64_t nIndex = 0;
    bool bLast = false;
    int nResult = WR_OK;
};

}  // namespace

size_t CMemorySource::Read(uint8_t* p, size_t n)
{
    const size_t nTake = n < m_n - m_nPos ? n : m_n - m_nPos;
    if (nTake)
        std::memcpy(p, m_p + m_nPos, nTake);
    m_nPos += nTake;
    return nTake;
}

int ThreadsV2(int nRequested)
{
    if (nRequested > 0)
        return nRequested;
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : int(n);
}

// A cipher and a zlib stream per thread, and the slots of one batch. The
// slots are split by index, thread t taking t, t + T, ...; every record's
// bytes depend only on its own slot, so the count of threads changes nothing.
class CRecordWorkers {
public:
    struct CContext {
        CAesGcm gcm;
        z_stream zs;
        bool bStream = false;
    };

    CRecordWorkers(int nThreads, bool bDeflate) : m_bDeflate(bDeflate)
    {
        m_contexts.resize(size_t(nThreads < 1 ? 1 : nThreads));
        m_slots.resize(m_contexts.size() * kSlotsPerThread);
    }
    ~CRecordWorkers()
    {
        for (std::unique_ptr<CContext>& c : m_contexts) {
            if (c && c->bStream)
                m_bDeflate ? deflateEnd(&c->zs) : inflateEnd(&c->zs);
        }
        for (std::unique_ptr<CSlot>& s : m_slots) {
            if (s)
                SecureZero(s.get(), sizeof(CSlot));
        }
    }
    CRecordWorkers(const CRecordWorkers&) = delete;
    CRecordWorkers& operator=(const CRecordWorkers&) = delete;

    // Keys every context and builds its stream; WR_OK or the failure's code.
    int Start(const CKey32& key)
    {
        for (std::unique_ptr<CContext>& c : m_contexts) {
            c.reset(new CContext);
            std::memset(&c->zs, 0, sizeof c->zs);
            const int nInit = m_bDeflate ? deflateInit(&c->zs, Z_DEFAULT_COMPRESSION) : inflateInit(&c->zs);
            if (nInit != Z_OK)
                return nInit == Z_MEM_ERROR ? WR_NO_MEMORY : (m_bDeflate ? WR_DEFLATE_ERROR : WR_INFLATE_ERROR);
            c->bStream = true;
            if (!c->gcm.SetKey(key.ab))
                return m_bDeflate ? WR_ENCRYPT_ERROR : WR_DECRYPT_ERROR;
        }
        for (std::unique_ptr<CSlot>& s : m_slots)
            s.reset(new CSlot);
        return WR_OK;
    }

    size_t Capacity() const { return m_slots.size(); }
    CSlot& Slot(size_t i) { return *m_slots[i]; }
    CContext& Context(size_t i) { return *m_contexts[i]; }

    // Calls fn(context, slot) for the first nCount slots.
    template <class Fn>
    void Run(size_t nCount, Fn fn)
    {
        const size_t nThreads = m_contexts.size() < nCount ? m_contexts.size() : nCount;
        std::vector<std::thread> threads;
        size_t nStarted = 1;
        try {
            for (; nStarted < nThreads; ++nStarted)
                threads.emplace_back([this, nStarted, nThreads, nCount, &fn] { Share(nStarted, nThreads, nCount, fn); });
        } catch (...) {
            // No thread to be had: the caller takes the shares that did not start.
        }
        Share(0, nThreads, nCount, fn);
        for (size_t t = nStarted; t < nThreads; ++t)
            Share(t, nThreads, nCount, fn);
        for (std::thread& th : threads)
            th.join();
    }

private:
    template <class Fn>
    void Share(size_t t, size_t nThreads, size_t nCount, Fn& fn)
    {
        for (size_t i = t; i < nCount; i += nThreads)
            fn(*m_contexts[t], *m_slots[i]);
    }

    bool m_bDeflate;
    std::vector<std::unique_ptr<CContext>> m_contexts;
    std::vector<std::unique_ptr<CSlot>> m_slots;
};

// ---- writing

CContainerV2Writer::CContainerV2Writer(int nThreads) : m_nThreads(ThreadsV2(nThreads)) {}

CContainerV2Writer::~CContainerV2Writer() = default;

int CContainerV2Writer::Begin(const CString& strPassword)
{
    CV2Header header;
    CKey32 master;
    if (!CryptoRandom(header.abFileId, sizeof header.abFileId) ||
        !MasterKeys().ForWriting(strPassword, header, master))
        return WR_ENCRYPT_ERROR;
    return Begin(header, master);
}

int CContainerV2Writer::Begin(const CV2Header& header, const CKey32& master)
{
    EncodeHeaderV2(header, m_abHeader);
    return DeriveFileKeyV2(master, header.abFileId, m_fileKey) ? WR_OK : WR_ENCRYPT_ERROR;
}

int CContainerV2Writer::Write(const CString& strName, CByteSource& in, uint64_t nSize, CByteSink& out,
                              const FProgressV2& progress, bool& bCancelled)
{
    CRecordWorkers workers(m_nThreads, true);
    int nResult = workers.Start(m_fileKey);
    if (nResult != WR_OK)
        return nResult;

    const uint32_t nName = uint32_t(std::strlen(strName));
    if (nName < 1 || nName > kV2MaxName)
        return WR_ENCRYPT_ERROR;
    CSlot& first = workers.Slot(0);
    first.nRecord = SealRecordV2(workers.Context(0).gcm, m_abHeader, 0, false,
                                 reinterpret_cast<const uint8_t*>(static_cast<const char*>(strName)), nName,
                                 first.abRecord);
    if (first.nRecord == 0)
        return WR_ENCRYPT_ERROR;
    if (!out.Write(m_abHeader, kV2HeaderSize) || !out.Write(first.abRecord, first.nRecord))
        return WR_WRITE_ERROR;

    // One chunk is read ahead: only when it comes back empty is the one before it the last.
    CSecureBuffer ahead(kV2ChunkSize);
    size_t nAhead = ReadFull(in, ahead.Data(), kV2ChunkSize);
    uint64_t nIndex = 1, nRead = 0;
    for (;;) {
        size_t nCount = 0;
        while (nCount < workers.Capacity() && (nAhead > 0 || nIndex == 1)) {
            CSlot& slot = workers.Slot(nCount++);
            std::memcpy(slot.abPlain, ahead.Data(), nAhead);
            slot.nPlain = uint32_t(nAhead);
            slot.nIndex = nIndex++;
            slot.bLast = false;
            nRead += nAhead;
            nAhead = ReadFull(in, ahead.Data(), kV2ChunkSize);
            if (in.Failed())
                return WR_READ_ERROR;
            if (nAhead == 0)
                break;
        }
        if (nCount == 0)
            break;
        workers.Slot(nCount - 1).bLast = nAhead == 0;
        workers.Run(nCount, [this](CRecordWorkers::CContext& c, CSlot& slot) {
            uint32_t nWork = 0;
            slot.nResult = PackChunkV2(c.zs, slot.abPlain, slot.nPlain, slot.abWork, nWork);
            if (slot.nResult == WR_OK) {
                slot.nRecord = SealRecordV2(c.gcm, m_abHeader, slot.nIndex, slot.bLast, slot.abWork, nWork,
                                            slot.abRecord);
                if (slot.nRecord == 0)
                    slot.nResult = WR_ENCRYPT_ERROR;
            }
        });
        for (size_t i = 0; i < nCount; ++i) {
            CSlot& slot = workers.Slot(i);
            if (slot.nResult != WR_OK)
                return slot.nResult;
            if (!out.Write(slot.abRecord, slot.nRecord))
                return WR_WRITE_ERROR;
        }
        if (progress && !progress(nRead)) {
            bCancelled = true;
            return WR_OK;
        }
        if (nAhead == 0)
            break;
    }
    // A source that changed size after it was measured is not copied whole;
    // a stream (UINT64_MAX) has no size to compare.
    return nSize == UINT64_MAX || nRead == nSize ? WR_OK : WR_READ_ERROR;
}

// ---- reading

CContainerV2Reader::CContainerV2Reader(int nThreads) : m_nThreads(ThreadsV2(nThreads)) {}

CContainerV2Reader::~CContainerV2Reader() = default;

int CContainerV2Reader::Damaged(uint64_t nIndex)
{
    m_nDamaged = int64_t(nIndex);
    return WR_INFLATE_ERROR;
}

int CContainerV2Reader::ReadSealed(uint64_t nIndex, uint8_t* pSealed, uint32_t& nSealed)
{
    uint8_t abLength[4];
    if (m_nSize - m_nConsumed < 4 || ReadFull(*m_pIn, abLength, 4) < 4)
        return Damaged(nIndex);
    m_nConsumed += 4;
    nSealed = GetLe32(abLength);
    if (nSealed < kV2MinSealed || nSealed > kV2MaxSealed || m_nSize - m_nConsumed < nSealed ||
        ReadFull(*m_pIn, pSealed, nSealed) < nSealed)
        return Damaged(nIndex);
    m_nConsumed += nSealed;
    return WR_OK;
}

int CContainerV2Reader::Begin(CByteSource& in, uint64_t nSize, const CString& strPassword, CString& strName)
{
    m_pIn = &in;
    m_nSize = nSize;
    const size_t nHeader = ReadFull(in, m_abHeader, kV2HeaderSize);
    if (in.Failed())
        return WR_READ_ERROR;
    int nResult = DecodeHeaderV2(m_abHeader, nHeader, m_header);
    if (nResult != WR_OK)
        return nResult;
    m_nConsumed = kV2HeaderSize;
    {
        CKey32 master;
        if (!MasterKeys().ForReading(strPassword, m_header, master) ||
            !DeriveFileKeyV2(master, m_header.abFileId, m_fileKey))
            return WR_DECRYPT_ERROR;
    }
    CSecureBuffer sealed(kV2MaxSealed), plain(kV2MaxSealed);
    uint32_t nSealed = 0;
    nResult = ReadSealed(0, sealed.Data(), nSealed);
    if (nResult != WR_OK)
        return nResult;
    CAesGcm gcm;
    if (!gcm.SetKey(m_fileKey.ab))
        return WR_DECRYPT_ERROR;
    // A failed tag here is the first sign of a wrong password.
    if (OpenRecordV2(gcm, m_abHeader, 0, false, sealed.Data(), nSealed, plain.Data()) != kGcmOk)
        return WR_DECRYPT_ERROR;
    const uint32_t nName = nSealed - uint32_t(kGcmTagSize);
    if (nName > kV2MaxName || std::memchr(plain.Data(), 0, nName) != nullptr)
        return Damaged(0);
    strName = CString(std::string(reinterpret_cast<const char*>(plain.Data()), nName).c_str());
    return WR_OK;
}

int CContainerV2Reader::Read(CByteSink* pOut, const FProgressV2& progress, bool& bCancelled)
{
    CRecordWorkers workers(m_nThreads, false);
    int nResult = workers.Start(m_fileKey);
    if (nResult != WR_OK)
        return nResult;
    uint64_t nIndex = 1;
    bool bEnd = false;
    while (!bEnd) {
        // Read a batch; damage in its framing ends the file after the records before it.
        size_t nCount = 0;
        int nFraming = WR_OK;
        while (nCount < workers.Capacity() && m_nConsumed < m_nSize) {
            CSlot& slot = workers.Slot(nCount);
            nFraming = ReadSealed(nIndex, slot.abRecord, slot.nRecord);
            if (nFraming != WR_OK)
                break;
            slot.nIndex = nIndex++;
            slot.bLast = m_nConsumed == m_nSize;
            ++nCount;
        }
        if (nCount == 0 && nFraming == WR_OK)
            return Damaged(nIndex);  // the file ends before a record flagged last
        workers.Run(nCount, [this](CRecordWorkers::CContext& c, CSlot& slot) {
            const uint32_t nWork = slot.nRecord - uint32_t(kGcmTagSize);
            slot.nResult = WR_INFLATE_ERROR;
            if (OpenRecordV2(c.gcm, m_abHeader, slot.nIndex, slot.bLast, slot.abRecord, slot.nRecord,
                             slot.abWork) != kGcmOk ||
                UnpackChunkV2(c.zs, slot.abWork, nWork, slot.abPlain, slot.nPlain) != WR_OK)
                return;
            // Every chunk but the last is whole; only an empty file has an empty one.
            const bool bDue = slot.bLast ? (slot.nPlain > 0 || slot.nIndex == 1) : slot.nPlain == kV2ChunkSize;
            if (bDue)
                slot.nResult = WR_OK;
        });
        for (size_t i = 0; i < nCount; ++i) {
            CSlot& slot = workers.Slot(i);
            if (slot.nResult != WR_OK)
                return Damaged(slot.nIndex);
            if (pOut && !pOut->Write(slot.abPlain, slot.nPlain))
                return WR_WRITE_ERROR;
            bEnd = slot.bLast;
        }
        if (nFraming != WR_OK)
            return nFraming;
        if (progress && !progress(m_nConsumed)) {
            bCancelled = true;
            return WR_OK;
        }
    }
    // The size was measured at the start: bytes that came after it are no part of this container.
    uint8_t bExtra;
    if (ReadFull(*m_pIn, &bExtra, 1) != 0)
        return Damaged(nIndex);
    return m_pIn->Failed() ? WR_READ_ERROR : WR_OK;
}
