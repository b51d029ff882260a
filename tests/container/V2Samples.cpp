#include "V2Samples.h"

#include <zlib.h>

#include "container/WorkItem.h"
#include "container/ContainerV2.h"

const char kV2TestPassword[] = "correct horse";

CV2Header FixedHeaderV2(uint8_t bFileId, uint32_t nIterations)
{
    CV2Header h;
    h.nIterations = nIterations;
    for (size_t i = 0; i < kV2SaltSize; ++i) {
        h.abSalt[i] = uint8_t(i);
        h.abFileId[i] = uint8_t(bFileId + i);
    }
    return h;
}

namespace {

void MasterOf(const CV2Header& h, CKey32& master)
{
    ASSERT_TRUE(MasterKeys().ForReading(kV2TestPassword, h, master));
}

}  // namespace

Bytes SealV2(const Bytes& data, int nThreads, uint8_t bFileId, const char* pszName)
{
    const CV2Header h = FixedHeaderV2(bFileId);
    CKey32 master;
    MasterOf(h, master);
    CContainerV2Writer writer(nThreads);
    EXPECT_EQ(writer.Begin(h, master), WR_OK);
    CMemorySource in(data.data(), data.size());
    CMemorySink out;
    bool bCancelled = false;
    EXPECT_EQ(writer.Write(pszName, in, data.size(), out, nullptr, bCancelled), WR_OK);
    return out.m_bytes;
}

Bytes PrefixV2(uint8_t bFileId)
{
    return Slice(SealV2(Bytes(), 1, bFileId), 0, kV2PrefixSize);
}

Bytes ForgeV2(uint64_t nIndex, bool bLast, const Bytes& plain, uint8_t bFileId)
{
    const CV2Header h = FixedHeaderV2(bFileId);
    CKey32 master, fileKey;
    MasterOf(h, master);
    Bytes prefix(kV2PrefixSize);
    EncodeHeaderV2(h, prefix.data());
    EXPECT_TRUE(KeyHeaderV2(prefix.data(), master, fileKey, prefix.data() + kV2HeaderSize));
    CAesGcm gcm;
    EXPECT_TRUE(gcm.SetKey(fileKey.ab));
    uint8_t abNonce[kGcmNonceSize];
    NonceV2(nIndex, bLast, abNonce);
    Bytes rec(4 + plain.size() + kGcmTagSize);
    PutLe32(rec, 0, uint32_t(plain.size() + kGcmTagSize));
    EXPECT_TRUE(gcm.Seal(abNonce, prefix.data(), prefix.size(), plain.data(), plain.size(), rec.data() + 4));
    return rec;
}

std::vector<std::pair<size_t, size_t>> RecordsV2(const Bytes& c)
{
    std::vector<std::pair<size_t, size_t>> r;
    for (size_t p = kV2PrefixSize; p + 4 <= c.size();) {
        const size_t n = c[p] | c[p + 1] << 8 | c[p + 2] << 16 | size_t(c[p + 3]) << 24;
        r.push_back({p, p + 4 + n});
        p += 4 + n;
    }
    return r;
}

size_t RecordOffsetV2(const Bytes& c, size_t nIndex)
{
    const auto records = RecordsV2(c);
    return nIndex == 0 ? kV2PrefixSize : records[nIndex - 1].second;
}

Bytes Slice(const Bytes& c, size_t a, size_t b) { return Bytes(c.begin() + a, c.begin() + b); }

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

void PutLe32(Bytes& c, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        c[at + i] = uint8_t(v >> (8 * i));
}

Bytes PaddedChunkRecord(size_t nRecord)
{
    // Mode 0, then a zlib stream: its header, a raw deflate of up to a chunk
    // of noise ending in a sync flush, empty stored blocks (00 00 00 ff ff),
    // a final empty stored block and the Adler-32. The chunk's length is
    // chosen so that the padding comes out exact.
    for (size_t nChunk = kV2ChunkSize; nChunk > 0; --nChunk) {
        const Bytes chunk = RandomBytes(nChunk, 7);
        z_stream zs = {};
        if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            break;
        Bytes raw(compressBound(uLong(nChunk)) + 64);
        zs.next_in = const_cast<Bytef*>(chunk.data());
        zs.avail_in = uInt(nChunk);
        zs.next_out = raw.data();
        zs.avail_out = uInt(raw.size());
        const bool bFlushed = deflate(&zs, Z_SYNC_FLUSH) == Z_OK;
        raw.resize(zs.total_out);
        deflateEnd(&zs);
        const size_t nFixed = 1 + 2 + raw.size() + 5 + 4;
        if (!bFlushed || nFixed > nRecord || (nRecord - nFixed) % 5 != 0)
            continue;
        Bytes out = {0, 0x78, 0x9c};
        out.insert(out.end(), raw.begin(), raw.end());
        while (out.size() + 5 + 4 < nRecord)
            out.insert(out.end(), {0x00, 0x00, 0x00, 0xff, 0xff});
        out.insert(out.end(), {0x01, 0x00, 0x00, 0xff, 0xff});
        const uLong nAdler = adler32(adler32(0, nullptr, 0), chunk.data(), uInt(nChunk));
        out.insert(out.end(), {uint8_t(nAdler >> 24), uint8_t(nAdler >> 16), uint8_t(nAdler >> 8), uint8_t(nAdler)});
        return out;
    }
    ADD_FAILURE() << "no padded record of " << nRecord << " bytes";
    return Bytes();
}
