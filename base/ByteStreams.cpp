#include "base/ByteStreams.h"

#include <cstring>

size_t ReadFull(CByteSource& in, uint8_t* p, size_t n)
{
    size_t nDone = 0;
    while (nDone < n) {
        const size_t nGot = in.Read(p + nDone, n - nDone);
        if (nGot == 0)
            break;
        nDone += nGot;
    }
    return nDone;
}

size_t CMemorySource::Read(uint8_t* p, size_t n)
{
    const size_t nTake = n < m_n - m_nPos ? n : m_n - m_nPos;
    if (nTake)
        std::memcpy(p, m_p + m_nPos, nTake);
    m_nPos += nTake;
    return nTake;
}

size_t CPrefixedSource::Read(uint8_t* p, size_t n)
{
    if (m_nPos < m_nPrefix) {
        const size_t nTake = n < m_nPrefix - m_nPos ? n : m_nPrefix - m_nPos;
        std::memcpy(p, m_pPrefix + m_nPos, nTake);
        m_nPos += nTake;
        return nTake;
    }
    return m_rest.Read(p, n);
}
