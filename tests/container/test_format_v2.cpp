// The version-2 container over buffers: round trips, the reproducible
// container, and every way a container can be altered.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <zlib.h>

#include "batch/WorkItem.h"
#include "container/ContainerV2.h"
#include "tests/common/WinePath.h"

namespace {

typedef std::vector<uint8_t> Bytes;

const char kPassword[] = "correct horse";

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

// A header with a fixed salt and the least iterations a reader takes, so one
// derivation serves the whole suite.
CV2Header FixedHeader(uint8_t bFileId, uint32_t nIterations = kV2MinIterations)
{
    CV2Header h;
    h.nIterations = nIterations;
    for (size_t i = 0; i < kV2SaltSize; ++i) {
        h.abSalt[i] = uint8_t(i);
        h.abFileId[i] = uint8_t(bFileId + i);
    }
    return h;
}

void Master(const CV2Header& h, const char* pszPassword, CKey32& master)
{
    ASSERT_TRUE(MasterKeys().ForReading(pszPassword, h, master));
}

Bytes Seal(const Bytes& data, int nThreads = 2, uint8_t bFileId = 16, const char* pszName = "report.txt")
{
    const CV2Header h = FixedHeader(bFileId);
    CKey32 master;
    Master(h, kPassword, master);
    CContainerV2Writer writer(nThreads);
    EXPECT_EQ(writer.Begin(h, master), WR_OK);
    CMemorySource in(data.data(), data.size());
    CMemorySink out;
    bool bCancelled = false;
    EXPECT_EQ(writer.Write(pszName, in, data.size(), out, nullptr, bCancelled), WR_OK);
    return out.m_bytes;
}

struct COpened {
    int nResult = WR_OK;
    int64_t nDamaged = -1;
    std::string name;
    Bytes data;
};

COpened Open(const Bytes& container, const char* pszPassword = kPassword, int nThreads = 2)
{
    COpened r;
    CContainerV2Reader reader(nThreads);
    CMemorySource in(container.data(), container.size());
    CString strName;
    r.nResult = reader.Begin(in, container.size(), pszPassword, strName);
    if (r.nResult == WR_OK) {
        CMemorySink out;
        bool bCancelled = false;
        r.nResult = reader.Read(&out, nullptr, bCancelled);
        r.data = out.m_bytes;
    }
    r.name = static_cast<const char*>(strName);
    r.nDamaged = reader.DamagedRecord();
    return r;
}

// Offsets of the records: [start, end) of each, record 0 first.
std::vector<std::pair<size_t, size_t>> Records(const Bytes& c)
{
    std::vector<std::pair<size_t, size_t>> r;
    for (size_t p = kV2HeaderSize; p + 4 <= c.size();) {
        const size_t n = c[p] | c[p + 1] << 8 | c[p + 2] << 16 | size_t(c[p + 3]) << 24;
        r.push_back({p, p + 4 + n});
        p += 4 + n;
    }
    return r;
}

Bytes Slice(const Bytes& c, size_t a, size_t b) { return Bytes(c.begin() + a, c.begin() + b); }

void PutLe32(Bytes& c, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        c[at + i] = uint8_t(v >> (8 * i));
}

// A record sealed with the container's own key: authentic, but its plaintext is whatever the test wants.
Bytes Forge(uint64_t nIndex, bool bLast, const Bytes& plain, uint8_t bFileId = 16)
{
    const CV2Header h = FixedHeader(bFileId);
    CKey32 master, fileKey;
    Master(h, kPassword, master);
    EXPECT_TRUE(DeriveFileKeyV2(master, h.abFileId, fileKey));
    uint8_t abHeader[kV2HeaderSize];
    EncodeHeaderV2(h, abHeader);
    CAesGcm gcm;
    EXPECT_TRUE(gcm.SetKey(fileKey.ab));
    Bytes rec(4 + plain.size() + kGcmTagSize);
    EXPECT_EQ(SealRecordV2(gcm, abHeader, nIndex, bLast, plain.data(), uint32_t(plain.size()), rec.data()),
              rec.size());
    return rec;
}

Bytes Deflated(const Bytes& plain)
{
    uLongf n = compressBound(uLong(plain.size()));
    Bytes out(n);
    EXPECT_EQ(compress(out.data(), &n, plain.data(), uLong(plain.size())), Z_OK);
    out.resize(n);
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
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
        EXPECT_EQ(Records(c1).size(), nRecords);
        const COpened r = Open(c3, kPassword, 3);
        ASSERT_EQ(r.nResult, WR_OK);
        EXPECT_EQ(r.name, "report.txt");
        EXPECT_TRUE(r.data == data);
    }
}

