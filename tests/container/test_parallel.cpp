// The pooled block loops against the serial ones: the same container byte
// for byte whatever the thread count, the same restored file, and a cancel
// that stops within a few chunks.
#include "PipelineRunner.h"
#include "container/WorkItem.h"
#include "cipher/Methods.h"
#include "cipher/Sapphire.h"
#include "container/FileProcessor.h"
#include "base/WorkQueue.h"

#include <atomic>
#include <vector>

namespace {

// Whatever the number of helpers (none: the worker does all), every
// submitted slot is worked exactly once and comes back in submission order,
// and no helper still works a slot the worker has taken back.
TEST(WorkQueue, EverySlotWorkedOnceAndReturnedInOrder)
{
    for (int nHelpers : {0, 1, 3, 8}) {
        const size_t kSlots = 5;
        std::vector<int> in(kSlots), out(kSlots);
        std::atomic<int> nWorked{0};
        CWorkQueue queue(kSlots, nHelpers, [&](int, size_t nSlot) {
            out[nSlot] = in[nSlot] * 2;
            ++nWorked;
        });
        const int kItems = 2000;
        int nSubmitted = 0, nTaken = 0;
        while (nTaken < kItems) {
            for (size_t nSlot; nSubmitted < kItems && (nSlot = queue.Free()) != CWorkQueue::kNone;) {
                in[nSlot] = nSubmitted++;
                out[nSlot] = -1;
                queue.Submit();
            }
            const size_t nSlot = queue.WaitOldest();
            ASSERT_NE(nSlot, CWorkQueue::kNone);
            ASSERT_FALSE(queue.Lost(nSlot));
            ASSERT_EQ(out[nSlot], 2 * nTaken++) << nHelpers << " helpers";
            queue.Release();
        }
        EXPECT_EQ(queue.WaitOldest(), CWorkQueue::kNone);
        EXPECT_EQ(nWorked, kItems) << nHelpers << " helpers";
    }
}

struct Made {
    int nResult = -1;
    Bytes data;  // the output file's contents
    int nPercent = -1;
};

Made RunThreads(bool bEncrypt, const CString& strSource, const CString& strDest, int nEncType, int nThreads)
{
    CWorkItem item;
    item.m_strSource = strSource;
    item.m_strDest = strDest;
    item.m_strPassword = kPassword;
    item.m_bEncrypt = bEncrypt;
    Made made;
    WithCipher(nEncType, [&](CCipher& cipher) {
        CFileProcessor processor;
        processor.SetThreads(nThreads);
        made.nResult = processor.Run(item, cipher);
    });
    made.data = ReadFileBytes(item.m_strDest);
    made.nPercent = item.m_nPercent;
    std::remove(item.m_strDest);
    return made;
}

class SerialAndPooled : public ScratchTest, public ::testing::WithParamInterface<int> {};

TEST_P(SerialAndPooled, SameContainerAndSameRestoredFile)
{
    const int nEncType = GetParam();
    for (size_t nSize : {size_t(0), size_t(1), size_t(4095), size_t(4096), size_t(4097), size_t(2 << 20) + 123}) {
        const Bytes plain = MixedBytes(nSize);
        WriteFileBytes(PathOf("data.bin"), plain);
        const Made serial = RunThreads(true, PathOf("data.bin"), PathOf("data._in"), nEncType, 1);
        ASSERT_EQ(serial.nResult, WR_OK);
        WriteFileBytes(PathOf("box._in"), serial.data);
        for (int nThreads : {1, 2, 3, 8}) {
            SCOPED_TRACE(std::to_string(nSize) + " bytes, threads " + std::to_string(nThreads));
            const Made pooled = RunThreads(true, PathOf("data.bin"), PathOf("data._in"), nEncType, nThreads);
            EXPECT_EQ(pooled.nResult, WR_OK);
            EXPECT_EQ(pooled.nPercent, serial.nPercent);
            EXPECT_TRUE(pooled.data == serial.data);
            // The restored name is data.bin again: beside the source it gets a number.
            const Made restored = RunThreads(false, PathOf("box._in"), PathOf("box._in"), nEncType, nThreads);
            EXPECT_EQ(restored.nResult, WR_OK);
            EXPECT_EQ(restored.nPercent, nSize ? 100 : 0);
            EXPECT_TRUE(restored.data == plain);
        }
        std::remove(PathOf("box._in"));
        std::remove(PathOf("data.bin"));
    }
}

INSTANTIATE_TEST_SUITE_P(Methods, SerialAndPooled, ::testing::Range(0, 4),
                         [](const ::testing::TestParamInfo<int>& info) { return MethodName(info.param); });

// Sapphire II that raises the item's cancel flag at its nth Process call.
// The cipher runs on the worker in file order, so the point is exact.
class CCancellingCipher : public CCipher {
public:
    CCancellingCipher(CWorkItem& item, int nAt) : m_item(item), m_nAt(nAt) {}
    int Prepare() override { return m_inner.Prepare(); }
    CCipherKey* GetKey() override { return m_inner.GetKey(); }
    int BlockSize() const override { return m_inner.BlockSize(); }
    int Process(uint8_t* pBuffer, uint32_t nLength, int bEncrypt) override
    {
        if (++m_nCalls == m_nAt)
            LockedSet(m_item.m_bCancel, 1);
        return m_inner.Process(pBuffer, nLength, bEncrypt);
    }

private:
    CWorkItem& m_item;
    int m_nAt;
    int m_nCalls = 0;
    CSapphireCipher m_inner;
};

class PooledCancel : public ScratchTest, public ::testing::WithParamInterface<bool> {};

TEST_P(PooledCancel, StopsWithinAFewChunksAndLeavesNothing)
{
    const bool bEncrypt = GetParam();
    const size_t nSize = 400 * 4096;
    WriteFileBytes(PathOf("data.bin"), TextBytes(nSize));
    if (!bEncrypt) {
        const Made made = RunThreads(true, PathOf("data.bin"), PathOf("data._xt"), 0, 1);
        ASSERT_EQ(made.nResult, WR_OK);
        WriteFileBytes(PathOf("box._xt"), made.data);
        std::remove(PathOf("data.bin"));
    }
    CWorkItem item;
    item.m_strSource = bEncrypt ? PathOf("data.bin") : PathOf("box._xt");
    item.m_strDest = bEncrypt ? PathOf("data._xt") : PathOf("box._xt");
    item.m_strPassword = kPassword;
    item.m_bEncrypt = bEncrypt;
    CCancellingCipher cipher(item, 100);  // at block 100 of 400
    CFileProcessor processor;
    processor.SetThreads(3);
    EXPECT_EQ(processor.Run(item, cipher), WR_OK);
    // Every written block looks at the cancel first. Encrypting, the cipher
    // runs on the writing side, so the run stops right after block 100;
    // decrypting, it runs on the reading side, ahead of the writing.
    if (bEncrypt) {
        EXPECT_GE(item.m_nPercent, 100 * 100 / 400 - 1);
    }
    EXPECT_LE(item.m_nPercent, (100 + 1) * 100 / 400);
    EXPECT_EQ(Listing(), std::vector<std::string>({bEncrypt ? "data.bin" : "box._xt"}));
}

INSTANTIATE_TEST_SUITE_P(Directions, PooledCancel, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Encrypt" : "Decrypt";
                         });

}  // namespace
