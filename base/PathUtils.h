// Path splitting, file tests and output naming. Paths are narrow strings;
// on Windows "\" and "/" both separate folders, on POSIX only "/" does.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>

#include "framework/afxstr.h"

// The folder separator this system writes when it joins a path.
#ifdef _WIN32
const char kPathSeparator = '\\';
#else
const char kPathSeparator = '/';
#endif

CString GetFileNamePart(const CString& strPath);
CString GetDirectoryPart(const CString& strPath);
CString GetExtensionPart(const CString& strPath);
CString GetStemPart(const CString& strPath);

// The folder outputs for strPath go to: its directory part, or "." for a
// bare file name (the directory part alone would then name the root).
CString GetOutputDirectory(const CString& strPath);

bool PathExists(const CString& strPath);
bool IsRegularFile(const CString& strPath);
// Windows' read-only attribute, which guards a file against replacing there;
// always false on POSIX, where the folder's rights decide.
bool IsReadOnlyFile(const CString& strPath);
// All bits set when there is no regular file at the path.
uint64_t GetFileSize64(const CString& strPath);
CString GetModulePath();

// The longest file name (one path component) the system creates: 255
// UTF-16 units on Windows, 255 bytes elsewhere. NameLength measures in them.
const int kMaxNameLength = 255;
int NameLength(const CString& strName);

// strName with characters taken off the end of its stem until fnLength of
// the whole is at most nLimit; the extension is kept unless it alone takes
// half the room or more.
CString ShortenStem(const CString& strName, int nLimit, const std::function<int(const CString&)>& fnLength);

// strName in strDirectory, unchecked.
CString JoinPath(const CString& strDirectory, const CString& strName);

// A path in strDirectory for strName that names no existing entry. A taken
// name without any '.' is numbered at its end: README, README1, README2.
// When the number would make the name too long, the stem gives way to it.
CString MakeUniquePath(const CString& strDirectory, const CString& strName);

// The container name the encrypt command proposes for a source: report.txt
// gives report._xt, a.b gives a._. A file name without any '.' gets "._"
// appended (README gives README._), so the proposal stays in the source's
// folder and differs from the source.
CString MakeEncryptedName(const CString& strSource);

// The bytes of the UTF-8 character at p that a name must neither keep nor
// show as it is, 0 for any other: a C1 control (2), or a bidirectional
// embedding, override or isolate (3), with which "photo<RLO>gpj.exe" shows
// as "photoexe.jpg".
size_t HiddenCharBytes(const char* p, size_t nLeft);

// CON, NUL.txt, com1.tar.gz, "aux .c": on Windows the system's device names,
// which refer to the device whatever extension follows; ordinary names on
// POSIX.
bool IsDeviceName(const CString& strName);

// A stored file name reduced to something safe to create in the container's
// folder: its last component, without control characters (NUL included, C1
// and the bidirectional overrides too).
// On Windows also before any ':' stream suffix (a leading drive letter is
// dropped), without trailing dots or blanks, and a device name such as CON
// or com1.txt prefixed with '_'. On POSIX, where those are ordinary names,
// only "." and ".." are refused. A name longer than the system takes is
// shortened at the end of its stem. When nothing is left, the fallback: the
// container's own file name plus ".out". One in the form of our temporary
// files gets a leading '_'.
CString MakeSafeFileName(const CString& strStored, const CString& strContainerPath);
