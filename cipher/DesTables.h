// Constant tables of DES (FIPS 46), shared read-only by every engine.
#pragma once

#include <cstdint>

extern const uint8_t kDesPC1[56];        // one-based bit numbers
extern const uint8_t kDesRotations[16];  // cumulative left shifts per round
extern const uint8_t kDesPC2[48];        // one-based bit numbers
extern const uint8_t kDesBitMask[8];     // bit 1 of a byte is its top bit
// S-box k (row k-1) merged with the P permutation and rotated left by one,
// indexed by the 6-bit group that enters the S-box.
extern const uint32_t kDesSP[8][64];
