// Whole version-1 containers over byte sources and sinks. The writer puts
// the magic, the name header and then each chunk of the source as a block:
// deflated on its own, padded to the method's block size and enciphered. The
// reader checks the magic and the name, then restores the blocks in order.
// The cipher's state runs on from block to block, so ciphering stays on the
// calling thread in file order; with more than one thread the blocks' zlib
// work goes through the parallel pipeline, and the container is the same
// byte for byte, a failure or a cancel seen at the same block, whatever the
// count.
#pragma once

#include <cstdint>

#include <zlib.h>

#include "base/ByteStreams.h"
#include "cipher/Cipher.h"
#include "container/FormatV1.h"
#include "framework/afxstr.h"

// The serial loops' room: one plain chunk, one packed block and the zlib
// stream. Its owner keeps it for the file (the per-file processor, on the
// worker's stack) and it is wiped when it goes: it held the file's bytes.
struct CV1Buffers {
    uint8_t abPlain[kV1ChunkSize];
    uint8_t abPacked[kV1PackedSize];
    z_stream zs;

    CV1Buffers();
    ~CV1Buffers();
    CV1Buffers(const CV1Buffers&) = delete;
    CV1Buffers& operator=(const CV1Buffers&) = delete;
    void Clear();
};

class CChunkPipe;
struct CBlockBatch;

class CContainerV1Writer {
public:
    // cipher: keyed (KeyLegacyCipher) and used for this container only.
    // nThreads: 0 takes PipelineThreads() for a source of more than one
    // chunk and keeps a smaller one on the calling thread.
    CContainerV1Writer(CCipher& cipher, CV1Buffers& buffers, int nThreads);
    CContainerV1Writer(const CContainerV1Writer&) = delete;
    CContainerV1Writer& operator=(const CContainerV1Writer&) = delete;

    // The magic, the name header with strName (the stored bytes) and nSize
    // bytes of the source as blocks. A source that ends early or late gives
    // WR_READ_ERROR; nSize kUnknownSize takes the source to its end.
    int Write(const CString& strName, CByteSource& in, uint64_t nSize, CByteSink& out, const FProgress& progress,
              bool& bCancelled);

private:
    int WriteSerial(CByteSource& in, uint64_t nSize, CByteSink& out, const FProgress& progress, bool& bCancelled);
    int WritePooled(CChunkPipe& pipe, CByteSource& in, uint64_t nSize, CByteSink& out, const FProgress& progress,
                    bool& bCancelled);

    CCipher& m_cipher;
    CV1Buffers& m_buffers;
    const int m_nThreads;
};

class CContainerV1Reader {
public:
    // cipher: keyed with the password's first key form (KeyLegacyCipher).
    // nThreads: as the writer's, for what is left after the name header.
    CContainerV1Reader(CCipher& cipher, CV1Buffers& buffers, int nThreads);
    ~CContainerV1Reader();
    CContainerV1Reader(const CContainerV1Reader&) = delete;
    CContainerV1Reader& operator=(const CContainerV1Reader&) = delete;

    // The magic and the name header from the start of in; the blocks are
    // read on from there. A name check that fails is tried once more with
    // the password's second key form (typed on the other platform).
    // WR_BAD_FORMAT: another magic. WR_DECRYPT_ERROR: the name check failed
    // (a wrong password, or a method of the other key length). strName: the
    // stored bytes (DecodeStoredName).
    int Begin(CByteSource& in, const CString& strPassword, CString& strName);
    // The blocks in order into pOut (null: check only), to the end of the
    // container, which is nSize bytes long (kUnknownSize: a stream, which
    // ends cleanly only right after a block). A damaged block after others
    // leaves those in pOut; Blocks() counts them.
    int Read(CByteSink* pOut, uint64_t nSize, const FProgress& progress, bool& bCancelled);
    // The first block only, read and checked (WR_OK for a container without
    // blocks): whether this method and key open the container.
    int ReadFirstBlock();

    // Where the reading got to: the whole blocks restored, their plain
    // bytes, where the block in work began (to name a damaged one by its
    // place) and the container's bytes read.
    uint64_t Blocks() const { return m_nBlocks; }
    uint64_t PlainBytes() const { return m_nPlainBytes; }
    uint64_t BlockOffset() const { return m_nBlockOffset; }
    uint64_t Consumed() const { return m_nConsumed; }

private:
    // The container's bytes after the name header: what the header's window
    // read beyond it, then the rest of the source; and a look-ahead of one
    // byte for the end.
    class CBlockInput : public CByteSource {
    public:
        void Start(CByteSource& in, const uint8_t* pBack, size_t nBack);
        size_t Read(uint8_t* p, size_t n) override;
        bool Failed() const override { return m_pIn && m_pIn->Failed(); }
        // True when no byte follows (Failed() tells an error from the end).
        bool AtEnd();

    private:
        CByteSource* m_pIn = nullptr;
        uint8_t m_abBack[6 + kV1MaxNameLength] = {};
        size_t m_nBack = 0, m_nNext = 0;
    };

    static const int kNoMoreBlocks = -1;
    static const int kMoreBlocks = -2;
    int Threads(uint64_t nSize) const;
    int NextBlockHeader(uint8_t* pHeader, const CFieldDecryptor& keyed, CFieldDecryptor& scratch);
    // A block's header checked, its body read into pPacked (the missing tail
    // of a short one left zero) and deciphered in place.
    int ReadSealedBlock(const uint8_t* pHeader, uint8_t* pPacked);
    // The same, then inflated into the buffers' abPlain.
    int ReadBlock(const uint8_t* pHeader);
    int EndOfBlocks(int nHeaderResult, uint64_t nSize) const;
    int ReadSerial(CByteSink* pOut, uint64_t nSize, const FProgress& progress, bool& bCancelled);
    int ReadPooled(CChunkPipe& pipe, CByteSink* pOut, uint64_t nSize, const FProgress& progress,
                   bool& bCancelled);
    int FillSealed(CBlockBatch& batch, const CFieldDecryptor& keyed, CFieldDecryptor& scratch, uint64_t nSize,
                   uint64_t& nEndOffset);

    CCipher& m_cipher;
    CV1Buffers& m_buffers;
    const int m_nThreads;
    CBlockInput m_in;
    uint64_t m_nPos = 0;  // the container's bytes taken by the reading side
    bool m_bEnded = false;  // a body came up short: the container ends with it
    uint64_t m_nBlocks = 0, m_nPlainBytes = 0, m_nBlockOffset = 0, m_nConsumed = 0;
};
