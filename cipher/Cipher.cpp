#include "cipher/Cipher.h"

#include <cstring>

#include "cipher/Sapphire.h"
#include "base/SecureBuffer.h"

// The derived key outlives the password in memory only as long as the cipher
// object does; clearing it here keeps it out of the freed stack or heap.
CCipherKey::~CCipherKey()
{
    SecureZero(m_abKey, sizeof(m_abKey));
}

void CCipherKey::SetPassword(const char* pszPassword)
{
    SecureZero(m_abKey, sizeof(m_abKey));
    CSapphireHash hash(20);
    if (pszPassword) {
        const uint8_t* p = reinterpret_cast<const uint8_t*>(pszPassword);
        size_t nLeft = std::strlen(pszPassword);
        while (nLeft > 0) {
            const uint32_t nPart = nLeft > 0x40000000u ? 0x40000000u : static_cast<uint32_t>(nLeft);
            hash.Update(p, nPart);
            p += nPart;
            nLeft -= nPart;
        }
    }
    hash.FinalBytes(m_abKey, kBufferSize);
}

CCipherKey& CCipherKey::CopyFrom(const CCipherKey& other)
{
    int32_t n = Length();
    if (n < 0)
        n = 0;
    if (n > kBufferSize)
        n = kBufferSize;
    // Copying from itself must not wipe the bytes it is about to copy.
    if (&other != this)
        std::memcpy(m_abKey, other.Data(), static_cast<size_t>(n));
    SecureZero(m_abKey + n, static_cast<size_t>(kBufferSize - n));
    return *this;
}

uint64_t CCipher::PaddedLength(uint64_t nLength) const
{
    const int nBlock = BlockSize();
    if (nBlock <= 1)
        return nLength;
    const uint64_t bs = static_cast<uint64_t>(nBlock);
    const uint64_t nRest = nLength % bs;
    return nRest ? nLength + (bs - nRest) : nLength;
}
