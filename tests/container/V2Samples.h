// Authenticated containers for the tests: made by our writer from a fixed
// header, and records sealed with the right key whatever their length, so a
// test can build the containers an attacker who knows the password (or who
// does not) would build.
#pragma once

#include <initializer_list>
#include <utility>
#include <vector>

#include "TestFiles.h"
#include "container/FormatV2.h"

extern const char kV2TestPassword[];  // "correct horse"

// A fixed salt (bytes 00..0f) and file id (bFileId, bFileId + 1, ...), and
// the least iterations a reader takes, so one derivation serves a suite.
CV2Header FixedHeaderV2(uint8_t bFileId = 16, uint32_t nIterations = kV2MinIterations);
// A container of data under kV2TestPassword and that header.
Bytes SealV2(const Bytes& data, int nThreads = 2, uint8_t bFileId = 16, const char* pszName = "report.txt");
// The header and key commitment of SealV2's containers.
Bytes PrefixV2(uint8_t bFileId = 16);
// Length field and sealed bytes of record nIndex, with the key and prefix of
// SealV2's containers: authentic, whatever the plaintext and its length.
Bytes ForgeV2(uint64_t nIndex, bool bLast, const Bytes& plain, uint8_t bFileId = 16);
// [start, end) of each record, record 0 first.
std::vector<std::pair<size_t, size_t>> RecordsV2(const Bytes& c);
// Where record nIndex begins, by the lengths of the records before it.
size_t RecordOffsetV2(const Bytes& c, size_t nIndex);

Bytes Slice(const Bytes& c, size_t a, size_t b);
Bytes Cat(std::initializer_list<Bytes> parts);
void PutLe32(Bytes& c, size_t at, uint32_t v);
// A data record's plaintext of exactly nRecord bytes that a reader without
// bounds would accept: mode 0 and one zlib stream of a chunk, padded with
// empty stored blocks.
Bytes PaddedChunkRecord(size_t nRecord);
