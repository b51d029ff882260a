#include "container/SecureBuffer.h"

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

void SecureZero(void* p, size_t n)
{
    volatile uint8_t* q = static_cast<volatile uint8_t*>(p);
    while (n--)
        *q++ = 0;
}
