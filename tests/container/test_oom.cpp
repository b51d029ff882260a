// Out of memory in the header codec: result 3, and no partial file left.
// And what goes back to the heap: no block freed while a file is processed
// may still hold its plain bytes. Replaces the global allocation functions,
// so it stands alone.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <malloc.h>  // _msize, malloc_usable_size

#include "PipelineRunner.h"
#include "ReferenceWriter.h"
#include "cipher/Sapphire.h"

namespace {

// Armed: every allocation of a Sapphire II card deck fails.
bool g_bFailDecks = false;
const size_t kDeckSize = 256;

size_t UsableSize(void* p)
{
#ifdef _WIN32
    return _msize(p);
#else
    return malloc_usable_size(p);
#endif
}

// Every block starts zeroed, whatever the heap left in it: a marker found
// when it is freed was put there while it was in use.
void* ZeroedBlock(size_t n) noexcept
{
    void* p = std::malloc(n ? n : 1);
    if (p)
        std::memset(p, 0, UsableSize(p));
    return p;
}

void* Allocate(size_t n)
{
    if (g_bFailDecks && n == kDeckSize)
        throw std::bad_alloc();
    if (void* p = ZeroedBlock(n))
        return p;
    throw std::bad_alloc();
}

void* AllocateNoThrow(size_t n) noexcept
{
    if (g_bFailDecks && n == kDeckSize)
        return nullptr;
    return ZeroedBlock(n);
}

// Armed: every block freed is searched for the marker first.
std::atomic<bool> g_bSearchFreed{false};
std::atomic<int> g_nMarkedBlocksFreed{0};
const char kMarker[] = "plain marker 7d1f";

void Release(void* p) noexcept
{
    if (p && g_bSearchFreed) {
        const size_t n = UsableSize(p);
        const char* pBytes = static_cast<const char*>(p);
        for (size_t i = 0; i + sizeof kMarker - 1 <= n; ++i) {
            if (std::memcmp(pBytes + i, kMarker, sizeof kMarker - 1) == 0) {
                ++g_nMarkedBlocksFreed;
                break;
            }
        }
    }
    std::free(p);
}

}  // namespace

void* operator new(size_t n) { return Allocate(n); }
void* operator new[](size_t n) { return Allocate(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return AllocateNoThrow(n); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return AllocateNoThrow(n); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }

namespace {

// Sapphire II whose key and engines are made before the allocator gives out,
// so the failure hits the first protected header field.
class CStarvingCipher : public CCipher {
public:
    ~CStarvingCipher() override { g_bFailDecks = false; }
    int Prepare() override
    {
        m_inner.Prepare();
        g_bFailDecks = true;
        return 1;
    }
    CCipherKey* GetKey() override { return m_inner.GetKey(); }
    int BlockSize() const override { return 1; }
    int Process(uint8_t* p, uint32_t n, int bEncrypt) override { return m_inner.Process(p, n, bEncrypt); }

private:
    CSapphireCipher m_inner;
};

class OutOfMemory : public ScratchTest {};

TEST_F(OutOfMemory, WhileProtectingAHeaderFieldEncryptionLeavesNothing)
{
    WriteFileBytes(PathOf("a.txt"), TextBytes(5000));
    CStarvingCipher cipher;
    EXPECT_EQ(RunWith(cipher, true, PathOf("a.txt"), PathOf("a._xt")).nResult, WR_NO_MEMORY);
    g_bFailDecks = false;
    EXPECT_EQ(Listing(), std::vector<std::string>({"a.txt"}));
}

TEST_F(OutOfMemory, WhileReadingTheNameDecryptionCreatesNothing)
{
    WriteFileBytes(PathOf("box._xt"), CReferenceWriter::Container(0, kPassword, "a.txt", TextBytes(5000)));
    CStarvingCipher cipher;
    EXPECT_EQ(RunWith(cipher, false, PathOf("box._xt"), PathOf("box._xt")).nResult, WR_NO_MEMORY);
    g_bFailDecks = false;
    EXPECT_EQ(Listing(), std::vector<std::string>({"box._xt"}));
}

TEST_F(OutOfMemory, KeyingTheCipherFailsBeforeAnyFileIsTouched)
{
    WriteFileBytes(PathOf("a.txt"), TextBytes(5000));
    g_bFailDecks = true;
    Outcome outcome = RunEncrypt(PathOf("a.txt"), PathOf("a._xt"), 0);
    g_bFailDecks = false;
    EXPECT_EQ(outcome.nResult, WR_NO_MEMORY);
    EXPECT_EQ(Listing(), std::vector<std::string>({"a.txt"}));
}

// zlib's window and pending output, the pipelines' buffers: whatever held
// the file's bytes is wiped before it is freed, in both directions, for a
// legacy method and the authenticated one, serial and pooled.
TEST_F(OutOfMemory, NothingFreedHoldsPlainBytes)
{
    Bytes plain;
    for (int i = 0; plain.size() < 60000; ++i) {
        const std::string strLine = std::string(kMarker) + " line " + std::to_string(i) + "\n";
        plain.insert(plain.end(), strLine.begin(), strLine.end());
    }
    WriteFileBytes(PathOf("a.txt"), plain);
    for (int nEncType : {0, int(kEncTypeAuthenticated)}) {
        for (int nThreads : {1, 2}) {
            SCOPED_TRACE(std::to_string(nEncType) + ", threads " + std::to_string(nThreads));
            CPipelineThreads threads(nThreads);
            g_nMarkedBlocksFreed = 0;
            g_bSearchFreed = true;
            const Outcome made = RunEncrypt(PathOf("a.txt"), PathOf("a._xt"), nEncType);
            std::remove(PathOf("a.txt"));
            const Outcome back = RunDecrypt(made.strDest, nEncType);
            g_bSearchFreed = false;
            EXPECT_EQ(made.nResult, WR_OK);
            EXPECT_EQ(back.nResult, WR_OK);
            EXPECT_EQ(g_nMarkedBlocksFreed, 0);
            std::remove(made.strDest);
            ASSERT_TRUE(ReadFileBytes(PathOf("a.txt")) == plain);
        }
    }
}

}  // namespace
