#include "container/PathUtils.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "framework/afxfile.h"

namespace {

// The last separator of either kind. A path mixing both (C:\Users\me/docs/a.txt)
// must still split at its real last folder, or outputs land in a parent folder.
int LastSeparator(const CString& strPath)
{
    return std::max(strPath.ReverseFind('\\'), strPath.ReverseFind('/'));
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

uint64_t GetFileSize64(const CString& strPath)
{
    FILE* pFile = AfxOpenFile(strPath, "rb");
    if (!pFile)
        return UINT64_MAX;
#ifdef _WIN32
    int64_t nSize = _fseeki64(pFile, 0, SEEK_END) == 0 ? _ftelli64(pFile) : -1;
#else
    int64_t nSize = fseeko(pFile, 0, SEEK_END) == 0 ? int64_t(ftello(pFile)) : -1;
#endif
    std::fclose(pFile);
    return nSize < 0 ? UINT64_MAX : uint64_t(nSize);
}

CString MakeUniquePath(const CString& strDirectory, const CString& strName)
{
    CString strWanted = strDirectory + kPathSeparator + strName;
    if (!PathExists(strWanted))
        return strWanted;

    CString strBase, strSuffix;
    if (strName.Find('.') >= 0) {
        strBase = strDirectory + kPathSeparator + GetStemPart(strName);
        strSuffix = CString('.') + GetExtensionPart(strName).Mid(1);
    } else {
        strBase = strWanted;
    }

    int nDigits = strBase.GetLength();
    while (nDigits > 0 && IsAsciiDigit(strBase[nDigits - 1]))
        --nDigits;
    CString strPrefix = strBase.Left(nDigits);
    uint64_t n = 0;
    for (int i = nDigits; i < strBase.GetLength(); ++i)
        n = n * 10 + uint64_t(strBase[i] - '0');

    for (;;) {
        CString strNumber;
        strNumber.Format("%llu", static_cast<unsigned long long>(++n));
        CString strCandidate = strPrefix + strNumber + strSuffix;
        if (!PathExists(strCandidate))
            return strCandidate;
    }
}

CString MakeEncryptedName(const CString& strSource)
{
    if (GetFileNamePart(strSource).Find('.') < 0)
        return strSource + "._";
    CString strExt = GetExtensionPart(strSource);
    if (strExt.GetLength() > 1)
        strExt.SetAt(1, '_');
    return GetStemPart(strSource) + strExt;
}

FILE* OpenExclusive(const CString& strPath)
{
    return AfxCreateNewFile(strPath);
}

FILE* CreateUniqueFile(const CString& strDirectory, const CString& strName, CString& strPath,
                       const std::function<void(const CString&)>& onChosen)
{
    strPath = MakeUniquePath(strDirectory, strName);
    // Bounded: each retry needs another process to win one more race.
    for (int nTry = 0; nTry < 1000; ++nTry) {
        if (onChosen)
            onChosen(strPath);
        if (FILE* pFile = OpenExclusive(strPath))
            return pFile;
        if (errno != EEXIST)
            return nullptr;
        CString strNext = MakeUniquePath(strDirectory, strName);
        if (strNext == strPath)
            return nullptr;  // the name test and the create disagree; do not spin
        strPath = strNext;
    }
    return nullptr;
}
