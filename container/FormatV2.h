// Container version 2: the 46-byte header and its key commitment, record
// nonces, the sealing and opening of records, the chunk payload, and the
// master keys of a batch. Pure functions over buffers; files are
// ContainerV2's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include <zlib.h>

#include "base/SecureBuffer.h"
#include "cipher/PlatformCrypto.h"
#include "container/FaultV2.h"
#include "framework/afxstr.h"

// "VXJ2", without terminator.
extern const uint8_t kContainerMagicV2[4];

const uint8_t kV2Version = 2;  // version 1 was never released: a reader refuses it as damaged
const size_t kV2HeaderSize = 46;
const size_t kV2CommitmentSize = kSha256Size;
// The header and its key commitment: the bytes before the first record, and
// the associated data of every record.
const size_t kV2PrefixSize = kV2HeaderSize + kV2CommitmentSize;
const size_t kV2SaltSize = 16;
const size_t kV2FileIdSize = 16;
const uint32_t kV2Iterations = 600000;
// Readers take what a writer could have meant, no more: a header asking for
// more rounds would only make a hostile file cost seconds.
const uint32_t kV2MinIterations = 100000;
const uint32_t kV2MaxIterations = 4 * kV2Iterations;
const uint32_t kV2ChunkSize = 4096;
const uint32_t kV2MaxName = 1024;

// Record bounds: what a writer can produce, checked before any decryption.
// Every buffer a record passes through is sized from these.
const uint32_t kV2MaxChunkRecord = 1 + kV2ChunkSize;  // a data record's plaintext: mode byte and chunk
const uint32_t kV2MinSealed = 1 + uint32_t(kGcmTagSize);
const uint32_t kV2MaxNameSealed = kV2MaxName + uint32_t(kGcmTagSize);
const uint32_t kV2MaxDataSealed = kV2MaxChunkRecord + uint32_t(kGcmTagSize);
const uint32_t kV2MaxRecord = 4 + kV2MaxDataSealed;  // length field and sealed bytes, the largest

struct CV2Header {
    uint32_t nIterations = kV2Iterations;
    uint8_t abSalt[kV2SaltSize] = {};
    uint8_t abFileId[kV2FileIdSize] = {};
};

bool HasMagicV2(const uint8_t* p, size_t n);
void EncodeHeaderV2(const CV2Header& header, uint8_t* pOut);
// WR_OK; WR_BAD_FORMAT when too short or another magic (not this format);
// WR_INFLATE_ERROR (damage) when a field is out of range, which fault names.
// Nothing is derived before this has passed.
int DecodeHeaderV2(const uint8_t* p, size_t n, CV2Header& header, CV2Fault& fault);

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

// The file's two keys, from the master key and the file id (HKDF-SHA256):
// the records' key and the key of the header's commitment.
bool DeriveFileKeysV2(const CKey32& master, const uint8_t* pFileId, CKey32& fileKey, CKey32& headerKey);
// For an encoded header: the file key and the header's key commitment
// (kV2CommitmentSize bytes). A writer appends the commitment; a reader
// compares it with the stored one.
bool KeyHeaderV2(const uint8_t* pHeader, const CKey32& master, CKey32& fileKey, uint8_t* pCommitment);

// A data record's plaintext from one chunk: mode 0 and a zlib stream when
// deflate shrinks the chunk, else mode 1 and the bytes as they are. zs is a
// deflate stream at the default level; pOut holds kV2MaxChunkRecord bytes.
int PackChunkV2(z_stream& zs, const uint8_t* pPlain, uint32_t nPlain, uint8_t* pOut, uint32_t& nOut);
// The chunk back from a record's plaintext into kV2ChunkSize bytes at pPlain;
// WR_INFLATE_ERROR for a bad mode byte or a stream that is not one whole
// zlib stream of at most a chunk. zs is an inflate stream.
int UnpackChunkV2(z_stream& zs, const uint8_t* pRecord, uint32_t nRecord, uint8_t* pPlain, uint32_t& nPlain);

// Whether a sealed length is one a writer can produce for record nIndex
// (record 0 holds the name, the others a chunk).
bool SealedLengthFitsV2(uint64_t nIndex, uint32_t nSealed);
// Writes the length field and the sealed plaintext to pOut (room for
// 4 + nPlain + kGcmTagSize), the prefix as associated data. Returns the
// bytes written, or 0 on failure or a plaintext out of bounds.
uint32_t SealRecordV2(CAesGcm& gcm, const uint8_t* pPrefix, uint64_t nIndex, bool bLast, const uint8_t* pPlain,
                      uint32_t nPlain, uint8_t* pOut);
// Opens the nSealed bytes after a record's length field into pOut, nOutRoom
// bytes. A length out of bounds is refused before the cipher sees it.
EGcmResult OpenRecordV2(CAesGcm& gcm, const uint8_t* pPrefix, uint64_t nIndex, bool bLast, const uint8_t* pSealed,
                        uint32_t nSealed, uint8_t* pOut, size_t nOutRoom);

// Master keys of the batch in progress: one salt and one derivation per
// password when writing, one derivation per password, salt and iterations
// when reading. Clear() at the end of a batch wipes them all. Callers pass
// passwords already found to be UTF-8. The entries sit in a fixed array and
// each password in a block of its own, so no secret is ever moved to new
// memory and left behind unwiped in the old. Keys are derived outside the
// lock, so that Clear() never waits for one.
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
    // Password derivations since the process started.
    uint64_t Derivations();
    // Writers use kV2Iterations; a test may ask for the least readers accept.
    void SetWriteIterations(uint32_t nIterations);

private:
    struct CEntry {
        std::unique_ptr<CSecureBuffer> pPassword;  // null: the entry is free
        bool bWriting = false;
        uint32_t nIterations = 0;
        uint64_t nAge = 0;  // when it was stored: the oldest goes first
        uint8_t abSalt[kV2SaltSize] = {};
        uint8_t abMaster[kGcmKeySize] = {};
    };
    static const size_t kMaxEntries = 8;

    CEntry* Find(const CString& strPassword, bool bWriting, const uint8_t* pSalt, uint32_t nIterations);
    // Derives e's master key from its password, salt and iterations into
    // master and stores it; e is left wiped. Called without the lock.
    bool DeriveAndStore(CEntry& e, CKey32& master);
    // e in a free entry or in place of the oldest. Called with the lock.
    void Store(CEntry& e);
    bool Derive(CEntry& entry);
    static void Wipe(CEntry& entry);

    std::mutex m_mutex;
    CEntry m_entries[kMaxEntries];
    uint64_t m_nStored = 0;
    uint64_t m_nDerivations = 0;
    uint32_t m_nWriteIterations = kV2Iterations;
};

CMasterKeyCache& MasterKeys();
