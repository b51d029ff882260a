#include "container/FileProcessor.h"

#include <cstring>
#include <new>

#include "cipher/Methods.h"
#include "base/FileGuards.h"
#include "base/FileStreams.h"
#include "base/PathUtils.h"
#include "base/SecureBuffer.h"
#include "container/StoredName.h"
#include "base/WipingZlib.h"
#include "framework/afxconv.h"

CFileProcessor::CFileProcessor()
{
    ClearBuffers();
    std::memset(&m_zstream, 0, sizeof m_zstream);
}

CFileProcessor::~CFileProcessor()
{
    // The buffers held the plain file's contents.
    SecureZero(m_abPlain, sizeof m_abPlain);
    SecureZero(m_abPacked, sizeof m_abPacked);
}

void CFileProcessor::ClearBuffers()
{
    std::memset(m_abPlain, 0, sizeof m_abPlain);
    std::memset(m_abPacked, 0, sizeof m_abPacked);
}

int CFileProcessor::Run(CWorkItem& item, CCipher& cipher)
{
    return LockedGet(item.m_bEncrypt) ? Encrypt(item, cipher) : Decrypt(item, cipher);
}

int CFileProcessor::Encrypt(CWorkItem& item, CCipher& cipher)
{
    try {
        return EncryptFile(item, cipher);
    } catch (const std::bad_alloc&) {
        return WR_NO_MEMORY;
    }
}

int CFileProcessor::Decrypt(CWorkItem& item, CCipher& cipher)
{
    try {
        return DecryptFile(item, cipher, true);
    } catch (const std::bad_alloc&) {
        return WR_NO_MEMORY;
    }
}

int CFileProcessor::Verify(CWorkItem& item, CCipher& cipher)
{
    try {
        return DecryptFile(item, cipher, false);
    } catch (const std::bad_alloc&) {
        return WR_NO_MEMORY;
    }
}

void CFileProcessor::SetStreams(FILE* pIn, FILE* pOut)
{
    m_pStreamIn = pIn;
    m_pStreamOut = pOut;
}

bool CFileProcessor::KeyCipher(CWorkItem& item, CCipher& cipher, bool bReading, int nForm)
{
    CString strPassword = LockedCopy(item.m_strPassword);
    CWipeOnExit wipe(strPassword);
    return KeyCipher(strPassword, cipher, bReading, nForm);
}

bool CFileProcessor::KeyCipher(const CString& strPassword, CCipher& cipher, bool bReading, int nForm)
{
    CString strFirst, strSecond, strText;
    CWipeOnExit wipeFirst(strFirst), wipeSecond(strSecond), wipeText(strText);
    // The key ends at the first NUL: "\0secret" would be the empty password.
    if (std::strlen(strPassword) != size_t(strPassword.GetLength()))
        return false;
    // Bytes that are not UTF-8 (the tool keeps a password file's bytes as
    // they came) are text of the legacy code page to these methods.
    strText = LegacyOrUtf8ToUtf8(strPassword, GetLegacyCodePage());
    GetPasswordForms(strText, GetLegacyCodePage(), bReading, strFirst, strSecond);
    const CString& strForm = nForm == 0 ? strFirst : strSecond;
    if (strForm.IsEmpty())
        return false;
    cipher.GetKey()->SetPassword(strForm);
    cipher.Prepare();
    return true;
}

int CFileProcessor::SettleOutput(CWorkItem& item, COutputFile& out, const CString& strName, int nResult, int nKeep)
{
    if (nKeep != KEPT_NOTHING) {
        CString strFinal;
        const int nFinish =
            out.Finish(strName, strFinal, [&item](const CString& strPath) { LockedAssign(item.m_strDest, strPath); });
        if (nFinish == WR_OK) {
            LockedSet(item.m_nKept, nKeep);
            return nResult;
        }
        nResult = nFinish;
    }
    LockedSet(item.m_nKept, out.Discard() ? KEPT_NOTHING : KEPT_TEMPORARY);
    return nResult;
}

int CFileProcessor::Percent(uint64_t nDone, uint64_t nTotal)
{
    if (nTotal == 0 || nTotal == UINT64_MAX)
        return 0;
    return int(int64_t(nDone * 100) / int64_t(nTotal));
}

int CFileProcessor::EncryptFile(CWorkItem& item, CCipher& cipher)
{
    const CString strSource = LockedCopy(item.m_strSource);
    if (!KeyCipher(item, cipher, false, 0))
        return WR_ENCRYPT_ERROR;
    const CString strWanted = LockedCopy(item.m_strDest);
    CInputFile in;
    if (!m_pStreamIn && !in.Open(strSource))
        return WR_READ_ERROR;
    FILE* pIn = m_pStreamIn ? m_pStreamIn : in.Get();
    const uint64_t nSize = m_pStreamIn ? kUnknownSize : in.Size();

    // A failed init leaves a stream that deflate refuses: result 7 at the first chunk.
    DeflateInitWiping(m_zstream, Z_DEFAULT_COMPRESSION);
    CDeflateGuard deflateGuard(m_zstream);

    bool bCancelled = false;
    const bool bVersion2 = LockedGet(item.m_nEncType) == kEncTypeAuthenticated;
    // Version 2 stores the name in UTF-8; version 1 in the legacy code page.
    const CString strStored = bVersion2 ? EncodeStoredNameV2(GetFileNamePart(strSource), GetLegacyCodePage())
                                        : EncodeStoredName(GetFileNamePart(strSource), GetLegacyCodePage());
    auto write = [&](FILE* pOut) {
        return bVersion2 ? WriteContainerV2(item, strStored, pIn, nSize, pOut, bCancelled)
                         : WriteContainer(item, cipher, strStored, pIn, nSize, pOut, bCancelled);
    };
    if (m_pStreamOut)
        return FlushStream(m_pStreamOut, write(m_pStreamOut));
    const CString strDirectory = GetOutputDirectory(strWanted), strName = GetFileNamePart(strWanted);
    LockedAssign(item.m_strDest, JoinPath(strDirectory, strName));  // named by a write-failure message
    COutputFile out;
    if (!out.Create(strDirectory, in.Mode()))
        return WR_WRITE_ERROR;
    const int nResult = write(out.Get());
    // The format has no trailer: a cut-off container would decrypt without
    // complaint to a cut-off file. Only a finished one gets a name.
    return SettleOutput(item, out, strName, nResult, nResult == WR_OK && !bCancelled ? KEPT_WHOLE : KEPT_NOTHING);
}

