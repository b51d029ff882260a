// The container byte for byte, and the reader's verdict on damaged ones.
#include <cstring>
#include <functional>

#include <zlib.h>

#include "PipelineRunner.h"
#include "ReferenceWriter.h"
#include "cipher/Methods.h"
#include "container/FileProcessor.h"
#include "base/PathUtils.h"

namespace {

class ByteExact : public ScratchTest, public ::testing::WithParamInterface<int> {};

TEST_P(ByteExact, ProcessorWritesWhatTheReferenceWriterWrites)
{
    const int nEncType = GetParam();
    for (size_t nSize : {0, 1, 100, 4095, 4096, 4097, 5000, 3 * 4096 + 17}) {
        SCOPED_TRACE(nSize);
        Bytes plain = MixedBytes(nSize);
        CString strSource = PathOf("tiny.txt");
        WriteFileBytes(strSource, plain);
        Outcome outcome = RunEncrypt(strSource, PathOf("tiny._xt"), nEncType);
        ASSERT_EQ(outcome.nResult, WR_OK);
        ASSERT_EQ(outcome.strDest, PathOf("tiny._xt"));
        EXPECT_EQ(ReadFileBytes(outcome.strDest), CReferenceWriter::Container(nEncType, kPassword, "tiny.txt", plain));
        std::remove(outcome.strDest);
    }
}

TEST_P(ByteExact, LayoutOfTheBlocks)
{
    const int nEncType = GetParam();
    Bytes plain = RandomBytes(4097);
    WriteFileBytes(PathOf("abcdefghij"), plain);  // a name of 10 bytes
    ASSERT_EQ(RunEncrypt(PathOf("abcdefghij"), PathOf("out"), nEncType).nResult, WR_OK);
    Bytes file = ReadFileBytes(PathOf("out"));

    auto cipher = MakeTestCipher(nEncType);
    cipher->GetKey()->SetPassword(kPassword);
    ASSERT_EQ(std::memcmp(file.data(), "VXJ1", 4), 0);
    size_t nOffset = 20, nBlocks = 0;
    const uint32_t anRaw[] = {4096, 1};
    while (nOffset < file.size()) {
        ASSERT_LE(nOffset + 6, file.size());
        uint8_t h[6];
        std::memcpy(h, &file[nOffset], 6);
        CSapphireDecryptor stream(cipher->GetKey()->Data(), cipher->GetKey()->Length());
        stream.ProcessString(h, 6);
        const uint32_t nRaw = h[0] | h[1] << 8, nStored = h[2] | h[3] << 8, nPacked = h[4] | h[5] << 8;
        ASSERT_LT(nBlocks, 2u);
        EXPECT_EQ(nRaw, anRaw[nBlocks]);
        EXPECT_EQ(nStored, cipher->PaddedLength(nPacked));
        EXPECT_LT(nStored - nPacked, uint32_t(cipher->BlockSize()));
        nOffset += 6 + nStored;
        ++nBlocks;
    }
    EXPECT_EQ(nBlocks, 2u);
    EXPECT_EQ(nOffset, file.size());
}

INSTANTIATE_TEST_SUITE_P(Methods, ByteExact, ::testing::Range(0, 4),
                         [](const ::testing::TestParamInfo<int>& info) { return MethodName(info.param); });

class Codec : public ScratchTest {};

TEST_F(Codec, EqualFieldsEncryptToEqualBytes)
{
    CSapphireCipher cipher;
    cipher.GetKey()->SetPassword(kPassword);
    FILE* pFile = std::fopen(PathOf("fields"), "wb");
    const uint8_t abField[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(WriteProtected(abField, 6, cipher, pFile), WR_OK);
    ASSERT_EQ(WriteProtected(abField, 6, cipher, pFile), WR_OK);
    std::fclose(pFile);
    Bytes file = ReadFileBytes(PathOf("fields"));
    ASSERT_EQ(file.size(), 12u);
    EXPECT_TRUE(std::equal(file.begin(), file.begin() + 6, file.begin() + 6));
    EXPECT_NE(Bytes(file.begin(), file.begin() + 6), Bytes(abField, abField + 6));

    pFile = std::fopen(PathOf("fields"), "rb");
    uint8_t abRead[6];
    EXPECT_EQ(ReadProtected(abRead, 6, cipher, pFile), WR_OK);
    EXPECT_EQ(Bytes(abRead, abRead + 6), Bytes(abField, abField + 6));
    EXPECT_EQ(ReadProtected(abRead, 6, cipher, pFile), WR_OK);
    EXPECT_EQ(ReadProtected(abRead, 1, cipher, pFile), WR_READ_ERROR);
    std::fclose(pFile);
}

TEST_F(Codec, NameHeaderRoundTripAndCounts)
{
    for (const char* pszName : {"", "a", "report.txt", "\xe9t\xe9.doc"}) {
        SCOPED_TRACE(pszName);
        CDesCipher cipher;
        cipher.GetKey()->SetPassword(kPassword);
        FILE* pFile = std::fopen(PathOf("hdr"), "wb");
        uint32_t nWritten = 99;
        ASSERT_EQ(WriteNameHeader(pszName, pFile, cipher, nWritten), WR_OK);
        std::fclose(pFile);
        EXPECT_EQ(nWritten, 6 + std::strlen(pszName));

        CReferenceWriter reference(1, kPassword);
        reference.NameHeader(pszName);
        EXPECT_EQ(ReadFileBytes(PathOf("hdr")), reference.Data());

        pFile = std::fopen(PathOf("hdr"), "rb");
        CString strName = "junk";
        uint32_t nRead = 0;
        EXPECT_EQ(ReadNameHeader(strName, pFile, cipher, nRead), WR_OK);
        std::fclose(pFile);
        EXPECT_EQ(strName, pszName);
        EXPECT_EQ(nRead, nWritten);
    }
}

TEST_F(Codec, NameOf260BytesIsTheLongestAccepted)
{
    for (size_t n : {260, 261}) {
        CReferenceWriter writer(0, kPassword);
        writer.NameHeader(std::string(n, 'n'));
        WriteFileBytes(PathOf("hdr"), writer.Data());
        CSapphireCipher cipher;
        cipher.GetKey()->SetPassword(kPassword);
        FILE* pFile = std::fopen(PathOf("hdr"), "rb");
        CString strName;
        uint32_t nRead = 0;
        EXPECT_EQ(ReadNameHeader(strName, pFile, cipher, nRead), n == 260 ? WR_OK : WR_DECRYPT_ERROR);
        EXPECT_EQ(nRead, n == 260 ? 266u : 2u);
        std::fclose(pFile);
    }
}

// The reader's table: each damaged container, its result, and what is left.
struct ReaderCase {
    const char* pszWhat;
    std::function<Bytes()> make;
    int nExpected;
    size_t nRestored;  // bytes of plain output left on disk; SIZE_MAX: no output file
};

const Bytes& Plain3Blocks()
{
    static const Bytes plain = MixedBytes(2 * 4096 + 1000);
    return plain;
}

Bytes Good(int nEncType = 0) { return CReferenceWriter::Container(nEncType, kPassword, "plain.bin", Plain3Blocks()); }

Bytes Cut(Bytes data, size_t n) { data.resize(n); return data; }

Bytes Flip(Bytes data, size_t i) { data[i] ^= 0x40; return data; }

Bytes WithLength(uint16_t nLength)
{
    CReferenceWriter writer(0, kPassword);
    writer.Magic().Protected({uint8_t(nLength), uint8_t(nLength >> 8)}).Plain({0, 0, 0, 0});
    return writer.Plain(Bytes(300, 'x')).Data();
}

Bytes WithBlock(uint16_t nRaw, uint16_t nStored, uint16_t nPacked, const Bytes& body)
{
    CReferenceWriter writer(0, kPassword);
    writer.Magic().NameHeader("plain.bin").Chunk(Bytes(Plain3Blocks().begin(), Plain3Blocks().begin() + 4096));
    return writer.Block(nRaw, nStored, nPacked, body).Data();
}

// A second block holding a complete zlib stream of the data, under raw length nRaw.
Bytes WithStream(uint16_t nRaw, const Bytes& data)
{
    Bytes packed = CReferenceWriter::Deflate(data);
    return WithBlock(nRaw, uint16_t(packed.size()), uint16_t(packed.size()), packed);
}

size_t FirstBodyEnd()  // offset just past block 1 of Good(0)
{
    Bytes packed = CReferenceWriter::Deflate(Bytes(Plain3Blocks().begin(), Plain3Blocks().begin() + 4096));
    return 4 + 6 + 9 + 6 + packed.size();
}

const size_t kNone = SIZE_MAX;

const ReaderCase kReaderCases[] = {
    {"empty file", [] { return Bytes(); }, WR_READ_ERROR, kNone},
    {"three bytes", [] { return Bytes({'V', 'X', 'J'}); }, WR_READ_ERROR, kNone},
    {"magic byte 0", [] { return Flip(Good(), 0); }, WR_BAD_FORMAT, kNone},
    {"magic byte 1", [] { return Flip(Good(), 1); }, WR_BAD_FORMAT, kNone},
    {"magic byte 2", [] { return Flip(Good(), 2); }, WR_BAD_FORMAT, kNone},
    // "VXJ2": an authenticated container then, whose header is damaged.
    {"version character", [] { Bytes b = Good(); b[3] = '2'; return b; }, WR_INFLATE_ERROR, kNone},
    {"other magic", [] { Bytes b = Good(); b[3] = '3'; return b; }, WR_BAD_FORMAT, kNone},
    {"name length cut", [] { return Cut(Good(), 5); }, WR_READ_ERROR, kNone},
    {"name length 261", [] { return WithLength(261); }, WR_DECRYPT_ERROR, kNone},
    {"name length negative", [] { return WithLength(0x8000); }, WR_DECRYPT_ERROR, kNone},
    {"name length 0xFFFF", [] { return WithLength(0xFFFF); }, WR_DECRYPT_ERROR, kNone},
    {"name check cut", [] { return Cut(Good(), 8); }, WR_READ_ERROR, kNone},
    {"name cut", [] { return Cut(Good(), 15); }, WR_READ_ERROR, kNone},
    {"name check damaged", [] { return Flip(Good(), 7); }, WR_DECRYPT_ERROR, kNone},
    {"name damaged", [] { return Flip(Good(), 12); }, WR_DECRYPT_ERROR, kNone},
    {"header only", [] { return Cut(Good(), 19); }, WR_OK, 0},
    {"block header cut", [] { return Cut(Good(), 22); }, WR_READ_ERROR, kNone},
    {"no body after block header", [] { return Cut(Good(), 25); }, WR_READ_ERROR, kNone},
    {"second body missing", [] { return Cut(Good(), FirstBodyEnd() + 6); }, WR_READ_ERROR, 4096},
    {"body damaged", [] { return Flip(Good(), FirstBodyEnd() - 3); }, WR_INFLATE_ERROR, kNone},
    {"last body cut short", [] { return Cut(Good(), Good().size() - 2); }, WR_INFLATE_ERROR, 8192},
    {"one byte extra", [] { Bytes b = Good(); b.push_back(0); return b; }, WR_READ_ERROR, 9192},
    {"five bytes extra", [] { Bytes b = Good(); b.resize(b.size() + 5, 7); return b; }, WR_READ_ERROR, 9192},
    {"raw length 0", [] { return WithBlock(0, 10, 10, Bytes(10, 1)); }, WR_DECRYPT_ERROR, 4096},
    {"raw length 4097", [] { return WithBlock(4097, 10, 10, Bytes(10, 1)); }, WR_DECRYPT_ERROR, 4096},
    {"raw length 0xFFFF", [] { return WithBlock(0xFFFF, 10, 10, Bytes(10, 1)); }, WR_DECRYPT_ERROR, 4096},
    {"stored length 6145", [] { return WithBlock(100, 6145, 100, Bytes(6145, 1)); }, WR_DECRYPT_ERROR, 4096},
    {"stored length 0xFFFF", [] { return WithBlock(100, 0xFFFF, 100, Bytes(100, 1)); }, WR_DECRYPT_ERROR, 4096},
    {"packed above stored", [] { return WithBlock(100, 20, 21, Bytes(20, 1)); }, WR_DECRYPT_ERROR, 4096},
    {"stored and packed 0", [] { return WithBlock(100, 0, 0, Bytes()); }, WR_READ_ERROR, 4096},
    {"well-formed crafted block",
     [] { return WithStream(50, Bytes(Plain3Blocks().begin() + 4096, Plain3Blocks().begin() + 4146)); }, WR_OK,
     4096 + 50},
    {"inflates short of raw length", [] { return WithStream(100, Bytes(50, 'z')); }, WR_INFLATE_ERROR, 4096},
    {"inflates beyond raw length", [] { return WithStream(40, Bytes(50, 'z')); }, WR_INFLATE_ERROR, 4096},
    {"inflates beyond 4096", [] { return WithStream(4096, Bytes(5000, 'z')); }, WR_INFLATE_ERROR, 4096},
    {"stream longer than packed length",
     [] {
         Bytes packed = CReferenceWriter::Deflate(TextBytes(3000));
         uint16_t n = uint16_t(packed.size());
         return WithBlock(3000, n, uint16_t(n - 1), packed);
     },
     WR_INFLATE_ERROR, 4096},
};

class Reader : public ScratchTest {};

// The serial reader and the pooled one must give the same verdicts and leave the same files.
TEST_F(Reader, DamagedContainers)
{
    for (int nThreads : {1, 3})
    for (const ReaderCase& c : kReaderCases) {
        CPipelineThreads threads(nThreads);
        SCOPED_TRACE(std::string(c.pszWhat) + ", threads " + std::to_string(nThreads));
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        Bytes data = c.make();
        WriteFileBytes(PathOf("box._xt"), data);
        Outcome outcome = RunDecrypt(PathOf("box._xt"), 0);
        EXPECT_EQ(outcome.nResult, c.nExpected);
        const int nKept = c.nRestored == kNone ? KEPT_NOTHING : c.nExpected == WR_OK ? KEPT_WHOLE : KEPT_PARTIAL;
        EXPECT_EQ(outcome.nKept, nKept);
        if (c.nRestored == kNone) {
            EXPECT_EQ(Listing(), std::vector<std::string>({"box._xt"}));
        } else {
            EXPECT_EQ(Listing(), std::vector<std::string>({"box._xt", "plain.bin"}));
            Bytes restored = ReadFileBytes(PathOf("plain.bin"));
            ASSERT_EQ(restored.size(), c.nRestored);
            const size_t nPrefix = std::min(restored.size(), Plain3Blocks().size());
            EXPECT_TRUE(std::equal(restored.begin(), restored.begin() + long(nPrefix), Plain3Blocks().begin()));
        }
        EXPECT_EQ(ReadFileBytes(PathOf("box._xt")), data);  // the container is only read
    }
}

TEST_F(Reader, WrongPasswordOrKeyLengthFailsTheNameCheck)
{
    WriteFileBytes(PathOf("box._xt"), Good(0));
    EXPECT_EQ(RunDecrypt(PathOf("box._xt"), 0, "wrong horse").nResult, WR_DECRYPT_ERROR);
    for (int nOther : {1, 2, 3})
        EXPECT_EQ(RunDecrypt(PathOf("box._xt"), nOther).nResult, WR_DECRYPT_ERROR) << nOther;
    EXPECT_EQ(Listing(), std::vector<std::string>({"box._xt"}));
}

TEST_F(Reader, MethodsSharingTheKeyLengthFailAtTheFirstBlockAndLeaveNothing)
{
    WriteFileBytes(PathOf("box._xt"), Good(1));
    for (int nOther : {2, 3}) {
        EXPECT_EQ(RunDecrypt(PathOf("box._xt"), nOther).nResult, WR_INFLATE_ERROR) << nOther;
        EXPECT_EQ(Listing(), std::vector<std::string>({"box._xt"}));  // not even an empty file
    }
}

TEST_F(Reader, ZeroLengthNamePassesTheCheck)
{
    WriteFileBytes(PathOf("box._xt"), CReferenceWriter::Container(0, kPassword, "", Bytes{1, 2, 3}));
    Outcome outcome = RunDecrypt(PathOf("box._xt"), 0);
    EXPECT_EQ(outcome.nResult, WR_OK);
    EXPECT_EQ(outcome.strDest, PathOf("box._xt.out"));
    EXPECT_EQ(ReadFileBytes(PathOf("box._xt.out")), Bytes({1, 2, 3}));
}

}  // namespace
