#include "framework/afxfile.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <io.h>
#include "framework/afxconv.h"
#include "framework/afxdefs.h"
#else
#include <unistd.h>
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

FILE* AfxOpenFile(const CString& strPath, const char* pszMode)
{
    return _wfopen(Win32Path(strPath).c_str(), Utf8ToWide(pszMode).c_str());
}

FILE* AfxCreateNewFile(const CString& strPath)
{
    const std::wstring wPath = Win32Path(strPath);
    int fd = _wopen(wPath.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return nullptr;
    FILE* pFile = _fdopen(fd, "wb");
    if (!pFile) {
        int nErr = errno;
        _close(fd);
        _wunlink(wPath.c_str());
        errno = nErr;
    }
    return pFile;
}

int AfxRemoveFile(const CString& strPath)
{
    return _wremove(Win32Path(strPath).c_str());
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

FILE* AfxOpenFile(const CString& strPath, const char* pszMode)
{
    return std::fopen(strPath, pszMode);
}

FILE* AfxCreateNewFile(const CString& strPath)
{
    int fd = open(strPath, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return nullptr;
    FILE* pFile = fdopen(fd, "wb");
    if (!pFile) {
        int nErr = errno;
        close(fd);
        unlink(strPath);
        errno = nErr;
    }
    return pFile;
}

int AfxRemoveFile(const CString& strPath)
{
    return std::remove(strPath);
}

#endif