TEST(ContainerV2, WriterReproducesTheIndependentlyMadeContainer)
{
    const std::string path = WinePath(std::string(KESTRIN_TEST_DATA) + "/v2_expected.vxj");
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr) << path;
    Bytes expected(1 << 16);
    expected.resize(std::fread(expected.data(), 1, expected.size(), f));
    std::fclose(f);

    const COpened r = Open(expected);
    ASSERT_EQ(r.nResult, WR_OK);
    EXPECT_EQ(r.name, "expected.txt");
    ASSERT_EQ(r.data.size(), 8600u);
    EXPECT_EQ(std::string(r.data.begin(), r.data.begin() + 36), "line 0000 of the expected container\n");

    CV2Header h;
    ASSERT_EQ(DecodeHeaderV2(expected.data(), expected.size(), h), WR_OK);
    EXPECT_EQ(h.nIterations, kV2Iterations);
    CKey32 master;
    Master(h, kPassword, master);
    for (int nThreads : {1, 2}) {
        CContainerV2Writer writer(nThreads);
        ASSERT_EQ(writer.Begin(h, master), WR_OK);
        CMemorySource in(r.data.data(), r.data.size());
        CMemorySink out;
        bool bCancelled = false;
        ASSERT_EQ(writer.Write("expected.txt", in, r.data.size(), out, nullptr, bCancelled), WR_OK);
        EXPECT_TRUE(out.m_bytes == expected);
    }
}

TEST(ContainerV2, WrongPasswordFailsTheNameRecord)
{
    const COpened r = Open(Seal(Sample(100)), "correct horsf");
    EXPECT_EQ(r.nResult, WR_DECRYPT_ERROR);
    EXPECT_TRUE(r.data.empty());
}

TEST(ContainerV2, EveryFlippedHeaderByteIsCaught)
{
    const Bytes good = Seal(Sample(5000));
    for (size_t i = 0; i < kV2HeaderSize; ++i) {
        Bytes c = good;
        c[i] ^= 0x01;
        CV2Header h;
        // A header still in range reads as a wrong password: the two cannot be told apart.
        const int nWant = DecodeHeaderV2(c.data(), c.size(), h) == WR_OK ? WR_DECRYPT_ERROR : WR_BAD_FORMAT;
        const COpened r = Open(c);
        EXPECT_EQ(r.nResult, nWant) << "byte " << i;
        EXPECT_TRUE(r.data.empty()) << "byte " << i;
    }
}

