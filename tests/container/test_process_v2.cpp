// The authenticated method through CFileProcessor: files on disk, the method
// found by the magic, the batch's single key derivation, and nothing left
// behind by a container that fails.
#include <string>

#include "PipelineRunner.h"
#include "cipher/Methods.h"
#include "container/FormatV2.h"
#include "container/PathUtils.h"

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
