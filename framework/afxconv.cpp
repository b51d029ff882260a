#include "framework/afxconv.h"

#include <atomic>
#include <cstdint>
#include <cstring>

#ifdef _WIN32
#include "framework/afxdefs.h"
#else
#include <cerrno>
#include <cstdio>
#include <iconv.h>
#endif

namespace {

// The length of the well-formed sequence at p (1..4), or 0.
int SequenceLength(const unsigned char* p, size_t n)
{
    const unsigned c = p[0];
    if (c < 0x80)
        return 1;
    int nLen;
    unsigned lo = 0x80, hi = 0xBF;  // bounds of the second byte
    if (c >= 0xC2 && c <= 0xDF) nLen = 2;
    else if (c == 0xE0) { nLen = 3; lo = 0xA0; }
    else if (c == 0xED) { nLen = 3; hi = 0x9F; }  // no surrogates
    else if (c >= 0xE1 && c <= 0xEF) nLen = 3;
    else if (c == 0xF0) { nLen = 4; lo = 0x90; }
    else if (c >= 0xF1 && c <= 0xF3) nLen = 4;
    else if (c == 0xF4) { nLen = 4; hi = 0x8F; }
    else return 0;
    if (n < size_t(nLen) || p[1] < lo || p[1] > hi)
        return 0;
    for (int i = 2; i < nLen; ++i)
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    return nLen;
}

void AppendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

#ifdef _WIN32
unsigned DefaultCodePage() { return ::GetACP(); }
#else
unsigned DefaultCodePage() { return kCodePageWestern; }

// Windows-1252 at 0x80..0x9F; the five bytes it leaves undefined keep their
// value, as Windows maps them.
const uint16_t k1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

uint32_t Decode1252(unsigned char c)
{
    return c >= 0x80 && c < 0xA0 ? k1252High[c - 0x80] : c;
}

bool Encode1252(uint32_t cp, char& ch)
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
        ch = char(cp);
        return true;
    }
    for (int i = 0; i < 32; ++i) {
        if (k1252High[i] == cp) {
            ch = char(0x80 + i);
            return true;
        }
    }
    return false;
}

uint32_t DecodeAt(const unsigned char* p, int nLen)
{
    static const unsigned kLead[5] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    uint32_t cp = p[0] & kLead[nLen];
    for (int i = 1; i < nLen; ++i)
        cp = (cp << 6) | (p[i] & 0x3F);
    return cp;
}

// Other code pages through the C library's converter, by their Windows number.
class CIconv {
public:
    CIconv(const char* pszTo, const char* pszFrom) : m_cd(iconv_open(pszTo, pszFrom)) {}
    ~CIconv() { if (Ok()) iconv_close(m_cd); }
    CIconv(const CIconv&) = delete;
    CIconv& operator=(const CIconv&) = delete;
    bool Ok() const { return m_cd != iconv_t(-1); }
    // Converts as far as it can; returns false at the first byte it cannot
    // convert, leaving pIn there.
    bool Run(const char*& pIn, size_t& nIn, std::string& out)
    {
        char buf[256];
        while (nIn > 0) {
            char* pOut = buf;
            size_t nOut = sizeof buf;
            size_t r = iconv(m_cd, const_cast<char**>(&pIn), &nIn, &pOut, &nOut);
            out.append(buf, size_t(pOut - buf));
            if (r == size_t(-1) && errno != E2BIG)
                return false;
        }
        return true;
    }

private:
    iconv_t m_cd;
};

std::string IconvName(unsigned nCodePage)
{
    char sz[16];
    std::snprintf(sz, sizeof sz, "CP%u", nCodePage);
    return sz;
}
#endif

std::atomic<unsigned> g_nLegacyCodePage{0};

}  // namespace

bool IsValidUtf8(const char* p, size_t n)
{
    const unsigned char* u = reinterpret_cast<const unsigned char*>(p);
    for (size_t i = 0; i < n;) {
        int nLen = SequenceLength(u + i, n - i);
        if (nLen == 0)
            return false;
        i += size_t(nLen);
    }
    return true;
}

