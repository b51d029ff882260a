#include "cipher/DesCbc.h"

#include <cstring>

#include "cipher/TryNew.h"

namespace {

uint32_t BlockBytes(const CBlockTransform* pCipher)
{
    const int n = pCipher->BlockSize();
    return n > 0 ? static_cast<uint32_t>(n) : 1u;
}

void InitRegister(CSecureBuffer& reg, const uint8_t* pIV)
{
    if (pIV)
        std::memcpy(reg.Data(), pIV, reg.Size());
    else
        std::memset(reg.Data(), 0, reg.Size());
}

// dst ^= src over n bytes; the 8-byte case (every DES block) a word at a time.
inline void XorInto(uint8_t* dst, const uint8_t* src, uint32_t n)
{
    if (n == 8) {
        uint64_t a, b;
        std::memcpy(&a, dst, 8);
        std::memcpy(&b, src, 8);
        a ^= b;
        std::memcpy(dst, &a, 8);
        return;
    }
    for (uint32_t i = 0; i < n; ++i)
        dst[i] ^= src[i];
}

}  // namespace

CCbcMode::CCbcMode(CBlockTransform* pCipher, const uint8_t* pIV)
    : m_pCipher(pCipher),
      m_nBlockSize(static_cast<int>(BlockBytes(pCipher))),
      m_register(BlockBytes(pCipher)),
      m_scratch(BlockBytes(pCipher))
{
    InitRegister(m_register, pIV);
    std::memset(m_scratch.Data(), 0, m_scratch.Size());
}

void CCbcEncryptor::ProcessBlock(const uint8_t* pIn, uint8_t* pOut)
{
    uint8_t* v = m_register.Data();
    XorInto(v, pIn, m_register.Size());
    m_pCipher->ProcessBlock(v);
    std::memcpy(pOut, v, m_register.Size());
}

void CCbcEncryptor::ProcessBlock(uint8_t* pBuf)
{
    ProcessBlock(pBuf, pBuf);
}

void CCbcDecryptor::DecryptApart(const uint8_t* pIn, uint8_t* pOut)
{
    m_pCipher->ProcessBlock(pIn, pOut);
    XorInto(pOut, m_register.Data(), m_register.Size());
    std::memcpy(m_register.Data(), pIn, m_register.Size());
}

void CCbcDecryptor::ProcessBlock(const uint8_t* pIn, uint8_t* pOut)
{
    if (pIn == pOut)
        ProcessBlock(pOut);
    else
        DecryptApart(pIn, pOut);
}

void CCbcDecryptor::ProcessBlock(uint8_t* pBuf)
{
    std::memcpy(m_scratch.Data(), pBuf, m_scratch.Size());
    DecryptApart(m_scratch.Data(), pBuf);
}

CDesCbcCipher::~CDesCbcCipher()
{
    Release();
}

// The chaining objects go first: they point at the DES engines.
void CDesCbcCipher::Release()
{
    DeleteEngines(m_pCbcEncryptor, m_pCbcDecryptor, m_pDesEncryptor, m_pDesDecryptor);
}

int CDesCbcCipher::Prepare()
{
    Release();
    std::memset(m_abIV, 0, sizeof(m_abIV));
    m_pDesEncryptor = TryNew<CDesEncryptor>(m_key.Data());
    m_pDesDecryptor = TryNew<CDesDecryptor>(m_key.Data());
    if (m_pDesEncryptor)
        m_pCbcEncryptor = TryNew<CCbcEncryptor>(m_pDesEncryptor, m_abIV);
    if (m_pDesDecryptor)
        m_pCbcDecryptor = TryNew<CCbcDecryptor>(m_pDesDecryptor, m_abIV);
    return 1;
}

// The checks and result of ProcessWholeBlocks; the chaining itself runs in
// the DES engine over the chaining objects' registers, which keep their
// meaning for anyone holding the chaining objects.
int CDesCbcCipher::Process(uint8_t* pBuffer, uint32_t nLength, int bEncrypt)
{
    if (!m_pCbcEncryptor || !m_pCbcDecryptor)
        return 0;
    const uint32_t nBlocks = nLength / 8;
    if (nBlocks == 0)
        return 1;
    if (!pBuffer)
        return 0;
    if (bEncrypt)
        m_pDesEncryptor->CbcEncryptBlocks(pBuffer, nBlocks, m_pCbcEncryptor->Register());
    else
        m_pDesDecryptor->CbcDecryptBlocks(pBuffer, nBlocks, m_pCbcDecryptor->Register());
    return 1;
}
