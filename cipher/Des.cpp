#include "cipher/Des.h"

#include <cstring>

#include "cipher/Bits.h"
#include "cipher/DesTables.h"
#include "cipher/TryNew.h"
#include "base/SecureBuffer.h"

namespace {

using namespace kestrin_bits;

const uint32_t kRoundKeyWords = 32;

// S-boxes 1, 3, 5, 7 on the groups of the right half rotated by 4 bits.
KESTRIN_FORCE_INLINE uint32_t SpOdd(uint32_t w)
{
    return kDesSP[6][w & 63] ^ kDesSP[4][(w >> 8) & 63] ^ kDesSP[2][(w >> 16) & 63] ^ kDesSP[0][(w >> 24) & 63];
}

// S-boxes 2, 4, 6, 8 on the groups of the unrotated right half.
KESTRIN_FORCE_INLINE uint32_t SpEven(uint32_t w)
{
    return kDesSP[7][w & 63] ^ kDesSP[5][(w >> 8) & 63] ^ kDesSP[3][(w >> 16) & 63] ^ kDesSP[1][(w >> 24) & 63];
}

KESTRIN_FORCE_INLINE void TwoRounds(uint32_t& L, uint32_t& R, const uint32_t* k)
{
    L ^= SpOdd(Rotr(R, 4) ^ k[0]) ^ SpEven(R ^ k[1]);
    R ^= SpOdd(Rotr(L, 4) ^ k[2]) ^ SpEven(L ^ k[3]);
}

KESTRIN_FORCE_INLINE void InitialPermutation(uint32_t& L, uint32_t& R)
{
    uint32_t w;
    R = Rotl(R, 4);
    w = (L ^ R) & 0xF0F0F0F0u; L ^= w; R = Rotr(R ^ w, 20);
    w = (L ^ R) & 0xFFFF0000u; L ^= w; R = Rotr(R ^ w, 18);
    w = (L ^ R) & 0x33333333u; L ^= w; R = Rotr(R ^ w, 6);
    w = (L ^ R) & 0x00FF00FFu; L ^= w; R = Rotl(R ^ w, 9);
    w = (L ^ R) & 0xAAAAAAAAu; L = Rotl(L ^ w, 1); R ^= w;
}

KESTRIN_FORCE_INLINE void FinalPermutation(uint32_t& L, uint32_t& R)
{
    uint32_t w;
    R = Rotr(R, 1);
    w = (L ^ R) & 0xAAAAAAAAu; R ^= w; L = Rotr(L ^ w, 9);
    w = (L ^ R) & 0x00FF00FFu; R ^= w; L = Rotl(L ^ w, 6);
    w = (L ^ R) & 0x33333333u; R ^= w; L = Rotl(L ^ w, 18);
    w = (L ^ R) & 0xFFFF0000u; R ^= w; L = Rotl(L ^ w, 20);
    w = (L ^ R) & 0xF0F0F0F0u; R ^= w; L = Rotr(L ^ w, 4);
}

KESTRIN_FORCE_INLINE void Sixteen(uint32_t& L, uint32_t& R, const uint32_t* k)
{
    TwoRounds(L, R, k);
    TwoRounds(L, R, k + 4);
    TwoRounds(L, R, k + 8);
    TwoRounds(L, R, k + 12);
    TwoRounds(L, R, k + 16);
    TwoRounds(L, R, k + 20);
    TwoRounds(L, R, k + 24);
    TwoRounds(L, R, k + 28);
}

KESTRIN_FORCE_INLINE void OneBlock(const uint32_t* k, const uint8_t* pIn, uint8_t* pOut)
{
    uint32_t L = LoadBE(pIn);
    uint32_t R = LoadBE(pIn + 4);
    InitialPermutation(L, R);
    Sixteen(L, R, k);
    FinalPermutation(L, R);
    StoreBE(pOut, R);
    StoreBE(pOut + 4, L);
}

// Two independent blocks round by round, so that the table reads of one
// overlap the dependency chain of the other.
KESTRIN_FORCE_INLINE void TwoBlocks(const uint32_t* k, uint8_t* p)
{
    uint32_t L0 = LoadBE(p), R0 = LoadBE(p + 4);
    uint32_t L1 = LoadBE(p + 8), R1 = LoadBE(p + 12);
    InitialPermutation(L0, R0);
    InitialPermutation(L1, R1);
    for (int i = 0; i < 32; i += 4) {
        TwoRounds(L0, R0, k + i);
        TwoRounds(L1, R1, k + i);
    }
    FinalPermutation(L0, R0);
    FinalPermutation(L1, R1);
    StoreBE(p, R0);
    StoreBE(p + 4, L0);
    StoreBE(p + 8, R1);
    StoreBE(p + 12, L1);
}

// Expands the 56 key bits into 16 pairs of words whose bytes are the 6-bit
// groups that index the SP tables directly.
void ScheduleKeys(const uint8_t* key, CSecureBuffer& scratch, uint32_t* rk)
{
    uint8_t* pc1m = scratch.Data();
    uint8_t* pcr = pc1m + 56;
    uint8_t* ks = pcr + 56;
    for (int j = 0; j < 56; ++j) {
        const int l = kDesPC1[j] - 1;
        pc1m[j] = (key[l >> 3] & kDesBitMask[l & 7]) ? 1 : 0;
    }
    for (int i = 0; i < 16; ++i) {
        for (int j = 0; j < 8; ++j)
            ks[j] = 0;
        for (int j = 0; j < 56; ++j) {
            const int l = j + kDesRotations[i];
            const int nHalfEnd = j < 28 ? 28 : 56;
            pcr[j] = l < nHalfEnd ? pc1m[l] : pc1m[l - 28];
        }
        for (int j = 0; j < 48; ++j) {
            if (pcr[kDesPC2[j] - 1])
                ks[j / 6] = uint8_t(ks[j / 6] | (kDesBitMask[j % 6] >> 2));
        }
        rk[2 * i] = (uint32_t(ks[0]) << 24) | (uint32_t(ks[2]) << 16) | (uint32_t(ks[4]) << 8) | ks[6];
        rk[2 * i + 1] = (uint32_t(ks[1]) << 24) | (uint32_t(ks[3]) << 16) | (uint32_t(ks[5]) << 8) | ks[7];
    }
}

void ReverseRoundOrder(uint32_t* rk)
{
    for (int i = 0; i < 16; i += 2) {
        uint32_t t = rk[i];
        rk[i] = rk[30 - i];
        rk[30 - i] = t;
        t = rk[i + 1];
        rk[i + 1] = rk[31 - i];
        rk[31 - i] = t;
    }
}

}  // namespace