bool LooksLikeUtf8(const CString& strBytes)
{
    const std::string& s = strBytes.str();
    bool bMulti = false;
    for (unsigned char c : s)
        bMulti = bMulti || c >= 0x80;
    return bMulti && IsValidUtf8(s.data(), s.size());
}

int Utf8Length(const CString& str)
{
    const std::string& s = str.str();
    if (!IsValidUtf8(s.data(), s.size()))
        return str.GetLength();
    int n = 0;
    for (unsigned char c : s)
        n += (c & 0xC0) != 0x80;
    return n;
}

int Utf8LastCharBytes(const CString& str, int nEnd)
{
    int i = nEnd - 1;
    while (i > 0 && nEnd - i < 4 && (static_cast<unsigned char>(str[i]) & 0xC0) == 0x80)
        --i;
    const std::string& s = str.str();
    const int nLen = i >= 0 ? SequenceLength(reinterpret_cast<const unsigned char*>(s.data()) + i, size_t(nEnd - i)) : 0;
    return nLen == nEnd - i ? nLen : 1;
}

unsigned GetLegacyCodePage()
{
    unsigned n = g_nLegacyCodePage.load();
    return n ? n : DefaultCodePage();
}

void SetLegacyCodePage(unsigned nCodePage) { g_nLegacyCodePage.store(nCodePage); }

CString LegacyOrUtf8ToUtf8(const CString& strBytes, unsigned nCodePage)
{
    const std::string& s = strBytes.str();
    return IsValidUtf8(s.data(), s.size()) ? strBytes : CodePageToUtf8(strBytes, nCodePage);
}

#ifdef _WIN32

bool IsKnownCodePage(unsigned nCodePage) { return ::IsValidCodePage(nCodePage) != 0; }

std::wstring Utf8ToWide(const char* psz, int nBytes)
{
    if (!psz)
        return std::wstring();
    if (nBytes < 0)
        nBytes = int(std::strlen(psz));
    if (nBytes == 0)
        return std::wstring();
    int cch = ::MultiByteToWideChar(CP_UTF8, 0, psz, nBytes, nullptr, 0);
    std::wstring w(size_t(cch > 0 ? cch : 0), L'\0');
    if (cch > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, psz, nBytes, &w[0], cch);
    return w;
}

CString WideToUtf8(const wchar_t* pwsz, int cch)
{
    if (!pwsz)
        return CString();
    if (cch < 0)
        cch = int(std::wcslen(pwsz));
    if (cch == 0)
        return CString();
    int nBytes = ::WideCharToMultiByte(CP_UTF8, 0, pwsz, cch, nullptr, 0, nullptr, nullptr);
    std::string s(size_t(nBytes > 0 ? nBytes : 0), '\0');
    if (nBytes > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, pwsz, cch, &s[0], nBytes, nullptr, nullptr);
    return CString(s);
}

bool WideToUtf8Exact(const wchar_t* pwsz, int cch, CString& strOut)
{
    if (pwsz && cch < 0)
        cch = int(std::wcslen(pwsz));
    for (int i = 0; i < cch; ++i) {
        const bool bHigh = pwsz[i] >= 0xD800 && pwsz[i] <= 0xDBFF, bLow = pwsz[i] >= 0xDC00 && pwsz[i] <= 0xDFFF;
        if (bLow || (bHigh && (i + 1 == cch || pwsz[i + 1] < 0xDC00 || pwsz[i + 1] > 0xDFFF)))
            return false;
        i += bHigh ? 1 : 0;
    }
    strOut = WideToUtf8(pwsz, cch);
    return true;
}

bool Utf8ToCodePage(const CString& strUtf8, unsigned nCodePage, CString& strBytes)
{
    const std::string& s = strUtf8.str();
    if (!IsValidUtf8(s.data(), s.size()))
        return false;
    if (nCodePage == kCodePageUtf8 || s.empty()) {
        strBytes = strUtf8;
        return true;
    }
    const std::wstring w = Utf8ToWide(s.data(), int(s.size()));
    BOOL bDefault = FALSE;
    int n = ::WideCharToMultiByte(nCodePage, WC_NO_BEST_FIT_CHARS, w.data(), int(w.size()), nullptr, 0,
                                  nullptr, &bDefault);
    if (n <= 0 || bDefault)
        return false;
    std::string out(size_t(n), '\0');
    ::WideCharToMultiByte(nCodePage, WC_NO_BEST_FIT_CHARS, w.data(), int(w.size()), &out[0], n, nullptr,
                          &bDefault);
    // The way back must give the same text, whatever the flags covered.
    if (bDefault || CodePageToUtf8(CString(out), nCodePage) != strUtf8)
        return false;
    strBytes = CString(out);
    return true;
}

