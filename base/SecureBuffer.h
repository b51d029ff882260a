// Fixed-size heap block for secret working state (card decks, key-schedule
// scratch, chaining registers). Zeroed before it goes back to the heap.
#pragma once

#include <cstddef>
#include <cstdint>

class CSecureBuffer {
public:
    // Allocation failure raises std::bad_alloc, the framework's out-of-memory
    // signal; the owner's constructor lets it through to whoever builds it.
    explicit CSecureBuffer(uint32_t nSize);
    ~CSecureBuffer();
    CSecureBuffer(const CSecureBuffer&) = delete;
    CSecureBuffer& operator=(const CSecureBuffer&) = delete;

    uint8_t* Data() { return m_pData; }
    const uint8_t* Data() const { return m_pData; }
    uint32_t Size() const { return m_nSize; }

private:
    uint32_t m_nSize;
    uint8_t* m_pData;
};

// Overwrites n bytes in a way the optimiser may not drop as a dead store.
void SecureZero(void* p, size_t n);
