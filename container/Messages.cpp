#include "container/Messages.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "base/FileStreams.h"
#include "base/PathUtils.h"
#include "base/ResultCodes.h"

namespace {

const char kProduct[] = "Kestrin";
const char kPrompt[] = "\nPress OK to continue, or Cancel to Quit.";

struct CWords {
    const char* pszDialog;  // after the product name; takes the path (and a fault's detail)
    const char* pszTool;    // the tool's words when nothing more is known
};

// Indexed by result code.
const CWords kResultWords[] = {
    {nullptr, nullptr},
    {" was unable to read the file : %s.", "cannot read the file"},
    {" was unable to write the file : %s.", "cannot write"},
    {" encountered an out of memory condition and was unable to process the file : %s.", "out of memory"},
    {" was unable to process the file : %s.\nThe file format is not recognized.",
     "not a Kestrin container"},
    {" was unable to decrypt the file : %s.\nThe file format is not recognized.",
     "wrong password, or the container was made with another method"},
    {" was unable to inflate the file : %s.\nThe file format is not recognized.",
     "wrong password, or the container was made with another method"},
    {" was unable to deflate the file : %s.", "compression failed"},
    {" was unable to encrypt the file : %s.", "encryption failed"},
};
const int kLastResult = int(sizeof kResultWords / sizeof kResultWords[0]) - 1;

// The tool's finer words, where a run tells more than its result.
const char kCannotRead[] = "cannot read: ";
const char kTooShort[] = "too short to be a Kestrin container";
const char kTooShortV2[] = "not a Kestrin container: too short for its header";
const char kOtherMethod[] = ", or the container was made with another method";

// Authenticated containers, indexed by V2_FAULT_*; the dialog's text takes
// the path, the last two also the detail (the header field, or the record
// and its offset), which the tool's words are followed by.
const CWords kFaultWords[] = {
    {nullptr, nullptr},
    {" was unable to decrypt the file : %s.\nThe password is wrong, or the file's header is damaged.\n"
     "Nothing was written.",
     "wrong password (or a damaged header)"},
    {" was unable to decrypt the file : %s.\nThe password is not valid Unicode text.\nNothing was written.",
     "the password is not valid UTF-8, which an authenticated container's key is made from"},
    {" was unable to decrypt the file : %s.\nThe file's header is damaged: %s.\nNothing was written.",
     "damaged header: "},
    {" was unable to decrypt the file : %s.\nThe file was altered or damaged at %s.\nNothing was written.",
     "altered or damaged at "},
};

const char* const kFieldNames[] = {nullptr, "version", "key derivation", "iterations", "chunk size", "key commitment"};

// "iterations 10000001 out of range", "record 3 (byte offset 8312)", or nothing.
CString Detail(const CV2Fault& fault)
{
    CString str;
    const bool bField = fault.nKind == V2_FAULT_HEADER_FIELD;
    if (bField && fault.nField == V2_FIELD_COMMITMENT)
        str.Format("key commitment cut short (%u of 32 bytes)", unsigned(fault.nValue));
    else if (bField && fault.nField >= V2_FIELD_VERSION && fault.nField < V2_FIELD_COMMITMENT)
        str.Format("%s %u out of range", kFieldNames[fault.nField], unsigned(fault.nValue));
    else if (fault.nKind == V2_FAULT_RECORD)
        str.Format("record %lld (byte offset %llu)", static_cast<long long>(fault.nRecord),
                   static_cast<unsigned long long>(fault.nOffset));
    return str;
}

bool IsKnownFault(const CV2Fault& fault)
{
    return fault.nKind > V2_FAULT_NONE && fault.nKind <= V2_FAULT_RECORD;
}

CString Damaged(const CContainerFacts& facts)
{
    CString str;
    str.Format("damaged at block %llu (byte offset %llu)", static_cast<unsigned long long>(facts.nBlocks + 1),
               static_cast<unsigned long long>(facts.nBlockOffset));
    return str;
}

}  // namespace

CString CannotRead(int nErrno)
{
#ifdef _WIN32
    // A file another program holds open without sharing it (the C library's
    // own words for EBUSY say nothing a user can act on).
    if (nErrno == EBUSY)
        return CString(kCannotRead) + "in use by another program";
#endif
    return CString(kCannotRead) + std::strerror(nErrno);
}

namespace {

// Asked again for a file: why the password did not do.
const char kRetryNote[] = "The password did not open this file: it is wrong, or the file is not a Kestrin container.";
const char kRetryNoteV2[] = "The password did not open this file: it is wrong, or the file's header is damaged.";
const char kRetryNoteUtf8[] = "The password did not open this file: it is not valid Unicode text.";

const char* Files(int n) { return n == 1 ? "file" : "files"; }

// "\n\nFailed:\nC:\\a._xt\nC:\\b._xt\nand 3 more", or nothing for none.
CString NameList(const char* pszTitle, const std::vector<CString>& names, int nCount)
{
    if (nCount == 0)
        return CString();
    CString strList = CString("\n\n") + pszTitle;
    for (const CString& strName : names)
        strList += "\n" + strName;
    if (nCount > int(names.size())) {
        CString strMore;
        strMore.Format("\nand %d more", nCount - int(names.size()));
        strList += strMore;
    }
    return strList;
}

}  // namespace

