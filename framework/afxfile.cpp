#include "framework/afxfile.h"

#ifdef _WIN32
#include "framework/afxconv.h"
#include "framework/afxdefs.h"
#else
#include <sys/stat.h>
#include <sys/types.h>
#endif

#ifdef _WIN32

FileKind AfxGetFileKind(const CString& strPath)
{
    const DWORD dwAttr = ::GetFileAttributesW(Win32Path(strPath).c_str());
    if (dwAttr == INVALID_FILE_ATTRIBUTES)
        return FileKind::kMissing;
    if (dwAttr & FILE_ATTRIBUTE_DIRECTORY)
        return FileKind::kDirectory;
    return (dwAttr & FILE_ATTRIBUTE_DEVICE) ? FileKind::kOther : FileKind::kFile;
}

bool AfxGetFileSize(const CString& strPath, uint64_t& nSize)
{
    WIN32_FILE_ATTRIBUTE_DATA fa;
    if (!::GetFileAttributesExW(Win32Path(strPath).c_str(), GetFileExInfoStandard, &fa) ||
        (fa.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)))
        return false;
    nSize = (uint64_t(fa.nFileSizeHigh) << 32) | fa.nFileSizeLow;
    return true;
}

FILE* AfxOpenFile(const CString& strPath, const char* pszMode)
{
    return _wfopen(Win32Path(strPath).c_str(), Utf8ToWide(pszMode).c_str());
}

#else

FileKind AfxGetFileKind(const CString& strPath)
{
    // lstat: a dangling link is an entry too, and an exclusive create fails on it.
    struct stat st;
    if (lstat(strPath, &st) != 0)
        return FileKind::kMissing;
    if (S_ISLNK(st.st_mode) && stat(strPath, &st) != 0)
        return FileKind::kOther;
    if (S_ISDIR(st.st_mode))
        return FileKind::kDirectory;
    return S_ISREG(st.st_mode) ? FileKind::kFile : FileKind::kOther;
}

bool AfxGetFileSize(const CString& strPath, uint64_t& nSize)
{
    struct stat st;
    if (stat(strPath, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    nSize = uint64_t(st.st_size);
    return true;
}

FILE* AfxOpenFile(const CString& strPath, const char* pszMode)
{
    return std::fopen(strPath, pszMode);
}

#endif
