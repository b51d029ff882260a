#include <gtest/gtest.h>

#include "TestKeys.h"
#include "VectorFile.h"
#include "cipher/Sapphire.h"

namespace {

std::vector<uint8_t> Encrypt(const std::vector<uint8_t>& key, const std::vector<uint8_t>& plain)
{
    CSapphireEncryptor enc(key.data(), static_cast<int>(key.size()));
    std::vector<uint8_t> out(plain.size());
    enc.ProcessString(out.data(), plain.data(), static_cast<uint32_t>(plain.size()));
    return out;
}

std::vector<uint8_t> Hash(const CVectorRecord& r, size_t nDigest)
{
    const std::vector<uint8_t> msg = r.Bytes("msg");
    CSapphireHash hash(static_cast<int>(nDigest));
    for (long i = 0; i < r.Number("repeat", 1); ++i)
        hash.Update(msg.data(), static_cast<uint32_t>(msg.size()));
    std::vector<uint8_t> out(nDigest);
    hash.Final(out.data());
    return out;
}

// The keyed hash is the keyed encryptor fed the message, then the closing
// stir 255..0, then the stream on zero bytes.
std::vector<uint8_t> KeyedHash(const std::vector<uint8_t>& key, const std::vector<uint8_t>& msg, size_t n)
{
    CSapphireEncryptor enc(key.data(), static_cast<int>(key.size()));
    std::vector<uint8_t> sink(msg.size());
    enc.ProcessString(sink.data(), msg.data(), static_cast<uint32_t>(msg.size()));
    uint8_t stir[256];
    for (int i = 0; i < 256; ++i)
        stir[i] = static_cast<uint8_t>(255 - i);
    enc.ProcessString(stir, 256);
    std::vector<uint8_t> out(n, 0);
    enc.ProcessString(out.data(), static_cast<uint32_t>(n));
    return out;
}

const std::vector<uint8_t> kKey = {0x10, 0x32, 0x54, 0x76, 0x98, 0xba, 0xdc, 0xfe,
                                   0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};

}  // namespace

TEST(SapphireVectors, CipherRowsEncryptAndDecrypt)
{
    for (const CVectorRecord& r : LoadVectors("sapphire.vec", "cipher")) {
        SCOPED_TRACE(r.Where());
        const std::vector<uint8_t> key = r.Bytes("key"), plain = r.Bytes("plain");
        EXPECT_EQ(ToHex(Encrypt(key, plain)), ToHex(r.Bytes("cipher")));

        std::vector<uint8_t> buf = r.Bytes("cipher");
        CSapphireDecryptor dec(key.data(), static_cast<int>(key.size()));
        dec.ProcessString(buf.data(), static_cast<uint32_t>(buf.size()));
        EXPECT_EQ(ToHex(buf), ToHex(plain));

        // Byte at a time through the virtual step gives the same stream.
        CSapphireEncryptor enc(key.data(), static_cast<int>(key.size()));
        CByteStreamCipher& stream = enc;
        std::vector<uint8_t> bytewise;
        for (uint8_t b : plain)
            bytewise.push_back(stream.ProcessByte(b));
        EXPECT_EQ(ToHex(bytewise), ToHex(r.Bytes("cipher")));
        CSapphireDecryptor dec2(key.data(), static_cast<int>(key.size()));
        CByteStreamCipher& unstream = dec2;
        std::vector<uint8_t> back;
        for (uint8_t b : bytewise)
            back.push_back(unstream.ProcessByte(b));
        EXPECT_EQ(ToHex(back), ToHex(plain));
    }
}

TEST(SapphireVectors, HashRowsAndPrefixProperty)
{
    for (const CVectorRecord& r : LoadVectors("sapphire.vec", "hash")) {
        SCOPED_TRACE(r.Where());
        const std::vector<uint8_t> digest = r.Bytes("digest");
        EXPECT_EQ(ToHex(Hash(r, digest.size())), ToHex(digest));
        const std::vector<uint8_t> longer = Hash(r, 128);
        EXPECT_EQ(ToHex(longer.data(), digest.size()), ToHex(digest));
    }
}