CString FormatResultMessage(int nResult, const char* pszPath, bool bWithPrompt, const CString& strNote)
{
    CString strText;
    if (nResult >= 1 && nResult <= kLastResult) {
        strText.Format(kResultWords[nResult].pszDialog, pszPath ? pszPath : "");
        strText += strNote;
        if (bWithPrompt)
            strText += kPrompt;
    } else {
        strText.Format(" : Error %d", nResult);
    }
    return CString(kProduct) + strText;
}

CString FormatKeptNote(int nKept, const CString& strOutput)
{
    // A part restored under the file's own name would pass for the file.
    if (nKept == KEPT_PARTIAL)
        return "\nOnly the part before the damage was restored, as " + strOutput + ".";
    if (nKept == KEPT_TEMPORARY)
        return CString("\nA temporary file (.kestrin-*") + kPartialSuffix + ") could not be removed from " +
               GetOutputDirectory(strOutput) + ".";
    return CString();
}

CString FormatFaultMessageV2(const CV2Fault& fault, const char* pszPath, bool bWithPrompt)
{
    if (!IsKnownFault(fault))
        return CString(kProduct) + " : Error";
    CString strText;
    strText.Format(kFaultWords[fault.nKind].pszDialog, pszPath ? pszPath : "", Detail(fault).GetString());
    if (bWithPrompt)
        strText += kPrompt;
    return CString(kProduct) + strText;
}

CString FormatRetryNote(const CV2Fault& fault)
{
    switch (fault.nKind) {
    case V2_FAULT_WRONG_PASSWORD:
        return kRetryNoteV2;
    case V2_FAULT_PASSWORD_UTF8:
        return kRetryNoteUtf8;
    default:
        return kRetryNote;
    }
}

void AddFailed(CBatchSummary& summary, const CString& strPath)
{
    ++summary.nFailed;
    if (summary.failed.size() < kSummaryNames)
        summary.failed.push_back(strPath);
}

void AddSkipped(CBatchSummary& summary, const CString& strPath)
{
    ++summary.nSkipped;
    if (summary.skipped.size() < kSummaryNames)
        summary.skipped.push_back(strPath);
}

CString FormatBatchSummary(const CBatchSummary& summary)
{
    const int nProcessed = summary.nSucceeded + summary.nFailed + summary.nSkipped;
    CString strText;
    strText.Format("%s processed %d %s: %d succeeded, %d failed, %d skipped.", kProduct, nProcessed,
                   Files(nProcessed), summary.nSucceeded, summary.nFailed, summary.nSkipped);
    if (summary.nNotReached > 0) {
        CString strStopped;
        strStopped.Format("\nThe batch was stopped before the other %d %s.", summary.nNotReached,
                          Files(summary.nNotReached));
        strText += strStopped;
    }
    strText += NameList("Failed:", summary.failed, summary.nFailed);
    strText += NameList("Skipped:", summary.skipped, summary.nSkipped);
    return strText;
}

CString DescribeResult(int nResult, const CResultContext& context)
{
    const CContainerFacts& facts = context.facts;
    switch (nResult) {
    case WR_READ_ERROR:
        if (context.nErrno)
            return CannotRead(context.nErrno);
        if (facts.bHeaderPassed)
            return Damaged(facts);
        // Not every platform's file calls leave errno behind.
        if (context.bMissing)
            return CannotRead(ENOENT);
        return context.bEncrypt ? kResultWords[nResult].pszTool : kTooShort;
    case WR_WRITE_ERROR:
        return CString(kResultWords[nResult].pszTool) + ": " + std::strerror(context.nErrno ? context.nErrno : EIO);
    case WR_BAD_FORMAT:
        return facts.nVersion == 2 ? kTooShortV2 : kResultWords[nResult].pszTool;
    case WR_DECRYPT_ERROR:
    case WR_INFLATE_ERROR:
        if (!facts.bHeaderPassed)
            return kResultWords[nResult].pszTool;
        return Damaged(facts) + (context.bMethodGiven && facts.nBlocks == 0 ? kOtherMethod : "");
    default:
        if (nResult >= 1 && nResult <= kLastResult)
            return kResultWords[nResult].pszTool;
        return "failed with result " + CString(std::to_string(nResult).c_str());
    }
}

CString DescribeFaultV2(const CV2Fault& fault)
{
    if (!IsKnownFault(fault))
        return CString();
    return CString(kFaultWords[fault.nKind].pszTool) + Detail(fault);
}

CString DescribeFaultOutputV2(const CV2Fault& fault, bool bDecrypting, bool bToStream)
{
    if (!bDecrypting)
        return CString();
    // Only what passed its tag was ever written: for a file, nothing.
    if (bToStream && fault.nKind == V2_FAULT_RECORD)
        return "; standard output got the records before it only";
    return "; nothing was written";
}
