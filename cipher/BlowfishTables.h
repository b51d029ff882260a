// The initial Blowfish tables: the hexadecimal digits of the fractional part
// of pi, the 18 subkeys first, then S-boxes 0 to 3.
#pragma once

#include <cstdint>

extern const uint32_t kBlowfishInit[18 + 1024];
