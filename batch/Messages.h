// The texts the user sees for a failed file, shared by the batch driver's
// message box and the command-line tool.
#pragma once

#include "framework/afxstr.h"

// "Kestrin was unable to read the file : <path>." and so on for codes 1..8,
// "Kestrin : Error <n>" for any other code. pszPath is the source, except for
// WR_WRITE_ERROR, where callers pass the path that could not be written.
// bWithPrompt appends the message box's "\nPress OK to continue, or Cancel to
// Quit." line (codes 1..8 only).
CString FormatResultMessage(int nResult, const char* pszPath, bool bWithPrompt);
