// Runs CFileProcessor on the calling thread the way the worker does.
#pragma once

#include "TestFiles.h"
#include "batch/WorkItem.h"
#include "cipher/Cipher.h"

struct Outcome {
    int nResult = -1;
    CString strDest;  // the item's m_strDest afterwards
    int nPercent = -1;
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

// A method whose engines never got built: Process always fails.
class CBrokenCipher : public CCipher {
public:
    int Prepare() override { return 1; }
    CCipherKey* GetKey() override { return &m_key; }
    int BlockSize() const override { return 1; }
    int Process(uint8_t*, uint32_t, int) override { return 0; }

private:
    CCipherKey16 m_key;
};

const char* MethodName(int nEncType);

// The process-wide thread count for one scope; back to every hardware thread after.
class CPipelineThreads {
public:
    explicit CPipelineThreads(int nThreads);
    ~CPipelineThreads();
    CPipelineThreads(const CPipelineThreads&) = delete;
    CPipelineThreads& operator=(const CPipelineThreads&) = delete;
};
