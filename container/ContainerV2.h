// Whole version-2 containers over byte streams: the writer seals the name
// record and then the chunks, the reader checks the header, opens the name
// record and then the chunks. Records are independent, so batches of them
// are compressed and sealed (or opened and expanded) on several threads; the
// output does not depend on how many.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "container/FormatV2.h"

class CByteSource {
public:
    virtual ~CByteSource() = default;
    // Up to n bytes; fewer only at the end or on an error.
    virtual size_t Read(uint8_t* p, size_t n) = 0;
    virtual bool Failed() const = 0;
};

class CByteSink {
public:
    virtual ~CByteSink() = default;
    virtual bool Write(const uint8_t* p, size_t n) = 0;
};

class CFileSource : public CByteSource {
public:
    explicit CFileSource(FILE* pFile) : m_pFile(pFile) {}
    size_t Read(uint8_t* p, size_t n) override { return std::fread(p, 1, n, m_pFile); }
    bool Failed() const override { return std::ferror(m_pFile) != 0; }

private:
    FILE* m_pFile;
};

class CFileSink : public CByteSink {
public:
    explicit CFileSink(FILE* pFile) : m_pFile(pFile) {}
    bool Write(const uint8_t* p, size_t n) override { return std::fwrite(p, 1, n, m_pFile) == n; }

private:
    FILE* m_pFile;
};

class CMemorySource : public CByteSource {
public:
    CMemorySource(const uint8_t* p, size_t n) : m_p(p), m_n(n) {}
    size_t Read(uint8_t* p, size_t n) override;
    bool Failed() const override { return false; }

private:
    const uint8_t* m_p;
    size_t m_n, m_nPos = 0;
};

class CMemorySink : public CByteSink {
public:
    bool Write(const uint8_t* p, size_t n) override
    {
        m_bytes.insert(m_bytes.end(), p, p + n);
        return true;
    }
    std::vector<uint8_t> m_bytes;
};

// Told the bytes done so far; answers false to cancel.
typedef std::function<bool(uint64_t nDone)> FProgressV2;

class CRecordWorkers;
struct CBatch;

class CContainerV2Writer {
public:
    explicit CContainerV2Writer(int nThreads);
    ~CContainerV2Writer();
    CContainerV2Writer(const CContainerV2Writer&) = delete;
    CContainerV2Writer& operator=(const CContainerV2Writer&) = delete;

    // The batch's salt and master key for the password, and a random file id.
    int Begin(const CString& strPassword);
    // A given header and master key (a reproducible container).
    int Begin(const CV2Header& header, const CKey32& master);
    // Header, name record and nSize bytes of the source as data records.
    // A source that ends early or late gives WR_READ_ERROR.
    int Write(const CString& strName, CByteSource& in, uint64_t nSize, CByteSink& out,
              const FProgressV2& progress, bool& bCancelled);

private:
    int m_nThreads;
    uint8_t m_abHeader[kV2HeaderSize] = {};
    CKey32 m_fileKey;
};

class CContainerV2Reader {
public:
    explicit CContainerV2Reader(int nThreads);
    ~CContainerV2Reader();
    CContainerV2Reader(const CContainerV2Reader&) = delete;
    CContainerV2Reader& operator=(const CContainerV2Reader&) = delete;

    // The header and the name record of an nSize-byte container. WR_BAD_FORMAT
    // for another format or a header out of range, WR_DECRYPT_ERROR when the
    // name record fails its tag (wrong password), WR_INFLATE_ERROR when it is
    // malformed.
    int Begin(CByteSource& in, uint64_t nSize, const CString& strPassword, CString& strName);
    // The data records in order into pOut (null: check only). Nothing
    // reaches pOut that has not been authenticated. WR_INFLATE_ERROR at the
    // first damaged record, whose index DamagedRecord() gives.
    int Read(CByteSink* pOut, const FProgressV2& progress, bool& bCancelled);
    // The record found damaged, or -1.
    int64_t DamagedRecord() const { return m_nDamaged; }
    const CV2Header& Header() const { return m_header; }

private:
    int Damaged(uint64_t nIndex);
    // Reads record nIndex's length field and sealed bytes; WR_OK or damage.
    int ReadSealed(uint64_t nIndex, uint8_t* pSealed, uint32_t& nSealed);
    bool FillBatch(CBatch& batch, uint64_t& nIndex, int& nFraming);

    int m_nThreads;
    CByteSource* m_pIn = nullptr;
    uint64_t m_nSize = 0, m_nConsumed = 0;
    int64_t m_nDamaged = -1;
    CV2Header m_header;
    uint8_t m_abHeader[kV2HeaderSize] = {};
    CKey32 m_fileKey;
};

// Threads the version-2 pipelines use; 0 or less means the hardware's count.
int ThreadsV2(int nRequested);
