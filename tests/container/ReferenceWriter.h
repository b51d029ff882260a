// An independent container writer for the tests: the format built up from
// zlib and the cipher classes alone, field by field, so that CFileProcessor's
// output can be compared byte for byte and damaged containers can be made.
#pragma once

#include <memory>
#include <string>

#include "TestFiles.h"
#include "cipher/Cipher.h"

std::unique_ptr<CCipher> MakeTestCipher(int nEncType);

class CReferenceWriter {
public:
    CReferenceWriter(int nEncType, const std::string& strPassword);

    CReferenceWriter& Plain(const Bytes& data);
    CReferenceWriter& Magic() { return Plain({'V', 'X', 'J', '1'}); }
    // A field under a freshly keyed Sapphire II stream.
    CReferenceWriter& Protected(const Bytes& field);
    // Length, check and name as a writer makes them.
    CReferenceWriter& NameHeader(const std::string& strName);
    // One well-formed block of 1..4096 plain bytes.
    CReferenceWriter& Chunk(const Bytes& plain);
    // A block with the header values given; the body is padded with zeros
    // to nStored bytes, then encrypted with the method.
    CReferenceWriter& Block(uint16_t nRaw, uint16_t nStored, uint16_t nPacked, Bytes body);
    // Every chunk of the plain data.
    CReferenceWriter& Chunks(const Bytes& plain);

    const Bytes& Data() const { return m_out; }
    int BlockSize() const { return m_pCipher->BlockSize(); }

    static Bytes Deflate(const Bytes& plain);
    // A complete container of the plain data under the stored name.
    static Bytes Container(int nEncType, const std::string& strPassword, const std::string& strName,
                           const Bytes& plain);

private:
    std::unique_ptr<CCipher> m_pCipher;
    Bytes m_out;
};
