#include "batch/Messages.h"

namespace {

const char kProduct[] = "Kestrin";
const char kPrompt[] = "\nPress OK to continue, or Cancel to Quit.";

// Indexed by result code; each takes the path once.
const char* const kTexts[] = {
    nullptr,
    " was unable to read the file : %s.",
    " was unable to write the file : %s.",
    " encountered an out of memory condition and was unable to process the file : %s.",
    " was unable to process the file : %s.\nThe file format is not recognized.",
    " was unable to decrypt the file : %s.\nThe file format is not recognized.",
    " was unable to inflate the file : %s.\nThe file format is not recognized.",
    " was unable to deflate the file : %s.",
    " was unable to encrypt the file : %s.",
};

// Authenticated containers, indexed by V2_FAULT_*; each takes the path, the
// last two also the detail (the header field, or the record and its offset).
const char* const kAuthenticatedTexts[] = {
    nullptr,
    " was unable to decrypt the file : %s.\nThe password is wrong, or the file's header is damaged.\n"
    "Nothing was written.",
    " was unable to decrypt the file : %s.\nThe password is not valid Unicode text.\nNothing was written.",
    " was unable to decrypt the file : %s.\nThe file's header is damaged: %s.\nNothing was written.",
    " was unable to decrypt the file : %s.\nThe file was altered or damaged at %s.\nNothing was written.",
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

}  // namespace

CString FormatResultMessage(int nResult, const char* pszPath, bool bWithPrompt)
{
    CString strText;
    if (nResult >= 1 && nResult <= 8) {
        strText.Format(kTexts[nResult], pszPath ? pszPath : "");
        if (bWithPrompt)
            strText += kPrompt;
    } else {
        strText.Format(" : Error %d", nResult);
    }
    return CString(kProduct) + strText;
}

CString FormatFaultMessageV2(const CV2Fault& fault, const char* pszPath, bool bWithPrompt)
{
    if (!IsKnownFault(fault))
        return CString(kProduct) + " : Error";
    CString strText;
    strText.Format(kAuthenticatedTexts[fault.nKind], pszPath ? pszPath : "", Detail(fault).GetString());
    if (bWithPrompt)
        strText += kPrompt;
    return CString(kProduct) + strText;
}

CString DescribeFaultV2(const CV2Fault& fault)
{
    switch (fault.nKind) {
    case V2_FAULT_WRONG_PASSWORD:
        return "wrong password (or a damaged header)";
    case V2_FAULT_PASSWORD_UTF8:
        return "the password is not valid UTF-8, which an authenticated container's key is made from";
    case V2_FAULT_HEADER_FIELD:
        return "damaged header: " + Detail(fault);
    case V2_FAULT_RECORD:
        return "altered or damaged at " + Detail(fault);
    default:
        return CString();
    }
}
