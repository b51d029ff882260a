#include "container/StoredName.h"

#include "container/FormatV1.h"
#include "container/FormatV2.h"
#include "framework/afxconv.h"

namespace {

CString NameBytes(const CString& strName, unsigned nCodePage)
{
    CString strBytes;
    return Utf8ToCodePage(strName, nCodePage, strBytes) ? strBytes : strName;
}

// The stored bytes of strName (UTF-8) by fnBytes. When they exceed nLimit,
// characters are taken off the end of the stem, the extension kept when
// there is room for it, until they fit.
template <class FBytes>
CString Shortened(const CString& strName, int nLimit, FBytes fnBytes)
{
    CString strBytes = fnBytes(strName);
    if (strBytes.GetLength() <= nLimit)
        return strBytes;
    const int nDot = strName.ReverseFind('.');
    // An extension too long to keep whole is shortened with the rest.
    const bool bKeepExt = nDot > 0 && fnBytes(strName.Mid(nDot)).GetLength() < nLimit / 2;
    CString strStem = bKeepExt ? strName.Left(nDot) : strName;
    const CString strKeep = bKeepExt ? strName.Mid(nDot) : CString();
    while (!strStem.IsEmpty()) {
        strStem = strStem.Left(strStem.GetLength() - Utf8LastCharBytes(strStem, strStem.GetLength()));
        strBytes = fnBytes(strStem + strKeep);
        if (strBytes.GetLength() <= nLimit)
            return strBytes;
    }
    return fnBytes(strKeep);
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
