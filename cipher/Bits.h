// Word access and rotations shared by the block ciphers (internal header).
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__GNUC__)
#define KESTRIN_FORCE_INLINE inline __attribute__((always_inline))
#else
#define KESTRIN_FORCE_INLINE inline
#endif

namespace kestrin_bits {

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ && defined(__GNUC__)
// One unaligned load or store (plus a byte swap for big-endian words)
// instead of four byte accesses that the compiler does not always merge.
KESTRIN_FORCE_INLINE uint32_t LoadLE(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
KESTRIN_FORCE_INLINE void StoreLE(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
KESTRIN_FORCE_INLINE uint32_t LoadBE(const uint8_t* p) { return __builtin_bswap32(LoadLE(p)); }
KESTRIN_FORCE_INLINE void StoreBE(uint8_t* p, uint32_t v) { StoreLE(p, __builtin_bswap32(v)); }
#else
inline uint32_t LoadLE(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void StoreLE(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
inline uint32_t LoadBE(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline void StoreBE(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}
#endif

KESTRIN_FORCE_INLINE uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
KESTRIN_FORCE_INLINE uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

}  // namespace kestrin_bits
