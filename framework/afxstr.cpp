#include "framework/afxstr.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

void CString::SecureEmpty()
{
    volatile char* p = &m_str[0];
    for (size_t i = 0; i < m_str.size(); ++i)
        p[i] = 0;
    m_str.clear();
}

int CString::Compare(const char* psz) const
{
    const unsigned char* a = reinterpret_cast<const unsigned char*>(m_str.c_str());
    const unsigned char* b = reinterpret_cast<const unsigned char*>(psz ? psz : "");
    size_t na = m_str.size(), nb = std::strlen(reinterpret_cast<const char*>(b));
    size_t n = std::min(na, nb);
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
    return na == nb ? 0 : (na < nb ? -1 : 1);
}

static char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }
static char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

int CString::CompareNoCase(const char* psz) const
{
    CString a(*this), b(psz);
    return a.MakeLower().Compare(b.MakeLower());
}

CString CString::Left(int nCount) const
{
    nCount = std::clamp(nCount, 0, GetLength());
    return CString(m_str.substr(0, size_t(nCount)));
}

CString CString::Right(int nCount) const
{
    nCount = std::clamp(nCount, 0, GetLength());
    return CString(m_str.substr(m_str.size() - size_t(nCount)));
}

CString CString::Mid(int nFirst) const { return Mid(nFirst, GetLength()); }

CString CString::Mid(int nFirst, int nCount) const
{
    nFirst = std::clamp(nFirst, 0, GetLength());
    nCount = std::clamp(nCount, 0, GetLength() - nFirst);
    return CString(m_str.substr(size_t(nFirst), size_t(nCount)));
}

int CString::Find(char ch, int nStart) const
{
    if (nStart < 0 || nStart > GetLength()) return -1;
    size_t pos = m_str.find(ch, size_t(nStart));
    return pos == std::string::npos ? -1 : int(pos);
}

int CString::Find(const char* psz, int nStart) const
{
    if (!psz || nStart < 0 || nStart > GetLength()) return -1;
    size_t pos = m_str.find(psz, size_t(nStart));
    return pos == std::string::npos ? -1 : int(pos);
}

int CString::ReverseFind(char ch) const
{
    size_t pos = m_str.rfind(ch);
    return pos == std::string::npos ? -1 : int(pos);
}

int CString::FindOneOf(const char* pszCharSet) const
{
    size_t pos = m_str.find_first_of(pszCharSet ? pszCharSet : "");
    return pos == std::string::npos ? -1 : int(pos);
}

static bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

CString& CString::TrimRight()
{
    size_t n = m_str.size();
    while (n > 0 && IsSpace(m_str[n - 1])) --n;
    m_str.resize(n);
    return *this;
}

CString& CString::TrimLeft()
{
    size_t i = 0;
    while (i < m_str.size() && IsSpace(m_str[i])) ++i;
    m_str.erase(0, i);
    return *this;
}

CString& CString::MakeUpper()
{
    std::transform(m_str.begin(), m_str.end(), m_str.begin(), UpperAscii);
    return *this;
}

CString& CString::MakeLower()
{
    std::transform(m_str.begin(), m_str.end(), m_str.begin(), LowerAscii);
    return *this;
}

int CString::Replace(char chOld, char chNew)
{
    int n = 0;
    for (char& c : m_str)
        if (c == chOld) { c = chNew; ++n; }
    return n;
}

void CString::Format(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    FormatV(pszFormat, args);
    va_end(args);
}

void CString::FormatV(const char* pszFormat, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, pszFormat, copy);
    va_end(copy);
    if (n < 0) { m_str.clear(); return; }
    std::string out(size_t(n) + 1, '\0');
    std::vsnprintf(&out[0], out.size(), pszFormat, args);
    out.resize(size_t(n));
    m_str.swap(out);
}

char* CString::GetBuffer(int nMinBufLength)
{
    if (nMinBufLength > GetLength())
        m_str.resize(size_t(nMinBufLength));
    return &m_str[0];
}

void CString::ReleaseBuffer(int nNewLength)
{
    if (nNewLength < 0)
        nNewLength = int(std::strlen(m_str.c_str()));
    m_str.resize(size_t(std::min(nNewLength, GetLength())));
}
