#include "support/VersionInfo.h"

#include <cstring>
#include <new>
#include <string>

#include "framework/afxconv.h"

CVersionInfo::CVersionInfo() : m_pData(nullptr), m_dwLangCharset(0) {}

CVersionInfo::~CVersionInfo()
{
    Free();
}

void CVersionInfo::Free()
{
    delete[] m_pData;
    m_pData = nullptr;
    m_dwLangCharset = 0;
}

bool CVersionInfo::Load(const char* pszPath)
{
    Free();  // a second Load must not leak the first block
    DWORD dwHandle = 0;
    // The path may hold any character and exceed MAX_PATH.
    const std::wstring wPath = Win32Path(pszPath ? pszPath : "");
    DWORD cb = GetFileVersionInfoSizeW(wPath.c_str(), &dwHandle);
    if (cb == 0)
        return false;
    m_pData = new (std::nothrow) BYTE[cb];
    if (!m_pData)
        return false;
    void* pTable = nullptr;
    UINT cbTable = 0;
    if (!GetFileVersionInfoW(wPath.c_str(), dwHandle, cb, m_pData) ||
        !VerQueryValueA(m_pData, "\\VarFileInfo\\Translation", &pTable, &cbTable) || !pTable ||
        cbTable < 2 * sizeof(WORD)) {
        Free();
        return false;
    }
    const WORD* pPair = static_cast<const WORD*>(pTable);
    m_dwLangCharset = (DWORD(pPair[0]) << 16) | pPair[1];
    return true;
}

void CVersionInfo::GetString(CString& strValue, const char* pszName) const
{
    strValue.Empty();
    if (!m_pData)
        return;
    CString subBlock;
    subBlock.Format("\\StringFileInfo\\%08lx\\%s", static_cast<unsigned long>(m_dwLangCharset), pszName);
    void* pValue = nullptr;
    UINT cch = 0;
    if (VerQueryValueA(m_pData, subBlock, &pValue, &cch) && pValue)
        strValue = CString(static_cast<const char*>(pValue), int(strnlen(static_cast<const char*>(pValue), cch)));
}

bool CVersionInfo::GetFixedInfo(VS_FIXEDFILEINFO& info) const
{
    if (!m_pData)
        return false;
    void* pFixed = nullptr;
    UINT cb = 0;
    if (!VerQueryValueA(m_pData, "\\", &pFixed, &cb) || !pFixed || cb < sizeof(VS_FIXEDFILEINFO))
        return false;
    std::memcpy(&info, pFixed, sizeof(info));
    return true;
}

void CVersionInfo::GetFileVersion(CString& strVersion) const
{
    strVersion.Empty();
    VS_FIXEDFILEINFO info;
    if (!GetFixedInfo(info))
        return;
    strVersion.Format("%u.%u.%u.%u", unsigned(HIWORD(info.dwFileVersionMS)), unsigned(LOWORD(info.dwFileVersionMS)),
                      unsigned(HIWORD(info.dwFileVersionLS)), unsigned(LOWORD(info.dwFileVersionLS)));
}
