// The worker thread: the cipher by EncType, and the published order of the
// result and the done flag as the driver's polling sees it.
#include <chrono>
#include <memory>
#include <thread>

#include "PipelineRunner.h"
#include "ReferenceWriter.h"
#include "V2Samples.h"
#include "batch/Worker.h"
#include "base/PathUtils.h"

namespace {

// Polls as the batch driver does: one locked read per field.
int WaitForResult(CWorkItem& item)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!LockedGet(item.m_bDone)) {
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "worker never finished";
            return -100;
        }
        std::this_thread::yield();
    }
    return LockedGet(item.m_nResult);
}

std::unique_ptr<CWorkItem> MakeItem(const CString& strSource, bool bEncrypt, int nEncType)
{
    auto pItem = std::make_unique<CWorkItem>();
    pItem->m_strSource = strSource;
    pItem->m_strDest = bEncrypt ? MakeEncryptedName(strSource) : strSource;
    pItem->m_strPassword = kPassword;
    pItem->m_bEncrypt = bEncrypt;
    pItem->m_nEncType = nEncType;
    pItem->m_nResult = -7;  // a stale read would show this
    return pItem;
}

class Worker : public ScratchTest {};

TEST_F(Worker, NullParameterEndsAtOnce)
{
    EXPECT_EQ(WorkerThreadProc(nullptr), 0u);
}

TEST_F(Worker, UnknownMethodTouchesNoFile)
{
    WriteFileBytes(PathOf("a.txt"), TextBytes(100));
    for (int nEncType : {5, -1, 1000}) {
        auto pItem = MakeItem(PathOf("a.txt"), true, nEncType);
        ASSERT_TRUE(StartWorker(pItem.get()));
        EXPECT_EQ(WaitForResult(*pItem), WR_OK);
    }
    EXPECT_EQ(Listing(), std::vector<std::string>({"a.txt"}));
}

TEST_F(Worker, EachMethodRoundTripsThroughTheThread)
{
    const Bytes plain = MixedBytes(20000);
    for (int nEncType = 0; nEncType < 4; ++nEncType) {
        SCOPED_TRACE(nEncType);
        WriteFileBytes(PathOf("a.txt"), plain);
        auto pEnc = MakeItem(PathOf("a.txt"), true, nEncType);
        ASSERT_TRUE(StartWorker(pEnc.get()));
        ASSERT_EQ(WaitForResult(*pEnc), WR_OK);
        EXPECT_EQ(ReadFileBytes(PathOf("a._xt")),
                  CReferenceWriter::Container(nEncType, kPassword, "a.txt", plain));
        std::remove(PathOf("a.txt"));
        auto pDec = MakeItem(PathOf("a._xt"), false, nEncType);
        ASSERT_TRUE(StartWorker(pDec.get()));
        ASSERT_EQ(WaitForResult(*pDec), WR_OK);
        EXPECT_EQ(LockedGet(pDec->m_strDest), PathOf("a.txt"));
        EXPECT_EQ(ReadFileBytes(PathOf("a.txt")), plain);
        std::remove(PathOf("a._xt"));
    }
}

TEST_F(Worker, CancelBeforeTheFirstBlockStillFinishes)
{
    WriteFileBytes(PathOf("a.txt"), TextBytes(50000));
    auto pItem = MakeItem(PathOf("a.txt"), true, 2);
    pItem->m_bCancel = 1;
    ASSERT_TRUE(StartWorker(pItem.get()));
    EXPECT_EQ(WaitForResult(*pItem), WR_OK);
    EXPECT_EQ(Listing(), std::vector<std::string>({"a.txt"}));
}

TEST_F(Worker, CancelDuringWorkStopsAndRemovesTheOutput)
{
    WriteFileBytes(PathOf("big.bin"), MixedBytes(8 << 20));
    auto pItem = MakeItem(PathOf("big.bin"), true, 1);
    ASSERT_TRUE(StartWorker(pItem.get()));
    while (!LockedGet(pItem->m_bDone) && LockedGet(pItem->m_nPercent) < 5)
        std::this_thread::yield();
    LockedSet(pItem->m_bCancel, 1);
    EXPECT_EQ(WaitForResult(*pItem), WR_OK);
    EXPECT_LT(LockedGet(pItem->m_nPercent), 100);
    EXPECT_EQ(Listing(), std::vector<std::string>({"big.bin"}));
}

