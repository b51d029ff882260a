#include "container/FormatV2.h"

#include <cstring>

#include "base/ResultCodes.h"
#include "base/SecureBuffer.h"

const uint8_t kContainerMagicV2[4] = {'V', 'X', 'J', '2'};

namespace {

const uint8_t kKdfPbkdf2Sha256 = 1;
const char kFileKeyInfo[] = "VXJ2 file key";
const char kHeaderKeyInfo[] = "VXJ2 header key";
const uint8_t kModeDeflated = 0;
const uint8_t kModeStored = 1;

void PutLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

uint32_t GetLe32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

int HeaderDamaged(CV2Fault& fault, int nField, uint32_t nValue)
{
    fault.nKind = V2_FAULT_HEADER_FIELD;
    fault.nField = nField;
    fault.nValue = nValue;
    return WR_INFLATE_ERROR;
}

bool DeriveKey(const CKey32& master, const uint8_t* pFileId, const char* pszInfo, CKey32& key)
{
    return DeriveHkdfSha256(master.ab, sizeof master.ab, pFileId, kV2FileIdSize,
                            reinterpret_cast<const uint8_t*>(pszInfo), std::strlen(pszInfo), key.ab, sizeof key.ab);
}

}  // namespace

bool HasMagicV2(const uint8_t* p, size_t n)
{
    return n >= 4 && std::memcmp(p, kContainerMagicV2, 4) == 0;
}

void EncodeHeaderV2(const CV2Header& header, uint8_t* pOut)
{
    std::memcpy(pOut, kContainerMagicV2, 4);
    pOut[4] = kV2Version;
    pOut[5] = kKdfPbkdf2Sha256;
    PutLe32(pOut + 6, header.nIterations);
    std::memcpy(pOut + 10, header.abSalt, kV2SaltSize);
    std::memcpy(pOut + 26, header.abFileId, kV2FileIdSize);
    PutLe32(pOut + 42, kV2ChunkSize);
}

int DecodeHeaderV2(const uint8_t* p, size_t n, CV2Header& header, CV2Fault& fault)
{
    if (n < kV2HeaderSize || !HasMagicV2(p, n))
        return WR_BAD_FORMAT;
    if (p[4] != kV2Version)
        return HeaderDamaged(fault, V2_FIELD_VERSION, p[4]);
    if (p[5] != kKdfPbkdf2Sha256)
        return HeaderDamaged(fault, V2_FIELD_KDF, p[5]);
    const uint32_t nIterations = GetLe32(p + 6);
    if (nIterations < kV2MinIterations || nIterations > kV2MaxIterations)
        return HeaderDamaged(fault, V2_FIELD_ITERATIONS, nIterations);
    if (GetLe32(p + 42) != kV2ChunkSize)
        return HeaderDamaged(fault, V2_FIELD_CHUNK_SIZE, GetLe32(p + 42));
    header.nIterations = nIterations;
    std::memcpy(header.abSalt, p + 10, kV2SaltSize);
    std::memcpy(header.abFileId, p + 26, kV2FileIdSize);
    return WR_OK;
}

void NonceV2(uint64_t nIndex, bool bLast, uint8_t* pNonce)
{
    for (int i = 0; i < 8; ++i)
        pNonce[i] = uint8_t(nIndex >> (8 * i));
    PutLe32(pNonce + 8, bLast ? 1 : 0);
}

CKey32::~CKey32() { SecureZero(ab, sizeof ab); }

bool DeriveFileKeysV2(const CKey32& master, const uint8_t* pFileId, CKey32& fileKey, CKey32& headerKey)
{
    return DeriveKey(master, pFileId, kFileKeyInfo, fileKey) && DeriveKey(master, pFileId, kHeaderKeyInfo, headerKey);
}

bool KeyHeaderV2(const uint8_t* pHeader, const CKey32& master, CKey32& fileKey, uint8_t* pCommitment)
{
    CKey32 headerKey;
    return DeriveFileKeysV2(master, pHeader + 26, fileKey, headerKey) &&
           HmacSha256(headerKey.ab, sizeof headerKey.ab, pHeader, kV2HeaderSize, pCommitment);
}

