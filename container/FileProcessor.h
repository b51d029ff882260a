// One file into a container, or a container back into the file: chunks of
// 4096 bytes, each deflated on its own, padded to the method's block size
// and encrypted; the name and block headers under fresh Sapphire II streams.
#pragma once

#include <cstdint>
#include <cstdio>

#include <zlib.h>

#include "batch/WorkItem.h"
#include "cipher/Cipher.h"
#include "cipher/Sapphire.h"
#include "base/FileStreams.h"
#include "framework/afxstr.h"

// A Sapphire II encryptor keyed once per file; each protected field then
// starts from a copy of that state, which is exactly the state a new key
// schedule would give, without paying for the schedule on every block.
class CFieldEncryptor : public CSapphireEncryptor {
public:
    CFieldEncryptor(const uint8_t* pKey, int nKeyLength) : CSapphireEncryptor(pKey, nKeyLength) {}
    void ResetTo(const CFieldEncryptor& keyed);
};

// What the last reading run learned about a container: the stored name,
// the whole blocks restored, and where the block in work began, so that a
// damaged one can be named by its place.
struct CContainerFacts {
    CString strName;
    bool bHeaderPassed = false;
    uint64_t nBlocks = 0;
    uint64_t nPlainBytes = 0;
    uint64_t nBlockOffset = 0;
    uint64_t nConsumed = 0;
    int nVersion = 1;          // 2: the authenticated container
    uint32_t nIterations = 0;  // its key derivation's rounds
};


// The reading side of the same: each block header from a copy of one keyed state.
class CFieldDecryptor : public CSapphireDecryptor {
public:
    CFieldDecryptor(const uint8_t* pKey, int nKeyLength) : CSapphireDecryptor(pKey, nKeyLength) {}
    void ResetTo(const CFieldDecryptor& keyed);
};

class CChunkPipe;
struct CBlockBatch;
class CContainerV2Reader;

class CFileProcessor {
public:
    static const int kChunkSize = 4096;
    static const int kPackedBufferSize = 6144;
    static const int kMaxNameLength = 260;

    CFileProcessor();
    virtual ~CFileProcessor();
    CFileProcessor(const CFileProcessor&) = delete;
    CFileProcessor& operator=(const CFileProcessor&) = delete;

    // Encrypt or Decrypt, by the item's m_bEncrypt. Returns a WR_ code.
    virtual int Run(CWorkItem& item, CCipher& cipher);

    // Threads a file is processed with, the calling one included: 0 takes
    // the process-wide number (PipelineThreads), 1 keeps all work on the
    // calling thread. The
    // output is the same byte for byte whatever the number.
    void SetThreads(int nThreads) { m_nThreads = nThreads; }

    // Writes the container beside the item's m_strDest (made unique) and
    // stores its final path in m_strDest and what was kept in m_nKept. The
    // output is written under a temporary name and named only when whole: a
    // cancelled or failed run leaves nothing.
    int Encrypt(CWorkItem& item, CCipher& cipher);
    // Restores the stored name in the folder of m_strDest, the same way. A
    // damaged block after at least one restored block keeps the restored
    // part under the final name (KEPT_PARTIAL); any other failure, and a
    // cancel, leaves nothing.
    int Decrypt(CWorkItem& item, CCipher& cipher);
    // Decrypt's checks over the whole container, writing nothing.
    int Verify(CWorkItem& item, CCipher& cipher);

    // Streams in place of files (the command-line tool's standard input and
    // output): a run reads pIn instead of opening m_strSource, whose file
    // name part then only names the stored file, and writes pOut as it goes
    // instead of naming a finished output. Either may be null; neither is
    // closed. A stream source has no size, so no percentage is reported.
    void SetStreams(FILE* pIn, FILE* pOut);
    const CContainerFacts& Facts() const { return m_facts; }

    // The magic, the name header and the first block, checked with a cipher
    // keyed by the caller: WR_OK when all three pass (a container without
    // blocks passes on its header). Reads pIn from where it stands.
    int Probe(FILE* pIn, CCipher& cipher);
    // Keys and prepares the cipher with the password in its nForm-th key
    // form (GetPasswordForms). False, keying nothing, when there is no such
    // form or the password has a NUL in it.
    static bool KeyCipher(const CString& strPassword, CCipher& cipher, bool bReading = true, int nForm = 0);

