#include "ReferenceWriter.h"

#include <algorithm>

#include <zlib.h>

#include "cipher/Blowfish.h"
#include "cipher/Des.h"
#include "cipher/DesCbc.h"
#include "cipher/Sapphire.h"

std::unique_ptr<CCipher> MakeTestCipher(int nEncType)
{
    switch (nEncType) {
    case 0: return std::make_unique<CSapphireCipher>();
    case 1: return std::make_unique<CDesCipher>();
    case 2: return std::make_unique<CDesCbcCipher>();
    case 3: return std::make_unique<CBlowfishCipher>();
    default: return nullptr;
    }
}

CReferenceWriter::CReferenceWriter(int nEncType, const std::string& strPassword)
    : m_pCipher(MakeTestCipher(nEncType))
{
    m_pCipher->GetKey()->SetPassword(strPassword.c_str());
    m_pCipher->Prepare();
}

CReferenceWriter& CReferenceWriter::Plain(const Bytes& data)
{
    m_out.insert(m_out.end(), data.begin(), data.end());
    return *this;
}

CReferenceWriter& CReferenceWriter::Protected(const Bytes& field)
{
    Bytes copy = field;
    const CCipherKey* pKey = m_pCipher->GetKey();
    CSapphireEncryptor stream(pKey->Data(), pKey->Length());
    stream.ProcessString(copy.data(), uint32_t(copy.size()));
    return Plain(copy);
}

CReferenceWriter& CReferenceWriter::NameHeader(const std::string& strName)
{
    const uint32_t nLength = uint32_t(strName.size());
    const uint32_t nCheck = crc32(0, reinterpret_cast<const Bytef*>(strName.data()), nLength);
    Protected({uint8_t(nLength), uint8_t(nLength >> 8)});
    Plain({uint8_t(nCheck), uint8_t(nCheck >> 8), uint8_t(nCheck >> 16), uint8_t(nCheck >> 24)});
    return Protected(Bytes(strName.begin(), strName.end()));
}

Bytes CReferenceWriter::Deflate(const Bytes& plain)
{
    // compress2 is deflateInit at the level given (window 15, memory level 8,
    // default strategy) and one deflate with Z_FINISH.
    uLongf nPacked = compressBound(uLong(plain.size()));
    Bytes packed(nPacked);
    EXPECT_EQ(compress2(packed.data(), &nPacked, plain.data(), uLong(plain.size()), Z_DEFAULT_COMPRESSION), Z_OK);
    packed.resize(nPacked);
    return packed;
}

CReferenceWriter& CReferenceWriter::Chunk(const Bytes& plain)
{
    Bytes packed = Deflate(plain);
    const size_t nBlock = size_t(m_pCipher->BlockSize());
    const size_t nStored = (packed.size() + nBlock - 1) / nBlock * nBlock;
    return Block(uint16_t(plain.size()), uint16_t(nStored), uint16_t(packed.size()), packed);
}

CReferenceWriter& CReferenceWriter::Block(uint16_t nRaw, uint16_t nStored, uint16_t nPacked, Bytes body)
{
    Protected({uint8_t(nRaw), uint8_t(nRaw >> 8), uint8_t(nStored), uint8_t(nStored >> 8), uint8_t(nPacked),
               uint8_t(nPacked >> 8)});
    body.resize(nStored, 0);
    EXPECT_EQ(m_pCipher->Process(body.data(), nStored, 1), 1);
    return Plain(body);
}

CReferenceWriter& CReferenceWriter::Chunks(const Bytes& plain)
{
    for (size_t i = 0; i < plain.size(); i += 4096) {
        size_t n = std::min<size_t>(4096, plain.size() - i);
        Chunk(Bytes(plain.begin() + long(i), plain.begin() + long(i + n)));
    }
    return *this;
}

Bytes CReferenceWriter::Container(int nEncType, const std::string& strPassword, const std::string& strName,
                                  const Bytes& plain)
{
    CReferenceWriter writer(nEncType, strPassword);
    writer.Magic().NameHeader(strName).Chunks(plain);
    return writer.Data();
}
