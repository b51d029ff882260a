#include "container/StoredName.h"

#include "container/FileProcessor.h"
#include "framework/afxconv.h"

namespace {

CString NameBytes(const CString& strName, unsigned nCodePage)
{
    CString strBytes;
    return Utf8ToCodePage(strName, nCodePage, strBytes) ? strBytes : strName;
}

}  // namespace

CString EncodeStoredName(const CString& strName, unsigned nCodePage)
{
    CString strBytes = NameBytes(strName, nCodePage);
    if (strBytes.GetLength() <= CFileProcessor::kMaxNameLength)
        return strBytes;
    // A longer name would make our own reader refuse the container as if the
    // password were wrong. Shorten by whole characters, the extension kept
    // when there is room for it.
    const int nDot = strName.ReverseFind('.');
    // An extension too long to keep whole is shortened with the rest.
    const bool bKeepExt = nDot > 0 && NameBytes(strName.Mid(nDot), nCodePage).GetLength() <
                                          CFileProcessor::kMaxNameLength / 2;
    CString strStem = bKeepExt ? strName.Left(nDot) : strName;
    const CString strKeep = bKeepExt ? strName.Mid(nDot) : CString();
    while (!strStem.IsEmpty()) {
        strStem = strStem.Left(strStem.GetLength() - Utf8LastCharBytes(strStem, strStem.GetLength()));
        strBytes = NameBytes(strStem + strKeep, nCodePage);
        if (strBytes.GetLength() <= CFileProcessor::kMaxNameLength)
            return strBytes;
    }
    return NameBytes(strKeep, nCodePage);
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
