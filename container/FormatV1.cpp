#include "container/FormatV1.h"

#include <cstring>
#include <new>

#include <zlib.h>

#include "base/FileGuards.h"
#include "base/ResultCodes.h"
#include "base/SecureBuffer.h"
#include "container/StoredName.h"
#include "framework/afxconv.h"

const uint8_t kContainerMagic[4] = {'V', 'X', 'J', '1'};

void CFieldEncryptor::ResetTo(const CFieldEncryptor& keyed)
{
    m_state.CopyFrom(keyed.m_state);
}

void CFieldDecryptor::ResetTo(const CFieldDecryptor& keyed)
{
    m_state.CopyFrom(keyed.m_state);
}

bool KeyLegacyCipher(const CString& strPassword, CCipher& cipher, bool bReading, int nForm)
{
    CString strFirst, strSecond, strText;
    CWipeOnExit wipeFirst(strFirst), wipeSecond(strSecond), wipeText(strText);
    // The key ends at the first NUL: "\0secret" would be the empty password.
    if (std::strlen(strPassword) != size_t(strPassword.GetLength()))
        return false;
    // Bytes that are not UTF-8 (the tool keeps a password file's bytes as
    // they came) are text of the legacy code page to these methods.
    strText = LegacyOrUtf8ToUtf8(strPassword, GetLegacyCodePage());
    GetPasswordForms(strText, GetLegacyCodePage(), bReading, strFirst, strSecond);
    const CString& strForm = nForm == 0 ? strFirst : strSecond;
    if (strForm.IsEmpty())
        return false;
    cipher.GetKey()->SetPassword(strForm);
    cipher.Prepare();
    return true;
}

int WriteProtected(const uint8_t* pData, uint32_t nCount, CCipher& cipher, CByteSink& out)
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
        return out.Write(buffer.Data(), nCount) ? WR_OK : WR_WRITE_ERROR;
    } catch (const std::bad_alloc&) {
        return WR_NO_MEMORY;
    }
}

int WriteProtected(const uint8_t* pData, uint32_t nCount, const CFieldEncryptor& keyed, CFieldEncryptor& scratch,
                   CByteSink& out)
{
    uint8_t abField[16];
    if (nCount > sizeof abField)
        return WR_WRITE_ERROR;
    std::memcpy(abField, pData, nCount);
    scratch.ResetTo(keyed);
    scratch.ProcessString(abField, nCount);
    const bool bWritten = out.Write(abField, nCount);
    SecureZero(abField, sizeof abField);
    return bWritten ? WR_OK : WR_WRITE_ERROR;
}

int ReadProtected(uint8_t* pBuffer, uint32_t nCount, CCipher& cipher, CByteSource& in)
{
    if (ReadFull(in, pBuffer, nCount) < nCount)
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

int ReadProtected(uint8_t* pBuffer, uint32_t nCount, const CFieldDecryptor& keyed, CFieldDecryptor& scratch,
                  CByteSource& in)
{
    if (ReadFull(in, pBuffer, nCount) < nCount)
        return WR_READ_ERROR;
    scratch.ResetTo(keyed);
    scratch.ProcessString(pBuffer, nCount);
    return WR_OK;
}

static uint32_t NameCheck(const uint8_t* pName, uint32_t nLength)
{
    return uint32_t(crc32(crc32(0L, Z_NULL, 0), pName, nLength));
}

int WriteNameHeader(const CString& strName, CByteSink& out, CCipher& cipher, uint32_t& nWritten)
{
    nWritten = 0;
    const uint32_t nLength = uint32_t(strName.GetLength());
    const uint8_t* pName = reinterpret_cast<const uint8_t*>(strName.GetString());

    const uint8_t abLength[2] = {uint8_t(nLength), uint8_t(nLength >> 8)};
    int nResult = WriteProtected(abLength, 2, cipher, out);
    if (nResult != WR_OK)
        return nResult;
    nWritten += 2;

    const uint32_t nCheck = NameCheck(pName, nLength);
    const uint8_t abCheck[4] = {uint8_t(nCheck), uint8_t(nCheck >> 8), uint8_t(nCheck >> 16),
                                uint8_t(nCheck >> 24)};
    if (!out.Write(abCheck, 4))
        return WR_WRITE_ERROR;
    nWritten += 4;

    nResult = WriteProtected(pName, nLength, cipher, out);
    nWritten += nLength;
    return nResult;
}

int ReadNameHeader(CString& strName, CByteSource& in, CCipher& cipher, uint32_t& nRead)
{
    nRead = 0;
    strName.Empty();

    uint8_t abLength[2];
    int nResult = ReadProtected(abLength, 2, cipher, in);
    if (nResult != WR_OK)
        return nResult;
    nRead += 2;

    const int16_t nLength = int16_t(uint16_t(abLength[0] | (abLength[1] << 8)));
    if (nLength < 0 || nLength > kV1MaxNameLength)
        return WR_DECRYPT_ERROR;

    uint8_t abCheck[4];
    if (ReadFull(in, abCheck, 4) < 4)
        return WR_READ_ERROR;
    nRead += 4;
    const uint32_t nCheck = uint32_t(abCheck[0]) | uint32_t(abCheck[1]) << 8 |
                            uint32_t(abCheck[2]) << 16 | uint32_t(abCheck[3]) << 24;

    try {
        CSecureBuffer name(uint32_t(nLength) + 1);
        std::memset(name.Data(), 0, name.Size());
        nResult = ReadProtected(name.Data(), uint32_t(nLength), cipher, in);
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

int WriteProtected(const uint8_t* pData, uint32_t nCount, CCipher& cipher, FILE* pOut)
{
    CFileSink out(pOut);
    return WriteProtected(pData, nCount, cipher, out);
}

int ReadProtected(uint8_t* pBuffer, uint32_t nCount, CCipher& cipher, FILE* pIn)
{
    CFileSource in(pIn);
    return ReadProtected(pBuffer, nCount, cipher, in);
}

int WriteNameHeader(const CString& strName, FILE* pOut, CCipher& cipher, uint32_t& nWritten)
{
    CFileSink out(pOut);
    return WriteNameHeader(strName, out, cipher, nWritten);
}

int ReadNameHeader(CString& strName, FILE* pIn, CCipher& cipher, uint32_t& nRead)
{
    CFileSource in(pIn);
    return ReadNameHeader(strName, in, cipher, nRead);
}
