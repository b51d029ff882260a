// The version-2 container over buffers: round trips, the reproducible
// container, and every way a container can be altered.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <zlib.h>

#include "container/WorkItem.h"
#include "container/ContainerV2.h"
#include "V2Samples.h"
#include "tests/cipher/VectorFile.h"
#include "tests/common/WinePath.h"

namespace {

const char* const kPassword = kV2TestPassword;

Bytes Sample(size_t n, uint32_t nSeed = 1)
{
    // Text-like stretches that deflate and noise that does not, so both modes appear.
    Bytes b(n);
    uint32_t x = nSeed;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        b[i] = (i / 5000) % 2 ? uint8_t(x >> 24) : uint8_t("kestrin "[i % 8]);
    }
    return b;
}

Bytes Seal(const Bytes& data, int nThreads = 2, uint8_t bFileId = 16, const char* pszName = "report.txt")
{
    return SealV2(data, nThreads, bFileId, pszName);
}

struct COpened {
    int nResult = WR_OK;
    CV2Fault fault;
    std::string name;
    Bytes data;
};

COpened Open(const Bytes& container, const char* pszPassword = kPassword, int nThreads = 2)
{
    COpened r;
    CContainerV2Reader reader(nThreads);
    CMemorySource in(container.data(), container.size());
    CString strName;
    r.nResult = reader.Begin(in, pszPassword, strName);
    if (r.nResult == WR_OK) {
        CMemorySink out;
        bool bCancelled = false;
        r.nResult = reader.Read(&out, nullptr, bCancelled);
        r.data = out.m_bytes;
    }
    r.name = static_cast<const char*>(strName);
    r.fault = reader.Fault();
    return r;
}

Bytes Deflated(const Bytes& plain)
{
    uLongf n = compressBound(uLong(plain.size()));
    Bytes out(n);
    EXPECT_EQ(compress(out.data(), &n, plain.data(), uLong(plain.size())), Z_OK);
    out.resize(n);
    return out;
}

Bytes ReadTestData(const char* pszName)
{
    const std::string path = WinePath(std::string(KESTRIN_TEST_DATA) + "/" + pszName);
    FILE* f = std::fopen(path.c_str(), "rb");
    EXPECT_NE(f, nullptr) << path;
    Bytes bytes(1 << 16);
    bytes.resize(f ? std::fread(bytes.data(), 1, bytes.size(), f) : 0);
    if (f)
        std::fclose(f);
    return bytes;
}

}  // namespace

TEST(ContainerV2, RoundTripsEverySizeAndThreadCountAlike)
{
    for (size_t n : {size_t(0), size_t(1), size_t(4095), size_t(4096), size_t(4097), size_t(3 << 20) + 77}) {
        SCOPED_TRACE(n);
        const Bytes data = Sample(n);
        const Bytes c1 = Seal(data, 1), c3 = Seal(data, 3);
        EXPECT_TRUE(c1 == c3) << "output depends on the thread count";
        const size_t nRecords = 1 + (n == 0 ? 1 : (n + 4095) / 4096);
        EXPECT_EQ(RecordsV2(c1).size(), nRecords);
        const COpened r = Open(c3, kPassword, 3);
        ASSERT_EQ(r.nResult, WR_OK);
        EXPECT_EQ(r.name, "report.txt");
        EXPECT_TRUE(r.data == data);
    }
}

