// The method table: EncType 0..3 to class, shown name and command-line keyword.
#pragma once

#include "cipher/Blowfish.h"
#include "cipher/Des.h"
#include "cipher/DesCbc.h"
#include "cipher/Sapphire.h"

enum { kMethodCount = 4 };

struct CMethodInfo {
    int nEncType;
    const char* pszName;     // "Sapphire II", "DES", "DES-CBC", "Blowfish"
    const char* pszKeyword;  // "sapphire", "des", "des-cbc", "blowfish"
};

// Null for an EncType outside 0..3.
const CMethodInfo* GetMethodInfo(int nEncType);

// Accepts a keyword or shown name (case-insensitive) or a number 0..3.
// Returns the EncType, or -1.
int ParseMethodName(const char* psz);

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
    default: return false;
    }
}
