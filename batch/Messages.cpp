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