CString CodePageToUtf8(const CString& strBytes, unsigned nCodePage)
{
    const std::string& s = strBytes.str();
    if (s.empty())
        return CString();
    int cch = ::MultiByteToWideChar(nCodePage, 0, s.data(), int(s.size()), nullptr, 0);
    if (cch <= 0)
        return CString();
    std::wstring w(size_t(cch), L'\0');
    ::MultiByteToWideChar(nCodePage, 0, s.data(), int(s.size()), &w[0], cch);
    return WideToUtf8(w.data(), int(w.size()));
}

std::wstring Win32Path(const CString& strPath)
{
    // Below this even a folder (which must leave room for an 8.3 name) is safe.
    const size_t kPlainLimit = MAX_PATH - 12;
    std::wstring w = Utf8ToWide(strPath);
    if (w.size() < kPlainLimit || w.compare(0, 4, L"\\\\?\\") == 0)
        return w;
    // The long form is taken literally: make it absolute and normalised first.
    DWORD cch = ::GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
    if (cch == 0)
        return w;
    std::wstring full(cch, L'\0');
    cch = ::GetFullPathNameW(w.c_str(), cch, &full[0], nullptr);
    full.resize(cch);
    if (full.compare(0, 4, L"\\\\.\\") == 0)
        return full;
    if (full.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    if (full.size() >= 2 && full[1] == L':')
        return L"\\\\?\\" + full;
    return full;
}

#else

bool IsKnownCodePage(unsigned nCodePage)
{
    if (nCodePage == kCodePageWestern || nCodePage == kCodePageUtf8)
        return true;
    CIconv cd("UTF-8", IconvName(nCodePage).c_str());
    return cd.Ok();
}

bool Utf8ToCodePage(const CString& strUtf8, unsigned nCodePage, CString& strBytes)
{
    const std::string& s = strUtf8.str();
    if (!IsValidUtf8(s.data(), s.size()))
        return false;
    if (nCodePage == kCodePageUtf8) {
        strBytes = strUtf8;
        return true;
    }
    std::string out;
    if (nCodePage == kCodePageWestern) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
        for (size_t i = 0; i < s.size();) {
            const int nLen = SequenceLength(p + i, s.size() - i);
            char ch;
            if (!Encode1252(DecodeAt(p + i, nLen), ch))
                return false;
            out += ch;
            i += size_t(nLen);
        }
    } else {
        CIconv cd(IconvName(nCodePage).c_str(), "UTF-8");
        const char* pIn = s.data();
        size_t nIn = s.size();
        if (!cd.Ok() || !cd.Run(pIn, nIn, out))
            return false;
    }
    strBytes = CString(out);
    return true;
}

CString CodePageToUtf8(const CString& strBytes, unsigned nCodePage)
{
    const std::string& s = strBytes.str();
    if (nCodePage == kCodePageUtf8 && IsValidUtf8(s.data(), s.size()))
        return strBytes;
    std::string out;
    CIconv cd("UTF-8", IconvName(nCodePage).c_str());
    const bool bIconv = nCodePage != kCodePageWestern && nCodePage != kCodePageUtf8 && cd.Ok();
    const char* pIn = s.data();
    size_t nIn = s.size();
    while (nIn > 0) {
        if (bIconv && cd.Run(pIn, nIn, out))
            break;
        // A byte the code page does not define (or no converter): its value.
        const unsigned char c = static_cast<unsigned char>(*pIn++);
        --nIn;
        AppendUtf8(out, nCodePage == kCodePageWestern ? Decode1252(c) : c);
    }
    return CString(out);
}

#endif
