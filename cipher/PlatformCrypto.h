// The primitives of the authenticated container, taken from the platform's
// own library: CNG (bcrypt.dll) on Windows, OpenSSL's libcrypto elsewhere.
// Nothing outside the two sources knows which one is linked.
#pragma once

#include <cstddef>
#include <cstdint>

const size_t kSha256Size = 32;
const size_t kGcmKeySize = 32;
const size_t kGcmNonceSize = 12;
const size_t kGcmTagSize = 16;

// Cryptographically random bytes; false if the generator failed.
bool CryptoRandom(uint8_t* pOut, size_t nOut);

// PBKDF2 with HMAC-SHA256. False on a failure of the library.
bool DerivePbkdf2Sha256(const uint8_t* pPassword, size_t nPassword, const uint8_t* pSalt, size_t nSalt,
                        uint32_t nIterations, uint8_t* pOut, size_t nOut);

// HKDF with SHA-256, extract then expand; an empty salt means HashLen zeros.
bool DeriveHkdfSha256(const uint8_t* pKey, size_t nKey, const uint8_t* pSalt, size_t nSalt,
                      const uint8_t* pInfo, size_t nInfo, uint8_t* pOut, size_t nOut);

// HMAC-SHA256 of the data into kSha256Size bytes at pOut.
bool HmacSha256(const uint8_t* pKey, size_t nKey, const uint8_t* pData, size_t nData, uint8_t* pOut);

// Compares secrets (tags, key commitments) in a time that does not depend on
// where they differ.
inline bool EqualInConstantTime(const uint8_t* a, const uint8_t* b, size_t n)
{
    volatile uint8_t bDiffer = 0;
    for (size_t i = 0; i < n; ++i)
        bDiffer = uint8_t(bDiffer | (a[i] ^ b[i]));
    return bDiffer == 0;
}

// True when the two byte ranges share a byte. The libraries' in-place rules
// differ (CNG leaves overlapping input and output undefined), so neither back
// end takes an output that overlaps its input.
inline bool Overlaps(const uint8_t* a, size_t na, const uint8_t* b, size_t nb)
{
    const uintptr_t pa = reinterpret_cast<uintptr_t>(a), pb = reinterpret_cast<uintptr_t>(b);
    return na != 0 && nb != 0 && pa < pb + nb && pb < pa + na;
}

enum EGcmResult { kGcmOk = 0, kGcmTagMismatch = 1, kGcmFailed = 2 };

// AES-256-GCM under one key with 12-byte nonces. Not shared between threads:
// every thread that seals or opens keys its own.
class CAesGcm {
public:
    CAesGcm();
    ~CAesGcm();  // releases the library's key objects and wipes the key
    CAesGcm(const CAesGcm&) = delete;
    CAesGcm& operator=(const CAesGcm&) = delete;

    // kGcmKeySize bytes. False when the library could not take the key.
    bool SetKey(const uint8_t* pKey);
    // pOut receives nPlain bytes of ciphertext followed by the tag; it must
    // not overlap pPlain.
    bool Seal(const uint8_t* pNonce, const uint8_t* pAad, size_t nAad, const uint8_t* pPlain, size_t nPlain,
              uint8_t* pOut);
    // pSealed is ciphertext then tag (nSealed >= kGcmTagSize); pOut, nOutRoom
    // bytes that do not overlap pSealed, receives nSealed - kGcmTagSize bytes,
    // zeroed unless the tag matched. A sealed message too long for the room is
    // refused (kGcmFailed) before the library sees it.
    EGcmResult Open(const uint8_t* pNonce, const uint8_t* pAad, size_t nAad, const uint8_t* pSealed,
                    size_t nSealed, uint8_t* pOut, size_t nOutRoom);

private:
    struct CState;
    CState* m_pState;
};
