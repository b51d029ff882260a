#include "container/StoredName.h"

#include "base/PathUtils.h"
#include "container/FormatV1.h"
#include "container/FormatV2.h"
#include "framework/afxconv.h"

namespace {

CString NameBytes(const CString& strName, unsigned nCodePage)
{
    CString strBytes;
    return Utf8ToCodePage(strName, nCodePage, strBytes) ? strBytes : strName;
}

// The stored bytes of strName (UTF-8) by fnBytes, shortened to nLimit.
template <class FBytes>
CString Shortened(const CString& strName, int nLimit, FBytes fnBytes)
{
    return fnBytes(ShortenName(strName, nLimit, [&fnBytes](const CString& str) { return fnBytes(str).GetLength(); }));
}

}  // namespace

CString EncodeStoredName(const CString& strName, unsigned nCodePage)
{
    // A longer name would make our own reader refuse the container as if the
    // password were wrong.
    return Shortened(strName, kV1MaxNameLength,
                     [nCodePage](const CString& str) { return NameBytes(str, nCodePage); });
}

CString EncodeStoredNameV2(const CString& strName, unsigned nCodePage)
{
    // Always UTF-8: a file name whose bytes are not (POSIX allows any) is
    // read in the code page, as a version-1 reader reads a stored name.
    return Shortened(LegacyOrUtf8ToUtf8(strName, nCodePage), int(kV2MaxName), [](const CString& str) { return str; });
}

CString DecodeStoredName(const CString& strBytes, unsigned nCodePage)
{
    return LooksLikeUtf8(strBytes) ? strBytes : CodePageToUtf8(strBytes, nCodePage);
}

void GetPasswordForms(const CString& strPassword, unsigned nCodePage, bool bReading, CString& strFirst,
                      CString& strSecond)
{
    strSecond.Empty();
    CString strLegacy;
    if (!Utf8ToCodePage(strPassword, nCodePage, strLegacy) || strLegacy == strPassword) {
        strLegacy.SecureEmpty();
        strFirst = strPassword;
        return;
    }
#ifdef _WIN32
    const bool bUtf8First = false;
#else
    const bool bUtf8First = bReading;
#endif
    strFirst = bUtf8First ? strPassword : strLegacy;
    if (bReading)
        strSecond = bUtf8First ? strLegacy : strPassword;
    strLegacy.SecureEmpty();
}