// The published known-answer containers (made by an independent
// implementation): our keys, our writer's bytes and our reader's contents.
TEST(ContainerV2, KnownAnswerContainers)
{
    const CV2Header h = FixedHeaderV2(16, 100000);
    CKey32 master, fileKey, headerKey;
    ASSERT_TRUE(MasterKeys().ForReading("correct horse", h, master));
    ASSERT_TRUE(DeriveFileKeysV2(master, h.abFileId, fileKey, headerKey));
    uint8_t abHeader[kV2HeaderSize], abCommitment[kV2CommitmentSize];
    EncodeHeaderV2(h, abHeader);
    ASSERT_TRUE(KeyHeaderV2(abHeader, master, fileKey, abCommitment));
    EXPECT_EQ(ToHex(master.ab, 32), "57f2c2f0739748d516419b062a884666323c583ea4ae165504a81f7b53c62a09");
    EXPECT_EQ(ToHex(fileKey.ab, 32), "d6bb0aa30cc548a771e825e9e461d5ce028076ec89075743a501ace4f0dadb1e");
    EXPECT_EQ(ToHex(headerKey.ab, 32), "976921be05827419ca437f5e5190bed675b2fe1b67267a9815d014ecb2c5cfa7");
    EXPECT_EQ(ToHex(abCommitment, 32), "28f70560cbaab4c2039ad9b0d847ac0936986e19c13ea3f43c13b10f6a4e7e11");

    const struct {
        const char* pszName;
        Bytes container;
        size_t nPlain;
        const char* pszHead;  // the first bytes and the last, as published
        const char* pszTail;
    } kCases[] = {
        {"hello.txt", ReadTestData("v2_known_a.vxj"), 5000,
         "56584a320201a0860100000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f0010000028f70560cbaab4"
         "c2039ad9b0d847ac0936986e19c13ea3f43c13b10f6a4e7e1119000000c1ebfbaf45764211405d6ef599474ebc852708219747a3c4c6"
         "11100000cdb693f972e9ff837a8f1e30268b0687d4a626c02c11803da15b678df7265d1250e6e659c7f6d40884f64031b29b9e5b4b",
         "d75f2281c52b58e82b1b1476fb1d6784f8bfe4c0e2cf16cabf33eded9b989c0c98823d339339516ac6fa0a7b6c5b8b39"},
        {"empty.bin", ReadTestData("v2_known_b.vxj"), 0,
         "56584a320201a0860100000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f0010000028f705"
         "60cbaab4c2039ad9b0d847ac0936986e19c13ea3f43c13b10f6a4e7e1119000000cce3e7b7537654005ab8bc8e990936ec0b"
         "c92e1afd43ef44111100000091eea62367a1eba4fa00325eda0535bee6",
         ""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszName);
        const std::string strHead = c.pszHead, strTail = c.pszTail;
        ASSERT_GE(c.container.size(), strHead.size() / 2 + strTail.size() / 2);
        EXPECT_EQ(ToHex(c.container.data(), strHead.size() / 2), strHead);
        EXPECT_EQ(ToHex(c.container.data() + c.container.size() - strTail.size() / 2, strTail.size() / 2), strTail);
        const COpened r = Open(c.container);
        ASSERT_EQ(r.nResult, WR_OK);
        EXPECT_EQ(r.name, c.pszName);
        ASSERT_EQ(r.data.size(), c.nPlain);
        for (int nThreads : {1, 2}) {
            CContainerV2Writer writer(nThreads);
            ASSERT_EQ(writer.Begin(h, master), WR_OK);
            CMemorySource in(r.data.data(), r.data.size());
            CMemorySink out;
            bool bCancelled = false;
            ASSERT_EQ(writer.Write(c.pszName, in, r.data.size(), out, nullptr, bCancelled), WR_OK);
            EXPECT_TRUE(out.m_bytes == c.container) << nThreads << " threads";
        }
    }
}

TEST(ContainerV2, WrongPasswordFailsTheKeyCommitment)
{
    const COpened r = Open(Seal(Sample(100)), "correct horsf");
    EXPECT_EQ(r.nResult, WR_DECRYPT_ERROR);
    EXPECT_EQ(r.fault.nKind, V2_FAULT_WRONG_PASSWORD);
    EXPECT_TRUE(r.data.empty());
}

TEST(ContainerV2, EveryFlippedHeaderOrCommitmentByteIsCaught)
{
    const Bytes good = Seal(Sample(5000));
    for (size_t i = 0; i < kV2PrefixSize; ++i) {
        Bytes c = good;
        c[i] ^= 0x01;
        CV2Header h;
        CV2Fault fault;
        // A header still in range reads as a wrong password: the two cannot be told apart.
        const int nDecoded = DecodeHeaderV2(c.data(), c.size(), h, fault);
        const int nWant = nDecoded == WR_OK ? WR_DECRYPT_ERROR : nDecoded;
        const COpened r = Open(c);
        EXPECT_EQ(r.nResult, nWant) << "byte " << i;
        EXPECT_EQ(r.nResult == WR_DECRYPT_ERROR, r.fault.nKind == V2_FAULT_WRONG_PASSWORD) << "byte " << i;
        EXPECT_TRUE(r.data.empty()) << "byte " << i;
    }
}

