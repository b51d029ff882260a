// DES (FIPS 46) as a block transform, and the ECB cipher of EncType 1.
#pragma once

#include <cstdint>

#include "cipher/Cipher.h"

// A keyed transformation of fixed-size blocks; the chaining modes work over it.
class CBlockTransform {
public:
    virtual ~CBlockTransform() = default;
    // in may equal out.
    virtual void ProcessBlock(const uint8_t* pIn, uint8_t* pOut) = 0;
    virtual void ProcessBlock(uint8_t* pBuf) { ProcessBlock(pBuf, pBuf); }
    virtual int BlockSize() const = 0;
};

class CDes : public CBlockTransform {
public:
    enum { kEncryption = 0, kDecryption = 1 };

    // pKey: 8 bytes; the lowest bit of each byte is ignored (no parity check).
    CDes(const uint8_t* pKey, int nDirection);
    ~CDes() override;
    CDes(const CDes&) = delete;
    CDes& operator=(const CDes&) = delete;

    void ProcessBlock(const uint8_t* pIn, uint8_t* pOut) override;
    void ProcessBlock(uint8_t* pBuf) override;
    int BlockSize() const override { return 8; }
    // nBlocks consecutive blocks in place, each on its own (the ECB loop).
    void ProcessBlocks(uint8_t* pBuf, uint32_t nBlocks) const;
    // Cipher block chaining over nBlocks in place, pRegister (8 bytes) the
    // chaining value carried from call to call. An encryption key chains
    // forward, a decryption key backward.
    void CbcEncryptBlocks(uint8_t* pBuf, uint32_t nBlocks, uint8_t* pRegister) const;
    void CbcDecryptBlocks(uint8_t* pBuf, uint32_t nBlocks, uint8_t* pRegister) const;

private:
    uint32_t m_nKeys;   // round-key words: 2 per round
    uint32_t* m_pKeys;  // heap, wiped before release
};

class CDesEncryptor final : public CDes {
public:
    explicit CDesEncryptor(const uint8_t* pKey) : CDes(pKey, kEncryption) {}
};

class CDesDecryptor final : public CDes {
public:
    explicit CDesDecryptor(const uint8_t* pKey) : CDes(pKey, kDecryption) {}
};

// The block loop of the 8-byte-block methods: the whole blocks at the start
// of the buffer, in place and in order; a trailing partial block is left as
// it is. 0 when an engine is missing. The engine types are template
// parameters so that final engine classes are called without dispatch.
template <class TEnc, class TDec>
int ProcessWholeBlocks(TEnc* pEnc, TDec* pDec, uint8_t* pBuffer, uint32_t nLength, int bEncrypt)
{
    const uint32_t nBlocks = nLength / 8;
    if (!pEnc || !pDec)
        return 0;
    if (nBlocks == 0)
        return 1;
    if (!pBuffer)
        return 0;
    if (bEncrypt) {
        for (uint32_t k = 0; k < nBlocks; ++k)
            pEnc->ProcessBlock(pBuffer + 8 * k);
    } else {
        for (uint32_t k = 0; k < nBlocks; ++k)
            pDec->ProcessBlock(pBuffer + 8 * k);
    }
    return 1;
}

class CDesCipher : public CCipher {
public:
    CDesCipher() = default;
    ~CDesCipher() override;
    int Prepare() override;
    CCipherKey* GetKey() override { return &m_key; }
    int BlockSize() const override { return 8; }
    int Process(uint8_t* pBuffer, uint32_t nLength, int bEncrypt) override;

private:
    CDesEncryptor* m_pEncryptor = nullptr;
    CDesDecryptor* m_pDecryptor = nullptr;
    CCipherKey8 m_key;
};
