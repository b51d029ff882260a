#include "base/FileStreams.h"

#include <atomic>
#include <cerrno>
#include <cctype>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "base/PathUtils.h"
#include "base/ResultCodes.h"
#include "base/SecureBuffer.h"
#include "framework/afxconv.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

const char kTemporaryPrefix[] = ".kestrin-";
const char kPartialSuffix[] = ".partial";

namespace {

const int kTemporaryDigits = 8;

// Eight hex digits that differ between processes and between calls; an
// exclusive create settles any collision, so they need not be secret.
CString TemporaryName()
{
    static std::atomic<uint32_t> s_nCounter{0};
    uint64_t n = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
#ifdef _WIN32
    n ^= uint64_t(GetCurrentProcessId()) << 32;
#else
    n ^= uint64_t(getpid()) << 32;
#endif
    n += uint64_t(++s_nCounter) * 0x9E3779B97F4A7C15ull;
    n ^= n >> 29;
    n *= 0xBF58476D1CE4E5B9ull;
    n ^= n >> 32;
    CString strName;
    strName.Format("%s%0*x%s", kTemporaryPrefix, kTemporaryDigits, unsigned(n), kPartialSuffix);
    return strName;
}

const int kCreateTries = 100;

}  // namespace

bool IsTemporaryName(const char* pszFileName)
{
    const size_t nPrefix = std::strlen(kTemporaryPrefix);
    const size_t nSuffix = std::strlen(kPartialSuffix);
    if (std::strlen(pszFileName) != nPrefix + kTemporaryDigits + nSuffix ||
        std::strncmp(pszFileName, kTemporaryPrefix, nPrefix) != 0 ||
        std::strcmp(pszFileName + nPrefix + kTemporaryDigits, kPartialSuffix) != 0)
        return false;
    for (int i = 0; i < kTemporaryDigits; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(pszFileName[nPrefix + i])))
            return false;
    return true;
}

CStreamBuffer::~CStreamBuffer() { SecureZero(m_pBytes.get(), kStreamBufferSize); }

void CStreamBuffer::Attach(FILE* pFile) { std::setvbuf(pFile, m_pBytes.get(), _IOFBF, kStreamBufferSize); }

void CInputFile::Close()
{
    // Reading only: a failing close loses nothing.
    if (m_pFile)
        std::fclose(m_pFile);
    m_pFile = nullptr;
}

#ifdef _WIN32

std::wstring WidePath(const CString& strPath)
{
    return Win32Path(strPath);
}

namespace {

FILE* StreamOf(HANDLE h, int nFlags, const char* pszMode)
{
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), nFlags);
    if (fd < 0) {
        CloseHandle(h);
        return nullptr;
    }
    FILE* pFile = _fdopen(fd, pszMode);
    if (!pFile)
        _close(fd);
    return pFile;
}

bool NameTaken(DWORD dwError) { return dwError == ERROR_ALREADY_EXISTS || dwError == ERROR_FILE_EXISTS; }

// The reason a file did not open, in the errno terms the messages use: the
// wide file calls leave errno as it was, and a file another program holds
// without sharing would otherwise read as empty.
int ErrnoOf(DWORD dwError)
{
    switch (dwError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
        return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EBUSY;
    default:
        return EIO;
    }
}

}  // namespace

bool CInputFile::Open(const CString& strPath)
{
    Close();
    HANDLE h = CreateFileW(WidePath(strPath).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        errno = ErrnoOf(GetLastError());
        return false;
    }
    LARGE_INTEGER size;
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &size)) {
        CloseHandle(h);
        return false;
    }
    m_nSize = uint64_t(size.QuadPart);
    m_pFile = StreamOf(h, _O_RDONLY | _O_BINARY, "rb");
    if (m_pFile)
        m_buffer.Attach(m_pFile);
    return m_pFile != nullptr;
}

