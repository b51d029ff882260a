// The authenticated method through CFileProcessor: files on disk, the method
// found by the magic, the batch's single key derivation, and nothing left
// behind by a container that fails.
#include <string>

#include "PipelineRunner.h"
#include "V2Samples.h"
#include "cipher/Methods.h"
#include "container/FormatV2.h"
#include "base/PathUtils.h"

namespace {

class ProcessV2 : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        MasterKeys().Clear();
        MasterKeys().SetWriteIterations(kV2MinIterations);
    }
    void TearDown() override
    {
        MasterKeys().Clear();
        MasterKeys().SetWriteIterations(kV2Iterations);
        ScratchTest::TearDown();
    }
};

}  // namespace

TEST_F(ProcessV2, RestoresWhateverMethodIsChosen)
{
    const Bytes plain = MixedBytes(50000);
    WriteFileBytes(PathOf("a.txt"), plain);
    const Outcome made = RunEncrypt(PathOf("a.txt"), PathOf("a._xt"), kEncTypeAuthenticated);
    ASSERT_EQ(made.nResult, WR_OK);
    const Bytes box = ReadFileBytes(made.strDest);
    ASSERT_TRUE(HasMagicV2(box.data(), box.size()));
    std::remove(PathOf("a.txt"));
    for (int nEncType = 0; nEncType < kAllMethodCount; ++nEncType) {
        SCOPED_TRACE(nEncType);
        const Outcome back = RunDecrypt(made.strDest, nEncType);
        ASSERT_EQ(back.nResult, WR_OK);
        EXPECT_TRUE(ReadFileBytes(back.strDest) == plain);
        std::remove(back.strDest);
    }
}

TEST_F(ProcessV2, ABatchOfSmallFilesDerivesTheKeyOnce)
{
    const uint64_t nBefore = MasterKeys().Derivations();
    for (int i = 0; i < 200; ++i) {
        const CString strName = PathOf(("f" + std::to_string(i) + ".txt").c_str());
        WriteFileBytes(strName, TextBytes(size_t(i) * 7));
        ASSERT_EQ(RunEncrypt(strName, MakeEncryptedName(strName), kEncTypeAuthenticated).nResult, WR_OK);
    }
    EXPECT_EQ(MasterKeys().Derivations() - nBefore, 1u);

    MasterKeys().Clear();  // a new batch: the reader derives again, once for the batch's salt
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(RunVerify(PathOf(("f" + std::to_string(i) + "._xt").c_str()), 0).nResult, WR_OK);
    EXPECT_EQ(MasterKeys().Derivations() - nBefore, 2u);
}

