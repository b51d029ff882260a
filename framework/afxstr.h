// Narrow (system code page) string and string array, in the shape the rest of
// the code expects from the framework: value semantics, implicit conversion to
// const char*, printf-style Format. Text is bytes; no locale is consulted.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <vector>

#include "framework/afxdefs.h"

class CString {
public:
    CString() = default;
    CString(const char* psz) : m_str(psz ? psz : "") {}
    CString(const char* pch, int nLength) : m_str(pch, nLength > 0 ? size_t(nLength) : 0) {}
    CString(char ch, int nRepeat = 1) : m_str(nRepeat > 0 ? size_t(nRepeat) : 0, ch) {}
    CString(const std::string& s) : m_str(s) {}
    CString(const CString&) = default;
    CString(CString&&) noexcept = default;
    CString& operator=(const CString&) = default;
    CString& operator=(CString&&) noexcept = default;
    CString& operator=(const char* psz) { m_str = psz ? psz : ""; return *this; }
    CString& operator=(char ch) { m_str.assign(1, ch); return *this; }

    int GetLength() const { return int(m_str.size()); }
    bool IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }
    // Overwrites the characters before emptying: for passwords and paths
    // that must not linger in freed memory.
    void SecureEmpty();

    operator const char*() const { return m_str.c_str(); }
    const char* GetString() const { return m_str.c_str(); }
    const std::string& str() const { return m_str; }

    char GetAt(int i) const { return m_str[size_t(i)]; }
    void SetAt(int i, char ch) { m_str[size_t(i)] = ch; }
    char operator[](int i) const { return m_str[size_t(i)]; }

    CString& operator+=(const CString& s) { m_str += s.m_str; return *this; }
    CString& operator+=(const char* psz) { if (psz) m_str += psz; return *this; }
    CString& operator+=(char ch) { m_str += ch; return *this; }
    friend CString operator+(const CString& a, const CString& b) { return CString(a.m_str + b.m_str); }
    friend CString operator+(const CString& a, const char* b) { return CString(a.m_str + (b ? b : "")); }
    friend CString operator+(const char* a, const CString& b) { return CString(std::string(a ? a : "") + b.m_str); }
    friend CString operator+(const CString& a, char b) { return CString(a.m_str + b); }

    // Byte-wise comparison of unsigned chars: <0, 0, >0.
    int Compare(const char* psz) const;
    int CompareNoCase(const char* psz) const;
    friend bool operator==(const CString& a, const CString& b) { return a.m_str == b.m_str; }
    friend bool operator==(const CString& a, const char* b) { return a.m_str == (b ? b : ""); }
    friend bool operator==(const char* a, const CString& b) { return b == a; }
    friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
    friend bool operator!=(const CString& a, const char* b) { return !(a == b); }
    friend bool operator!=(const char* a, const CString& b) { return !(b == a); }
    friend bool operator<(const CString& a, const CString& b) { return a.Compare(b) < 0; }

    CString Left(int nCount) const;
    CString Right(int nCount) const;
    CString Mid(int nFirst) const;
    CString Mid(int nFirst, int nCount) const;

    int Find(char ch, int nStart = 0) const;
    int Find(const char* psz, int nStart = 0) const;
    int ReverseFind(char ch) const;
    int FindOneOf(const char* pszCharSet) const;

    CString& TrimRight();
    CString& TrimLeft();
    CString& Trim() { TrimRight(); return TrimLeft(); }
    CString& MakeUpper();
    CString& MakeLower();
    int Replace(char chOld, char chNew);

    void Format(const char* pszFormat, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    void FormatV(const char* pszFormat, va_list args);

    // Direct buffer access for calls that fill a char array.
    char* GetBuffer(int nMinBufLength);
    void ReleaseBuffer(int nNewLength = -1);

private:
    std::string m_str;
};

class CStringArray {
public:
    int GetSize() const { return int(m_items.size()); }
    int GetCount() const { return GetSize(); }
    int GetUpperBound() const { return GetSize() - 1; }
    bool IsEmpty() const { return m_items.empty(); }
    void SetSize(int nNewSize) { m_items.resize(nNewSize > 0 ? size_t(nNewSize) : 0); }
    void FreeExtra() { m_items.shrink_to_fit(); }
    void RemoveAll() { m_items.clear(); }

    const CString& GetAt(int i) const { return m_items[size_t(i)]; }
    void SetAt(int i, const CString& s) { m_items[size_t(i)] = s; }
    CString& ElementAt(int i) { return m_items[size_t(i)]; }
    CString& operator[](int i) { return m_items[size_t(i)]; }
    const CString& operator[](int i) const { return m_items[size_t(i)]; }

    int Add(const CString& s) { m_items.push_back(s); return GetSize() - 1; }
    void InsertAt(int i, const CString& s) { m_items.insert(m_items.begin() + i, s); }
    void RemoveAt(int i, int nCount = 1) { m_items.erase(m_items.begin() + i, m_items.begin() + i + nCount); }

    CString* GetData() { return m_items.data(); }
    const CString* GetData() const { return m_items.data(); }

private:
    std::vector<CString> m_items;
};
