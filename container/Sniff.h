// What a file is before it is read in earnest: a container of version 1, of
// version 2, or neither, told by its leading bytes; and for version 1, whose
// container does not name its method, which of the four legacy methods opens
// it with a password. Both front ends ask here: the decrypt path, the tool's
// method detection and its walk through folders.
#pragma once

#include <cstddef>
#include <cstdint>

#include "container/ContainerFacts.h"
#include "container/FormatV1.h"
#include "framework/afxstr.h"

// Leading bytes enough for FindLegacyMethod: the longest name header and
// first block of version 1 (version 2 needs only its magic here).
const size_t kSniffBytes = kV1ProbeBytes;

// Which of the four legacy methods opens a version-1 container with this
// password: each is tried, with both key forms, on the name check and then
// on the first block (methods of the same key length pass the name check
// alike). p: the container's first kSniffBytes bytes, or all of a shorter
// one. Returns the EncType, or -1 with nResult telling why (WR_DECRYPT_ERROR:
// no method and key pass the name check) and facts from the best try.
int FindLegacyMethod(const uint8_t* p, size_t n, const CString& strPassword, int& nResult, CContainerFacts& facts);
