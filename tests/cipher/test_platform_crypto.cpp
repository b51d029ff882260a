#include <gtest/gtest.h>

#include "VectorFile.h"
#include "cipher/PlatformCrypto.h"

TEST(PlatformCrypto, Pbkdf2Sha256Vectors)
{
    for (const CVectorRecord& r : LoadVectors("pbkdf2_sha256.vec")) {
        SCOPED_TRACE(r.Where());
        const std::vector<uint8_t> pw = r.Bytes("password"), salt = r.Bytes("salt"), want = r.Bytes("key");
        std::vector<uint8_t> key(want.size());
        ASSERT_TRUE(DerivePbkdf2Sha256(pw.data(), pw.size(), salt.data(), salt.size(),
                                       uint32_t(r.Number("iterations", 0)), key.data(), key.size()));
        EXPECT_EQ(ToHex(key), ToHex(want));
    }
}

TEST(PlatformCrypto, HkdfSha256Vectors)
{
    for (const CVectorRecord& r : LoadVectors("hkdf_sha256.vec")) {
        SCOPED_TRACE(r.Where());
        const std::vector<uint8_t> ikm = r.Bytes("ikm"), salt = r.Bytes("salt"), info = r.Bytes("info"),
                                   want = r.Bytes("okm");
        std::vector<uint8_t> okm(want.size());
        ASSERT_TRUE(DeriveHkdfSha256(ikm.data(), ikm.size(), salt.data(), salt.size(), info.data(), info.size(),
                                     okm.data(), okm.size()));
        EXPECT_EQ(ToHex(okm), ToHex(want));
    }
}

TEST(PlatformCrypto, HmacSha256Vectors)
{
    for (const CVectorRecord& r : LoadVectors("hmac_sha256.vec")) {
        SCOPED_TRACE(r.Where());
        const std::vector<uint8_t> key = r.Bytes("key"), data = r.Bytes("data");
        uint8_t mac[kSha256Size];
        ASSERT_TRUE(HmacSha256(key.data(), key.size(), data.data(), data.size(), mac));
        EXPECT_EQ(ToHex(mac, sizeof mac), ToHex(r.Bytes("mac")));
    }
}

TEST(PlatformCrypto, AesGcmVectorsSealOpenAndRejectEveryFlippedByte)
{
    for (const CVectorRecord& r : LoadVectors("aes256_gcm.vec")) {
        SCOPED_TRACE(r.Where());
        const std::vector<uint8_t> key = r.Bytes("key"), iv = r.Bytes("iv"), aad = r.Bytes("aad"),
                                   plain = r.Bytes("plain");
        std::vector<uint8_t> want = r.Bytes("cipher"), mac = r.Bytes("mac");
        want.insert(want.end(), mac.begin(), mac.end());
        CAesGcm gcm;
        ASSERT_TRUE(gcm.SetKey(key.data()));
        std::vector<uint8_t> sealed(plain.size() + kGcmTagSize);
        ASSERT_TRUE(gcm.Seal(iv.data(), aad.data(), aad.size(), plain.data(), plain.size(), sealed.data()));
        EXPECT_EQ(ToHex(sealed), ToHex(want));

        std::vector<uint8_t> opened(plain.size() + 1);
        ASSERT_EQ(gcm.Open(iv.data(), aad.data(), aad.size(), want.data(), want.size(), opened.data(), opened.size()),
                  kGcmOk);
        EXPECT_EQ(ToHex(opened.data(), plain.size()), ToHex(plain));
        for (size_t i = 0; i < want.size(); ++i) {
            std::vector<uint8_t> bad = want;
            bad[i] ^= 0x01;
            EXPECT_EQ(gcm.Open(iv.data(), aad.data(), aad.size(), bad.data(), bad.size(), opened.data(),
                               opened.size()),
                      kGcmTagMismatch) << "byte " << i;
        }
        // No room, or an output over the input: refused before the library writes a byte.
        std::vector<uint8_t> small(plain.size() + 1, 0xEE);
        if (!plain.empty()) {
            EXPECT_EQ(gcm.Open(iv.data(), aad.data(), aad.size(), want.data(), want.size(), small.data(),
                               plain.size() - 1), kGcmFailed);
            EXPECT_EQ(small, std::vector<uint8_t>(plain.size() + 1, 0xEE));
            std::vector<uint8_t> inPlace = want;
            EXPECT_EQ(gcm.Open(iv.data(), aad.data(), aad.size(), inPlace.data(), inPlace.size(), inPlace.data(),
                               inPlace.size()), kGcmFailed);
            EXPECT_FALSE(gcm.Seal(iv.data(), aad.data(), aad.size(), inPlace.data(), plain.size(), inPlace.data()));
        }
        std::vector<uint8_t> otherIv = iv;
        otherIv[11] ^= 1;
        EXPECT_EQ(gcm.Open(otherIv.data(), aad.data(), aad.size(), want.data(), want.size(), opened.data(),
                           opened.size()),
                  kGcmTagMismatch);
    }
}

TEST(PlatformCrypto, RandomBytesDiffer)
{
    uint8_t a[16] = {}, b[16] = {};
    ASSERT_TRUE(CryptoRandom(a, sizeof a));
    ASSERT_TRUE(CryptoRandom(b, sizeof b));
    EXPECT_NE(ToHex(a, 16), ToHex(b, 16));
}
