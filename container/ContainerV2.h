// Whole version-2 containers over byte streams: the writer seals the name
// record and then the chunks, the reader checks the header and its key
// commitment, opens the name record and then the chunks. The reader needs no
// length: it reads one record ahead, so the record after which the stream
// ends is the one opened as the last, and a pipe streams through in bounded
// memory. Records are independent, so batches of them are compressed and
// sealed (or opened and expanded) on several threads; the output does not
// depend on how many.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "base/ByteStreams.h"
#include "container/FormatV2.h"

struct CBatch;

class CContainerV2Writer {
public:
    // nThreads: 0 takes PipelineThreads().
    explicit CContainerV2Writer(int nThreads);
    ~CContainerV2Writer();
    CContainerV2Writer(const CContainerV2Writer&) = delete;
    CContainerV2Writer& operator=(const CContainerV2Writer&) = delete;

    // The batch's salt and master key for the password, and a random file
    // id. A password that is not UTF-8 gives WR_ENCRYPT_ERROR.
    int Begin(const CString& strPassword);
    // A given header and master key (a reproducible container).
    int Begin(const CV2Header& header, const CKey32& master);
    // Header, key commitment, name record (the name: UTF-8 without NUL, 1 to
    // kV2MaxName bytes) and nSize bytes of the source as data records. A
    // source that ends early or late gives WR_READ_ERROR; nSize UINT64_MAX
    // takes the source to its end.
    int Write(const CString& strName, CByteSource& in, uint64_t nSize, CByteSink& out,
              const FProgress& progress, bool& bCancelled);

private:
    int m_nThreads;
    uint8_t m_abPrefix[kV2PrefixSize] = {};
    CKey32 m_fileKey;
};

class CContainerV2Reader {
public:
    explicit CContainerV2Reader(int nThreads);
    ~CContainerV2Reader();
    CContainerV2Reader(const CContainerV2Reader&) = delete;
    CContainerV2Reader& operator=(const CContainerV2Reader&) = delete;

    // The header, its key commitment and the name record, from the start of
    // in. WR_BAD_FORMAT: not this format. WR_INFLATE_ERROR: damaged (a header
    // field out of range, or record 0). WR_DECRYPT_ERROR: the commitment
    // differs (wrong password, or a damaged header), or the password is not
    // UTF-8. Fault() tells which. Nothing is derived from the password before
    // the header has passed.
    int Begin(CByteSource& in, const CString& strPassword, CString& strName);
    // The data records in order into pOut (null: check only), up to the end
    // of in. Nothing reaches pOut that has not been authenticated.
    // WR_INFLATE_ERROR at the first damaged record, which Fault() names.
    int Read(CByteSink* pOut, const FProgress& progress, bool& bCancelled);
    const CV2Fault& Fault() const { return m_fault; }
    const CV2Header& Header() const { return m_header; }
    // The container's bytes read so far.
    uint64_t Consumed() const { return m_nConsumed; }

private:
    int Damaged(uint64_t nIndex, uint64_t nOffset);
    // Record nIndex from its length field (read ahead) on; then the next
    // length field, or the end that makes this record the last.
    int ReadRecord(uint64_t nIndex, uint8_t* pSealed, uint32_t& nSealed, bool& bLast);
    int ReadAhead();
    bool FillBatch(CBatch& batch, uint64_t& nIndex, int& nFraming);

    int m_nThreads;
    CByteSource* m_pIn = nullptr;
    uint64_t m_nConsumed = 0;  // up to the length field read ahead
    uint8_t m_abAhead[4] = {};
    size_t m_nAhead = 0;       // bytes of the next length field found: 4, or fewer at the end
    bool m_bEnded = false;     // the record flagged last has been read
    CV2Fault m_fault;
    CV2Header m_header;
    uint8_t m_abPrefix[kV2PrefixSize] = {};
    CKey32 m_fileKey;
};