CDes::CDes(const uint8_t* pKey, int nDirection) : m_nKeys(kRoundKeyWords), m_pKeys(nullptr)
{
    // Both allocations come before any work, so a failure leaks nothing.
    CSecureBuffer scratch(120);
    m_pKeys = new uint32_t[kRoundKeyWords];
    ScheduleKeys(pKey, scratch, m_pKeys);
    if (nDirection == kDecryption)
        ReverseRoundOrder(m_pKeys);
}

CDes::~CDes()
{
    SecureZero(m_pKeys, m_nKeys * sizeof(uint32_t));
    delete[] m_pKeys;
}

void CDes::ProcessBlock(const uint8_t* pIn, uint8_t* pOut)
{
    OneBlock(m_pKeys, pIn, pOut);
}

void CDes::ProcessBlock(uint8_t* pBuf)
{
    OneBlock(m_pKeys, pBuf, pBuf);
}

void CDes::ProcessBlocks(uint8_t* pBuf, uint32_t nBlocks) const
{
    for (; nBlocks >= 2; nBlocks -= 2, pBuf += 16)
        TwoBlocks(m_pKeys, pBuf);
    if (nBlocks)
        OneBlock(m_pKeys, pBuf, pBuf);
}

// One chain: each block waits for the one before. The permutations are
// linear and the initial one undoes the final one (with the halves swapped),
// so the chaining value is carried as the rounds see it and both
// permutations of a block stay off the chain.
void CDes::CbcEncryptBlocks(uint8_t* pBuf, uint32_t nBlocks, uint8_t* pRegister) const
{
    if (nBlocks == 0)
        return;
    uint32_t vL = LoadBE(pRegister), vR = LoadBE(pRegister + 4);
    InitialPermutation(vL, vR);
    for (uint32_t k = 0; k < nBlocks; ++k, pBuf += 8) {
        uint32_t L = LoadBE(pBuf), R = LoadBE(pBuf + 4);
        InitialPermutation(L, R);
        L ^= vL;
        R ^= vR;
        Sixteen(L, R, m_pKeys);
        vL = R;
        vR = L;
        FinalPermutation(L, R);
        StoreBE(pBuf, R);
        StoreBE(pBuf + 4, L);
    }
    std::memcpy(pRegister, pBuf - 8, 8);
}

