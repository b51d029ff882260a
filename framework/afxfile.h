// The file system by UTF-8 path. On Windows every call goes through the wide
// functions with the long-path form, so neither the code page nor MAX_PATH
// limits which files can be read or written.
#pragma once

#include <cstdint>
#include <cstdio>

#include "framework/afxstr.h"

enum class FileKind { kMissing, kFile, kDirectory, kOther };

FileKind AfxGetFileKind(const CString& strPath);
// The size of a regular file, from its status alone; false for anything else.
bool AfxGetFileSize(const CString& strPath, uint64_t& nSize);
// A C stream, as fopen with the same mode.
FILE* AfxOpenFile(const CString& strPath, const char* pszMode);
