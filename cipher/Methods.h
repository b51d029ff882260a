// The method table: EncType 0..4 to class, shown name and command-line keyword.
#pragma once

#include "cipher/Blowfish.h"
#include "cipher/Des.h"
#include "cipher/DesCbc.h"
#include "cipher/Sapphire.h"

// EncType 0..3 are the block-cipher methods of container version 1; 4 writes
// version 2, whose keys and cipher live in the container code.
enum { kMethodCount = 4, kEncTypeAuthenticated = 4, kAllMethodCount = 5 };

struct CMethodInfo {
    int nEncType;
    const char* pszName;     // "Sapphire II", "DES", "DES-CBC", "Blowfish", "AES-256-GCM (authenticated)"
    const char* pszKeyword;  // "sapphire", "des", "des-cbc", "blowfish", "aes"
};

// Null for an EncType outside 0..4.
const CMethodInfo* GetMethodInfo(int nEncType);

// Accepts a keyword or shown name (case-insensitive) or a number 0..4.
// Returns the EncType, or -1.
int ParseMethodName(const char* psz);

// Stands where a CCipher is asked for by the authenticated method, which keys
// and ciphers through the platform's library instead: it transforms nothing.
class CNoCipher : public CCipher {
public:
    int Prepare() override { return 1; }
    CCipherKey* GetKey() override { return &m_key; }
    int BlockSize() const override { return 1; }
    int Process(uint8_t*, uint32_t, int) override { return 0; }

private:
    CCipherKey16 m_key;
};

// Constructs the cipher of nEncType on the caller's stack and calls fn(CCipher&).
// Returns false, without calling fn, when nEncType names no method.
template <class Fn>
bool WithCipher(int nEncType, Fn&& fn)
{
    switch (nEncType) {
    case 0: { CSapphireCipher c; fn(static_cast<CCipher&>(c)); return true; }
    case 1: { CDesCipher c; fn(static_cast<CCipher&>(c)); return true; }
    case 2: { CDesCbcCipher c; fn(static_cast<CCipher&>(c)); return true; }
    case 3: { CBlowfishCipher c; fn(static_cast<CCipher&>(c)); return true; }
    case 4: { CNoCipher c; fn(static_cast<CCipher&>(c)); return true; }
    default: return false;
    }
}
