// One file into a container, or a container back into the file, as a worker
// runs it: the files (or the tool's streams), the work item's password,
// progress and cancel, and the output's temporary name and its final one,
// around the two formats' writers and readers, which see only bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>

#include "base/ByteStreams.h"
#include "base/FileStreams.h"
#include "container/WorkItem.h"
#include "cipher/Cipher.h"
#include "container/ContainerFacts.h"
#include "container/ContainerV1.h"
#include "framework/afxstr.h"

class CNamedStreams;
class COutputFile;

class CFileProcessor {
public:
    static const int kChunkSize = kV1ChunkSize;
    static const int kPackedBufferSize = kV1PackedSize;
    static const int kMaxNameLength = kV1MaxNameLength;

    CFileProcessor();
    virtual ~CFileProcessor() = default;
    CFileProcessor(const CFileProcessor&) = delete;
    CFileProcessor& operator=(const CFileProcessor&) = delete;

    // Encrypt or Decrypt, by the item's m_bEncrypt. Returns a WR_ code.
    virtual int Run(CWorkItem& item, CCipher& cipher);

    // Threads a file is processed with, the calling one included: 0 takes
    // the process-wide number (PipelineThreads), 1 keeps all work on the
    // calling thread. The output is the same byte for byte whatever the
    // number.
    void SetThreads(int nThreads) { m_nThreads = nThreads; }

    // Writes the container beside the item's m_strDest (made unique) and
    // stores its final path in m_strDest and what was kept in m_nKept. The
    // output is written under a temporary name and named only when whole: a
    // cancelled or failed run leaves nothing. The item's EncType chooses the
    // format: the authenticated method writes version 2, the others version 1.
    int Encrypt(CWorkItem& item, CCipher& cipher);
    // Restores the stored name in the folder of m_strDest, the same way,
    // whatever the format. A damaged version-1 block after at least one
    // restored block keeps the restored part under the final name
    // (KEPT_PARTIAL); any other failure, and a cancel, leaves nothing.
    int Decrypt(CWorkItem& item, CCipher& cipher);
    // Decrypt's checks over the whole container, writing nothing.
    int Verify(CWorkItem& item, CCipher& cipher);

    // Streams in place of files (the command-line tool's standard input and
    // output): a run reads pIn instead of opening m_strSource, whose file
    // name part then only names the stored file, and writes pOut as it goes
    // instead of naming a finished output. Either may be null; neither is
    // closed. A stream source has no size, so no percentage is reported.
    void SetStreams(FILE* pIn, FILE* pOut);
    // How a file output is named (by default the first free name). Other
    // than that, a decryption's output is m_strDest itself, not the stored
    // name: the user named it.
    void SetNameRule(NameRule rule) { m_nameRule = rule; }
    // Where a finished output's download mark comes from and goes
    // (CarryDownloadMark); the system's unless set.
    void SetNamedStreams(CNamedStreams& streams) { m_pNamedStreams = &streams; }
    const CContainerFacts& Facts() const { return m_facts; }

private:
    // A reading run into a sink (null: check only); sets bCancelled.
    typedef std::function<int(CByteSink* pOut, bool& bCancelled)> FRead;

    int EncryptFile(CWorkItem& item, CCipher& cipher);
    int DecryptFile(CWorkItem& item, CCipher& cipher, bool bWrite);
    // Either format's writer into out.
    int WriteContainer(CWorkItem& item, CCipher& cipher, const CString& strStored, CByteSource& in, uint64_t nSize,
                       CByteSink& out, bool& bCancelled);
    // in starts at the magic; nSize is the container's (kUnknownSize: a stream).
    int ReadV1(CWorkItem& item, CCipher& cipher, CByteSource& in, uint64_t nSize, unsigned nMode,
               const CString& strSource, const CString& strDest, bool bWrite);
    int ReadV2(CWorkItem& item, CByteSource& in, uint64_t nSize, unsigned nMode, const CString& strSource,
               const CString& strDest, bool bWrite);
    // Where a reading run's output goes: pCheck (verifying), the stream, or
    // a file named by the stored name in the folder of strDest.
    // bKeepPart: a damaged container keeps the blocks restored before it.
    int Restore(CWorkItem& item, const FRead& read, CByteSink* pCheck, unsigned nMode, const CString& strSource,
                const CString& strDest, bool bWrite, bool bKeepPart);
    // The cipher keyed with the item's password (its first key form), whose copy is wiped.
    static bool KeyCipher(CWorkItem& item, CCipher& cipher, bool bReading);
    // Names the output when nKeep asks for it, else removes it; records in
    // the item what was kept. An output that is kept gets strSource's
    // download mark. Returns nResult, or the naming's failure.
    int SettleOutput(CWorkItem& item, COutputFile& out, const CString& strSource, const CString& strName, int nResult,
                     int nKeep);
    // A stream output's last bytes pushed out; nResult, or the write failure.
    static int FlushStream(FILE* pOut, int nResult);

    FILE* m_pStreamIn = nullptr;
    FILE* m_pStreamOut = nullptr;
    CNamedStreams* m_pNamedStreams;
    CContainerFacts m_facts;
    CV1Buffers m_buffers;  // the serial loops' chunk and block, wiped with the processor
    int m_nThreads = 0;
    NameRule m_nameRule = NameRule::kNextFree;
};
