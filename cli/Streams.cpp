#include "cli/Streams.h"

#include <algorithm>
#include <cstring>
#include <new>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "framework/afxconv.h"
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

void UseBinaryStdio()
{
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
}

#ifdef _WIN32
namespace {

// The volume and file index of an open file: what Windows has for a device
// and inode number, the same whichever name or handle reaches the file.
bool GetFileIdentity(HANDLE hFile, BY_HANDLE_FILE_INFORMATION& info)
{
    return hFile != INVALID_HANDLE_VALUE && GetFileType(hFile) == FILE_TYPE_DISK &&
           GetFileInformationByHandle(hFile, &info);
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace
#endif

bool StdoutIsStdin()
{
#ifdef _WIN32
    BY_HANDLE_FILE_INFORMATION out, in;
    return GetFileIdentity(GetStdHandle(STD_OUTPUT_HANDLE), out) &&
           GetFileIdentity(GetStdHandle(STD_INPUT_HANDLE), in) && SameFile(out, in);
#else
    struct stat out, in;
    return fstat(STDOUT_FILENO, &out) == 0 && S_ISREG(out.st_mode) && fstat(STDIN_FILENO, &in) == 0 &&
           out.st_dev == in.st_dev && out.st_ino == in.st_ino;
#endif
}

bool StdoutIsFile(const char* pszPath)
{
#ifdef _WIN32
    BY_HANDLE_FILE_INFORMATION out, in;
    if (!GetFileIdentity(GetStdHandle(STD_OUTPUT_HANDLE), out))
        return false;
    // No access asked and every sharing allowed: a file open for writing
    // elsewhere (our own standard output among them) still opens.
    HANDLE hIn = CreateFileW(Win32Path(pszPath).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const bool bSame = GetFileIdentity(hIn, in) && SameFile(out, in);
    if (hIn != INVALID_HANDLE_VALUE)
        CloseHandle(hIn);
    return bSame;
#else
    struct stat out, in;
    return fstat(STDOUT_FILENO, &out) == 0 && S_ISREG(out.st_mode) && stat(pszPath, &in) == 0 &&
           out.st_dev == in.st_dev && out.st_ino == in.st_ino;
#endif
}

std::vector<unsigned char> ReadAhead(size_t nMax)
{
    std::vector<unsigned char> bytes(nMax);
    bytes.resize(std::fread(bytes.data(), 1, nMax, stdin));
    return bytes;
}

namespace {

#ifndef __GLIBC__
// A temporary file holding the bytes and the rest of standard input,
// rewound; the system removes it on close.
FILE* SpoolToTempFile(const std::vector<unsigned char>& bytes)
{
    FILE* pFile = std::tmpfile();
    if (!pFile)
        return nullptr;
    bool bOk = std::fwrite(bytes.data(), 1, bytes.size(), pFile) == bytes.size();
    char ach[65536];
    size_t n;
    while (bOk && (n = std::fread(ach, 1, sizeof ach, stdin)) > 0)
        bOk = std::fwrite(ach, 1, n, pFile) == n;
    if (!bOk || std::ferror(stdin) || std::fseek(pFile, 0, SEEK_SET) != 0) {
        std::fclose(pFile);
        return nullptr;
    }
    return pFile;
}
#else
struct Replay {
    std::vector<unsigned char> ahead;
    size_t nNext = 0;
};

ssize_t ReplayRead(void* pCookie, char* pBuffer, size_t nWanted)
{
    Replay* pReplay = static_cast<Replay*>(pCookie);
    if (pReplay->nNext < pReplay->ahead.size()) {
        const size_t n = std::min(nWanted, pReplay->ahead.size() - pReplay->nNext);
        std::memcpy(pBuffer, pReplay->ahead.data() + pReplay->nNext, n);
        pReplay->nNext += n;
        return ssize_t(n);
    }
    const size_t n = std::fread(pBuffer, 1, nWanted, stdin);
    return n == 0 && std::ferror(stdin) ? -1 : ssize_t(n);
}

int ReplayClose(void* pCookie)
{
    delete static_cast<Replay*>(pCookie);
    return 0;
}
#endif

}  // namespace

FILE* OpenReplayedStdin(const std::vector<unsigned char>& ahead)
{
#ifdef __GLIBC__
    // Streams on: nothing of a pipe of any length is kept on disk.
    Replay* pReplay = new (std::nothrow) Replay;
    if (!pReplay)
        return nullptr;
    pReplay->ahead = ahead;
    cookie_io_functions_t functions = {ReplayRead, nullptr, nullptr, ReplayClose};
    FILE* pFile = fopencookie(pReplay, "rb", functions);
    if (!pFile)
        delete pReplay;
    return pFile;
#else
    return SpoolToTempFile(ahead);
#endif
}
