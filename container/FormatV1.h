// Container version 1 ("VXJ1"), field by field: the magic, the name header
// (length and name each under a fresh Sapphire II stream keyed with the
// method's key bytes, the name's CRC-32 between them in the clear) and the
// 6-byte block headers under the same streams. Whole containers are
// ContainerV1's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "base/ByteStreams.h"
#include "cipher/Cipher.h"
#include "cipher/Sapphire.h"
#include "framework/afxstr.h"

// "VXJ1", without terminator.
extern const uint8_t kContainerMagic[4];

const int kV1ChunkSize = 4096;       // plain bytes per block
const int kV1PackedSize = 6144;      // a block body's room: deflate's worst case for a chunk, padded
const int kV1MaxNameLength = 260;    // the longest stored name a reader takes
const int kV1BlockHeaderSize = 6;    // raw, stored and packed length, 16 bits each
// The magic, the longest name header and the largest first block: enough
// leading bytes to try a method on.
const size_t kV1ProbeBytes = 4 + 2 + 4 + kV1MaxNameLength + kV1BlockHeaderSize + kV1PackedSize;

inline uint32_t GetLe16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }

// A Sapphire II encryptor keyed once per file; each protected field then
// starts from a copy of that state, which is exactly the state a new key
// schedule would give, without paying for the schedule on every block.
class CFieldEncryptor : public CSapphireEncryptor {
public:
    CFieldEncryptor(const uint8_t* pKey, int nKeyLength) : CSapphireEncryptor(pKey, nKeyLength) {}
    void ResetTo(const CFieldEncryptor& keyed);
};

// The reading side of the same: each block header from a copy of one keyed state.
class CFieldDecryptor : public CSapphireDecryptor {
public:
    CFieldDecryptor(const uint8_t* pKey, int nKeyLength) : CSapphireDecryptor(pKey, nKeyLength) {}
    void ResetTo(const CFieldDecryptor& keyed);
};

// Keys and prepares the cipher with the password in its nForm-th key form
// (GetPasswordForms). False, keying nothing, when there is no such form or
// the password has a NUL in it (the key would end there).
bool KeyLegacyCipher(const CString& strPassword, CCipher& cipher, bool bReading, int nForm);

// The header codec. Each protected field starts a fresh Sapphire II stream
// keyed with the cipher's key bytes. WR_ codes.
int WriteProtected(const uint8_t* pData, uint32_t nCount, CCipher& cipher, CByteSink& out);
// The same bytes as above, from a copy of a stream keyed with the cipher's key.
int WriteProtected(const uint8_t* pData, uint32_t nCount, const CFieldEncryptor& keyed, CFieldEncryptor& scratch,
                   CByteSink& out);
int ReadProtected(uint8_t* pBuffer, uint32_t nCount, CCipher& cipher, CByteSource& in);
int ReadProtected(uint8_t* pBuffer, uint32_t nCount, const CFieldDecryptor& keyed, CFieldDecryptor& scratch,
                  CByteSource& in);
int WriteNameHeader(const CString& strName, CByteSink& out, CCipher& cipher, uint32_t& nWritten);
// WR_DECRYPT_ERROR when the length is out of range or the name check fails
// (a wrong password, or a method of the other key length).
int ReadNameHeader(CString& strName, CByteSource& in, CCipher& cipher, uint32_t& nRead);

// The same over C streams.
int WriteProtected(const uint8_t* pData, uint32_t nCount, CCipher& cipher, FILE* pOut);
int ReadProtected(uint8_t* pBuffer, uint32_t nCount, CCipher& cipher, FILE* pIn);
int WriteNameHeader(const CString& strName, FILE* pOut, CCipher& cipher, uint32_t& nWritten);
int ReadNameHeader(CString& strName, FILE* pIn, CCipher& cipher, uint32_t& nRead);
