// libcrypto's side of PlatformCrypto.h.
#include "cipher/PlatformCrypto.h"

#include <climits>
#include <cstring>

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <openssl/rand.h>

bool CryptoRandom(uint8_t* pOut, size_t nOut)
{
    return nOut <= size_t(INT_MAX) && RAND_bytes(pOut, int(nOut)) == 1;
}

bool DerivePbkdf2Sha256(const uint8_t* pPassword, size_t nPassword, const uint8_t* pSalt, size_t nSalt,
                        uint32_t nIterations, uint8_t* pOut, size_t nOut)
{
    if (nPassword > INT_MAX || nSalt > INT_MAX || nOut > INT_MAX || nIterations == 0 || nIterations > INT_MAX)
        return false;
    static const char kEmpty[1] = {0};
    const char* pszPassword = nPassword ? reinterpret_cast<const char*>(pPassword) : kEmpty;
    return PKCS5_PBKDF2_HMAC(pszPassword, int(nPassword), pSalt, int(nSalt), int(nIterations), EVP_sha256(),
                             int(nOut), pOut) == 1;
}

bool DeriveHkdfSha256(const uint8_t* pKey, size_t nKey, const uint8_t* pSalt, size_t nSalt,
                      const uint8_t* pInfo, size_t nInfo, uint8_t* pOut, size_t nOut)
{
    EVP_KDF* pKdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
    if (!pKdf)
        return false;
    EVP_KDF_CTX* pCtx = EVP_KDF_CTX_new(pKdf);
    EVP_KDF_free(pKdf);
    if (!pCtx)
        return false;
    static const uint8_t kZeroSalt[kSha256Size] = {};
    if (nSalt == 0) {
        pSalt = kZeroSalt;
        nSalt = sizeof kZeroSalt;
    }
    char szDigest[] = "SHA256";
    OSSL_PARAM params[5];
    int n = 0;
    params[n++] = OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, szDigest, 0);
    params[n++] = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<uint8_t*>(pKey), nKey);
    params[n++] = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, const_cast<uint8_t*>(pSalt), nSalt);
    params[n++] = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, const_cast<uint8_t*>(pInfo), nInfo);
    params[n] = OSSL_PARAM_construct_end();
    const bool bOk = EVP_KDF_derive(pCtx, pOut, nOut, params) == 1;
    EVP_KDF_CTX_free(pCtx);  // clears its copy of the key
    return bOk;
}

bool HmacSha256(const uint8_t* pKey, size_t nKey, const uint8_t* pData, size_t nData, uint8_t* pOut)
{
    static const uint8_t kEmpty[1] = {0};
    unsigned nOut = 0;
    return nKey <= INT_MAX && HMAC(EVP_sha256(), nKey ? pKey : kEmpty, int(nKey), nData ? pData : kEmpty, nData,
                                   pOut, &nOut) != nullptr && nOut == kSha256Size;
}

struct CAesGcm::CState {
    EVP_CIPHER_CTX* pCtx = nullptr;
    uint8_t abKey[kGcmKeySize] = {};
    bool bKeyed = false;
};

CAesGcm::CAesGcm() : m_pState(new CState)
{
    m_pState->pCtx = EVP_CIPHER_CTX_new();
}

CAesGcm::~CAesGcm()
{
    EVP_CIPHER_CTX_free(m_pState->pCtx);
    OPENSSL_cleanse(m_pState->abKey, sizeof m_pState->abKey);
    delete m_pState;
}

bool CAesGcm::SetKey(const uint8_t* pKey)
{
    if (!m_pState->pCtx)
        return false;
    std::memcpy(m_pState->abKey, pKey, kGcmKeySize);
    m_pState->bKeyed = true;
    return true;
}

namespace {

// Keys the context for one message in the given direction and feeds the associated data.
bool Begin(EVP_CIPHER_CTX* pCtx, const uint8_t* pKey, const uint8_t* pNonce, const uint8_t* pAad, size_t nAad,
           int bEncrypt)
{
    int nOut = 0;
    return EVP_CipherInit_ex(pCtx, EVP_aes_256_gcm(), nullptr, nullptr, nullptr, bEncrypt) == 1 &&
           EVP_CIPHER_CTX_ctrl(pCtx, EVP_CTRL_GCM_SET_IVLEN, int(kGcmNonceSize), nullptr) == 1 &&
           EVP_CipherInit_ex(pCtx, nullptr, nullptr, pKey, pNonce, bEncrypt) == 1 && nAad <= INT_MAX &&
           (nAad == 0 || EVP_CipherUpdate(pCtx, nullptr, &nOut, pAad, int(nAad)) == 1);
}

}  // namespace

bool CAesGcm::Seal(const uint8_t* pNonce, const uint8_t* pAad, size_t nAad, const uint8_t* pPlain, size_t nPlain,
                   uint8_t* pOut)
{
    EVP_CIPHER_CTX* pCtx = m_pState->pCtx;
    if (!m_pState->bKeyed || nPlain > INT_MAX || Overlaps(pPlain, nPlain, pOut, nPlain + kGcmTagSize) ||
        !Begin(pCtx, m_pState->abKey, pNonce, pAad, nAad, 1))
        return false;
    int nOut = 0, nFinal = 0;
    if (nPlain && EVP_EncryptUpdate(pCtx, pOut, &nOut, pPlain, int(nPlain)) != 1)
        return false;
    return EVP_EncryptFinal_ex(pCtx, pOut + nOut, &nFinal) == 1 && size_t(nOut + nFinal) == nPlain &&
           EVP_CIPHER_CTX_ctrl(pCtx, EVP_CTRL_GCM_GET_TAG, int(kGcmTagSize), pOut + nPlain) == 1;
}

EGcmResult CAesGcm::Open(const uint8_t* pNonce, const uint8_t* pAad, size_t nAad, const uint8_t* pSealed,
                         size_t nSealed, uint8_t* pOut, size_t nOutRoom)
{
    EVP_CIPHER_CTX* pCtx = m_pState->pCtx;
    if (!m_pState->bKeyed || nSealed < kGcmTagSize || nSealed > INT_MAX || nSealed - kGcmTagSize > nOutRoom ||
        Overlaps(pSealed, nSealed, pOut, nSealed - kGcmTagSize) ||
        !Begin(pCtx, m_pState->abKey, pNonce, pAad, nAad, 0))
        return kGcmFailed;
    const size_t nPlain = nSealed - kGcmTagSize;
    uint8_t abTag[kGcmTagSize];
    std::memcpy(abTag, pSealed + nPlain, kGcmTagSize);
    int nOut = 0, nFinal = 0;
    if ((nPlain && EVP_DecryptUpdate(pCtx, pOut, &nOut, pSealed, int(nPlain)) != 1) ||
        EVP_CIPHER_CTX_ctrl(pCtx, EVP_CTRL_GCM_SET_TAG, int(kGcmTagSize), abTag) != 1) {
        OPENSSL_cleanse(pOut, nPlain);
        return kGcmFailed;
    }
    if (EVP_DecryptFinal_ex(pCtx, pOut + nOut, &nFinal) != 1) {
        OPENSSL_cleanse(pOut, nPlain);
        return kGcmTagMismatch;
    }
    return kGcmOk;
}
