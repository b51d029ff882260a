#include "cipher/Sapphire.h"

#include <cstring>

#include "cipher/TryNew.h"

namespace {

const uint32_t kDeckSize = 256;

// The five index bytes held in registers while a run of bytes is processed;
// written back to the state once per call instead of once per byte.
struct SapphireRegs {
    uint8_t rotor, ratchet, avalanche, last_plain, last_cipher;

    explicit SapphireRegs(const SapphireState& s)
        : rotor(s.rotor), ratchet(s.ratchet), avalanche(s.avalanche),
          last_plain(s.last_plain), last_cipher(s.last_cipher) {}

    void Store(SapphireState& s) const
    {
        s.rotor = rotor;
        s.ratchet = ratchet;
        s.avalanche = avalanche;
        s.last_plain = last_plain;
        s.last_cipher = last_cipher;
    }
};

// One byte of the stream: shuffles the deck and returns the byte XORed with
// the key-stream byte. Encryption and decryption differ only in which of the
// two bytes is fed back as plain and which as cipher.
template <bool kEncrypt>
inline uint8_t Step(uint8_t* c, SapphireRegs& r, uint8_t b)
{
    r.ratchet = static_cast<uint8_t>(r.ratchet + c[r.rotor]);
    r.rotor = static_cast<uint8_t>(r.rotor + 1);
    const uint8_t t = c[r.last_cipher];
    c[r.last_cipher] = c[r.ratchet];
    c[r.ratchet] = c[r.last_plain];
    c[r.last_plain] = c[r.rotor];
    c[r.rotor] = t;
    r.avalanche = static_cast<uint8_t>(r.avalanche + c[t]);
    const uint8_t k1 = c[static_cast<uint8_t>(c[r.ratchet] + c[r.rotor])];
    const uint8_t k2 = c[c[static_cast<uint8_t>(c[r.last_plain] + c[r.last_cipher] + c[r.avalanche])]];
    const uint8_t out = static_cast<uint8_t>(b ^ k1 ^ k2);
    if (kEncrypt) {
        r.last_plain = b;
        r.last_cipher = out;
    } else {
        r.last_plain = out;
        r.last_cipher = b;
    }
    return out;
}

template <bool kEncrypt>
void Run(SapphireState& s, uint8_t* pOut, const uint8_t* pIn, uint32_t n)
{
    uint8_t* c = s.cards.Data();
    SapphireRegs r(s);
    for (uint32_t i = 0; i < n; ++i)
        pOut[i] = Step<kEncrypt>(c, r, pIn[i]);
    r.Store(s);
}

// Draws a deck position in 0..limit from the key, as the published keying does.
uint8_t KeyRand(const uint8_t* c, uint32_t limit, const uint8_t* key, uint32_t nKey,
                uint8_t& rsum, uint32_t& keypos)
{
    uint32_t mask = 1;
    while (mask < limit)
        mask = (mask << 1) + 1;
    uint32_t retries = 0;
    uint32_t u;
    do {
        rsum = static_cast<uint8_t>(c[rsum] + key[keypos++]);
        if (keypos >= nKey) {
            keypos = 0;
            rsum = static_cast<uint8_t>(rsum + nKey);
        }
        u = mask & rsum;
        if (++retries > 11)
            u %= limit;
    } while (u > limit);
    return static_cast<uint8_t>(u);
}

void InitialiseHashState(SapphireState& s)
{
    uint8_t* c = s.cards.Data();
    for (uint32_t i = 0; i < kDeckSize; ++i)
        c[i] = static_cast<uint8_t>(255 - i);
    s.rotor = 1;
    s.ratchet = 3;
    s.avalanche = 5;
    s.last_plain = 7;
    s.last_cipher = 11;
}

// The key length counts modulo 256, as in the published design; a length
// that comes to 0 (or a missing key) gives the unkeyed hash state there too.
void InitialiseKeyed(SapphireState& s, const uint8_t* pKey, int nKeyLength)
{
    const uint32_t nKey = static_cast<uint32_t>(nKeyLength) & 0xFFu;
    if (!pKey || nKeyLength <= 0 || nKey == 0) {
        InitialiseHashState(s);
        return;
    }
    uint8_t* c = s.cards.Data();
    for (uint32_t i = 0; i < kDeckSize; ++i)
        c[i] = static_cast<uint8_t>(i);
    uint8_t rsum = 0;
    uint32_t keypos = 0;
    for (uint32_t i = 255; i >= 1; --i) {
        const uint8_t j = KeyRand(c, i, pKey, nKey, rsum, keypos);
        const uint8_t t = c[i];
        c[i] = c[j];
        c[j] = t;
    }
    s.rotor = c[1];
    s.ratchet = c[3];
    s.avalanche = c[5];
    s.last_plain = c[7];
    s.last_cipher = c[rsum];
    SecureZero(&rsum, sizeof(rsum));
}

}  // namespace

