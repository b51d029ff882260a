#include "base/SecureBuffer.h"

#include <cstring>
#include <new>

CSecureBuffer::CSecureBuffer(uint32_t nSize)
    : m_nSize(nSize), m_pData(static_cast<uint8_t*>(::operator new(nSize ? nSize : 1)))
{
}

CSecureBuffer::~CSecureBuffer()
{
    SecureZero(m_pData, m_nSize);
    ::operator delete(m_pData);
}

// A plain memset at full speed (the buffers wiped per file add up to some
// hundred KiB), kept from being dropped as a dead store by a barrier that
// tells the compiler the zeroed bytes may still be read.
void SecureZero(void* p, size_t n)
{
    if (n == 0)
        return;
#if defined(__GNUC__) || defined(__clang__)
    std::memset(p, 0, n);
    __asm__ __volatile__("" : : "r"(p) : "memory");
#else
    volatile uint8_t* q = static_cast<volatile uint8_t*>(p);
    while (n--)
        *q++ = 0;
#endif
}
