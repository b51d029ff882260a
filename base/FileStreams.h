// The pipelines' files. An input is opened only when it is a regular file,
// without ever blocking on a FIFO or device. An output is written to a hidden
// temporary file in its folder and appears under its final name whole, or
// not at all: a crash at any moment leaves at most a ".partial" file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>

#include "framework/afxdefs.h"
#include "framework/afxstr.h"

// Room for 16 chunks per system call instead of one.
const size_t kStreamBufferSize = 64 * 1024;

// The start and the ending of a temporary output's name; the whole name is
// ".kestrin-XXXXXXXX.partial", which no container or restored file gets.
extern const char kTemporaryPrefix[];
extern const char kPartialSuffix[];

// True for a file name (no folder) made as a temporary output's: what a
// crash left behind, which a walk over a folder must not take for a file of
// the user's.
bool IsTemporaryName(const char* pszFileName);

// How a finished output is named: the first free name for the wanted one
// (the product's rule), that name or nothing (an output the user named, which
// must not become another), or that name even when taken, the old entry
// replaced in one step (the user asked to replace it).
enum class NameRule { kNextFree, kExactly, kReplacing };

// A stdio buffer of our own: the C library's would keep plaintext in freed
// memory. Wiped when the stream is done with it.
class CStreamBuffer {
public:
    CStreamBuffer() : m_pBytes(new char[kStreamBufferSize]) {}
    ~CStreamBuffer();
    CStreamBuffer(const CStreamBuffer&) = delete;
    CStreamBuffer& operator=(const CStreamBuffer&) = delete;
    void Attach(FILE* pFile);

private:
    std::unique_ptr<char[]> m_pBytes;
};

class CInputFile {
public:
    CInputFile() = default;
    ~CInputFile() { Close(); }
    CInputFile(const CInputFile&) = delete;
    CInputFile& operator=(const CInputFile&) = delete;

    // False when the path cannot be opened or is not a regular file (a FIFO,
    // socket, device or folder is refused without waiting for a peer).
    bool Open(const CString& strPath);
    FILE* Get() const { return m_pFile; }
    uint64_t Size() const { return m_nSize; }
    // The permission bits an output made from this file gets (POSIX).
    unsigned Mode() const { return m_nMode; }

private:
    void Close();

    FILE* m_pFile = nullptr;
    uint64_t m_nSize = 0;
    unsigned m_nMode = 0600;
    CStreamBuffer m_buffer;
};

class COutputFile {
public:
    COutputFile() = default;
    // An output neither finished nor discarded is discarded.
    ~COutputFile() { Discard(); }
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;

    // Creates the temporary file in strDirectory, exclusively. nMode: the
    // permission bits (POSIX; the umask still applies). False on failure.
    bool Create(const CString& strDirectory, unsigned nMode);
    FILE* Get() const { return m_pFile; }
    const CString& TemporaryPath() const { return m_strTemp; }

    // Writes everything out, flushes it to the disk and names the file by
    // the rule (SetNameRule; by default the first free name for strName in
    // its folder, never replacing an entry: a name taken meanwhile moves on
    // to the next number). onChosen hears each name before it is tried.
    // Returns WR_OK, or WR_WRITE_ERROR after the temporary file has been
    // discarded (errno EEXIST: kExactly found the name taken); strFinal
    // holds the name.
    int Finish(const CString& strName, CString& strFinal,
               const std::function<void(const CString&)>& onChosen = nullptr);
    // Closes and removes the temporary file, by the identity of the open
    // file, never by a path someone may have re-created. True when nothing
    // of ours is left on disk.
    bool Discard();
    void SetNameRule(NameRule rule) { m_rule = rule; }
    // True after a removal failed: the temporary file is still there.
    bool LeftBehind() const { return m_bLeftBehind; }

private:
    bool GiveName(const CString& strName, CString& strFinal,
                  const std::function<void(const CString&)>& onChosen);
    bool RemoveTemporary();
    // Opens m_strTemp, which must not exist yet, as m_pFile.
    enum class Opened { kOpened, kTaken, kFailed };
    Opened OpenTemporary(unsigned nMode);

    FILE* m_pFile = nullptr;
    CString m_strDirectory;
    CString m_strTemp;
#ifdef _WIN32
    HANDLE m_hFile = nullptr;
#else
    int m_fd = -1;
    uint64_t m_nDevice = 0, m_nInode = 0;
#endif
    bool m_bLeftBehind = false;
    NameRule m_rule = NameRule::kNextFree;
    CStreamBuffer m_buffer;
};

#ifdef _WIN32
// A UTF-8 path for the wide functions, in the long form where it needs it.
std::wstring WidePath(const CString& strPath);
#endif
