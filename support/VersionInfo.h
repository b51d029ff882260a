// Reads a file's version-information block and answers from its first
// translation: a named string of the string table and the file version.
#pragma once

#ifdef _WIN32
#include "framework/afxdefs.h"
#include "framework/afxstr.h"

class CVersionInfo {
public:
    CVersionInfo();
    ~CVersionInfo();
    CVersionInfo(const CVersionInfo&) = delete;
    CVersionInfo& operator=(const CVersionInfo&) = delete;

    // True when the block and its translation table were read.
    bool Load(const char* pszPath);
    // strValue: the named string in the first translation, or empty.
    void GetString(CString& strValue, const char* pszName) const;
    bool GetFixedInfo(VS_FIXEDFILEINFO& info) const;
    // strVersion: "major.minor.build.revision" of the file version, or empty.
    void GetFileVersion(CString& strVersion) const;

    BYTE* m_pData;
    DWORD m_dwLangCharset;

private:
    void Free();
};
#endif
