// What a reader found wrong with an authenticated container, exactly enough
// for both front ends to say it: the work item carries it to the batch
// driver's message box, the command-line tool prints it.
#pragma once

#include <cstdint>

enum {
    V2_FAULT_NONE = 0,
    V2_FAULT_WRONG_PASSWORD = 1,   // the key commitment differs: wrong password, or a damaged header
    V2_FAULT_PASSWORD_UTF8 = 2,    // the password's bytes are not UTF-8, which this method keys from
    V2_FAULT_HEADER_FIELD = 3,     // a header field out of range: nField, nValue
    V2_FAULT_RECORD = 4            // record nRecord, whose length field begins at nOffset, altered or damaged
};

// The header's fields, in the order a reader checks them.
enum {
    V2_FIELD_VERSION = 1,
    V2_FIELD_KDF = 2,
    V2_FIELD_ITERATIONS = 3,
    V2_FIELD_CHUNK_SIZE = 4,
    V2_FIELD_COMMITMENT = 5  // cut short: nValue is how many of its bytes are there
};

struct CV2Fault {
    int nKind = V2_FAULT_NONE;
    int nField = 0;
    uint32_t nValue = 0;
    int64_t nRecord = -1;
    uint64_t nOffset = 0;
};