int CFileProcessor::WriteContainer(CWorkItem& item, CCipher& cipher, const CString& strStoredName, FILE* pIn,
                                   uint64_t nSize, FILE* pOut, bool& bCancelled)
{
    // The magic goes in last: until then the file is no container, so a
    // temporary file left by a crash never verifies as one. A stream cannot
    // be rewound; its reader learns of a failure from the exit status.
    static const uint8_t kUnfinished[4] = {0, 0, 0, 0};
    const bool bStream = pOut == m_pStreamOut;
    int nResult = std::fwrite(bStream ? kContainerMagic : kUnfinished, 1, 4, pOut) < 4 ? WR_WRITE_ERROR : WR_OK;
    uint32_t nHeader = 0;
    if (nResult == WR_OK)
        nResult = WriteNameHeader(strStoredName, pOut, cipher, nHeader);
    if (nResult == WR_OK)
        nResult = WriteBody(item, cipher, pIn, pOut, nSize, bCancelled);
    if (nResult == WR_OK && !bCancelled && !bStream &&
        (std::fseek(pOut, 0, SEEK_SET) != 0 || std::fwrite(kContainerMagic, 1, 4, pOut) < 4))
        nResult = WR_WRITE_ERROR;
    return nResult;
}

int CFileProcessor::WriteBlocks(CWorkItem& item, CCipher& cipher, FILE* pIn, FILE* pOut,
                                uint64_t nSize, bool& bCancelled)
{
    const CCipherKey* pKey = cipher.GetKey();
    const CFieldEncryptor keyed(pKey->Data(), pKey->Length());
    CFieldEncryptor scratch(pKey->Data(), pKey->Length());
    uint64_t nRead = 0;
    ClearBuffers();
    size_t n = std::fread(m_abPlain, 1, kChunkSize, pIn);
    while (n > 0) {
        if (LockedGet(item.m_bCancel)) {
            bCancelled = true;
            return WR_OK;
        }
        nRead += n;
        if (nSize != 0 && nSize != kUnknownSize)
            LockedSet(item.m_nPercent, Percent(nRead, nSize));

        m_zstream.next_in = m_abPlain;
        m_zstream.avail_in = uInt(n);
        m_zstream.next_out = m_abPacked;
        m_zstream.avail_out = kPackedBufferSize;
        if (deflate(&m_zstream, Z_FINISH) != Z_STREAM_END)
            return WR_DEFLATE_ERROR;
        const uint32_t nPacked = uint32_t(m_zstream.total_out);
        if (deflateReset(&m_zstream) != Z_OK)
            return WR_DEFLATE_ERROR;

        const uint64_t nStored = cipher.PaddedLength(nPacked);
        if (nStored > uint64_t(kPackedBufferSize) || !cipher.Process(m_abPacked, uint32_t(nStored), 1))
            return WR_ENCRYPT_ERROR;

        const uint8_t abHeader[6] = {uint8_t(n),       uint8_t(n >> 8),       uint8_t(nStored),
                                     uint8_t(nStored >> 8), uint8_t(nPacked), uint8_t(nPacked >> 8)};
        int nResult = WriteProtected(abHeader, 6, keyed, scratch, pOut);
        if (nResult != WR_OK)
            return nResult;
        if (std::fwrite(m_abPacked, 1, size_t(nStored), pOut) < nStored)
            return WR_WRITE_ERROR;

        // A source that shrank after it was measured ends here too: compare
        // at this exit as well, or a cut-off copy would count as success.
        if (std::feof(pIn))
            return SourceComplete(pIn, nRead, nSize);
        ClearBuffers();
        n = std::fread(m_abPlain, 1, kChunkSize, pIn);
    }
    return SourceComplete(pIn, nRead, nSize);
}

int CFileProcessor::SourceComplete(FILE* pIn, uint64_t nRead, uint64_t nSize)
{
    // A stream has no size to hold the count against; its read error is all there is.
    if (nSize == kUnknownSize)
        return std::ferror(pIn) ? WR_READ_ERROR : WR_OK;
    return nRead == nSize ? WR_OK : WR_READ_ERROR;
}

int CFileProcessor::FlushStream(FILE* pOut, int nResult)
{
    if (std::fflush(pOut) != 0 && nResult == WR_OK)
        return WR_WRITE_ERROR;
    return nResult;
}
