// The abstract cipher every method implements, and its key holder.
// Calling order per file: GetKey()->SetPassword(pw), Prepare(), Process()...
#pragma once

#include <cstdint>

class CCipherKey {
public:
    virtual ~CCipherKey();  // wipes the key buffer
    // Derives all 128 key bytes from the password with the Sapphire II hash.
    virtual void SetPassword(const char* pszPassword);
    virtual CCipherKey& CopyFrom(const CCipherKey& other);
    virtual int32_t Length() const { return m_nLength; }
    virtual const uint8_t* Data() const { return m_abKey; }

    static const int kBufferSize = 128;

protected:
    CCipherKey() = default;
    CCipherKey(const CCipherKey&) = delete;
    CCipherKey& operator=(const CCipherKey&) = delete;

    int32_t m_nLength = 0;
    uint8_t m_abKey[kBufferSize] = {};
};

class CCipherKey8 : public CCipherKey {
public:
    CCipherKey8() { m_nLength = 8; }
};

class CCipherKey16 : public CCipherKey {
public:
    CCipherKey16() { m_nLength = 16; }
};

class CCipher {
public:
    virtual ~CCipher() = default;
    // Builds the engines from the key holder's bytes. Always returns 1; an
    // engine that could not be allocated stays empty and Process then fails.
    virtual int Prepare() = 0;
    virtual CCipherKey* GetKey() = 0;
    virtual int BlockSize() const = 0;
    // Transforms the first nLength bytes in place. 0: engines not built; 1: done.
    virtual int Process(uint8_t* pBuffer, uint32_t nLength, int bEncrypt) = 0;

    // nLength raised to the next multiple of BlockSize().
    uint64_t PaddedLength(uint64_t nLength) const;

protected:
    CCipher() = default;
    CCipher(const CCipher&) = delete;
    CCipher& operator=(const CCipher&) = delete;
};
