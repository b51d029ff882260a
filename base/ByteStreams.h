// Bytes in and bytes out: the container formats read a source and write a
// sink and never see a file, a pipe or a buffer behind them; the front ends
// and the per-file processing choose those. The progress callback is the
// formats' only other way out: it hears how far a run has got and answers
// whether to go on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

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

// The length of a source that cannot be measured (a pipe).
const uint64_t kUnknownSize = UINT64_MAX;

// Reads until n bytes have come or the source gives no more: fewer than n
// means the source ended (or failed, which Failed() tells).
size_t ReadFull(CByteSource& in, uint8_t* p, size_t n);

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

// Bytes already taken from a stream, then the rest of it: the magic that
// told a container's version is read before its reader starts.
class CPrefixedSource : public CByteSource {
public:
    CPrefixedSource(const uint8_t* pPrefix, size_t nPrefix, CByteSource& rest)
        : m_pPrefix(pPrefix), m_nPrefix(nPrefix), m_rest(rest) {}
    size_t Read(uint8_t* p, size_t n) override;
    bool Failed() const override { return m_rest.Failed(); }

private:
    const uint8_t* m_pPrefix;
    size_t m_nPrefix, m_nPos = 0;
    CByteSource& m_rest;
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
typedef std::function<bool(uint64_t nDone)> FProgress;