TEST_F(ProcessV2, AFailedContainerLeavesNothing)
{
    WriteFileBytes(PathOf("a.txt"), MixedBytes(3 * 4096 + 10));
    const Outcome made = RunEncrypt(PathOf("a.txt"), PathOf("a._xt"), kEncTypeAuthenticated);
    ASSERT_EQ(made.nResult, WR_OK);
    std::remove(PathOf("a.txt"));
    const Bytes good = ReadFileBytes(made.strDest);

    Bytes flipped = good, cut(good.begin(), good.end() - 10);
    flipped[good.size() - 3] ^= 0x20;
    const struct {
        const char* pszWhat;
        Bytes container;
        const char* pszPassword;
        int nResult;
    } cases[] = {
        {"wrong password", good, "wrong horse", WR_DECRYPT_ERROR},
        {"last record altered", flipped, kPassword, WR_INFLATE_ERROR},
        {"cut inside a record", cut, kPassword, WR_INFLATE_ERROR},
        {"header only", Bytes(good.begin(), good.begin() + kV2HeaderSize), kPassword, WR_INFLATE_ERROR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        WriteFileBytes(PathOf("b._xt"), c.container);
        EXPECT_EQ(RunDecrypt(PathOf("b._xt"), kEncTypeAuthenticated, c.pszPassword).nResult, c.nResult);
        EXPECT_EQ(Listing(), std::vector<std::string>({"a._xt", "b._xt"}));
    }
}

// What an attacker builds, with the password or without: each is refused
// with its fault named, before any key is derived where the header alone
// tells, and leaves nothing.
TEST_F(ProcessV2, HostileContainersAreRefusedAndLeaveNothing)
{
    const Bytes good = SealV2(RandomBytes(3 * 4096 + 100));
    const auto rec = RecordsV2(good);
    const Bytes prefix = Slice(good, 0, kV2PrefixSize), name = Slice(good, rec[0].first, rec[0].second);
    Bytes version1 = good, iterHigh = good, iterLow = good, iterHuge = good, chunk = good, commitment = good;
    version1[4] = 1;
    PutLe32(iterHigh, 6, 2400001);
    PutLe32(iterLow, 6, 99999);
    PutLe32(iterHuge, 6, 10000000);
    PutLe32(chunk, 42, 8192);
    commitment[kV2HeaderSize + 7] ^= 0x40;
    const Bytes other = SealV2(RandomBytes(100), 1, 99);  // another file id, another commitment
    const Bytes copied = Cat({Slice(good, 0, kV2HeaderSize), Slice(other, kV2HeaderSize, kV2PrefixSize),
                              Slice(good, kV2PrefixSize, good.size())});
    Bytes forged = Cat({prefix, name, Bytes(4), RandomBytes(8192, 5)});  // no password needed
    PutLe32(forged, rec[1].first, 8192);
    const Bytes longName(1025, 'n');
    const Bytes badName = {'a', 0xC3, 0x28, '.', 't', 'x', 't'};  // not UTF-8

    const struct {
        const char* pszWhat;
        Bytes container;
        int nResult;
        int nFault;
        int nField;        // V2_FAULT_HEADER_FIELD: the field, with nValue
        uint32_t nValue;
        int64_t nRecord;   // V2_FAULT_RECORD: the record, at nOffset
        uint64_t nOffset;
        const char* pszPassword = nullptr;
    } kCases[] = {
        {"version byte 1", version1, WR_INFLATE_ERROR, V2_FAULT_HEADER_FIELD, V2_FIELD_VERSION, 1, -1, 0},
        {"iterations 2,400,001", iterHigh, WR_INFLATE_ERROR, V2_FAULT_HEADER_FIELD, V2_FIELD_ITERATIONS, 2400001,
         -1, 0},
        {"iterations 99,999", iterLow, WR_INFLATE_ERROR, V2_FAULT_HEADER_FIELD, V2_FIELD_ITERATIONS, 99999, -1, 0},
        {"iterations 10,000,000", iterHuge, WR_INFLATE_ERROR, V2_FAULT_HEADER_FIELD, V2_FIELD_ITERATIONS, 10000000,
         -1, 0},
        {"chunk size 8192", chunk, WR_INFLATE_ERROR, V2_FAULT_HEADER_FIELD, V2_FIELD_CHUNK_SIZE, 8192, -1, 0},
        {"data record of 4114 sealed bytes", Cat({prefix, name, ForgeV2(1, true, PaddedChunkRecord(4098))}),
         WR_INFLATE_ERROR, V2_FAULT_RECORD, 0, 0, 1, rec[1].first},
        {"data record of 8189 sealed bytes", Cat({prefix, name, ForgeV2(1, true, PaddedChunkRecord(8173))}),
         WR_INFLATE_ERROR, V2_FAULT_RECORD, 0, 0, 1, rec[1].first},
        {"forged record of 8192 bytes", forged, WR_INFLATE_ERROR, V2_FAULT_RECORD, 0, 0, 1, rec[1].first},
        {"record 0 of 1041 sealed bytes", Cat({prefix, ForgeV2(0, false, longName), ForgeV2(1, true, {1, 'x'})}),
         WR_INFLATE_ERROR, V2_FAULT_RECORD, 0, 0, 0, kV2PrefixSize},
        {"name not UTF-8", Cat({prefix, ForgeV2(0, false, badName), ForgeV2(1, true, {1, 'x'})}), WR_INFLATE_ERROR,
         V2_FAULT_RECORD, 0, 0, 0, kV2PrefixSize},
        {"changed commitment", commitment, WR_DECRYPT_ERROR, V2_FAULT_WRONG_PASSWORD, 0, 0, -1, 0},
        {"commitment of another container", copied, WR_DECRYPT_ERROR, V2_FAULT_WRONG_PASSWORD, 0, 0, -1, 0},
        {"password not UTF-8", good, WR_DECRYPT_ERROR, V2_FAULT_PASSWORD_UTF8, 0, 0, -1, 0, "correct h\xF6rse"},
    };
    // The one derivation the forged records need, made before counting.
    CKey32 master;
    ASSERT_TRUE(MasterKeys().ForReading(kV2TestPassword, FixedHeaderV2(), master));
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszWhat);
        WriteFileBytes(PathOf("b._xt"), c.container);
        const uint64_t nDerived = MasterKeys().Derivations();
        for (bool bVerify : {false, true}) {
            const char* pszPassword = c.pszPassword ? c.pszPassword : kV2TestPassword;
            const Outcome o = bVerify ? RunVerify(PathOf("b._xt"), 0, pszPassword)
                                      : RunDecrypt(PathOf("b._xt"), kEncTypeAuthenticated, pszPassword);
            EXPECT_EQ(o.nResult, c.nResult);
            EXPECT_EQ(o.fault.nKind, c.nFault);
            EXPECT_EQ(o.fault.nField, c.nField);
            EXPECT_EQ(o.fault.nValue, c.nValue);
            EXPECT_EQ(o.fault.nRecord, c.nRecord);
            EXPECT_EQ(o.fault.nOffset, c.nOffset);
            EXPECT_EQ(Listing(), std::vector<std::string>({"b._xt"}));
        }
        // A header out of range, or a password that is not UTF-8, costs no derivation.
        if (c.nFault == V2_FAULT_HEADER_FIELD || c.nFault == V2_FAULT_PASSWORD_UTF8) {
            EXPECT_EQ(MasterKeys().Derivations(), nDerived);
        }
    }
    // Within bounds the same padding is no attack: a reader takes any zlib stream.
    WriteFileBytes(PathOf("b._xt"), Cat({prefix, name, ForgeV2(1, true, PaddedChunkRecord(kV2MaxChunkRecord))}));
    EXPECT_EQ(RunVerify(PathOf("b._xt"), kEncTypeAuthenticated).nResult, WR_OK);
}
