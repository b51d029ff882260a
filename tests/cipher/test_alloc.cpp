// Secret state must be zero at the moment its memory goes back to the heap,
// and a cipher whose engines cannot be allocated must fail in Process rather
// than throw. This binary replaces the global allocation functions to look at
// each block as it is released and to make chosen allocations fail; it is a
// separate executable because the replacement applies to the whole program.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "cipher/Methods.h"

namespace {

const int kMaxBlocks = 64;
const size_t kMaxCopy = 8192;

struct CLiveBlock {
    void* p;
    size_t n;
};

struct CFreedBlock {
    const void* p;
    size_t n;
    uint8_t bytes[kMaxCopy];  // the contents at release, up to kMaxCopy bytes
};

// Plain static storage: the hooks must not allocate themselves.
bool g_bTracking = false;
CLiveBlock g_live[kMaxBlocks];
int g_nLive = 0;
CFreedBlock g_freed[kMaxBlocks];
int g_nFreed = 0;
bool g_bOverflow = false;
int g_nFailIn = -1;  // allocations left before one fails; -1: none fails
bool g_bFailed = false;

void* Allocate(size_t n)
{
    if (g_nFailIn >= 0 && g_nFailIn-- == 0) {
        g_bFailed = true;
        throw std::bad_alloc();
    }
    void* p = std::malloc(n ? n : 1);
    if (!p)
        throw std::bad_alloc();
    if (g_bTracking) {
        if (g_nLive < kMaxBlocks)
            g_live[g_nLive++] = {p, n};
        else
            g_bOverflow = true;
    }
    return p;
}

void Release(void* p)
{
    if (!p)
        return;
    for (int i = 0; i < g_nLive; ++i) {
        if (g_live[i].p != p)
            continue;
        if (g_bTracking && g_nFreed < kMaxBlocks) {
            CFreedBlock& f = g_freed[g_nFreed++];
            f.p = p;
            f.n = g_live[i].n;
            std::memcpy(f.bytes, p, f.n < kMaxCopy ? f.n : kMaxCopy);
        } else if (g_bTracking) {
            g_bOverflow = true;
        }
        g_live[i] = g_live[--g_nLive];
        break;
    }
    std::free(p);
}

void StartTracking()
{
    g_nLive = g_nFreed = 0;
    g_bOverflow = false;
    g_bTracking = true;
}

void StopTracking()
{
    g_bTracking = false;
    EXPECT_FALSE(g_bOverflow) << "more blocks than the instrument holds";
}

bool AllZero(const uint8_t* p, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        if (p[i])
            return false;
    }
    return true;
}

// The blocks of the given size released while tracking; each must be zero.
int CountZeroedBlocks(size_t n)
{
    int nCount = 0;
    for (int i = 0; i < g_nFreed; ++i) {
        if (g_freed[i].n != n)
            continue;
        ++nCount;
        EXPECT_TRUE(AllZero(g_freed[i].bytes, n)) << "a " << n << "-byte block was freed with secrets in it";
    }
    return nCount;
}

const CFreedBlock* FindFreed(const void* p)
{
    for (int i = 0; i < g_nFreed; ++i) {
        if (g_freed[i].p == p)
            return &g_freed[i];
    }
    return nullptr;
}

struct CSecretBlocks {
    size_t n;
    int nCount;
};

CCipher* NewCipher(int nEncType)
{
    switch (nEncType) {
    case 0: return new CSapphireCipher;
    case 1: return new CDesCipher;
    case 2: return new CDesCbcCipher;
    default: return new CBlowfishCipher;
    }
}

}  // namespace

void* operator new(size_t n) { return Allocate(n); }
void* operator new[](size_t n) { return Allocate(n); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }

TEST(Wiping, InstrumentSeesAnUnwipedBlock)
{
    StartTracking();
    uint8_t* p = new uint8_t[256];
    std::memset(p, 0x5A, 256);
    delete[] p;
    StopTracking();
    ASSERT_EQ(g_nFreed, 1);
    EXPECT_FALSE(AllZero(g_freed[0].bytes, 256));
}

TEST(Wiping, PasswordHashDeckIsCleared)
{
    CCipherKey16 key;
    StartTracking();
    key.SetPassword("a password");
    StopTracking();
    EXPECT_EQ(CountZeroedBlocks(256), 1);
}

TEST(Wiping, DesKeyScheduleScratchIsCleared)
{
    const uint8_t key[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    StartTracking();
    { CDesEncryptor des(key); }
    StopTracking();
    EXPECT_EQ(CountZeroedBlocks(120), 1);
    EXPECT_EQ(CountZeroedBlocks(32 * sizeof(uint32_t)), 1);
}

TEST(Wiping, EveryMethodClearsEnginesAndKeyOnDestruction)
{
    const CSecretBlocks expected[kMethodCount][2] = {
        {{256, 2}, {0, 0}},                          // two decks
        {{32 * sizeof(uint32_t), 2}, {0, 0}},        // two round-key sets
        {{32 * sizeof(uint32_t), 2}, {8, 4}},        // plus registers and scratch
        {{sizeof(CBlowfish), 1}, {0, 0}},            // subkeys and S-boxes
    };
    for (int t = 0; t < kMethodCount; ++t) {
        SCOPED_TRACE(GetMethodInfo(t)->pszName);
        StartTracking();  // from construction on, so that every block's size is known
        CCipher* c = NewCipher(t);
        c->GetKey()->SetPassword("wipe me");
        c->Prepare();
        uint8_t buf[64] = {1, 2, 3};
        ASSERT_EQ(c->Process(buf, sizeof(buf), 1), 1);
        const uint8_t* pObject = reinterpret_cast<const uint8_t*>(c);
        const size_t nKeyOffset = static_cast<size_t>(c->GetKey()->Data() - pObject);
        ASSERT_FALSE(AllZero(c->GetKey()->Data(), CCipherKey::kBufferSize));
        g_nFreed = 0;  // only what the destructor releases
        delete c;
        StopTracking();

        for (const CSecretBlocks& s : expected[t]) {
            if (s.n) {
                EXPECT_EQ(CountZeroedBlocks(s.n), s.nCount) << s.n << "-byte blocks";
            }
        }
        const CFreedBlock* obj = FindFreed(pObject);
        ASSERT_NE(obj, nullptr);
        ASSERT_LE(nKeyOffset + CCipherKey::kBufferSize, obj->n);
        EXPECT_TRUE(AllZero(obj->bytes + nKeyOffset, CCipherKey::kBufferSize)) << "key buffer left behind";
    }
}

TEST(AllocationFailure, PrepareLeavesTheEngineEmptyAndProcessFails)
{
    for (int t = 0; t < kMethodCount; ++t) {
        SCOPED_TRACE(GetMethodInfo(t)->pszName);
        bool bFailed = true;
        for (int k = 0; bFailed; ++k) {
            WithCipher(t, [&](CCipher& c) {
                c.GetKey()->SetPassword("no memory");
                g_bFailed = false;
                g_nFailIn = k;
                EXPECT_EQ(c.Prepare(), 1);
                g_nFailIn = -1;
                bFailed = g_bFailed;
                uint8_t buf[16] = {9, 8, 7};
                const uint8_t orig[16] = {9, 8, 7};
                EXPECT_EQ(c.Process(buf, 16, 1), bFailed ? 0 : 1) << "failing allocation " << k;
                EXPECT_EQ(std::memcmp(buf, orig, 16) == 0, bFailed);
            });
        }
    }
}
