#include "PipelineRunner.h"

#include "cipher/Methods.h"
#include "base/WorkQueue.h"
#include "container/FileProcessor.h"

const char kPassword[] = "correct horse";

namespace {

enum class Op { kEncrypt, kDecrypt, kVerify };

Outcome RunOp(Op op, const CString& strSource, const CString& strDest, int nEncType, const char* pszPassword,
              bool bCancel)
{
    CWorkItem item;
    item.m_strSource = strSource;
    item.m_strDest = strDest;
    item.m_strPassword = pszPassword;
    item.m_bEncrypt = op == Op::kEncrypt;
    item.m_bCancel = bCancel;
    item.m_nEncType = nEncType;
    Outcome outcome;
    CFileProcessor processor;
    bool bMethod = WithCipher(nEncType, [&](CCipher& cipher) {
        outcome.nResult = op == Op::kVerify ? processor.Verify(item, cipher) : processor.Run(item, cipher);
    });
    EXPECT_TRUE(bMethod);
    outcome.strDest = item.m_strDest;
    outcome.nPercent = item.m_nPercent;
    outcome.nKept = item.m_nKept;
    outcome.fault = item.m_v2Fault;
    return outcome;
}

}  // namespace

Outcome RunEncrypt(const CString& strSource, const CString& strWanted, int nEncType, const char* pszPassword,
                   bool bCancel)
{
    return RunOp(Op::kEncrypt, strSource, strWanted, nEncType, pszPassword, bCancel);
}

Outcome RunDecrypt(const CString& strContainer, int nEncType, const char* pszPassword, bool bCancel)
{
    return RunOp(Op::kDecrypt, strContainer, strContainer, nEncType, pszPassword, bCancel);
}

Outcome RunVerify(const CString& strContainer, int nEncType, const char* pszPassword)
{
    return RunOp(Op::kVerify, strContainer, strContainer, nEncType, pszPassword, false);
}

Outcome RunWith(CCipher& cipher, bool bEncrypt, const CString& strSource, const CString& strDest,
                const char* pszPassword)
{
    CWorkItem item;
    item.m_strSource = strSource;
    item.m_strDest = strDest;
    item.m_strPassword = pszPassword;
    item.m_bEncrypt = bEncrypt;
    CFileProcessor processor;
    Outcome outcome;
    outcome.nResult = processor.Run(item, cipher);
    outcome.strDest = item.m_strDest;
    outcome.nPercent = item.m_nPercent;
    outcome.nKept = item.m_nKept;
    return outcome;
}

const char* MethodName(int nEncType)
{
    static const char* const kNames[] = {"Sapphire", "Des", "DesCbc", "Blowfish"};
    return nEncType >= 0 && nEncType < 4 ? kNames[nEncType] : "None";
}

CPipelineThreads::CPipelineThreads(int nThreads) { SetPipelineThreads(nThreads); }

CPipelineThreads::~CPipelineThreads() { SetPipelineThreads(0); }
