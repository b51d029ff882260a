// Container version 2: the 46-byte header, record nonces, the sealing and
// opening of records, the chunk payload, and the master keys of a batch.
// Pure functions over buffers; files are ContainerV2's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <zlib.h>

#include "cipher/PlatformCrypto.h"
#include "framework/afxstr.h"

// "VXJ2", without terminator.
extern const uint8_t kContainerMagicV2[4];

const size_t kV2HeaderSize = 46;
const size_t kV2SaltSize = 16;
const size_t kV2FileIdSize = 16;
const uint32_t kV2Iterations = 600000;
const uint32_t kV2MinIterations = 100000;
const uint32_t kV2MaxIterations = 10000000;
const uint32_t kV2ChunkSize = 4096;
const uint32_t kV2MinSealed = 17;
const uint32_t kV2MaxSealed = 8192;
const uint32_t kV2MaxName = 1024;
// Length field plus the largest sealed part a reader accepts.
const uint32_t kV2MaxRecord = 4 + kV2MaxSealed;

struct CV2Header {
    uint32_t nIterations = kV2Iterations;
    uint8_t abSalt[kV2SaltSize] = {};
    uint8_t abFileId[kV2FileIdSize] = {};
};

bool HasMagicV2(const uint8_t* p, size_t n);
void EncodeHeaderV2(const CV2Header& header, uint8_t* pOut);
// WR_OK, or WR_BAD_FORMAT: too short, another magic, or a field out of range.
int DecodeHeaderV2(const uint8_t* p, size_t n, CV2Header& header);

// Record i's nonce: i as 64 bits, then 1 for the last data record, else 0.
void NonceV2(uint64_t nIndex, bool bLast, uint8_t* pNonce);

// 32 key bytes, wiped when they go.
struct CKey32 {
    uint8_t ab[kGcmKeySize] = {};
    CKey32() = default;
    ~CKey32();
    CKey32(const CKey32&) = delete;
    CKey32& operator=(const CKey32&) = delete;
};

bool DeriveFileKeyV2(const CKey32& master, const uint8_t* pFileId, CKey32& fileKey);

// A data record's plaintext from one chunk: mode 0 and a zlib stream when
// deflate shrinks the chunk, else mode 1 and the bytes as they are. zs is a
// deflate stream at the default level; pOut holds 1 + kV2ChunkSize bytes.
int PackChunkV2(z_stream& zs, const uint8_t* pPlain, uint32_t nPlain, uint8_t* pOut, uint32_t& nOut);
// The chunk back from a record's plaintext into kV2ChunkSize bytes at pPlain;
// WR_INFLATE_ERROR for a bad mode byte or a stream that is not one whole
// zlib stream of at most a chunk. zs is an inflate stream.
int UnpackChunkV2(z_stream& zs, const uint8_t* pRecord, uint32_t nRecord, uint8_t* pPlain, uint32_t& nPlain);

// Writes the length field and the sealed plaintext to pOut (room for
// 4 + nPlain + kGcmTagSize). Returns the bytes written, or 0 on failure.
uint32_t SealRecordV2(CAesGcm& gcm, const uint8_t* pHeader, uint64_t nIndex, bool bLast, const uint8_t* pPlain,
                      uint32_t nPlain, uint8_t* pOut);
// Opens the nSealed bytes after a record's length field into pOut.
EGcmResult OpenRecordV2(CAesGcm& gcm, const uint8_t* pHeader, uint64_t nIndex, bool bLast, const uint8_t* pSealed,
                        uint32_t nSealed, uint8_t* pOut);

// Master keys of the batch in progress: one salt and one derivation per
// password when writing, one derivation per password, salt and iterations
// when reading. Clear() at the end of a batch wipes them all.
class CMasterKeyCache {
public:
    CMasterKeyCache() = default;
    ~CMasterKeyCache() { Clear(); }
    CMasterKeyCache(const CMasterKeyCache&) = delete;
    CMasterKeyCache& operator=(const CMasterKeyCache&) = delete;

    // The batch's salt and iteration count for this password and its master key.
    bool ForWriting(const CString& strPassword, CV2Header& header, CKey32& master);
    bool ForReading(const CString& strPassword, const CV2Header& header, CKey32& master);
    void Clear();
    // PBKDF2 runs since the process started.
    uint64_t Derivations();
    // Writers use kV2Iterations; a test may ask for the least readers accept.
    void SetWriteIterations(uint32_t nIterations);

private:
    struct CEntry {
        std::string password;
        bool bWriting = false;
        uint32_t nIterations = 0;
        uint8_t abSalt[kV2SaltSize] = {};
        uint8_t abMaster[kGcmKeySize] = {};
    };
    static const size_t kMaxEntries = 8;

    bool Find(const CString& strPassword, bool bWriting, const uint8_t* pSalt, uint32_t nIterations,
              CKey32& master, CEntry** ppFound);
    static void Wipe(CEntry& entry);

    std::mutex m_mutex;
    std::vector<CEntry> m_entries;
    uint64_t m_nDerivations = 0;
    uint32_t m_nWriteIterations = kV2Iterations;
};

CMasterKeyCache& MasterKeys();
