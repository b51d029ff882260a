// Bare chunked zlib on one core: every 4096-byte chunk of a file deflated on
// its own at the default level (as the container does, without cipher or
// headers), then each packed chunk inflated back, in memory. The floor a
// single-threaded pipeline cannot beat, for bench/compare.sh.
// usage: chunk_zlib FILE   prints "deflate MB/s inflate MB/s packed-bytes"
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include <zlib.h>

namespace {

const size_t kChunk = 4096;
const size_t kPacked = 6144;

std::vector<unsigned char> ReadAll(const char* pszPath)
{
    std::vector<unsigned char> data;
    FILE* pFile = std::fopen(pszPath, "rb");
    if (!pFile)
        return data;
    unsigned char ab[1 << 16];
    for (size_t n; (n = std::fread(ab, 1, sizeof ab, pFile)) > 0;)
        data.insert(data.end(), ab, ab + n);
    std::fclose(pFile);
    return data;
}

double Seconds(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: chunk_zlib FILE\n");
        return 64;
    }
    const std::vector<unsigned char> data = ReadAll(argv[1]);
    const size_t nChunks = (data.size() + kChunk - 1) / kChunk;
    std::vector<unsigned char> packed(nChunks * kPacked);
    std::vector<unsigned> sizes(nChunks);

    z_stream zs = {};
    if (deflateInit(&zs, Z_DEFAULT_COMPRESSION) != Z_OK)
        return 1;
    auto t0 = std::chrono::steady_clock::now();
    size_t nTotal = 0;
    for (size_t i = 0; i < nChunks; ++i) {
        zs.next_in = const_cast<Bytef*>(&data[i * kChunk]);
        zs.avail_in = uInt(std::min(kChunk, data.size() - i * kChunk));
        zs.next_out = &packed[i * kPacked];
        zs.avail_out = uInt(kPacked);
        if (deflate(&zs, Z_FINISH) != Z_STREAM_END)
            return 1;
        sizes[i] = unsigned(zs.total_out);
        nTotal += zs.total_out;
        deflateReset(&zs);
    }
    const double dDeflate = Seconds(t0);
    deflateEnd(&zs);

    zs = z_stream();
    if (inflateInit(&zs) != Z_OK)
        return 1;
    std::vector<unsigned char> plain(kChunk);
    t0 = std::chrono::steady_clock::now();
    for (size_t i = 0; i < nChunks; ++i) {
        zs.next_in = &packed[i * kPacked];
        zs.avail_in = sizes[i];
        zs.next_out = plain.data();
        zs.avail_out = uInt(kChunk);
        if (inflate(&zs, Z_FINISH) != Z_STREAM_END)
            return 1;
        inflateReset(&zs);
    }
    const double dInflate = Seconds(t0);
    inflateEnd(&zs);
    std::printf("%.1f %.1f %zu\n", data.size() / dDeflate / 1e6, data.size() / dInflate / 1e6, nTotal);
    return 0;
}