TEST(ContainerV2, AlteredContainersAreRefused)
{
    const Bytes good = Seal(Sample(3 * 4096 + 100));
    const Bytes other = Seal(Sample(3 * 4096 + 100, 9), 2, 99);
    const auto rec = RecordsV2(good);
    ASSERT_EQ(rec.size(), 5u);
    auto R = [&](const Bytes& c, size_t i) { return Slice(c, rec[i].first, rec[i].second); };
    const Bytes prefix = Slice(good, 0, kV2PrefixSize);
    Bytes badLength = good, longLength = good;
    PutLe32(badLength, rec[2].first, kV2MinSealed - 1);
    PutLe32(longLength, rec[2].first, kV2MaxDataSealed + 1);

    struct CCase {
        std::string what;
        Bytes container;
        int nResult;
        int64_t nDamaged;  // the record named, or -1
    };
    std::vector<CCase> cases = {
        {"cut inside the header", Slice(good, 0, 45), WR_BAD_FORMAT, -1},
        {"cut inside the key commitment", Slice(good, 0, 60), WR_INFLATE_ERROR, -1},
        {"not version 2", Cat({Bytes{'V', 'X', 'J', '1'}, Slice(good, 4, good.size())}), WR_BAD_FORMAT, -1},
        {"name record dropped", Cat({prefix, R(good, 1), R(good, 2), R(good, 3), R(good, 4)}), WR_INFLATE_ERROR, 0},
        {"record 1 dropped", Cat({prefix, R(good, 0), R(good, 2), R(good, 3), R(good, 4)}), WR_INFLATE_ERROR, 1},
        {"record 2 dropped", Cat({prefix, R(good, 0), R(good, 1), R(good, 3), R(good, 4)}), WR_INFLATE_ERROR, 2},
        {"last record dropped", Cat({prefix, R(good, 0), R(good, 1), R(good, 2), R(good, 3)}), WR_INFLATE_ERROR, 3},
        {"records 1 and 2 swapped", Cat({prefix, R(good, 0), R(good, 2), R(good, 1), R(good, 3), R(good, 4)}),
         WR_INFLATE_ERROR, 1},
        {"records 3 and 4 swapped", Cat({prefix, R(good, 0), R(good, 1), R(good, 2), R(good, 4), R(good, 3)}),
         WR_INFLATE_ERROR, 3},
        {"record 2 duplicated",
         Cat({prefix, R(good, 0), R(good, 1), R(good, 2), R(good, 2), R(good, 3), R(good, 4)}), WR_INFLATE_ERROR, 3},
        {"last record duplicated", Cat({good, R(good, 4)}), WR_INFLATE_ERROR, 4},
        {"record from another container", Cat({prefix, R(good, 0), R(good, 1), R(other, 2), R(good, 3), R(good, 4)}),
         WR_INFLATE_ERROR, 2},
        {"name record from another container",
         Cat({prefix, R(other, 0), R(good, 1), R(good, 2), R(good, 3), R(good, 4)}), WR_INFLATE_ERROR, 0},
        {"bytes after the last record", Cat({good, Bytes{0}}), WR_INFLATE_ERROR, 4},
        {"length field below range", badLength, WR_INFLATE_ERROR, 2},
        {"length field above range", longLength, WR_INFLATE_ERROR, 2},
        {"bad mode byte", Cat({prefix, R(good, 0), ForgeV2(1, true, {2, 'x'})}), WR_INFLATE_ERROR, 1},
        {"short record before the last", Cat({prefix, R(good, 0), ForgeV2(1, false, Cat({{1}, Sample(100)})),
                                             ForgeV2(2, true, {1, 'x'})}), WR_INFLATE_ERROR, 1},
        {"empty last record after data", Cat({prefix, R(good, 0), ForgeV2(1, false, Cat({{1}, Sample(4096)})),
                                              ForgeV2(2, true, {1})}), WR_INFLATE_ERROR, 2},
        {"bytes after the zlib stream",
         Cat({prefix, R(good, 0), ForgeV2(1, true, Cat({{0}, Deflated(Bytes(9)), {0}}))}), WR_INFLATE_ERROR, 1},
        {"inflates beyond a chunk", Cat({prefix, R(good, 0), ForgeV2(1, true, Cat({{0}, Deflated(Bytes(4097))}))}),
         WR_INFLATE_ERROR, 1},
    };
    // Cut right after every record but the last, and inside every record.
    for (size_t i = 0; i < rec.size(); ++i) {
        if (i + 1 < rec.size())
            // The new last record fails its tag; after the name record, the data is missing.
            cases.push_back({"cut after record " + std::to_string(i), Slice(good, 0, rec[i].second),
                             WR_INFLATE_ERROR, int64_t(i == 0 ? 1 : i)});
        for (size_t at : {rec[i].first + 2, (rec[i].first + rec[i].second) / 2, rec[i].second - 1})
            cases.push_back({"cut inside record " + std::to_string(i) + " at " + std::to_string(at),
                             Slice(good, 0, at), WR_INFLATE_ERROR, int64_t(i)});
    }
    cases.push_back({"cut after the key commitment", prefix, WR_INFLATE_ERROR, 0});

    for (const CCase& c : cases) {
        SCOPED_TRACE(c.what);
        const COpened r = Open(c.container);
        EXPECT_EQ(r.nResult, c.nResult);
        EXPECT_EQ(r.fault.nRecord, c.nDamaged);
        if (c.nDamaged >= 0) {
            EXPECT_EQ(r.fault.nKind, V2_FAULT_RECORD);
            EXPECT_EQ(r.fault.nOffset, RecordOffsetV2(c.container, size_t(c.nDamaged)));
        }
        // The reader hands out only authenticated chunks, in order, from the start.
        const Bytes data = Sample(3 * 4096 + 100);
        EXPECT_TRUE(r.data.size() <= data.size() && std::equal(r.data.begin(), r.data.end(), data.begin()));
    }
}