// Deciphering needs only the ciphertext, so two blocks go through the rounds
// together, as in the ECB loop, before the chaining XOR.
void CDes::CbcDecryptBlocks(uint8_t* pBuf, uint32_t nBlocks, uint8_t* pRegister) const
{
    uint32_t vL = LoadBE(pRegister), vR = LoadBE(pRegister + 4);
    for (; nBlocks >= 2; nBlocks -= 2, pBuf += 16) {
        const uint32_t c0L = LoadBE(pBuf), c0R = LoadBE(pBuf + 4);
        const uint32_t c1L = LoadBE(pBuf + 8), c1R = LoadBE(pBuf + 12);
        TwoBlocks(m_pKeys, pBuf);
        StoreBE(pBuf, LoadBE(pBuf) ^ vL);
        StoreBE(pBuf + 4, LoadBE(pBuf + 4) ^ vR);
        StoreBE(pBuf + 8, LoadBE(pBuf + 8) ^ c0L);
        StoreBE(pBuf + 12, LoadBE(pBuf + 12) ^ c0R);
        vL = c1L;
        vR = c1R;
    }
    if (nBlocks) {
        const uint32_t cL = LoadBE(pBuf), cR = LoadBE(pBuf + 4);
        OneBlock(m_pKeys, pBuf, pBuf);
        StoreBE(pBuf, LoadBE(pBuf) ^ vL);
        StoreBE(pBuf + 4, LoadBE(pBuf + 4) ^ vR);
        vL = cL;
        vR = cR;
    }
    StoreBE(pRegister, vL);
    StoreBE(pRegister + 4, vR);
}

CDesCipher::~CDesCipher()
{
    DeleteEngines(m_pEncryptor, m_pDecryptor);
}

int CDesCipher::Prepare()
{
    DeleteEngines(m_pEncryptor, m_pDecryptor);
    m_pEncryptor = TryNew<CDesEncryptor>(m_key.Data());
    m_pDecryptor = TryNew<CDesDecryptor>(m_key.Data());
    return 1;
}

// The shared block loop's checks and result, with the blocks (independent in
// ECB) taken two at a time.
int CDesCipher::Process(uint8_t* pBuffer, uint32_t nLength, int bEncrypt)
{
    if (!m_pEncryptor || !m_pDecryptor)
        return 0;
    const uint32_t nBlocks = nLength / 8;
    if (nBlocks && !pBuffer)
        return 0;
    CDes* pEngine = bEncrypt ? static_cast<CDes*>(m_pEncryptor) : static_cast<CDes*>(m_pDecryptor);
    pEngine->ProcessBlocks(pBuffer, nBlocks);
    return 1;
}
