// A stored name comes from the container, i.e. from whoever made the file:
// it must not steer the output out of the container's folder, onto a device
// or into an alternate data stream.
#include "base/PathUtils.h"

#include "base/FileStreams.h"

namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

#ifdef _WIN32
bool IsAsciiAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

CString SanitizeForPlatform(CString s)
{
    int nColon = s.Find(':');
    if (nColon == 1 && IsAsciiAlpha(s[0])) {
        s = s.Mid(2);  // drive-relative "C:name"
        nColon = s.Find(':');
    }
    if (nColon >= 0)
        s = s.Left(nColon);  // "name:stream" or "name:stream:$DATA"
    for (const char* p = "<>\"|?*"; *p; ++p)
        s.Replace(*p, '_');
    // Windows drops trailing dots and blanks, so "x.txt." would land on x.txt;
    // and "." or ".." must never be a name.
    int n = s.GetLength();
    while (n > 0 && (s[n - 1] == '.' || s[n - 1] == ' '))
        --n;
    s = s.Left(n);
    if (!s.IsEmpty() && IsDeviceName(s))
        s = CString('_') + s;
    return s;
}
#else
// "meeting 12:30.txt", "notes." and "CON" are ordinary names here.
CString SanitizeForPlatform(const CString& s) { return s == "." || s == ".." ? CString() : s; }
#endif

CString Sanitize(const CString& strIn)
{
    CString s;
    for (int i = 0; i < strIn.GetLength(); ++i) {
        if (const size_t nHidden = HiddenCharBytes(strIn.GetString() + i, size_t(strIn.GetLength() - i)))
            i += int(nHidden) - 1;
        else if (!IsControl(static_cast<unsigned char>(strIn[i])))
            s += strIn[i];
    }
    s = GetFileNamePart(s);
    // A name the system refuses for its length would leave the contents in
    // the container. Shortening may bare a trailing dot or make the device
    // prefix one unit too many: repeated until nothing changes, a pass or two.
    for (;;) {
        const CString strFitted = SanitizeForPlatform(ShortenStem(s, kMaxNameLength, NameLength));
        if (strFitted == s)
            return s;
        s = strFitted;
    }
}

}  // namespace

bool IsDeviceName(const CString& strName)
{
#ifdef _WIN32
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    CString strBase = strName;
    int nDot = strBase.Find('.');
    if (nDot >= 0)
        strBase = strBase.Left(nDot);
    strBase.TrimRight();
    strBase.MakeUpper();
    for (const char* psz : kDevices)
        if (strBase == psz)
            return true;
    const CString strNumber = strBase.Mid(3);
    const bool bDigit = strNumber.GetLength() == 1 && strNumber[0] >= '0' && strNumber[0] <= '9';
    // The system takes the superscripts one to three for digits here too.
    const bool bSuperscript = strNumber == "\xC2\xB9" || strNumber == "\xC2\xB2" || strNumber == "\xC2\xB3";
    return (strBase.Left(3) == "COM" || strBase.Left(3) == "LPT") && (bDigit || bSuperscript);
#else
    (void)strName;
    return false;
#endif
}

size_t HiddenCharBytes(const char* p, size_t nLeft)
{
    auto at = [p](size_t k) { return static_cast<unsigned char>(p[k]); };
    if (nLeft >= 2 && at(0) == 0xC2 && at(1) >= 0x80 && at(1) <= 0x9F)
        return 2;
    if (nLeft >= 3 && at(0) == 0xE2 && ((at(1) == 0x80 && at(2) >= 0xAA && at(2) <= 0xAE) ||
                                        (at(1) == 0x81 && at(2) >= 0xA6 && at(2) <= 0xA9)))
        return 3;
    return 0;
}

CString MakeSafeFileName(const CString& strStored, const CString& strContainerPath)
{
    CString strName = Sanitize(strStored);
    if (strName.IsEmpty())
        strName = Sanitize(GetFileNamePart(strContainerPath) + ".out");
    if (strName.IsEmpty())
        strName = "kestrin.out";
    // A name that looks like our temporary file would be taken for one (and
    // such a name is short: the '_' keeps it within any length limit).
    if (IsTemporaryName(strName))
        strName = CString('_') + strName;
    return strName;
}