TEST(ContainerV2, AlteredContainersAreRefused)
{
    const Bytes good = Seal(Sample(3 * 4096 + 100));
    const Bytes other = Seal(Sample(3 * 4096 + 100, 9), 2, 99);
    const auto rec = Records(good);
    ASSERT_EQ(rec.size(), 5u);
    auto R = [&](const Bytes& c, size_t i) { return Slice(c, rec[i].first, rec[i].second); };
    const Bytes header = Slice(good, 0, kV2HeaderSize);
    Bytes wideChunk = good, badLength = good, longLength = good, iterLow = good, iterHigh = good, chunk = good;
    PutLe32(iterLow, 6, kV2MinIterations - 1);
    PutLe32(iterHigh, 6, kV2MaxIterations + 1);
    PutLe32(chunk, 42, 8192);
    PutLe32(badLength, rec[2].first, kV2MinSealed - 1);
    PutLe32(longLength, rec[2].first, kV2MaxSealed + 1);

    struct CCase {
        std::string what;
        Bytes container;
        int nResult;
        int64_t nDamaged;
    };
    std::vector<CCase> cases = {
        {"cut inside the header", Slice(good, 0, 45), WR_BAD_FORMAT, -1},
        {"not version 2", Cat({Bytes{'V', 'X', 'J', '1'}, Slice(good, 4, good.size())}), WR_BAD_FORMAT, -1},
        {"iterations below range", iterLow, WR_BAD_FORMAT, -1},
        {"iterations above range", iterHigh, WR_BAD_FORMAT, -1},
        {"other chunk size", chunk, WR_BAD_FORMAT, -1},
        {"name record dropped", Cat({header, R(good, 1), R(good, 2), R(good, 3), R(good, 4)}), WR_DECRYPT_ERROR, -1},
        {"record 1 dropped", Cat({header, R(good, 0), R(good, 2), R(good, 3), R(good, 4)}), WR_INFLATE_ERROR, 1},
        {"record 2 dropped", Cat({header, R(good, 0), R(good, 1), R(good, 3), R(good, 4)}), WR_INFLATE_ERROR, 2},
        {"last record dropped", Cat({header, R(good, 0), R(good, 1), R(good, 2), R(good, 3)}), WR_INFLATE_ERROR, 3},
        {"records 1 and 2 swapped", Cat({header, R(good, 0), R(good, 2), R(good, 1), R(good, 3), R(good, 4)}),
         WR_INFLATE_ERROR, 1},
        {"records 3 and 4 swapped", Cat({header, R(good, 0), R(good, 1), R(good, 2), R(good, 4), R(good, 3)}),
         WR_INFLATE_ERROR, 3},
        {"record 2 duplicated",
         Cat({header, R(good, 0), R(good, 1), R(good, 2), R(good, 2), R(good, 3), R(good, 4)}), WR_INFLATE_ERROR, 3},
        {"last record duplicated", Cat({good, R(good, 4)}), WR_INFLATE_ERROR, 4},
        {"record from another container", Cat({header, R(good, 0), R(good, 1), R(other, 2), R(good, 3), R(good, 4)}),
         WR_INFLATE_ERROR, 2},
        {"name record from another container", Cat({header, R(other, 0), R(good, 1), R(good, 2), R(good, 3), R(good, 4)}),
         WR_DECRYPT_ERROR, -1},
        {"bytes after the last record", Cat({good, Bytes{0}}), WR_INFLATE_ERROR, 4},
        {"length field below range", badLength, WR_INFLATE_ERROR, 2},
        {"length field above range", longLength, WR_INFLATE_ERROR, 2},
        {"bad mode byte", Cat({header, R(good, 0), Forge(1, true, {2, 'x'})}), WR_INFLATE_ERROR, 1},
        {"short record before the last", Cat({header, R(good, 0), Forge(1, false, Cat({{1}, Sample(100)})),
                                             Forge(2, true, {1, 'x'})}), WR_INFLATE_ERROR, 1},
        {"empty last record after data", Cat({header, R(good, 0), Forge(1, false, Cat({{1}, Sample(4096)})),
                                              Forge(2, true, {1})}), WR_INFLATE_ERROR, 2},
        {"bytes after the zlib stream", Cat({header, R(good, 0), Forge(1, true, Cat({{0}, Deflated(Bytes(9)), {0}}))}),
         WR_INFLATE_ERROR, 1},
        {"inflates beyond a chunk", Cat({header, R(good, 0), Forge(1, true, Cat({{0}, Deflated(Bytes(4097))}))}),
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
    cases.push_back({"cut after the header", header, WR_INFLATE_ERROR, 0});

    for (const CCase& c : cases) {
        SCOPED_TRACE(c.what);
        const COpened r = Open(c.container);
        EXPECT_EQ(r.nResult, c.nResult);
        EXPECT_EQ(r.nDamaged, c.nDamaged);
        // The reader hands out only authenticated chunks, in order, from the start.
        const Bytes data = Sample(3 * 4096 + 100);
        EXPECT_TRUE(r.data.size() <= data.size() && std::equal(r.data.begin(), r.data.end(), data.begin()));
    }
}
