#include "container/Sniff.h"

#include "base/ResultCodes.h"
#include "cipher/Methods.h"
#include "container/ContainerV1.h"
#include "container/StoredName.h"
#include "framework/afxconv.h"

namespace {

// One method on the leading bytes: the header, then the first block.
int TryLegacyMethod(CCipher& cipher, const uint8_t* p, size_t n, const CString& strPassword,
                    CContainerFacts& facts)
{
    if (!KeyLegacyCipher(strPassword, cipher, true, 0))
        return WR_DECRYPT_ERROR;
    CV1Buffers buffers;
    CContainerV1Reader reader(cipher, buffers, 1);
    CMemorySource in(p, n);
    CString strStored;
    const int nResult = reader.Begin(in, strPassword, strStored);
    if (nResult != WR_OK)
        return nResult;
    facts.strName = DecodeStoredName(strStored, GetLegacyCodePage());
    facts.bHeaderPassed = true;
    const int nBlock = reader.ReadFirstBlock();
    facts.nBlockOffset = reader.BlockOffset();
    facts.nConsumed = reader.Consumed();
    return nBlock;
}

}  // namespace

int FindLegacyMethod(const uint8_t* p, size_t n, const CString& strPassword, int& nResult, CContainerFacts& facts)
{
    nResult = WR_DECRYPT_ERROR;
    for (int nEncType = 0; nEncType < kMethodCount; ++nEncType) {
        CContainerFacts tried;
        int nTry = WR_DECRYPT_ERROR;
        WithCipher(nEncType, [&](CCipher& cipher) { nTry = TryLegacyMethod(cipher, p, n, strPassword, tried); });
        if (nTry == WR_OK)
            return nEncType;
        // Not a container, or too short to be one: no method will do better.
        if (!tried.bHeaderPassed && nTry != WR_DECRYPT_ERROR) {
            nResult = nTry;
            return -1;
        }
        // A header that passed makes this the container's key length: its
        // first block failing for every method means damage, not the password.
        if (tried.bHeaderPassed) {
            nResult = nTry;
            facts = tried;
        }
    }
    return -1;
}
