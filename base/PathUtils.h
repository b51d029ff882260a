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
// All bits set when there is no regular file at the path.
uint64_t GetFileSize64(const CString& strPath);
CString GetModulePath();

// strName in strDirectory, unchecked.
CString JoinPath(const CString& strDirectory, const CString& strName);

// A path in strDirectory for strName that names no existing entry. A taken
// name without any '.' is numbered at its end: README, README1, README2. A
// number that would make the name too long for a folder entry takes the
// place of the stem's last characters.
CString MakeUniquePath(const CString& strDirectory, const CString& strName);

// The container name the encrypt command proposes for a source: report.txt
// gives report._xt, a.b gives a._. A file name without any '.' gets "._"
// appended (README gives README._), so the proposal stays in the source's
// folder and differs from the source; a name that would then be too long
// for a folder entry loses the last characters of its stem.
CString MakeEncryptedName(const CString& strSource);

// The longest name of one folder entry, and a name's length as the system
// counts it (bytes on POSIX, UTF-16 units on Windows).
const int kMaxFileName = 255;
int FileNameLength(const CString& strName);

// strName (UTF-8) as it is when fnLength finds it within nLimit, else with
// characters taken off the end of its stem, the extension kept when there
// is room for it, until it fits.
CString ShortenName(const CString& strName, int nLimit, const std::function<int(const CString&)>& fnLength);

// A stored file name reduced to something safe to create in the container's
// folder: its last component, without control characters (NUL included).
// On Windows also before any ':' stream suffix (a leading drive letter is
// dropped), without trailing dots or blanks, and a device name such as CON
// or com1.txt prefixed with '_'. On POSIX, where those are ordinary names,
// only "." and ".." are refused. When nothing is left, the fallback: the
// container's own file name plus ".out". A name longer than the system
// takes (255 bytes on POSIX, 255 UTF-16 units on Windows) is shortened by
// ShortenName, and one in the form of our temporary files gets a leading '_'.
CString MakeSafeFileName(const CString& strStored, const CString& strContainerPath);
