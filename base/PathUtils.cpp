#include "base/PathUtils.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "framework/afxconv.h"
#include "framework/afxfile.h"

namespace {

// On Windows the last separator of either kind: a path mixing both
// (C:\Users\me/docs/a.txt) must still split at its real last folder. On
// POSIX a backslash is an ordinary character of a file name: splitting there
// would put a\b.txt's output into a folder "a", or wherever a link "a" leads.
int LastSeparator(const CString& strPath)
{
#ifdef _WIN32
    return std::max(strPath.ReverseFind('\\'), strPath.ReverseFind('/'));
#else
    return strPath.ReverseFind('/');
#endif
}

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

CString GetFileNamePart(const CString& strPath)
{
    int i = LastSeparator(strPath);
    return i < 0 ? strPath : strPath.Mid(i + 1);
}

CString GetDirectoryPart(const CString& strPath)
{
    int i = LastSeparator(strPath);
    return i < 0 ? CString() : strPath.Left(i);
}

CString GetExtensionPart(const CString& strPath)
{
    CString strTrimmed(strPath);
    strTrimmed.TrimRight();
    int i = strTrimmed.ReverseFind('.');
    return i < 0 ? strTrimmed : strTrimmed.Mid(i);
}

CString GetStemPart(const CString& strPath)
{
    int i = strPath.ReverseFind('.');
    return i < 0 ? CString() : strPath.Left(i);
}

CString GetOutputDirectory(const CString& strPath)
{
    return LastSeparator(strPath) < 0 ? CString(".") : GetDirectoryPart(strPath);
}

bool PathExists(const CString& strPath)
{
    return AfxGetFileKind(strPath) != FileKind::kMissing;
}

bool IsRegularFile(const CString& strPath)
{
    return AfxGetFileKind(strPath) == FileKind::kFile;
}

bool IsReadOnlyFile(const CString& strPath)
{
#ifdef _WIN32
    const DWORD dwAttr = ::GetFileAttributesW(Win32Path(strPath).c_str());
    return dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_READONLY);
#else
    (void)strPath;
    return false;
#endif
}

uint64_t GetFileSize64(const CString& strPath)
{
    // Status only: opening a FIFO or a device to measure it could block.
    uint64_t nSize = 0;
    return AfxGetFileSize(strPath, nSize) ? nSize : UINT64_MAX;
}

CString JoinPath(const CString& strDirectory, const CString& strName)
{
    return strDirectory + kPathSeparator + strName;
}

int NameLength(const CString& strName)
{
#ifdef _WIN32
    return int(Utf8ToWide(strName, strName.GetLength()).size());
#else
    return strName.GetLength();
#endif
}

CString ShortenStem(const CString& strName, int nLimit, const std::function<int(const CString&)>& fnLength)
{
    if (fnLength(strName) <= nLimit)
        return strName;
    const int nDot = strName.ReverseFind('.');
    // An extension too long to keep whole is shortened with the rest.
    const bool bKeepExt = nDot > 0 && fnLength(strName.Mid(nDot)) < nLimit / 2;
    CString strStem = bKeepExt ? strName.Left(nDot) : strName;
    const CString strKeep = bKeepExt ? strName.Mid(nDot) : CString();
    while (!strStem.IsEmpty()) {
        strStem = strStem.Left(strStem.GetLength() - Utf8LastCharBytes(strStem, strStem.GetLength()));
        if (fnLength(strStem + strKeep) <= nLimit)
            return strStem + strKeep;
    }
    return strKeep;
}

CString MakeUniquePath(const CString& strDirectory, const CString& strName)
{
    CString strWanted = JoinPath(strDirectory, strName);
    if (!PathExists(strWanted))
        return strWanted;

    CString strStem = strName, strSuffix;
    if (strName.Find('.') >= 0) {
        strStem = GetStemPart(strName);
        strSuffix = CString('.') + GetExtensionPart(strName).Mid(1);
    }

    int nDigits = strStem.GetLength();
    while (nDigits > 0 && IsAsciiDigit(strStem[nDigits - 1]))
        --nDigits;
    CString strPrefix = strStem.Left(nDigits);
    uint64_t n = 0;
    for (int i = nDigits; i < strStem.GetLength(); ++i)
        n = n * 10 + uint64_t(strStem[i] - '0');

    for (;;) {
        CString strNumber;
        strNumber.Format("%llu", static_cast<unsigned long long>(++n));
        // A name of the longest length, taken, would otherwise give only
        // names the system refuses.
        while (!strPrefix.IsEmpty() && NameLength(strPrefix + strNumber + strSuffix) > kMaxNameLength)
            strPrefix = strPrefix.Left(strPrefix.GetLength() - Utf8LastCharBytes(strPrefix, strPrefix.GetLength()));
        CString strCandidate = JoinPath(strDirectory, strPrefix + strNumber + strSuffix);
        if (!PathExists(strCandidate))
            return strCandidate;
    }
}

CString MakeEncryptedName(const CString& strSource)
{
    CString strPath;
    if (GetFileNamePart(strSource).Find('.') < 0) {
        strPath = strSource + "._";
    } else {
        CString strExt = GetExtensionPart(strSource);
        if (strExt.GetLength() > 1)
            strExt.SetAt(1, '_');
        strPath = GetStemPart(strSource) + strExt;
    }
    // "._" makes a name two longer: from a source name of about the longest
    // length, one the system refuses.
    const CString strName = GetFileNamePart(strPath);
    return strPath.Left(strPath.GetLength() - strName.GetLength()) +
           ShortenStem(strName, kMaxNameLength, NameLength);
}
