#include <gtest/gtest.h>

#include <cstring>

#include "TestKeys.h"
#include "VectorFile.h"
#include "cipher/Methods.h"

namespace {

const char kPassword[] = "correct horse";

// How many leading bytes Process transforms for a given length.
uint32_t Transformed(int nEncType, uint32_t n)
{
    switch (nEncType) {
    case 0: return n;
    case 3: return n % 8 == 0 ? n : 0;
    default: return n / 8 * 8;
    }
}

std::vector<uint8_t> RunChunks(int nEncType, const std::vector<std::vector<uint8_t>>& chunks, int bEncrypt)
{
    std::vector<uint8_t> out;
    WithCipher(nEncType, [&](CCipher& c) {
        c.GetKey()->SetPassword(kPassword);
        c.Prepare();
        for (std::vector<uint8_t> chunk : chunks) {
            EXPECT_EQ(c.Process(chunk.data(), static_cast<uint32_t>(chunk.size()), bEncrypt), 1);
            out.insert(out.end(), chunk.begin(), chunk.end());
        }
    });
    return out;
}

}  // namespace

TEST(CipherProcess, ContractForEveryMethodAndLength)
{
    for (int t = 0; t < kMethodCount; ++t) {
        for (uint32_t n : {0u, 7u, 13u, 16u}) {
            SCOPED_TRACE(std::string(GetMethodInfo(t)->pszName) + " length " + std::to_string(n));
            const std::vector<uint8_t> orig = Pattern(16, n + 1);
            std::vector<uint8_t> buf = orig;
            WithCipher(t, [&](CCipher& c) {
                c.GetKey()->SetPassword(kPassword);
                EXPECT_EQ(c.Process(buf.data(), n, 1), 0);  // engines not built yet
                EXPECT_EQ(buf, orig);
                EXPECT_EQ(c.Prepare(), 1);
                EXPECT_EQ(c.Process(buf.data(), n, 1), 1);
            });
            const uint32_t m = Transformed(t, n);
            EXPECT_TRUE(std::equal(buf.begin() + m, buf.end(), orig.begin() + m));
            if (m > 0) {
                EXPECT_FALSE(std::equal(buf.begin(), buf.begin() + m, orig.begin()));
            }
            WithCipher(t, [&](CCipher& c) {
                c.GetKey()->SetPassword(kPassword);
                c.Prepare();
                EXPECT_EQ(c.Process(buf.data(), n, 0), 1);
            });
            EXPECT_EQ(buf, orig);
        }
    }
}

TEST(CipherProcess, ChunkedStreamRestoresAndMatchesWhole)
{
    const std::vector<uint8_t> data = Pattern(4096 + 512 + 40, 11);
    const std::vector<std::vector<uint8_t>> chunks = {
        {data.begin(), data.begin() + 4096},
        {data.begin() + 4096, data.begin() + 4096 + 512},
        {data.begin() + 4096 + 512, data.end()}};
    for (int t = 0; t < kMethodCount; ++t) {
        SCOPED_TRACE(GetMethodInfo(t)->pszName);
        const std::vector<uint8_t> cipher = RunChunks(t, chunks, 1);
        EXPECT_EQ(cipher, RunChunks(t, {data}, 1));
        const std::vector<std::vector<uint8_t>> cipherChunks = {
            {cipher.begin(), cipher.begin() + 4096},
            {cipher.begin() + 4096, cipher.begin() + 4096 + 512},
            {cipher.begin() + 4096 + 512, cipher.end()}};
        EXPECT_EQ(RunChunks(t, cipherChunks, 0), data);
    }
}

TEST(CipherPadding, PaddedLengthTable)
{
    struct { uint64_t n, block, stream; } rows[] = {
        {0, 0, 0}, {1, 8, 1}, {7, 8, 7}, {8, 8, 8}, {9, 16, 9},
        {4096, 4096, 4096}, {4097, 4104, 4097}, {6144, 6144, 6144},
        {0xFFFFFFFFull, 0x100000000ull, 0xFFFFFFFFull}};
    for (int t = 0; t < kMethodCount; ++t) {
        WithCipher(t, [&](CCipher& c) {
            for (const auto& r : rows)
                EXPECT_EQ(c.PaddedLength(r.n), t == 0 ? r.stream : r.block) << t << " " << r.n;
            EXPECT_EQ(c.BlockSize(), t == 0 ? 1 : 8);
        });
    }
}

