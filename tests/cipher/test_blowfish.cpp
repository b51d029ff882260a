#include <gtest/gtest.h>

#include "TestKeys.h"
#include "VectorFile.h"
#include "cipher/Blowfish.h"
#include "cipher/DesCbc.h"

namespace {

uint32_t LoadBE(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

void StoreBE(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// The conventional block form b0..b7 as this system's buffers hold it:
// each half reversed, b3 b2 b1 b0 b7 b6 b5 b4.
std::vector<uint8_t> SwapHalves(std::vector<uint8_t> v)
{
    for (size_t k = 0; k + 8 <= v.size(); k += 8) {
        std::reverse(v.begin() + k, v.begin() + k + 4);
        std::reverse(v.begin() + k + 4, v.begin() + k + 8);
    }
    return v;
}

// Conventional big-endian Blowfish as a block transform, to run the
// published CBC row through the generic chaining objects.
class CBigEndianBlowfish : public CBlockTransform {
public:
    CBigEndianBlowfish(const CBlowfish& bf, bool bEncrypt) : m_bf(bf), m_bEncrypt(bEncrypt) {}
    void ProcessBlock(const uint8_t* pIn, uint8_t* pOut) override
    {
        uint32_t L = LoadBE(pIn), R = LoadBE(pIn + 4);
        if (m_bEncrypt)
            m_bf.EncryptBlock(L, R);
        else
            m_bf.DecryptBlock(L, R);
        StoreBE(pOut, L);
        StoreBE(pOut + 4, R);
    }
    using CBlockTransform::ProcessBlock;
    int BlockSize() const override { return 8; }

private:
    const CBlowfish& m_bf;
    bool m_bEncrypt;
};

}  // namespace

TEST(BlowfishVectors, BlockWordsMatchEveryRow)
{
    for (const CVectorRecord& r : LoadVectors("blowfish.vec", "ecb")) {
        SCOPED_TRACE(r.Where());
        const std::vector<uint8_t> plain = r.Bytes("plain"), cipher = r.Bytes("cipher");
        const CBlowfish bf(r.Bytes("key").data(), static_cast<int16_t>(r.Bytes("key").size()));
        uint32_t L = LoadBE(plain.data()), R = LoadBE(plain.data() + 4);
        bf.EncryptBlock(L, R);
        EXPECT_EQ(L, LoadBE(cipher.data()));
        EXPECT_EQ(R, LoadBE(cipher.data() + 4));
        bf.DecryptBlock(L, R);
        EXPECT_EQ(L, LoadBE(plain.data()));
        EXPECT_EQ(R, LoadBE(plain.data() + 4));
    }
}

std::vector<uint8_t> Thrice(const std::vector<uint8_t>& block)
{
    std::vector<uint8_t> v;
    for (int i = 0; i < 3; ++i)
        v.insert(v.end(), block.begin(), block.end());
    return v;
}

// Three copies of each block, so that both the paired and the single-block
// path of the buffer loop meet every row.
TEST(BlowfishVectors, BuffersHoldTheHalvesLittleEndian)
{
    for (const CVectorRecord& r : LoadVectors("blowfish.vec", "ecb")) {
        SCOPED_TRACE(r.Where());
        const std::vector<uint8_t> key = r.Bytes("key");
        const std::vector<uint8_t> plain = SwapHalves(Thrice(r.Bytes("plain")));
        const std::vector<uint8_t> cipher = SwapHalves(Thrice(r.Bytes("cipher")));
        const CBlowfish bf(key.data(), static_cast<int16_t>(key.size()));
        std::vector<uint8_t> buf = plain;
        ASSERT_EQ(bf.EncryptBuffer(buf.data(), 24), 1);
        EXPECT_EQ(ToHex(buf), ToHex(cipher));
        ASSERT_EQ(bf.DecryptBuffer(buf.data(), 24), 1);
        EXPECT_EQ(ToHex(buf), ToHex(plain));
        if (key.size() != 8)
            continue;
        CBlowfishCipher c;  // the method uses 8 key bytes
        LoadRawKey(c, key);
        ASSERT_EQ(c.Process(buf.data(), 24, 1), 1);
        EXPECT_EQ(ToHex(buf), ToHex(cipher));
        ASSERT_EQ(c.Process(buf.data(), 24, 0), 1);
        EXPECT_EQ(ToHex(buf), ToHex(plain));
    }
}

TEST(BlowfishVectors, CbcRowThroughTheChainingObjects)
{
    for (const CVectorRecord& r : LoadVectors("blowfish.vec", "cbc")) {
        SCOPED_TRACE(r.Where());
        const std::vector<uint8_t> key = r.Bytes("key"), iv = r.Bytes("iv");
        const CBlowfish bf(key.data(), static_cast<int16_t>(key.size()));
        CBigEndianBlowfish enc(bf, true), dec(bf, false);
        CCbcEncryptor cbc(&enc, iv.data());
        CCbcDecryptor uncbc(&dec, iv.data());
        std::vector<uint8_t> buf = r.Bytes("plain");
        for (size_t k = 0; k < buf.size(); k += 8)
            cbc.ProcessBlock(buf.data() + k);
        EXPECT_EQ(ToHex(buf), ToHex(r.Bytes("cipher")));
        for (size_t k = 0; k < buf.size(); k += 8)
            uncbc.ProcessBlock(buf.data() + k);
        EXPECT_EQ(ToHex(buf), ToHex(r.Bytes("plain")));
    }
}

TEST(BlowfishBuffer, PartialBlockLengthIsRefusedUntouched)
{
    const std::vector<uint8_t> key = {'k', 'e', 'y'};
    const CBlowfish bf(key.data(), 3);
    std::vector<uint8_t> buf = Pattern(24);
    const std::vector<uint8_t> orig = buf;
    EXPECT_EQ(bf.EncryptBuffer(buf.data(), 13), 0);
    EXPECT_EQ(bf.DecryptBuffer(buf.data(), 23), 0);
    EXPECT_EQ(buf, orig);
    EXPECT_EQ(bf.EncryptBuffer(buf.data(), 0), 1);
    EXPECT_EQ(buf, orig);
    ASSERT_EQ(bf.EncryptBuffer(buf.data(), 24), 1);
    EXPECT_NE(buf, orig);
    ASSERT_EQ(bf.DecryptBuffer(buf.data(), 24), 1);
    EXPECT_EQ(buf, orig);
}

TEST(BlowfishBuffer, EqualBlocksGiveEqualCiphertext)
{
    const std::vector<uint8_t> key = Pattern(8, 2);
    const CBlowfish bf(key.data(), 8);
    std::vector<uint8_t> buf = Pattern(24);
    std::copy(buf.begin(), buf.begin() + 8, buf.begin() + 16);
    bf.EncryptBuffer(buf.data(), 24);
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 8, buf.begin() + 16));
}

TEST(BlowfishKey, EmptyKeyEqualsOneZeroByte)
{
    const uint8_t zero = 0;
    const CBlowfish empty(nullptr, 0), one(&zero, 1);
    uint32_t a = 1, b = 2, c = 1, d = 2;
    empty.EncryptBlock(a, b);
    one.EncryptBlock(c, d);
    EXPECT_EQ(a, c);
    EXPECT_EQ(b, d);
}