int PackChunkV2(z_stream& zs, const uint8_t* pPlain, uint32_t nPlain, uint8_t* pOut, uint32_t& nOut)
{
    if (nPlain > kV2ChunkSize || deflateReset(&zs) != Z_OK)
        return WR_DEFLATE_ERROR;
    zs.next_in = const_cast<Bytef*>(pPlain);
    zs.avail_in = nPlain;
    zs.next_out = pOut + 1;
    zs.avail_out = nPlain;  // room for less than the chunk only: more would not pay
    const int nStatus = deflate(&zs, Z_FINISH);
    if (nStatus == Z_STREAM_END && zs.total_out < nPlain) {
        pOut[0] = kModeDeflated;
        nOut = 1 + uint32_t(zs.total_out);
        return WR_OK;
    }
    if (nStatus != Z_OK && nStatus != Z_BUF_ERROR && nStatus != Z_STREAM_END)
        return WR_DEFLATE_ERROR;
    pOut[0] = kModeStored;
    if (nPlain)
        std::memcpy(pOut + 1, pPlain, nPlain);
    nOut = 1 + nPlain;
    return WR_OK;
}

int UnpackChunkV2(z_stream& zs, const uint8_t* pRecord, uint32_t nRecord, uint8_t* pPlain, uint32_t& nPlain)
{
    if (nRecord < 1)
        return WR_INFLATE_ERROR;
    if (pRecord[0] == kModeStored) {
        if (nRecord - 1 > kV2ChunkSize)
            return WR_INFLATE_ERROR;
        nPlain = nRecord - 1;
        if (nPlain)
            std::memcpy(pPlain, pRecord + 1, nPlain);
        return WR_OK;
    }
    if (pRecord[0] != kModeDeflated || inflateReset(&zs) != Z_OK)
        return WR_INFLATE_ERROR;
    zs.next_in = const_cast<Bytef*>(pRecord + 1);
    zs.avail_in = nRecord - 1;
    zs.next_out = pPlain;
    zs.avail_out = kV2ChunkSize;
    // One whole stream, nothing after it, and no more than a chunk.
    if (inflate(&zs, Z_FINISH) != Z_STREAM_END || zs.avail_in != 0)
        return WR_INFLATE_ERROR;
    nPlain = uint32_t(zs.total_out);
    return WR_OK;
}

bool SealedLengthFitsV2(uint64_t nIndex, uint32_t nSealed)
{
    return nSealed >= kV2MinSealed && nSealed <= (nIndex == 0 ? kV2MaxNameSealed : kV2MaxDataSealed);
}

uint32_t SealRecordV2(CAesGcm& gcm, const uint8_t* pPrefix, uint64_t nIndex, bool bLast, const uint8_t* pPlain,
                      uint32_t nPlain, uint8_t* pOut)
{
    if (nPlain > kV2MaxChunkRecord || !SealedLengthFitsV2(nIndex, nPlain + uint32_t(kGcmTagSize)))
        return 0;
    const uint32_t nSealed = nPlain + uint32_t(kGcmTagSize);
    uint8_t abNonce[kGcmNonceSize];
    NonceV2(nIndex, bLast, abNonce);
    PutLe32(pOut, nSealed);
    return gcm.Seal(abNonce, pPrefix, kV2PrefixSize, pPlain, nPlain, pOut + 4) ? 4 + nSealed : 0;
}

EGcmResult OpenRecordV2(CAesGcm& gcm, const uint8_t* pPrefix, uint64_t nIndex, bool bLast, const uint8_t* pSealed,
                        uint32_t nSealed, uint8_t* pOut, size_t nOutRoom)
{
    if (!SealedLengthFitsV2(nIndex, nSealed))
        return kGcmFailed;
    uint8_t abNonce[kGcmNonceSize];
    NonceV2(nIndex, bLast, abNonce);
    return gcm.Open(abNonce, pPrefix, kV2PrefixSize, pSealed, nSealed, pOut, nOutRoom);
}

bool CMasterKeyCache::Derive(CEntry& entry)
{
#ifdef KESTRIN_FUZZ_MASTER_KEY_BYTE
    // Fuzzing trees only (CMake refuses the option anywhere else): every
    // password gives the same key, so mutated containers get past the
    // commitment and the records' tags to the parsers behind them.
    std::memset(entry.abMaster, KESTRIN_FUZZ_MASTER_KEY_BYTE, sizeof entry.abMaster);
    return true;
#else
    return DerivePbkdf2Sha256(entry.pPassword->Data(), entry.pPassword->Size(), entry.abSalt, sizeof entry.abSalt,
                              entry.nIterations, entry.abMaster, sizeof entry.abMaster);
#endif
}

