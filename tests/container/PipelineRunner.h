// Runs CFileProcessor on the calling thread the way the worker does.
#pragma once

#include "cipher/Methods.h"

#include "TestFiles.h"
#include "container/WorkItem.h"
#include "cipher/Cipher.h"

struct Outcome {
    int nResult = -1;
    CString strDest;  // the item's m_strDest afterwards
    int nPercent = -1;
    int nKept = -1;   // the item's m_nKept afterwards
    CV2Fault fault;   // the item's m_v2Fault afterwards
};

extern const char kPassword[];

Outcome RunEncrypt(const CString& strSource, const CString& strWanted, int nEncType,
                   const char* pszPassword = kPassword, bool bCancel = false);
Outcome RunDecrypt(const CString& strContainer, int nEncType, const char* pszPassword = kPassword,
                   bool bCancel = false);
Outcome RunVerify(const CString& strContainer, int nEncType, const char* pszPassword = kPassword);
// With a cipher of the caller's making.
Outcome RunWith(CCipher& cipher, bool bEncrypt, const CString& strSource, const CString& strDest,
                const char* pszPassword = kPassword);

// A method whose engines never got built: Process always fails, as the
// core's stand-in for the authenticated method's cipher does.
using CBrokenCipher = CNoCipher;

const char* MethodName(int nEncType);

// The process-wide thread count for one scope; back to every hardware thread after.
class CPipelineThreads {
public:
    explicit CPipelineThreads(int nThreads);
    ~CPipelineThreads();
    CPipelineThreads(const CPipelineThreads&) = delete;
    CPipelineThreads& operator=(const CPipelineThreads&) = delete;
};
