// Helpers shared by the cipher tests.
#pragma once

#include <cstring>
#include <vector>

#include "cipher/Cipher.h"

// A key holder filled with given bytes, for loading published raw keys into a
// cipher through CCipherKey::CopyFrom.
class CRawKey : public CCipherKey {
public:
    explicit CRawKey(const std::vector<uint8_t>& key)
    {
        m_nLength = static_cast<int32_t>(key.size() < kBufferSize ? key.size() : kBufferSize);
        std::memcpy(m_abKey, key.data(), static_cast<size_t>(m_nLength));
    }
};

inline void LoadRawKey(CCipher& cipher, const std::vector<uint8_t>& key)
{
    CRawKey raw(key);
    cipher.GetKey()->CopyFrom(raw);
    cipher.Prepare();
}

// Deterministic filler so failures reproduce.
inline std::vector<uint8_t> Pattern(size_t n, uint32_t seed = 1)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        v[i] = static_cast<uint8_t>(seed >> 16);
    }
    return v;
}
