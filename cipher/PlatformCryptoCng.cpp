// CNG's side of PlatformCrypto.h: bcrypt.dll's PBKDF2, HMAC, AES-GCM and generator.
#include "cipher/PlatformCrypto.h"

#include <windows.h>
#include <bcrypt.h>

#include <climits>
#include <cstring>

#ifndef STATUS_AUTH_TAG_MISMATCH
#define STATUS_AUTH_TAG_MISMATCH ((NTSTATUS)0xC000A002L)
#endif

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

// An algorithm provider handle, closed on every way out.
class CAlgorithm {
public:
    CAlgorithm(LPCWSTR pszAlgorithm, ULONG nFlags)
    {
        if (!Succeeded(BCryptOpenAlgorithmProvider(&m_h, pszAlgorithm, nullptr, nFlags)))
            m_h = nullptr;
    }
    ~CAlgorithm() { if (m_h) BCryptCloseAlgorithmProvider(m_h, 0); }
    CAlgorithm(const CAlgorithm&) = delete;
    CAlgorithm& operator=(const CAlgorithm&) = delete;
    BCRYPT_ALG_HANDLE Get() const { return m_h; }

private:
    BCRYPT_ALG_HANDLE m_h = nullptr;
};

class CHash {
public:
    CHash(BCRYPT_ALG_HANDLE hAlg, const uint8_t* pKey, size_t nKey)
    {
        if (!hAlg || nKey > ULONG_MAX ||
            !Succeeded(BCryptCreateHash(hAlg, &m_h, nullptr, 0, const_cast<PUCHAR>(pKey), ULONG(nKey), 0)))
            m_h = nullptr;
    }
    ~CHash() { if (m_h) BCryptDestroyHash(m_h); }
    CHash(const CHash&) = delete;
    CHash& operator=(const CHash&) = delete;
    bool Add(const uint8_t* p, size_t n)
    {
        return m_h && n <= ULONG_MAX && (n == 0 || Succeeded(BCryptHashData(m_h, const_cast<PUCHAR>(p), ULONG(n), 0)));
    }
    bool Finish(uint8_t* pOut) { return m_h && Succeeded(BCryptFinishHash(m_h, pOut, ULONG(kSha256Size), 0)); }

private:
    BCRYPT_HASH_HANDLE m_h = nullptr;
};

}  // namespace

