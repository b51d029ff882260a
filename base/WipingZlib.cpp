#include "base/WipingZlib.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "base/SecureBuffer.h"

namespace {

// zfree is not told the size: each block starts with it, in a prefix that
// keeps the block's alignment.
const size_t kPrefix = alignof(std::max_align_t) > sizeof(size_t) ? alignof(std::max_align_t) : sizeof(size_t);

voidpf WipingAlloc(voidpf, uInt nItems, uInt nSize)
{
    const size_t n = size_t(nItems) * size_t(nSize);
    if (nSize != 0 && n / nSize != nItems)
        return Z_NULL;
    uint8_t* pBlock = static_cast<uint8_t*>(::operator new(kPrefix + n, std::nothrow));
    if (!pBlock)
        return Z_NULL;
    std::memcpy(pBlock, &n, sizeof n);
    return pBlock + kPrefix;
}

void WipingFree(voidpf, voidpf p)
{
    if (!p)
        return;
    uint8_t* pBlock = static_cast<uint8_t*>(p) - kPrefix;
    size_t n;
    std::memcpy(&n, pBlock, sizeof n);
    SecureZero(p, n);
    ::operator delete(pBlock);
}

void UseWipingAllocator(z_stream& zs)
{
    std::memset(&zs, 0, sizeof zs);
    zs.zalloc = WipingAlloc;
    zs.zfree = WipingFree;
    zs.opaque = Z_NULL;
}

}  // namespace

int DeflateInitWiping(z_stream& zs, int nLevel)
{
    UseWipingAllocator(zs);
    return deflateInit(&zs, nLevel);
}

int InflateInitWiping(z_stream& zs)
{
    UseWipingAllocator(zs);
    return inflateInit(&zs);
}

int CZStream::Init(bool bDeflate)
{
    m_bDeflate = bDeflate;
    const int nInit = bDeflate ? DeflateInitWiping(m_zs, Z_DEFAULT_COMPRESSION) : InflateInitWiping(m_zs);
    m_bReady = nInit == Z_OK;
    return nInit;
}

CZStream::~CZStream()
{
    if (m_bReady)
        m_bDeflate ? deflateEnd(&m_zs) : inflateEnd(&m_zs);
}
