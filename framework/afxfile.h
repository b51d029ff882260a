// The file system by UTF-8 path. On Windows every call goes through the wide
// functions with the long-path form, so neither the code page nor MAX_PATH
// limits which files can be read or written.
#pragma once

#include <cstdio>

#include "framework/afxstr.h"

enum class FileKind { kMissing, kFile, kDirectory, kOther };

FileKind AfxGetFileKind(const CString& strPath);
// A C stream, as fopen with the same mode.
FILE* AfxOpenFile(const CString& strPath, const char* pszMode);
// A new file for writing in binary mode; fails (errno EEXIST) when the name
// is taken, so nothing is ever overwritten.
FILE* AfxCreateNewFile(const CString& strPath);
// 0 on success, as remove.
int AfxRemoveFile(const CString& strPath);