bool CryptoRandom(uint8_t* pOut, size_t nOut)
{
    return nOut <= ULONG_MAX &&
           Succeeded(BCryptGenRandom(nullptr, pOut, ULONG(nOut), BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

bool DerivePbkdf2Sha256(const uint8_t* pPassword, size_t nPassword, const uint8_t* pSalt, size_t nSalt,
                        uint32_t nIterations, uint8_t* pOut, size_t nOut)
{
    if (nPassword > ULONG_MAX || nSalt > ULONG_MAX || nOut > ULONG_MAX || nIterations == 0)
        return false;
    CAlgorithm hmac(BCRYPT_SHA256_ALGORITHM, BCRYPT_ALG_HANDLE_HMAC_FLAG);
    return hmac.Get() &&
           Succeeded(BCryptDeriveKeyPBKDF2(hmac.Get(), const_cast<PUCHAR>(pPassword), ULONG(nPassword),
                                           const_cast<PUCHAR>(pSalt), ULONG(nSalt), nIterations, pOut,
                                           ULONG(nOut), 0));
}

// RFC 5869 over CNG's HMAC-SHA256: extract a pseudorandom key, then expand it block by block.
bool DeriveHkdfSha256(const uint8_t* pKey, size_t nKey, const uint8_t* pSalt, size_t nSalt,
                      const uint8_t* pInfo, size_t nInfo, uint8_t* pOut, size_t nOut)
{
    if (nOut > 255 * kSha256Size)
        return false;
    CAlgorithm hmac(BCRYPT_SHA256_ALGORITHM, BCRYPT_ALG_HANDLE_HMAC_FLAG);
    static const uint8_t kZeroSalt[kSha256Size] = {};
    if (nSalt == 0) {
        pSalt = kZeroSalt;
        nSalt = sizeof kZeroSalt;
    }
    uint8_t abPrk[kSha256Size], abBlock[kSha256Size];
    bool bOk;
    {
        CHash extract(hmac.Get(), pSalt, nSalt);
        bOk = extract.Add(pKey, nKey) && extract.Finish(abPrk);
    }
    size_t nDone = 0, nPrevious = 0;
    for (uint8_t bCounter = 1; bOk && nDone < nOut; ++bCounter) {
        CHash expand(hmac.Get(), abPrk, sizeof abPrk);
        bOk = expand.Add(abBlock, nPrevious) && expand.Add(pInfo, nInfo) && expand.Add(&bCounter, 1) &&
              expand.Finish(abBlock);
        const size_t nTake = nOut - nDone < kSha256Size ? nOut - nDone : kSha256Size;
        if (bOk)
            std::memcpy(pOut + nDone, abBlock, nTake);
        nDone += nTake;
        nPrevious = kSha256Size;
    }
    SecureZeroMemory(abPrk, sizeof abPrk);
    SecureZeroMemory(abBlock, sizeof abBlock);
    return bOk;
}

bool HmacSha256(const uint8_t* pKey, size_t nKey, const uint8_t* pData, size_t nData, uint8_t* pOut)
{
    CAlgorithm hmac(BCRYPT_SHA256_ALGORITHM, BCRYPT_ALG_HANDLE_HMAC_FLAG);
    CHash mac(hmac.Get(), pKey, nKey);
    return mac.Add(pData, nData) && mac.Finish(pOut);
}

struct CAesGcm::CState {
    BCRYPT_ALG_HANDLE hAlg = nullptr;
    BCRYPT_KEY_HANDLE hKey = nullptr;
};

CAesGcm::CAesGcm() : m_pState(new CState)
{
    BCRYPT_ALG_HANDLE h = nullptr;
    if (!Succeeded(BCryptOpenAlgorithmProvider(&h, BCRYPT_AES_ALGORITHM, nullptr, 0)))
        return;
    m_pState->hAlg = h;
    if (!Succeeded(BCryptSetProperty(h, BCRYPT_CHAINING_MODE, PUCHAR(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_GCM)),
                                     ULONG(sizeof(BCRYPT_CHAIN_MODE_GCM)), 0))) {
        BCryptCloseAlgorithmProvider(h, 0);
        m_pState->hAlg = nullptr;
    }
}

CAesGcm::~CAesGcm()
{
    // The key object is CNG's own memory; destroying it wipes the schedule.
    if (m_pState->hKey)
        BCryptDestroyKey(m_pState->hKey);
    if (m_pState->hAlg)
        BCryptCloseAlgorithmProvider(m_pState->hAlg, 0);
    delete m_pState;
}

bool CAesGcm::SetKey(const uint8_t* pKey)
{
    if (m_pState->hKey) {
        BCryptDestroyKey(m_pState->hKey);
        m_pState->hKey = nullptr;
    }
    return m_pState->hAlg &&
           Succeeded(BCryptGenerateSymmetricKey(m_pState->hAlg, &m_pState->hKey, nullptr, 0,
                                                const_cast<PUCHAR>(pKey), ULONG(kGcmKeySize), 0));
}

namespace {

void Describe(BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO& info, const uint8_t* pNonce, const uint8_t* pAad, size_t nAad,
              uint8_t* pTag)
{
    BCRYPT_INIT_AUTH_MODE_INFO(info);
    info.pbNonce = const_cast<PUCHAR>(pNonce);
    info.cbNonce = ULONG(kGcmNonceSize);
    info.pbAuthData = nAad ? const_cast<PUCHAR>(pAad) : nullptr;
    info.cbAuthData = ULONG(nAad);
    info.pbTag = pTag;
    info.cbTag = ULONG(kGcmTagSize);
}

}  // namespace

bool CAesGcm::Seal(const uint8_t* pNonce, const uint8_t* pAad, size_t nAad, const uint8_t* pPlain, size_t nPlain,
                   uint8_t* pOut)
{
    if (!m_pState->hKey || nPlain > ULONG_MAX || nAad > ULONG_MAX ||
        Overlaps(pPlain, nPlain, pOut, nPlain + kGcmTagSize))
        return false;
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
    Describe(info, pNonce, pAad, nAad, pOut + nPlain);
    ULONG nWritten = 0;
    return Succeeded(BCryptEncrypt(m_pState->hKey, const_cast<PUCHAR>(pPlain), ULONG(nPlain), &info, nullptr, 0,
                                   pOut, ULONG(nPlain), &nWritten, 0)) &&
           nWritten == nPlain;
}

EGcmResult CAesGcm::Open(const uint8_t* pNonce, const uint8_t* pAad, size_t nAad, const uint8_t* pSealed,
                         size_t nSealed, uint8_t* pOut, size_t nOutRoom)
{
    if (!m_pState->hKey || nSealed < kGcmTagSize || nSealed > ULONG_MAX || nAad > ULONG_MAX ||
        nSealed - kGcmTagSize > nOutRoom || Overlaps(pSealed, nSealed, pOut, nSealed - kGcmTagSize))
        return kGcmFailed;
    const size_t nPlain = nSealed - kGcmTagSize;
    uint8_t abTag[kGcmTagSize];
    std::memcpy(abTag, pSealed + nPlain, kGcmTagSize);
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
    Describe(info, pNonce, pAad, nAad, abTag);
    ULONG nWritten = 0;
    const NTSTATUS status = BCryptDecrypt(m_pState->hKey, const_cast<PUCHAR>(pSealed), ULONG(nPlain), &info,
                                          nullptr, 0, pOut, ULONG(nPlain), &nWritten, 0);
    if (Succeeded(status) && nWritten == nPlain)
        return kGcmOk;
    SecureZeroMemory(pOut, nPlain);
    return status == STATUS_AUTH_TAG_MISMATCH ? kGcmTagMismatch : kGcmFailed;
}
