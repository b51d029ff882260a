// Thin owners for the pipelines: every way out releases the zlib stream and
// wipes the password copy. The files themselves are in FileStreams.h.
#pragma once

#include <cstdio>

#include <zlib.h>

#include "framework/afxfile.h"
#include "framework/afxstr.h"

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
