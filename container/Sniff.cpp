#include "container/Sniff.h"

#include <cerrno>
#include <cstring>

#include "base/ByteStreams.h"
#include "base/FileStreams.h"
#include "base/ResultCodes.h"
#include "cipher/Methods.h"
#include "container/ContainerV1.h"
#include "container/FormatV2.h"
#include "container/StoredName.h"
#include "framework/afxconv.h"

CSniff SniffContainer(const uint8_t* p, size_t n)
{
    CSniff sniff;
    if (n < sizeof kContainerMagic)
        sniff.nResult = WR_READ_ERROR;
    else if (HasMagicV2(p, n))
        sniff.nVersion = 2;
    else if (std::memcmp(p, kContainerMagic, sizeof kContainerMagic) == 0)
        sniff.nVersion = 1;
    else
        sniff.nResult = WR_BAD_FORMAT;
    return sniff;
}

CSniff SniffContainer(const CString& strPath, std::vector<uint8_t>* pLeading)
{
    std::vector<uint8_t> local;
    std::vector<uint8_t>& bytes = pLeading ? *pLeading : local;
    CInputFile file;
    errno = 0;
    if (!file.Open(strPath)) {
        CSniff sniff;
        sniff.nResult = WR_READ_ERROR;
        sniff.nErrno = errno;
        bytes.clear();
        return sniff;
    }
    bytes.resize(pLeading ? kSniffBytes : sizeof kContainerMagic);
    CFileSource in(file.Get());
    bytes.resize(ReadFull(in, bytes.data(), bytes.size()));
    CSniff sniff = SniffContainer(bytes.data(), bytes.size());
    if (in.Failed()) {
        sniff.nErrno = errno;
        if (sniff.nVersion == 0)
            sniff.nResult = WR_READ_ERROR;
    }
    return sniff;
}

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

int FindLegacyMethod(const uint8_t* p, size_t n, const CString& strPassword, int& nResult, CContainerFacts& facts,
                     int nFirst)
{
    nResult = WR_DECRYPT_ERROR;
    const bool bFirst = nFirst >= 0 && nFirst < kMethodCount;
    for (int nTurn = bFirst ? -1 : 0; nTurn < kMethodCount; ++nTurn) {
        if (bFirst && nTurn == nFirst)
            continue;  // tried first
        const int nEncType = nTurn < 0 ? nFirst : nTurn;
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
