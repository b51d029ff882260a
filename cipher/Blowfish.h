// Blowfish (16 rounds) and the ECB cipher of EncType 3. Buffers hold each
// 32-bit half little-endian; stored containers depend on that byte order.
#pragma once

#include <cstdint>

#include "cipher/Cipher.h"

class CBlowfish {
public:
    // nKeyLength bytes of key, cycled through the subkeys; an empty key mixes
    // in nothing (the same as one zero byte).
    CBlowfish(const uint8_t* pKey, int16_t nKeyLength);
    ~CBlowfish();
    CBlowfish(const CBlowfish&) = delete;
    CBlowfish& operator=(const CBlowfish&) = delete;

    void EncryptBlock(uint32_t& left, uint32_t& right) const;
    void DecryptBlock(uint32_t& left, uint32_t& right) const;
    // 0, leaving the buffer as it is, unless nLength is a multiple of 8.
    int EncryptBuffer(uint8_t* pBuffer, uint32_t nLength) const;
    int DecryptBuffer(uint8_t* pBuffer, uint32_t nLength) const;

    enum { kSubkeys = 18, kSboxWords = 4 * 256 };

private:
    uint32_t m_P[kSubkeys];
    uint32_t m_S[kSboxWords];  // S0, S1, S2, S3 one after the other
};

class CBlowfishCipher : public CCipher {
public:
    CBlowfishCipher() = default;
    ~CBlowfishCipher() override;
    int Prepare() override;
    CCipherKey* GetKey() override { return &m_key; }
    int BlockSize() const override { return 8; }
    int Process(uint8_t* pBuffer, uint32_t nLength, int bEncrypt) override;

private:
    CBlowfish* m_pEngine = nullptr;
    CCipherKey8 m_key;
};