TEST(SapphireVectors, KeyedHashRows)
{
    for (const CVectorRecord& r : LoadVectors("sapphire.vec", "keyedhash")) {
        SCOPED_TRACE(r.Where());
        const std::vector<uint8_t> digest = r.Bytes("digest");
        EXPECT_EQ(ToHex(KeyedHash(r.Bytes("key"), r.Bytes("msg"), digest.size())), ToHex(digest));
    }
}

TEST(SapphireVectors, KnownPortingMistakesAreNotReproduced)
{
    for (const CVectorRecord& r : LoadVectors("sapphire.vec", "mistake-cipher")) {
        SCOPED_TRACE(r.Where());
        EXPECT_NE(ToHex(Encrypt(r.Bytes("key"), r.Bytes("plain"))), ToHex(r.Bytes("wrong")));
    }
    for (const CVectorRecord& r : LoadVectors("sapphire.vec", "mistake-hash")) {
        SCOPED_TRACE(r.Where());
        EXPECT_NE(ToHex(Hash(r, r.Bytes("wrong").size())), ToHex(r.Bytes("wrong")));
    }
}

TEST(SapphireStream, PiecesOfAnySizeGiveTheWholeStream)
{
    const std::vector<uint8_t> plain = Pattern(5000);
    const std::vector<uint8_t> whole = Encrypt(kKey, plain);
    const uint32_t pieces[] = {0, 1, 7, 13, 256, 4096, 0, 627};
    CSapphireEncryptor enc(kKey.data(), 16);
    CSapphireDecryptor dec(kKey.data(), 16);
    std::vector<uint8_t> buf = plain;
    uint32_t pos = 0;
    for (uint32_t n : pieces) {
        enc.ProcessString(buf.data() + pos, n);  // in place
        pos += n;
    }
    ASSERT_EQ(pos, plain.size());
    EXPECT_EQ(buf, whole);
    pos = 0;
    for (uint32_t n : {4999u, 1u}) {
        dec.ProcessString(buf.data() + pos, buf.data() + pos, n);
        pos += n;
    }
    EXPECT_EQ(buf, plain);
}

TEST(SapphireStream, FlippedCipherBitsFlipThatPlainByteAndGarbleTheRest)
{
    const std::vector<uint8_t> plain = Pattern(64, 7);
    std::vector<uint8_t> buf = Encrypt(kKey, plain);
    buf[10] ^= 0x24;
    CSapphireDecryptor dec(kKey.data(), 16);
    dec.ProcessString(buf.data(), static_cast<uint32_t>(buf.size()));
    for (size_t i = 0; i < 10; ++i)
        EXPECT_EQ(buf[i], plain[i]) << i;
    EXPECT_EQ(buf[10], plain[10] ^ 0x24);
    int nSame = 0;
    for (size_t i = 11; i < buf.size(); ++i)
        nSame += buf[i] == plain[i];
    EXPECT_LT(nSame, 8);
}

TEST(SapphireStream, KeyRepeatedTwiceGivesAnotherDeck)
{
    const std::vector<uint8_t> key = {'k', 'e', 'y', '!'};
    std::vector<uint8_t> twice = key;
    twice.insert(twice.end(), key.begin(), key.end());
    const std::vector<uint8_t> zeros(32, 0);
    EXPECT_NE(Encrypt(key, zeros), Encrypt(twice, zeros));
}

TEST(SapphireHash, FinalOfZeroBytesStillStirs)
{
    CSapphireHash a, b;
    uint8_t dummy = 0, da[20], db[20];
    a.FinalBytes(&dummy, 0);
    a.FinalBytes(da, 20);
    b.FinalBytes(db, 20);
    EXPECT_NE(ToHex(da, 20), ToHex(db, 20));
    EXPECT_EQ(ToHex(db, 20), "c1e0df6ce706a32fb7b25b7ac55f436ad29c9fe5");
}

TEST(SapphireCipher, ProcessesWithSixteenKeyBytes)
{
    CSapphireCipher c;
    LoadRawKey(c, kKey);
    std::vector<uint8_t> buf = Pattern(100);
    ASSERT_EQ(c.Process(buf.data(), 100, 1), 1);
    EXPECT_EQ(buf, Encrypt(kKey, Pattern(100)));
}
