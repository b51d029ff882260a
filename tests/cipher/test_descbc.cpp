#include <gtest/gtest.h>

#include "TestKeys.h"
#include "VectorFile.h"
#include "cipher/DesCbc.h"

namespace {

void Blocks(CBlockTransform& t, std::vector<uint8_t>& buf)
{
    for (size_t k = 0; k + 8 <= buf.size(); k += 8)
        t.ProcessBlock(buf.data() + k);
}

std::vector<uint8_t> Encrypted(const char* pszPassword, const std::vector<uint8_t>& plain)
{
    CDesCbcCipher c;
    c.GetKey()->SetPassword(pszPassword);
    c.Prepare();
    std::vector<uint8_t> buf = plain;
    EXPECT_EQ(c.Process(buf.data(), static_cast<uint32_t>(buf.size()), 1), 1);
    return buf;
}

}  // namespace

TEST(DesCbcVectors, ChainingObjectsWithTheGivenIv)
{
    for (const CVectorRecord& r : LoadVectors("des_cbc.vec")) {
        SCOPED_TRACE(r.Where());
        const std::vector<uint8_t> key = r.Bytes("key"), iv = r.Bytes("iv");
        CDesEncryptor des(key.data());
        CDesDecryptor undes(key.data());
        CCbcEncryptor enc(&des, iv.data());
        CCbcDecryptor inPlace(&undes, iv.data()), apart(&undes, iv.data());
        std::vector<uint8_t> buf = r.Bytes("plain");
        Blocks(enc, buf);
        EXPECT_EQ(ToHex(buf), ToHex(r.Bytes("cipher")));

        std::vector<uint8_t> out(buf.size());
        for (size_t k = 0; k < buf.size(); k += 8)
            apart.ProcessBlock(buf.data() + k, out.data() + k);
        Blocks(inPlace, buf);
        EXPECT_EQ(ToHex(buf), ToHex(r.Bytes("plain")));
        EXPECT_EQ(out, buf);
        EXPECT_EQ(ToHex(inPlace.Register(), 8), ToHex(apart.Register(), 8));
    }
}

TEST(DesCbcVectors, CipherClassChainsFromZeroAcrossCalls)
{
    for (const CVectorRecord& r : LoadVectors("des_cbc.vec")) {
        if (r.Text("iv") != "0000000000000000")
            continue;
        SCOPED_TRACE(r.Where());
        CDesCbcCipher c;
        LoadRawKey(c, r.Bytes("key"));
        std::vector<uint8_t> buf = r.Bytes("plain");
        ASSERT_EQ(c.Process(buf.data(), 8, 1), 1);
        ASSERT_EQ(c.Process(buf.data() + 8, static_cast<uint32_t>(buf.size() - 8), 1), 1);
        EXPECT_EQ(ToHex(buf), ToHex(r.Bytes("cipher")));
        ASSERT_EQ(c.Process(buf.data(), static_cast<uint32_t>(buf.size()), 0), 1);
        EXPECT_EQ(ToHex(buf), ToHex(r.Bytes("plain")));
    }
}

TEST(DesCbc, FirstBlockEqualsEcbAndRepeatsAreHidden)
{
    std::vector<uint8_t> plain = Pattern(8);
    plain.insert(plain.end(), plain.begin(), plain.end());  // two equal blocks
    const std::vector<uint8_t> cbc = Encrypted("pass word", plain);
    CDesCipher ecb;
    ecb.GetKey()->SetPassword("pass word");
    ecb.Prepare();
    std::vector<uint8_t> buf = plain;
    ecb.Process(buf.data(), 16, 1);
    EXPECT_TRUE(std::equal(cbc.begin(), cbc.begin() + 8, buf.begin()));
    EXPECT_FALSE(std::equal(cbc.begin(), cbc.begin() + 8, cbc.begin() + 8));
    EXPECT_EQ(cbc, Encrypted("pass word", plain));  // no per-object IV
}

TEST(DesCbc, ChangedBlockGarblesItselfAndFlipsTheNext)
{
    const std::vector<uint8_t> plain = Pattern(32, 9);
    std::vector<uint8_t> buf = Encrypted("pw", plain);
    buf[8 + 3] ^= 0x81;
    CDesCbcCipher c;
    c.GetKey()->SetPassword("pw");
    c.Prepare();
    c.Process(buf.data(), 32, 0);
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 8, plain.begin()));
    EXPECT_FALSE(std::equal(buf.begin() + 8, buf.begin() + 16, plain.begin() + 8));
    for (int i = 16; i < 24; ++i)
        EXPECT_EQ(buf[i], plain[i] ^ (i == 19 ? 0x81 : 0)) << i;
    EXPECT_TRUE(std::equal(buf.begin() + 24, buf.end(), plain.begin() + 24));
}

TEST(DesCbc, LaterChunkAloneLosesOnlyItsFirstBlock)
{
    const std::vector<uint8_t> plain = Pattern(48, 5);
    std::vector<uint8_t> buf = Encrypted("pw", plain);
    CDesCbcCipher c;
    c.GetKey()->SetPassword("pw");
    c.Prepare();
    c.Process(buf.data() + 16, 32, 0);  // skips the first chunk
    EXPECT_FALSE(std::equal(buf.begin() + 16, buf.begin() + 24, plain.begin() + 16));
    EXPECT_TRUE(std::equal(buf.begin() + 24, buf.end(), plain.begin() + 24));
}
