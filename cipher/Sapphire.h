// Sapphire II stream cipher and hash (M. P. Johnson's published design).
#pragma once

#include <cstdint>

#include "cipher/Cipher.h"
#include "base/SecureBuffer.h"

struct SapphireState {
    SapphireState();   // allocates the 256-byte deck; sets nothing else
    ~SapphireState();  // clears the index bytes; the deck wipes itself
    SapphireState(const SapphireState&) = delete;
    SapphireState& operator=(const SapphireState&) = delete;

    // Takes over another stream's whole state: a keyed state copied this way
    // runs exactly as a fresh key schedule with the same key would.
    void CopyFrom(const SapphireState& other);

    CSecureBuffer cards;
    uint8_t rotor = 0, ratchet = 0, avalanche = 0, last_plain = 0, last_cipher = 0;
};

class CByteStreamCipher {
public:
    virtual ~CByteStreamCipher() = default;
    virtual uint8_t ProcessByte(uint8_t b) = 0;
    virtual void ProcessString(uint8_t* pOut, const uint8_t* pIn, uint32_t n);
    virtual void ProcessString(uint8_t* pBuf, uint32_t n);
};

class CSapphireEncryptor : public CByteStreamCipher {
public:
    CSapphireEncryptor(const uint8_t* pKey, int nKeyLength);
    uint8_t ProcessByte(uint8_t b) override;
    void ProcessString(uint8_t* pOut, const uint8_t* pIn, uint32_t n) override;
    void ProcessString(uint8_t* pBuf, uint32_t n) override;

protected:
    CSapphireEncryptor();  // unkeyed: the hash initialises the state itself
    SapphireState m_state;
};

class CSapphireDecryptor : public CByteStreamCipher {
public:
    CSapphireDecryptor(const uint8_t* pKey, int nKeyLength);
    uint8_t ProcessByte(uint8_t b) override;
    void ProcessString(uint8_t* pOut, const uint8_t* pIn, uint32_t n) override;
    void ProcessString(uint8_t* pBuf, uint32_t n) override;

protected:
    SapphireState m_state;
};

class CHashFunction {
public:
    virtual ~CHashFunction() = default;
    virtual void Update(const uint8_t* pData, uint32_t n) = 0;
    virtual void Final(uint8_t* pOut) = 0;
    virtual int DigestSize() const = 0;
    virtual void CalculateDigest(uint8_t* pOut, const uint8_t* pData, uint32_t n);
};

class CSapphireHash : public CHashFunction, public CSapphireEncryptor {
public:
    explicit CSapphireHash(int nDigestSize = 20);
    void Update(const uint8_t* pData, uint32_t n) override;
    void Final(uint8_t* pOut) override;
    int DigestSize() const override { return m_nDigestSize; }
    void FinalBytes(uint8_t* pOut, uint32_t n);

private:
    int32_t m_nDigestSize;
};

class CSapphireCipher : public CCipher {
public:
    CSapphireCipher() = default;
    ~CSapphireCipher() override;
    int Prepare() override;
    CCipherKey* GetKey() override { return &m_key; }
    int BlockSize() const override { return 1; }
    int Process(uint8_t* pBuffer, uint32_t nLength, int bEncrypt) override;

private:
    CSapphireEncryptor* m_pEncryptor = nullptr;
    CSapphireDecryptor* m_pDecryptor = nullptr;
    CCipherKey16 m_key;
};
