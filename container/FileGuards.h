// Thin owners for the pipelines: every way out of a file closes its streams,
// releases the zlib stream and, where asked, removes an unfinished output.
#pragma once

#include <cstdio>

#include <zlib.h>

#include "framework/afxstr.h"

// Room for 16 chunks per system call instead of one.
const size_t kStreamBufferSize = 64 * 1024;

class CInputFile {
public:
    // A null path opens nothing.
    explicit CInputFile(const char* pszPath) : m_pFile(pszPath ? std::fopen(pszPath, "rb") : nullptr)
    {
        if (m_pFile)
            std::setvbuf(m_pFile, nullptr, _IOFBF, kStreamBufferSize);
    }
    ~CInputFile() { if (m_pFile) std::fclose(m_pFile); }
    CInputFile(const CInputFile&) = delete;
    CInputFile& operator=(const CInputFile&) = delete;
    FILE* Get() const { return m_pFile; }

private:
    FILE* m_pFile;
};

// Removed on destruction unless Keep() was called: an exception or an early
// return never leaves a half-written file that looks finished.
class COutputFile {
public:
    // A null file owns nothing: a stream the caller keeps.
    COutputFile(FILE* pFile, const CString& strPath) : m_pFile(pFile), m_strPath(strPath), m_bKeep(!pFile)
    {
        if (m_pFile)
            std::setvbuf(m_pFile, nullptr, _IOFBF, kStreamBufferSize);
    }
    ~COutputFile()
    {
        Close();
        if (!m_bKeep && !m_strPath.IsEmpty())
            std::remove(m_strPath);
    }
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;

    FILE* Get() const { return m_pFile; }
    // False when buffered bytes could not be written out.
    bool Close()
    {
        if (!m_pFile)
            return true;
        bool bOk = std::fclose(m_pFile) == 0;
        m_pFile = nullptr;
        return bOk;
    }
    void Keep(bool bKeep) { m_bKeep = bKeep; }

private:
    FILE* m_pFile;
    CString m_strPath;
    bool m_bKeep;
};

class CDeflateGuard {
public:
    explicit CDeflateGuard(z_stream& zs) : m_zs(zs) {}
    ~CDeflateGuard() { deflateEnd(&m_zs); }  // Z_STREAM_ERROR after a failed init: nothing held
    CDeflateGuard(const CDeflateGuard&) = delete;
    CDeflateGuard& operator=(const CDeflateGuard&) = delete;

private:
    z_stream& m_zs;
};

class CInflateGuard {
public:
    explicit CInflateGuard(z_stream& zs) : m_zs(zs) {}
    ~CInflateGuard() { inflateEnd(&m_zs); }
    CInflateGuard(const CInflateGuard&) = delete;
    CInflateGuard& operator=(const CInflateGuard&) = delete;

private:
    z_stream& m_zs;
};

// Wipes a password copy on every way out.
class CWipeOnExit {
public:
    explicit CWipeOnExit(CString& str) : m_str(str) {}
    ~CWipeOnExit() { m_str.SecureEmpty(); }
    CWipeOnExit(const CWipeOnExit&) = delete;
    CWipeOnExit& operator=(const CWipeOnExit&) = delete;

private:
    CString& m_str;
};