TEST(CipherKey, DerivationRowsHoldForEveryMethod)
{
    for (const CVectorRecord& r : LoadVectors("kdf.vec")) {
        SCOPED_TRACE(r.Where());
        const std::vector<uint8_t> prefix = r.Bytes("prefix");
        for (int t = 0; t < kMethodCount; ++t) {
            WithCipher(t, [&](CCipher& c) {
                c.GetKey()->SetPassword(r.Text("password").c_str());
                EXPECT_EQ(ToHex(c.GetKey()->Data(), prefix.size()), ToHex(prefix));
                EXPECT_EQ(c.GetKey()->Length(), t == 0 ? 16 : 8);
            });
        }
    }
}

TEST(CipherKey, PasswordsAndNullDerive)
{
    CCipherKey8 a, b, n, e;
    a.SetPassword("password");
    b.SetPassword("passwore");
    EXPECT_NE(ToHex(a.Data(), 128), ToHex(b.Data(), 128));
    n.SetPassword(nullptr);
    e.SetPassword("");
    EXPECT_EQ(ToHex(n.Data(), 128), ToHex(e.Data(), 128));
    const std::string longPassword(10000, 'x');
    a.SetPassword(longPassword.c_str());
    EXPECT_NE(ToHex(a.Data(), 128), ToHex(e.Data(), 128));
}

TEST(CipherKey, CopyFromTakesOwnLengthAndClearsTheRest)
{
    CCipherKey16 src;
    src.SetPassword("source");
    CCipherKey8 dst;
    dst.SetPassword("other");
    dst.CopyFrom(src);
    EXPECT_EQ(ToHex(dst.Data(), 8), ToHex(src.Data(), 8));
    const std::vector<uint8_t> zeros(120, 0);
    EXPECT_EQ(ToHex(dst.Data() + 8, 120), ToHex(zeros));
    const std::string before = ToHex(dst.Data(), 8);
    dst.CopyFrom(dst);
    EXPECT_EQ(ToHex(dst.Data(), 8), before);
}

TEST(CipherMethods, TableAndNames)
{
    const char* names[] = {"Sapphire II", "DES", "DES-CBC", "Blowfish", "AES-256-GCM (authenticated)"};
    const char* keywords[] = {"sapphire", "des", "des-cbc", "blowfish", "aes"};
    for (int t = 0; t < kAllMethodCount; ++t) {
        ASSERT_NE(GetMethodInfo(t), nullptr);
        EXPECT_EQ(GetMethodInfo(t)->nEncType, t);
        EXPECT_STREQ(GetMethodInfo(t)->pszName, names[t]);
        EXPECT_STREQ(GetMethodInfo(t)->pszKeyword, keywords[t]);
        EXPECT_EQ(ParseMethodName(keywords[t]), t);
        EXPECT_EQ(ParseMethodName(names[t]), t);
        EXPECT_EQ(ParseMethodName(std::to_string(t).c_str()), t);
    }
    EXPECT_EQ(ParseMethodName("BLOWFISH"), 3);
    EXPECT_EQ(ParseMethodName("sapphire ii"), 0);
    for (const char* bad : {"", "5", "-1", "01", "des3", "des-", "aes-"})
        EXPECT_EQ(ParseMethodName(bad), -1) << bad;
    EXPECT_EQ(ParseMethodName(nullptr), -1);
    EXPECT_EQ(GetMethodInfo(-1), nullptr);
    EXPECT_EQ(GetMethodInfo(5), nullptr);
    bool bCalled = false;
    EXPECT_FALSE(WithCipher(5, [&](CCipher&) { bCalled = true; }));
    EXPECT_FALSE(bCalled);
}
