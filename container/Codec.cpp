// The container's header fields: name length, name check, name, block headers.
#include <cstring>
#include <new>

#include "container/FileProcessor.h"
#include "base/SecureBuffer.h"
#include "cipher/Sapphire.h"

const uint8_t kContainerMagic[4] = {'V', 'X', 'J', '1'};

int CFileProcessor::WriteProtected(const uint8_t* pData, uint32_t nCount, CCipher& cipher, FILE* pOut)
{
    try {
        // The copy may hold the name: CSecureBuffer wipes it when it goes.
        CSecureBuffer buffer(nCount);
        if (nCount)
            std::memcpy(buffer.Data(), pData, nCount);
        const CCipherKey* pKey = cipher.GetKey();
        {
            CSapphireEncryptor encryptor(pKey->Data(), pKey->Length());
            encryptor.ProcessString(buffer.Data(), nCount);
        }
        return std::fwrite(buffer.Data(), 1, nCount, pOut) < nCount ? WR_WRITE_ERROR : WR_OK;
    } catch (const std::bad_alloc&) {
        return WR_NO_MEMORY;
    }
}

void CFieldEncryptor::ResetTo(const CFieldEncryptor& keyed)
{
    m_state.CopyFrom(keyed.m_state);
}

void CFieldDecryptor::ResetTo(const CFieldDecryptor& keyed)
{
    m_state.CopyFrom(keyed.m_state);
}

int CFileProcessor::WriteProtected(const uint8_t* pData, uint32_t nCount, const CFieldEncryptor& keyed,
                                   CFieldEncryptor& scratch, FILE* pOut)
{
    uint8_t abField[16];
    if (nCount > sizeof abField)
        return WR_WRITE_ERROR;
    std::memcpy(abField, pData, nCount);
    scratch.ResetTo(keyed);
    scratch.ProcessString(abField, nCount);
    const bool bShort = std::fwrite(abField, 1, nCount, pOut) < nCount;
    SecureZero(abField, sizeof abField);
    return bShort ? WR_WRITE_ERROR : WR_OK;
}

int CFileProcessor::ReadProtected(uint8_t* pBuffer, uint32_t nCount, CCipher& cipher, FILE* pIn)
{
    if (std::fread(pBuffer, 1, nCount, pIn) < nCount)
        return WR_READ_ERROR;
    try {
        const CCipherKey* pKey = cipher.GetKey();
        CSapphireDecryptor decryptor(pKey->Data(), pKey->Length());
        decryptor.ProcessString(pBuffer, nCount);
    } catch (const std::bad_alloc&) {
        return WR_NO_MEMORY;
    }
    return WR_OK;
}

int CFileProcessor::ReadProtected(uint8_t* pBuffer, uint32_t nCount, const CFieldDecryptor& keyed,
                                  CFieldDecryptor& scratch, FILE* pIn)
{
    if (std::fread(pBuffer, 1, nCount, pIn) < nCount)
        return WR_READ_ERROR;
    scratch.ResetTo(keyed);
    scratch.ProcessString(pBuffer, nCount);
    return WR_OK;
}

static uint32_t NameCheck(const uint8_t* pName, uint32_t nLength)
{
    return uint32_t(crc32(crc32(0L, Z_NULL, 0), pName, nLength));
}

int CFileProcessor::WriteNameHeader(const CString& strName, FILE* pOut, CCipher& cipher, uint32_t& nWritten)
{
    nWritten = 0;
    const uint32_t nLength = uint32_t(strName.GetLength());
    const uint8_t* pName = reinterpret_cast<const uint8_t*>(strName.GetString());

    const uint8_t abLength[2] = {uint8_t(nLength), uint8_t(nLength >> 8)};
    int nResult = WriteProtected(abLength, 2, cipher, pOut);
    if (nResult != WR_OK)
        return nResult;
    nWritten += 2;

    const uint32_t nCheck = NameCheck(pName, nLength);
    const uint8_t abCheck[4] = {uint8_t(nCheck), uint8_t(nCheck >> 8), uint8_t(nCheck >> 16),
                                uint8_t(nCheck >> 24)};
    if (std::fwrite(abCheck, 1, 4, pOut) < 4)
        return WR_WRITE_ERROR;
    nWritten += 4;

    nResult = WriteProtected(pName, nLength, cipher, pOut);
    nWritten += nLength;
    return nResult;
}

int CFileProcessor::ReadNameHeader(CString& strName, FILE* pIn, CCipher& cipher, uint32_t& nRead)
{
    nRead = 0;
    strName.Empty();

    uint8_t abLength[2];
    int nResult = ReadProtected(abLength, 2, cipher, pIn);
    if (nResult != WR_OK)
        return nResult;
    nRead += 2;

    const int16_t nLength = int16_t(uint16_t(abLength[0] | (abLength[1] << 8)));
    if (nLength < 0 || nLength > kMaxNameLength)
        return WR_DECRYPT_ERROR;

    uint8_t abCheck[4];
    if (std::fread(abCheck, 1, 4, pIn) < 4)
        return WR_READ_ERROR;
    nRead += 4;
    const uint32_t nCheck = uint32_t(abCheck[0]) | uint32_t(abCheck[1]) << 8 |
                            uint32_t(abCheck[2]) << 16 | uint32_t(abCheck[3]) << 24;

    try {
        CSecureBuffer name(uint32_t(nLength) + 1);
        std::memset(name.Data(), 0, name.Size());
        nResult = ReadProtected(name.Data(), uint32_t(nLength), cipher, pIn);
        if (nResult != WR_OK)
            return nResult;
        nRead += uint32_t(nLength);
        if (NameCheck(name.Data(), uint32_t(nLength)) != nCheck)
            return WR_DECRYPT_ERROR;
        strName = reinterpret_cast<const char*>(name.Data());
    } catch (const std::bad_alloc&) {
        return WR_NO_MEMORY;
    }
    return WR_OK;
}
