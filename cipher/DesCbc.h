// Cipher block chaining over any block transform, and DES-CBC (EncType 2).
#pragma once

#include <cstdint>

#include "cipher/Cipher.h"
#include "cipher/Des.h"
#include "base/SecureBuffer.h"

// What both chaining directions hold: the transform (not owned; it must
// outlive this object), the chaining register and a scratch block, both of
// BlockSize() bytes and wiped when they go.
class CCbcMode : public CBlockTransform {
public:
    int BlockSize() const override { return m_nBlockSize; }
    const uint8_t* Register() const { return m_register.Data(); }
    uint8_t* Register() { return m_register.Data(); }

protected:
    // pIV: BlockSize() bytes of the initial chaining value; null means zeros.
    CCbcMode(CBlockTransform* pCipher, const uint8_t* pIV);

    CBlockTransform* m_pCipher;
    int m_nBlockSize;
    CSecureBuffer m_register;
    CSecureBuffer m_scratch;
};

// Chains over an encrypting transform.
class CCbcEncryptor final : public CCbcMode {
public:
    CCbcEncryptor(CBlockTransform* pCipher, const uint8_t* pIV) : CCbcMode(pCipher, pIV) {}

    void ProcessBlock(const uint8_t* pIn, uint8_t* pOut) override;
    void ProcessBlock(uint8_t* pBuf) override;
};

// Chains over a decrypting transform; the register follows the ciphertext.
class CCbcDecryptor final : public CCbcMode {
public:
    CCbcDecryptor(CBlockTransform* pCipher, const uint8_t* pIV) : CCbcMode(pCipher, pIV) {}

    // Also safe with pIn == pOut: the ciphertext is saved before it is overwritten.
    void ProcessBlock(const uint8_t* pIn, uint8_t* pOut) override;
    void ProcessBlock(uint8_t* pBuf) override;

private:
    void DecryptApart(const uint8_t* pIn, uint8_t* pOut);
};

class CDesCbcCipher : public CCipher {
public:
    CDesCbcCipher() = default;
    ~CDesCbcCipher() override;
    int Prepare() override;
    CCipherKey* GetKey() override { return &m_key; }
    int BlockSize() const override { return 8; }
    int Process(uint8_t* pBuffer, uint32_t nLength, int bEncrypt) override;

private:
    void Release();

    CCbcEncryptor* m_pCbcEncryptor = nullptr;
    CCbcDecryptor* m_pCbcDecryptor = nullptr;
    CDesEncryptor* m_pDesEncryptor = nullptr;
    CDesDecryptor* m_pDesDecryptor = nullptr;
    uint8_t m_abIV[8] = {};
    CCipherKey8 m_key;
};