COutputFile::Opened COutputFile::OpenTemporary(unsigned)
{
    // Shared for deletion, so that the finished file can be renamed while we hold it.
    HANDLE h = CreateFileW(WidePath(m_strTemp).c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                           nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return NameTaken(GetLastError()) ? Opened::kTaken : Opened::kFailed;
    // Our own handle on the file outlives the stream: removal and renaming
    // go by it, after the stream's close has been checked.
    if (!DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &m_hFile, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        m_hFile = h;
        RemoveTemporary();
        return Opened::kFailed;
    }
    m_pFile = StreamOf(h, _O_WRONLY | _O_BINARY, "wb");
    if (!m_pFile) {
        RemoveTemporary();
        return Opened::kFailed;
    }
    return Opened::kOpened;
}

bool COutputFile::RemoveTemporary()
{
    if (!m_hFile)
        return true;
    FILE_DISPOSITION_INFO info = {TRUE};
    bool bOk = SetFileInformationByHandle(m_hFile, FileDispositionInfo, &info, sizeof info) != 0;
    // The file goes when its last handle closes; a failing close would leave it.
    bOk = CloseHandle(m_hFile) != 0 && bOk;
    m_hFile = nullptr;
    return bOk;
}

namespace {

// The temporary file is hidden; the finished one must not be.
bool Unhide(HANDLE h)
{
    FILE_BASIC_INFO info;
    if (!GetFileInformationByHandleEx(h, FileBasicInfo, &info, sizeof info))
        return false;
    info.FileAttributes &= ~DWORD(FILE_ATTRIBUTE_HIDDEN);
    if (info.FileAttributes == 0)
        info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(h, FileBasicInfo, &info, sizeof info) != 0;
}

}  // namespace

bool COutputFile::GiveName(const CString& strName, CString& strFinal,
                           const std::function<void(const CString&)>& onChosen)
{
    if (!FlushFileBuffers(m_hFile) || !Unhide(m_hFile))
        return false;
    const std::wstring strTemp = WidePath(m_strTemp);
    const DWORD dwFlags = MOVEFILE_WRITE_THROUGH | (m_rule == NameRule::kReplacing ? MOVEFILE_REPLACE_EXISTING : 0);
    for (int nTry = 0; nTry < 1000; ++nTry) {
        // The wanted name is tried without a look first: a taken one fails
        // the move itself, and on some systems (Wine) every look for a name
        // that is not there reads the whole folder.
        strFinal = nTry == 0 ? JoinPath(m_strDirectory, strName) : MakeUniquePath(m_strDirectory, strName);
        if (onChosen)
            onChosen(strFinal);
        // Without MOVEFILE_REPLACE_EXISTING: a name taken meanwhile fails here.
        if (MoveFileExW(strTemp.c_str(), WidePath(strFinal).c_str(), dwFlags)) {
            CloseHandle(m_hFile);  // nothing is buffered in a handle; the data is on disk
            m_hFile = nullptr;
            return true;
        }
        const DWORD dwError = GetLastError();
        if (!NameTaken(dwError)) {
            errno = ErrnoOf(dwError);
            return false;
        }
        if (m_rule != NameRule::kNextFree) {
            errno = EEXIST;
            return false;
        }
    }
    return false;
}

#else  // POSIX

bool CInputFile::Open(const CString& strPath)
{
    Close();
    // Non-blocking, so that opening a FIFO without a writer returns at once.
    int fd = open(strPath, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || fcntl(fd, F_SETFL, O_RDONLY) != 0) {
        close(fd);
        errno = EINVAL;
        return false;
    }
    m_nSize = uint64_t(st.st_size);
    m_nMode = unsigned(st.st_mode & 0777);
    m_pFile = fdopen(fd, "rb");
    if (!m_pFile) {
        close(fd);
        return false;
    }
    m_buffer.Attach(m_pFile);
    return true;
}

COutputFile::Opened COutputFile::OpenTemporary(unsigned nMode)
{
    int fd = open(m_strTemp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode_t(nMode & 0777));
    if (fd < 0)
        return errno == EEXIST ? Opened::kTaken : Opened::kFailed;
    struct stat st;
    // Our own descriptor outlives the stream: removal checks identity by
    // it after the stream's close has been checked.
    m_fd = fstat(fd, &st) == 0 ? dup(fd) : -1;
    if (m_fd < 0) {
        close(fd);
        unlink(m_strTemp);  // created a moment ago by this exclusive open
        return Opened::kFailed;
    }
    m_nDevice = uint64_t(st.st_dev);
    m_nInode = uint64_t(st.st_ino);
    m_pFile = fdopen(fd, "wb");
    if (!m_pFile) {
        close(fd);
        RemoveTemporary();
        return Opened::kFailed;
    }
    return Opened::kOpened;
}

bool COutputFile::RemoveTemporary()
{
    if (m_fd < 0)
        return true;
    struct stat st;
    bool bOk = true;
    // POSIX has no unlink by descriptor: unlink only while the name still
    // leads to our file. A name that leads elsewhere is someone else's.
    if (lstat(m_strTemp, &st) == 0 && uint64_t(st.st_dev) == m_nDevice && uint64_t(st.st_ino) == m_nInode)
        bOk = unlink(m_strTemp) == 0 || errno == ENOENT;
    bOk = close(m_fd) == 0 && bOk;
    m_fd = -1;
    return bOk;
}

namespace {

// RENAME_NOREPLACE where the file system has it; elsewhere link and unlink,
// which never replace either. 0, or the errno of the failure.
int RenameNoReplace(const char* pszFrom, const char* pszTo, bool& bLinked)
{
    bLinked = false;
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, pszFrom, AT_FDCWD, pszTo, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
#endif
    if (link(pszFrom, pszTo) != 0)
        return errno;
    bLinked = true;
    return 0;
}

}  // namespace

bool COutputFile::GiveName(const CString& strName, CString& strFinal,
                           const std::function<void(const CString&)>& onChosen)
{
    if (fsync(m_fd) != 0)
        return false;
    for (int nTry = 0; nTry < 1000; ++nTry) {
        // The wanted name is tried without a look first: a taken one fails
        // the move itself, and on some systems (Wine) every look for a name
        // that is not there reads the whole folder.
        strFinal = nTry == 0 ? JoinPath(m_strDirectory, strName) : MakeUniquePath(m_strDirectory, strName);
        if (onChosen)
            onChosen(strFinal);
        bool bLinked = false;
        const int nError = m_rule == NameRule::kReplacing ? (rename(m_strTemp, strFinal) == 0 ? 0 : errno)
                                                          : RenameNoReplace(m_strTemp, strFinal, bLinked);
        if (nError == EEXIST && m_rule == NameRule::kNextFree)
            continue;
        if (nError != 0) {
            errno = nError;
            return false;
        }
        // After a link the file has two names; the temporary one must go.
        if (bLinked)
            m_bLeftBehind = !RemoveTemporary();
        if (m_fd >= 0)
            close(m_fd);  // a duplicate with nothing pending: the data is on disk
        m_fd = -1;
        // The folder is not synced: a power loss may still take the new name
        // back to the temporary one, but never leaves a short file under it,
        // and a sync per file would double the cost of many small files.
        return true;
    }
    return false;
}

#endif

bool COutputFile::Create(const CString& strDirectory, unsigned nMode)
{
    m_strDirectory = strDirectory;
    for (int nTry = 0; nTry < kCreateTries; ++nTry) {
        m_strTemp = strDirectory + kPathSeparator + TemporaryName();
        const Opened opened = OpenTemporary(nMode);
        if (opened == Opened::kTaken)
            continue;
        if (opened == Opened::kFailed)
            return false;
        m_buffer.Attach(m_pFile);
        return true;
    }
    return false;
}

int COutputFile::Finish(const CString& strName, CString& strFinal,
                        const std::function<void(const CString&)>& onChosen)
{
    if (!m_pFile)
        return WR_WRITE_ERROR;
    bool bOk = std::fflush(m_pFile) == 0;
    bOk = std::fclose(m_pFile) == 0 && bOk;
    m_pFile = nullptr;
    if (!bOk || !GiveName(strName, strFinal, onChosen)) {
        const int nErrno = errno;  // the reason, for the message
        Discard();
        errno = nErrno;
        return WR_WRITE_ERROR;
    }
    return WR_OK;
}

bool COutputFile::Discard()
{
    if (m_pFile) {
        std::fclose(m_pFile);  // the contents are being thrown away
        m_pFile = nullptr;
    }
    if (!RemoveTemporary())
        m_bLeftBehind = true;
    return !m_bLeftBehind;
}