SapphireState::SapphireState() : cards(kDeckSize)
{
}

void SapphireState::CopyFrom(const SapphireState& other)
{
    std::memcpy(cards.Data(), other.cards.Data(), cards.Size());
    rotor = other.rotor;
    ratchet = other.ratchet;
    avalanche = other.avalanche;
    last_plain = other.last_plain;
    last_cipher = other.last_cipher;
}

SapphireState::~SapphireState()
{
    SecureZero(&rotor, 1);
    SecureZero(&ratchet, 1);
    SecureZero(&avalanche, 1);
    SecureZero(&last_plain, 1);
    SecureZero(&last_cipher, 1);
}

void CByteStreamCipher::ProcessString(uint8_t* pOut, const uint8_t* pIn, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i)
        pOut[i] = ProcessByte(pIn[i]);
}

void CByteStreamCipher::ProcessString(uint8_t* pBuf, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i)
        pBuf[i] = ProcessByte(pBuf[i]);
}

CSapphireEncryptor::CSapphireEncryptor()
{
}

CSapphireEncryptor::CSapphireEncryptor(const uint8_t* pKey, int nKeyLength)
{
    InitialiseKeyed(m_state, pKey, nKeyLength);
}

uint8_t CSapphireEncryptor::ProcessByte(uint8_t b)
{
    uint8_t out;
    Run<true>(m_state, &out, &b, 1);
    return out;
}

void CSapphireEncryptor::ProcessString(uint8_t* pOut, const uint8_t* pIn, uint32_t n)
{
    Run<true>(m_state, pOut, pIn, n);
}

void CSapphireEncryptor::ProcessString(uint8_t* pBuf, uint32_t n)
{
    Run<true>(m_state, pBuf, pBuf, n);
}

CSapphireDecryptor::CSapphireDecryptor(const uint8_t* pKey, int nKeyLength)
{
    InitialiseKeyed(m_state, pKey, nKeyLength);
}

uint8_t CSapphireDecryptor::ProcessByte(uint8_t b)
{
    uint8_t out;
    Run<false>(m_state, &out, &b, 1);
    return out;
}

void CSapphireDecryptor::ProcessString(uint8_t* pOut, const uint8_t* pIn, uint32_t n)
{
    Run<false>(m_state, pOut, pIn, n);
}

void CSapphireDecryptor::ProcessString(uint8_t* pBuf, uint32_t n)
{
    Run<false>(m_state, pBuf, pBuf, n);
}

void CHashFunction::CalculateDigest(uint8_t* pOut, const uint8_t* pData, uint32_t n)
{
    Update(pData, n);
    Final(pOut);
}

CSapphireHash::CSapphireHash(int nDigestSize) : m_nDigestSize(nDigestSize < 0 ? 0 : nDigestSize)
{
    InitialiseHashState(m_state);
}

void CSapphireHash::Update(const uint8_t* pData, uint32_t n)
{
    uint8_t* c = m_state.cards.Data();
    SapphireRegs r(m_state);
    for (uint32_t i = 0; i < n; ++i)
        Step<true>(c, r, pData[i]);
    r.Store(m_state);
}

void CSapphireHash::Final(uint8_t* pOut)
{
    FinalBytes(pOut, static_cast<uint32_t>(m_nDigestSize));
}

void CSapphireHash::FinalBytes(uint8_t* pOut, uint32_t n)
{
    uint8_t* c = m_state.cards.Data();
    SapphireRegs r(m_state);
    for (int i = 255; i >= 0; --i)
        Step<true>(c, r, static_cast<uint8_t>(i));
    for (uint32_t i = 0; i < n; ++i)
        pOut[i] = Step<true>(c, r, 0);
    r.Store(m_state);
}

CSapphireCipher::~CSapphireCipher()
{
    DeleteEngines(m_pEncryptor, m_pDecryptor);
}

int CSapphireCipher::Prepare()
{
    DeleteEngines(m_pEncryptor, m_pDecryptor);
    m_pEncryptor = TryNew<CSapphireEncryptor>(m_key.Data(), m_key.Length());
    m_pDecryptor = TryNew<CSapphireDecryptor>(m_key.Data(), m_key.Length());
    return 1;
}

int CSapphireCipher::Process(uint8_t* pBuffer, uint32_t nLength, int bEncrypt)
{
    if (!m_pEncryptor || !m_pDecryptor)
        return 0;
    if (nLength == 0)
        return 1;
    if (!pBuffer)
        return 0;
    if (bEncrypt)
        m_pEncryptor->ProcessString(pBuffer, nLength);
    else
        m_pDecryptor->ProcessString(pBuffer, nLength);
    return 1;
}
