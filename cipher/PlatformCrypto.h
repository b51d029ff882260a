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
    // pOut receives nPlain bytes of ciphertext followed by the tag.
    bool Seal(const uint8_t* pNonce, const uint8_t* pAad, size_t nAad, const uint8_t* pPlain, size_t nPlain,
              uint8_t* pOut);
    // pSealed is ciphertext then tag (nSealed >= kGcmTagSize); pOut receives
    // nSealed - kGcmTagSize bytes, zeroed unless the tag matched.
    EGcmResult Open(const uint8_t* pNonce, const uint8_t* pAad, size_t nAad, const uint8_t* pSealed,
                    size_t nSealed, uint8_t* pOut);

private:
    struct CState;
    CState* m_pState;
};
