// Out of memory in the header codec: result 3, and no partial file left.
// Replaces the global allocation functions, so it stands alone.
#include <cstdlib>
#include <new>

#include "PipelineRunner.h"
#include "ReferenceWriter.h"
#include "cipher/Sapphire.h"

namespace {

// Armed: every allocation of a Sapphire II card deck fails.
bool g_bFailDecks = false;
const size_t kDeckSize = 256;

void* Allocate(size_t n)
{
    if (g_bFailDecks && n == kDeckSize)
        throw std::bad_alloc();
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}

void* AllocateNoThrow(size_t n) noexcept
{
    if (g_bFailDecks && n == kDeckSize)
        return nullptr;
    return std::malloc(n ? n : 1);
}

}  // namespace

void* operator new(size_t n) { return Allocate(n); }
void* operator new[](size_t n) { return Allocate(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return AllocateNoThrow(n); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return AllocateNoThrow(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

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

}  // namespace