    // The header codec. Each protected field starts a fresh Sapphire II
    // stream keyed with the cipher's key bytes.
    static int WriteProtected(const uint8_t* pData, uint32_t nCount, CCipher& cipher, FILE* pOut);
    // The same bytes as above, from a copy of a stream keyed with the cipher's key.
    static int WriteProtected(const uint8_t* pData, uint32_t nCount, const CFieldEncryptor& keyed,
                              CFieldEncryptor& scratch, FILE* pOut);
    static int ReadProtected(uint8_t* pBuffer, uint32_t nCount, CCipher& cipher, FILE* pIn);
    static int ReadProtected(uint8_t* pBuffer, uint32_t nCount, const CFieldDecryptor& keyed,
                             CFieldDecryptor& scratch, FILE* pIn);
    static int WriteNameHeader(const CString& strName, FILE* pOut, CCipher& cipher, uint32_t& nWritten);
    static int ReadNameHeader(CString& strName, FILE* pIn, CCipher& cipher, uint32_t& nRead);

private:
    int EncryptFile(CWorkItem& item, CCipher& cipher);
    int DecryptFile(CWorkItem& item, CCipher& cipher, bool bWrite);
    // Everything after the output is open and before it is named.
    // The authenticated method's container (ProcessV2.cpp), and the reading
    // of one whatever method was chosen.
    int WriteContainerV2(CWorkItem& item, const CString& strStoredName, FILE* pIn, uint64_t nSize, FILE* pOut,
                         bool& bCancelled);
    // pIn has given the 4 bytes of pMagic; nSize is kUnknownSize for a stream.
    int DecryptFileV2(CWorkItem& item, CInputFile& in, FILE* pIn, uint64_t nSize, const uint8_t* pMagic,
                      const CString& strSource, const CString& strDest, bool bWrite);
    int ReadRecordsV2(CWorkItem& item, CContainerV2Reader& reader, unsigned nMode, uint64_t nSize,
                      const CString& strSource, const CString& strDest, bool bWrite);
    int Threads() const;
    int WriteContainer(CWorkItem& item, CCipher& cipher, const CString& strStoredName, FILE* pIn,
                       uint64_t nSize, FILE* pOut, bool& bCancelled);
    // The serial loops or, with more than one thread, the pooled ones.
    int WriteBody(CWorkItem& item, CCipher& cipher, FILE* pIn, FILE* pOut, uint64_t nSize, bool& bCancelled);
    int ReadBody(CWorkItem& item, CCipher& cipher, FILE* pIn, FILE* pOut, uint64_t nSize, uint64_t nConsumed,
                 bool& bCancelled, uint64_t& nRestored);
    int WriteBlocks(CWorkItem& item, CCipher& cipher, FILE* pIn, FILE* pOut, uint64_t nSize,
                    bool& bCancelled);
    // nRestored counts the blocks written to pOut.
    int ReadBlocks(CWorkItem& item, CCipher& cipher, FILE* pIn, FILE* pOut, uint64_t nSize,
                   uint64_t nConsumed, bool& bCancelled, uint64_t& nRestored);
    int ReadBlock(CCipher& cipher, FILE* pIn, const uint8_t* pHeader, uint64_t& nConsumed);
    static const int kNoMoreBlocks = -1;
    static int EndOfBlocks(int nHeaderResult, uint64_t nConsumed, uint64_t nSize);
    int NextBlockHeader(uint8_t* pHeader, const CFieldDecryptor& keyed, CFieldDecryptor& scratch, FILE* pIn,
                        uint64_t nConsumed);
    // A block's header checked, its body read into pPacked (the missing tail
    // of a short one left zero) and deciphered in place.
    static int ReadSealedBlock(CCipher& cipher, FILE* pIn, const uint8_t* pHeader, uint64_t& nConsumed,
                               uint8_t* pPacked);
    // ParallelBlocks.cpp
    int PooledThreads(uint64_t nRemaining, uint64_t nOneBlock) const;
    int WritePooled(CWorkItem& item, CCipher& cipher, CChunkPipe& pipe, FILE* pIn, FILE* pOut, uint64_t nSize,
                    bool& bCancelled);
    int ReadPooled(CWorkItem& item, CCipher& cipher, CChunkPipe& pipe, FILE* pIn, FILE* pOut, uint64_t nSize,
                   uint64_t nConsumed, bool& bCancelled, uint64_t& nRestored);
    int FillSealed(CBlockBatch& batch, CCipher& cipher, const CFieldDecryptor& keyed, CFieldDecryptor& scratch,
                   FILE* pIn, uint64_t nSize, uint64_t& nConsumed, uint64_t& nEndOffset);
    void ClearBuffers();
    static int SourceComplete(FILE* pIn, uint64_t nRead, uint64_t nSize);
    // A stream output's last bytes pushed out; nResult, or the write failure.
    static int FlushStream(FILE* pOut, int nResult);
    // KeyCipher with the item's password, whose copy is wiped.
    static bool KeyCipher(CWorkItem& item, CCipher& cipher, bool bReading, int nForm);
    // Names the output when nKeep asks for it, else removes it; records in
    // the item what was kept. Returns nResult, or the naming's failure.
    static int SettleOutput(CWorkItem& item, COutputFile& out, const CString& strName, int nResult, int nKeep);
    // (done x 100) / total, or 0 when the total is unknown.
    static int Percent(uint64_t nDone, uint64_t nTotal);

    static const uint64_t kUnknownSize = UINT64_MAX;

    FILE* m_pStreamIn = nullptr;
    FILE* m_pStreamOut = nullptr;
    CContainerFacts m_facts;
    uint8_t m_abPlain[kChunkSize];
    uint8_t m_abPacked[kPackedBufferSize];
    z_stream m_zstream;
    int m_nThreads = 0;
};

// "VXJ1", without terminator.
extern const uint8_t kContainerMagic[4];