// The bounds come before the cipher: a record sealed with the right key, one
// byte past what a writer produces, is refused even when the room would hold it.
TEST(ContainerV2, RecordBoundsComeBeforeTheCipher)
{
    const Bytes prefix = PrefixV2();
    const CV2Header h = FixedHeaderV2();
    CKey32 master, fileKey, headerKey;
    ASSERT_TRUE(MasterKeys().ForReading(kPassword, h, master));
    ASSERT_TRUE(DeriveFileKeysV2(master, h.abFileId, fileKey, headerKey));
    CAesGcm gcm;
    ASSERT_TRUE(gcm.SetKey(fileKey.ab));
    const struct {
        uint64_t nIndex;
        uint32_t nSealed;
        EGcmResult nWant;
    } kCases[] = {
        {0, kV2MinSealed - 1, kGcmFailed}, {0, kV2MinSealed, kGcmOk}, {0, 1040, kGcmOk}, {0, 1041, kGcmFailed},
        {1, kV2MinSealed - 1, kGcmFailed}, {1, kV2MinSealed, kGcmOk}, {1, 4113, kGcmOk}, {1, 4114, kGcmFailed},
        {7, 8189, kGcmFailed},
    };
    Bytes room(8192);
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::to_string(c.nIndex) + ": " + std::to_string(c.nSealed));
        const Bytes rec = ForgeV2(c.nIndex, false, Bytes(c.nSealed - kGcmTagSize, 'x'));
        EXPECT_EQ(OpenRecordV2(gcm, prefix.data(), c.nIndex, false, rec.data() + 4, c.nSealed, room.data(),
                               room.size()),
                  c.nWant);
        EXPECT_EQ(SealRecordV2(gcm, prefix.data(), c.nIndex, false, rec.data() + 4, c.nSealed - uint32_t(kGcmTagSize),
                               room.data()) != 0,
                  c.nWant == kGcmOk);
    }
}
