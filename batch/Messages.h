// The texts the user sees for a failed file, shared by the batch driver's
// message box and the command-line tool.
#pragma once

#include "container/FaultV2.h"
#include "framework/afxstr.h"

// "Kestrin was unable to read the file : <path>." and so on for codes 1..8,
// "Kestrin : Error <n>" for any other code. pszPath is the source, except for
// WR_WRITE_ERROR, where callers pass the path that could not be written.
// bWithPrompt appends the message box's "\nPress OK to continue, or Cancel to
// Quit." line (codes 1..8 only).
CString FormatResultMessage(int nResult, const char* pszPath, bool bWithPrompt);

// An authenticated container that could not be decrypted, in the same style:
// its reader knows what went wrong (the fault's kind, not V2_FAULT_NONE),
// and that nothing was written.
CString FormatFaultMessageV2(const CV2Fault& fault, const char* pszPath, bool bWithPrompt);

// The same in a few words, for the tool's "kestrin: FILE: reason" lines:
// "wrong password (or a damaged header)", "damaged header: iterations
// 10000001 out of range", "altered or damaged at record 3 (byte offset 8312)".
CString DescribeFaultV2(const CV2Fault& fault);
