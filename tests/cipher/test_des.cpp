#include <gtest/gtest.h>

#include "TestKeys.h"
#include "VectorFile.h"
#include "cipher/Des.h"

namespace {

std::vector<uint8_t> EcbBlocks(CBlockTransform& t, std::vector<uint8_t> buf)
{
    for (size_t k = 0; k + 8 <= buf.size(); k += 8)
        t.ProcessBlock(buf.data() + k);
    return buf;
}

}  // namespace

TEST(DesVectors, EngineEncryptsAndDecryptsEveryRow)
{
    for (const CVectorRecord& r : LoadVectors("des_ecb.vec")) {
        SCOPED_TRACE(r.Where());
        const std::vector<uint8_t> key = r.Bytes("key"), plain = r.Bytes("plain"), cipher = r.Bytes("cipher");
        ASSERT_EQ(key.size(), 8u);
        CDesEncryptor enc(key.data());
        CDesDecryptor dec(key.data());
        EXPECT_EQ(ToHex(EcbBlocks(enc, plain)), ToHex(cipher));
        EXPECT_EQ(ToHex(EcbBlocks(dec, cipher)), ToHex(plain));
    }
}

TEST(DesVectors, CipherClassRunsEcbOverTheBuffer)
{
    for (const CVectorRecord& r : LoadVectors("des_ecb.vec")) {
        SCOPED_TRACE(r.Where());
        CDesCipher c;
        LoadRawKey(c, r.Bytes("key"));
        // Three copies: the loop's paired and single-block paths both see the row.
        std::vector<uint8_t> plain, cipher;
        for (int i = 0; i < 3; ++i) {
            const std::vector<uint8_t> p = r.Bytes("plain"), x = r.Bytes("cipher");
            plain.insert(plain.end(), p.begin(), p.end());
            cipher.insert(cipher.end(), x.begin(), x.end());
        }
        std::vector<uint8_t> buf = plain;
        ASSERT_EQ(c.Process(buf.data(), static_cast<uint32_t>(buf.size()), 1), 1);
        EXPECT_EQ(ToHex(buf), ToHex(cipher));
        ASSERT_EQ(c.Process(buf.data(), static_cast<uint32_t>(buf.size()), 0), 1);
        EXPECT_EQ(ToHex(buf), ToHex(plain));
    }
}

TEST(DesKey, ParityBitsDoNotMatter)
{
    for (const CVectorRecord& r : LoadVectors("des_ecb.vec")) {
        SCOPED_TRACE(r.Where());
        for (uint8_t mask : {0x01, 0x55, 0xAA, 0xFF}) {
            std::vector<uint8_t> key = r.Bytes("key");
            for (int i = 0; i < 8; ++i)
                key[i] ^= (mask >> i) & 1;
            CDesEncryptor enc(key.data());
            EXPECT_EQ(ToHex(EcbBlocks(enc, r.Bytes("plain"))), ToHex(r.Bytes("cipher")));
        }
    }
}

TEST(DesEngine, InPlaceEqualsSeparateBuffers)
{
    const std::vector<uint8_t> key = Pattern(8, 3);
    const std::vector<uint8_t> block = Pattern(8, 4);
    for (int d : {CDes::kEncryption, CDes::kDecryption}) {
        CDes des(key.data(), d);
        std::vector<uint8_t> apart(8), inplace = block;
        des.ProcessBlock(block.data(), apart.data());
        des.ProcessBlock(inplace.data());
        EXPECT_EQ(apart, inplace);
        EXPECT_NE(apart, block);
        EXPECT_EQ(des.BlockSize(), 8);
    }
}

TEST(DesCipher, EqualBlocksGiveEqualCiphertext)
{
    CDesCipher c;
    c.GetKey()->SetPassword("secret");
    c.Prepare();
    std::vector<uint8_t> buf = Pattern(32);
    std::copy(buf.begin(), buf.begin() + 8, buf.begin() + 24);
    ASSERT_EQ(c.Process(buf.data(), 32, 1), 1);
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 8, buf.begin() + 24));
}