void CMasterKeyCache::Wipe(CEntry& entry)
{
    entry.pPassword.reset();  // CSecureBuffer wipes it
    SecureZero(entry.abMaster, sizeof entry.abMaster);
}

void CMasterKeyCache::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (CEntry& e : m_entries)
        Wipe(e);
}

uint64_t CMasterKeyCache::Derivations()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nDerivations;
}

void CMasterKeyCache::SetWriteIterations(uint32_t nIterations)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nWriteIterations = nIterations;
}

CMasterKeyCache::CEntry* CMasterKeyCache::Find(const CString& strPassword, bool bWriting, const uint8_t* pSalt,
                                               uint32_t nIterations)
{
    const size_t nLength = std::strlen(strPassword);
    for (CEntry& e : m_entries) {
        if (!e.pPassword || e.bWriting != bWriting || e.pPassword->Size() != nLength ||
            std::memcmp(e.pPassword->Data(), static_cast<const char*>(strPassword), nLength) != 0)
            continue;
        if (!bWriting && (e.nIterations != nIterations || std::memcmp(e.abSalt, pSalt, kV2SaltSize) != 0))
            continue;
        return &e;
    }
    return nullptr;
}

void CMasterKeyCache::Store(CEntry& e)
{
    ++m_nDerivations;
    CEntry* pSlot = &m_entries[0];
    for (CEntry& slot : m_entries) {
        if (!slot.pPassword) {
            pSlot = &slot;
            break;
        }
        if (slot.nAge < pSlot->nAge)
            pSlot = &slot;
    }
    Wipe(*pSlot);
    // The password's block changes hands; only the key and salt are copied.
    pSlot->pPassword = std::move(e.pPassword);
    pSlot->bWriting = e.bWriting;
    pSlot->nIterations = e.nIterations;
    pSlot->nAge = ++m_nStored;
    std::memcpy(pSlot->abSalt, e.abSalt, sizeof pSlot->abSalt);
    std::memcpy(pSlot->abMaster, e.abMaster, sizeof pSlot->abMaster);
}

bool CMasterKeyCache::DeriveAndStore(CEntry& e, CKey32& master)
{
    // Outside the lock: a batch ending in another Explorer window clears the
    // cache on its shell thread, which must not wait a derivation out. Two
    // batches deriving the same key at once each store one; that costs
    // nothing but the second entry.
    const bool bDerived = Derive(e);
    if (bDerived) {
        std::memcpy(master.ab, e.abMaster, sizeof master.ab);
        std::lock_guard<std::mutex> lock(m_mutex);
        Store(e);
    }
    Wipe(e);
    return bDerived;
}

namespace {

std::unique_ptr<CSecureBuffer> PasswordBytes(const CString& strPassword)
{
    const size_t nLength = std::strlen(strPassword);
    std::unique_ptr<CSecureBuffer> pBytes(new CSecureBuffer(uint32_t(nLength)));
    if (nLength)
        std::memcpy(pBytes->Data(), static_cast<const char*>(strPassword), nLength);
    return pBytes;
}

}  // namespace

bool CMasterKeyCache::ForWriting(const CString& strPassword, CV2Header& header, CKey32& master)
{
    CEntry e;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (const CEntry* pFound = Find(strPassword, true, nullptr, 0)) {
            std::memcpy(master.ab, pFound->abMaster, sizeof master.ab);
            header.nIterations = pFound->nIterations;
            std::memcpy(header.abSalt, pFound->abSalt, kV2SaltSize);
            return true;
        }
        e.nIterations = m_nWriteIterations;
    }
    e.bWriting = true;
    if (!CryptoRandom(e.abSalt, sizeof e.abSalt))
        return false;
    e.pPassword = PasswordBytes(strPassword);
    header.nIterations = e.nIterations;
    std::memcpy(header.abSalt, e.abSalt, kV2SaltSize);
    return DeriveAndStore(e, master);
}

bool CMasterKeyCache::ForReading(const CString& strPassword, const CV2Header& header, CKey32& master)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (const CEntry* pFound = Find(strPassword, false, header.abSalt, header.nIterations)) {
            std::memcpy(master.ab, pFound->abMaster, sizeof master.ab);
            return true;
        }
    }
    CEntry e;
    e.nIterations = header.nIterations;
    std::memcpy(e.abSalt, header.abSalt, kV2SaltSize);
    e.pPassword = PasswordBytes(strPassword);
    return DeriveAndStore(e, master);
}

CMasterKeyCache& MasterKeys()
{
    static CMasterKeyCache s_cache;
    return s_cache;
}