// Explorer's decryption takes the selected method as a first guess only; a
// password that opens nothing (and only that) may be asked for again.
TEST_F(Worker, AFirstGuessFindsTheMethodAndTellsAPasswordThatOpensNothing)
{
    const Bytes plain = MixedBytes(9000);
    WriteFileBytes(PathOf("des._xt"), CReferenceWriter::Container(1, kPassword, "des.txt", plain));
    Bytes damaged = CReferenceWriter::Container(3, kPassword, "bf.txt", plain);
    damaged[4 + 2 + 4 + 6 + 6 + 20] ^= 0x55;  // inside the first block's body
    WriteFileBytes(PathOf("damaged._xt"), damaged);
    WriteFileBytes(PathOf("garbage._xt"), Cat({Bytes{'V', 'X', 'J', '1'}, RandomBytes(400)}));
    WriteFileBytes(PathOf("plain._xt"), TextBytes(100));
    WriteFileBytes(PathOf("v2._xt"), SealV2(plain));
    const struct {
        const char* pszFile;
        int nSelected;
        const char* pszPassword;
        int nResult;
        bool bRefused;
        int nEncTypeAfter;
    } kCases[] = {
        {"des._xt", 3, kPassword, WR_OK, false, 1},
        {"des._xt", 4, kPassword, WR_OK, false, 1},
        {"des._xt", 1, "wrong one", WR_DECRYPT_ERROR, true, 1},
        {"garbage._xt", 0, kPassword, WR_DECRYPT_ERROR, true, 0},
        {"plain._xt", 2, kPassword, WR_BAD_FORMAT, false, 2},
        {"damaged._xt", 0, kPassword, WR_INFLATE_ERROR, false, 0},
        {"v2._xt", 0, kV2TestPassword, WR_OK, false, 0},
        {"v2._xt", 2, "wrong one", WR_DECRYPT_ERROR, true, 2},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(testing::Message() << c.pszFile << ", selected " << c.nSelected << ", " << c.pszPassword);
        auto pItem = MakeItem(PathOf(c.pszFile), false, c.nSelected);
        pItem->m_strPassword = c.pszPassword;
        pItem->m_bFirstGuess = 1;
        ASSERT_TRUE(StartWorker(pItem.get()));
        EXPECT_EQ(WaitForResult(*pItem), c.nResult);
        EXPECT_EQ(LockedGet(pItem->m_bPasswordRefused), int(c.bRefused));
        EXPECT_EQ(LockedGet(pItem->m_nEncType), c.nEncTypeAfter);
        if (c.nResult == WR_OK) {
            const CString strDest = LockedGet(pItem->m_strDest);
            EXPECT_EQ(ReadFileBytes(strDest), plain);
            std::remove(strDest);
        }
    }
    // Without the first guess the selected method is the only one: Blowfish
    // passes a DES container's name check and fails on its first block.
    auto pItem = MakeItem(PathOf("des._xt"), false, 3);
    ASSERT_TRUE(StartWorker(pItem.get()));
    EXPECT_EQ(WaitForResult(*pItem), WR_INFLATE_ERROR);
    EXPECT_EQ(LockedGet(pItem->m_bPasswordRefused), 0);
}

// The driver reads m_nResult right after it sees m_bDone and then destroys
// the item: the result must already be there, and the worker must be gone
// from the item (ASan catches a late touch of the freed item).
TEST_F(Worker, ResultIsPublishedBeforeDoneUnderStress)
{
    WriteFileBytes(PathOf("plain.txt"), TextBytes(3000));
    WriteFileBytes(PathOf("notabox._xt"), TextBytes(50));
    struct Job {
        const char* pszSource;
        bool bEncrypt;
        int nExpected;
    } const kJobs[] = {
        {"missing.txt", true, WR_READ_ERROR},
        {"notabox._xt", false, WR_BAD_FORMAT},
        {"plain.txt", true, WR_OK},
        {"missing._xt", false, WR_READ_ERROR},
    };
    for (int i = 0; i < 400; ++i) {
        const Job& job = kJobs[i % 4];
        auto pItem = MakeItem(PathOf(job.pszSource), job.bEncrypt, i % 4);
        ASSERT_TRUE(StartWorker(pItem.get()));
        ASSERT_EQ(WaitForResult(*pItem), job.nExpected) << "round " << i;
        pItem.reset();
        if (job.nExpected == WR_OK)
            std::remove(PathOf("plain._xt"));
    }
}

}  // namespace
