#include "cipher/Blowfish.h"

#include <cstring>

#include "cipher/Bits.h"
#include "cipher/BlowfishTables.h"
#include "cipher/TryNew.h"
#include "base/SecureBuffer.h"

namespace {

using kestrin_bits::LoadLE;
using kestrin_bits::StoreLE;

KESTRIN_FORCE_INLINE uint32_t F(const uint32_t* S, uint32_t x)
{
    return ((S[x >> 24] + S[256 + ((x >> 16) & 255)]) ^ S[512 + ((x >> 8) & 255)]) + S[768 + (x & 255)];
}

// Two rounds with the subkeys a and b, written so that the halves never need
// exchanging.
KESTRIN_FORCE_INLINE void TwoRounds(const uint32_t* S, uint32_t& L, uint32_t& R, uint32_t a, uint32_t b)
{
    L ^= a;
    R ^= F(S, L);
    R ^= b;
    L ^= F(S, R);
}

// P is walked forwards for encryption and backwards for decryption.
KESTRIN_FORCE_INLINE void Encrypt(const uint32_t* P, const uint32_t* S, uint32_t& left, uint32_t& right)
{
    uint32_t L = left, R = right;
    TwoRounds(S, L, R, P[0], P[1]);
    TwoRounds(S, L, R, P[2], P[3]);
    TwoRounds(S, L, R, P[4], P[5]);
    TwoRounds(S, L, R, P[6], P[7]);
    TwoRounds(S, L, R, P[8], P[9]);
    TwoRounds(S, L, R, P[10], P[11]);
    TwoRounds(S, L, R, P[12], P[13]);
    TwoRounds(S, L, R, P[14], P[15]);
    left = R ^ P[17];
    right = L ^ P[16];
}

KESTRIN_FORCE_INLINE void Decrypt(const uint32_t* P, const uint32_t* S, uint32_t& left, uint32_t& right)
{
    uint32_t L = left, R = right;
    TwoRounds(S, L, R, P[17], P[16]);
    TwoRounds(S, L, R, P[15], P[14]);
    TwoRounds(S, L, R, P[13], P[12]);
    TwoRounds(S, L, R, P[11], P[10]);
    TwoRounds(S, L, R, P[9], P[8]);
    TwoRounds(S, L, R, P[7], P[6]);
    TwoRounds(S, L, R, P[5], P[4]);
    TwoRounds(S, L, R, P[3], P[2]);
    left = R ^ P[0];
    right = L ^ P[1];
}

// The buffer loops take blocks two at a time, interleaved so that the S-box
// reads of one block overlap the dependency chain of the other.
template <bool kEncrypt>
KESTRIN_FORCE_INLINE void TwoBlocks(const uint32_t* P, const uint32_t* S, uint8_t* p)
{
    uint32_t L0 = LoadLE(p), R0 = LoadLE(p + 4), L1 = LoadLE(p + 8), R1 = LoadLE(p + 12);
    if (kEncrypt) {
        for (int i = 0; i < 16; i += 2) {
            TwoRounds(S, L0, R0, P[i], P[i + 1]);
            TwoRounds(S, L1, R1, P[i], P[i + 1]);
        }
        StoreLE(p, R0 ^ P[17]);
        StoreLE(p + 4, L0 ^ P[16]);
        StoreLE(p + 8, R1 ^ P[17]);
        StoreLE(p + 12, L1 ^ P[16]);
    } else {
        for (int i = 17; i > 1; i -= 2) {
            TwoRounds(S, L0, R0, P[i], P[i - 1]);
            TwoRounds(S, L1, R1, P[i], P[i - 1]);
        }
        StoreLE(p, R0 ^ P[0]);
        StoreLE(p + 4, L0 ^ P[1]);
        StoreLE(p + 8, R1 ^ P[0]);
        StoreLE(p + 12, L1 ^ P[1]);
    }
}

template <bool kEncrypt>
int ProcessBuffer(const uint32_t* P, const uint32_t* S, uint8_t* pBuffer, uint32_t nLength)
{
    if (nLength % 8 != 0 || (nLength && !pBuffer))
        return 0;
    uint8_t* p = pBuffer;
    for (; nLength >= 16; p += 16, nLength -= 16)
        TwoBlocks<kEncrypt>(P, S, p);
    if (nLength) {
        uint32_t L = LoadLE(p), R = LoadLE(p + 4);
        if (kEncrypt)
            Encrypt(P, S, L, R);
        else
            Decrypt(P, S, L, R);
        StoreLE(p, L);
        StoreLE(p + 4, R);
    }
    return 1;
}

}  // namespace

CBlowfish::CBlowfish(const uint8_t* pKey, int16_t nKeyLength)
{
    std::memcpy(m_P, kBlowfishInit, sizeof(m_P));
    std::memcpy(m_S, kBlowfishInit + kSubkeys, sizeof(m_S));
    if (pKey && nKeyLength > 0) {
        const int n = nKeyLength;
        int c = 0;
        for (int i = 0; i < kSubkeys; ++i) {
            m_P[i] ^= (uint32_t(pKey[c]) << 24) | (uint32_t(pKey[(c + 1) % n]) << 16) |
                      (uint32_t(pKey[(c + 2) % n]) << 8) | uint32_t(pKey[(c + 3) % n]);
            c = (c + 4) % n;
        }
    }
    uint32_t L = 0, R = 0;
    for (int i = 0; i < kSubkeys; i += 2) {
        Encrypt(m_P, m_S, L, R);
        m_P[i] = L;
        m_P[i + 1] = R;
    }
    for (int i = 0; i < kSboxWords; i += 2) {
        Encrypt(m_P, m_S, L, R);
        m_S[i] = L;
        m_S[i + 1] = R;
    }
    SecureZero(&L, sizeof(L));
    SecureZero(&R, sizeof(R));
}

CBlowfish::~CBlowfish()
{
    SecureZero(m_P, sizeof(m_P));
    SecureZero(m_S, sizeof(m_S));
}

void CBlowfish::EncryptBlock(uint32_t& left, uint32_t& right) const
{
    Encrypt(m_P, m_S, left, right);
}

void CBlowfish::DecryptBlock(uint32_t& left, uint32_t& right) const
{
    Decrypt(m_P, m_S, left, right);
}

int CBlowfish::EncryptBuffer(uint8_t* pBuffer, uint32_t nLength) const
{
    return ProcessBuffer<true>(m_P, m_S, pBuffer, nLength);
}

int CBlowfish::DecryptBuffer(uint8_t* pBuffer, uint32_t nLength) const
{
    return ProcessBuffer<false>(m_P, m_S, pBuffer, nLength);
}

CBlowfishCipher::~CBlowfishCipher()
{
    DeleteEngines(m_pEngine);
}

int CBlowfishCipher::Prepare()
{
    DeleteEngines(m_pEngine);
    m_pEngine = TryNew<CBlowfish>(m_key.Data(), static_cast<int16_t>(m_key.Length()));
    return 1;
}

// A length that is not a whole number of blocks is left untouched and still
// reported as done; the pipelines only ever pass padded lengths.
int CBlowfishCipher::Process(uint8_t* pBuffer, uint32_t nLength, int bEncrypt)
{
    if (!m_pEngine)
        return 0;
    if (nLength % 8 == 0 && nLength && !pBuffer)
        return 0;
    if (bEncrypt)
        m_pEngine->EncryptBuffer(pBuffer, nLength);
    else
        m_pEngine->DecryptBuffer(pBuffer, nLength);
    return 1;
}
