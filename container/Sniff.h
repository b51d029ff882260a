// What a file is before it is read in earnest: a container of version 1, of
// version 2, or neither, told by its leading bytes; and for version 1, whose
// container does not name its method, which of the four legacy methods opens
// it with a password. Both front ends ask here: the decrypt path, the tool's
// method detection and its walk through folders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "container/ContainerFacts.h"
#include "container/FormatV1.h"
#include "framework/afxstr.h"

// Leading bytes enough for FindLegacyMethod: the longest name header and
// first block of version 1 (version 2 needs only its magic here).
const size_t kSniffBytes = kV1ProbeBytes;

// What the leading bytes say: a container of version 1 or 2 by its magic,
// or neither, with the result a reader would give for it.
struct CSniff {
    int nVersion = 0;     // 1 or 2; 0: neither
    int nResult = 0;      // neither: WR_BAD_FORMAT (another magic) or WR_READ_ERROR
                          // (fewer bytes than a magic, or a file that could not be read)
    int nErrno = 0;       // the system's reason when a file could not be read
};

CSniff SniffContainer(const uint8_t* p, size_t n);
// The same for a file's leading bytes. Only a regular file is opened (a FIFO
// or device is refused without waiting for a peer). pLeading, when given,
// receives up to kSniffBytes of them.
CSniff SniffContainer(const CString& strPath, std::vector<uint8_t>* pLeading = nullptr);

// Which of the four legacy methods opens a version-1 container with this
// password: each is tried, with both key forms, on the name check and then
// on the first block (methods of the same key length pass the name check
// alike). nFirst, when it names a legacy method, is tried before the others
// (the user's choice: it decides between methods that both pass, as for an
// empty container). p: the container's first kSniffBytes bytes, or all of a
// shorter one. Returns the EncType, or -1 with nResult telling why
// (WR_DECRYPT_ERROR: no method and key pass the name check) and facts from
// the best try.
int FindLegacyMethod(const uint8_t* p, size_t n, const CString& strPassword, int& nResult, CContainerFacts& facts,
                     int nFirst = -1);
