// Every CString holds UTF-8, on Windows too. Text changes form only where it
// leaves the program: to the wide Win32 interface, and to the legacy code
// page bytes that stored containers and their keys were made of.
#pragma once

#include <cstddef>
#include <string>

#include "framework/afxstr.h"

const unsigned kCodePageUtf8 = 65001;
const unsigned kCodePageWestern = 1252;

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(const char* p, size_t n);
// Valid UTF-8 that holds at least one multi-byte sequence: text that a code
// page writer would hardly have produced by chance.
bool LooksLikeUtf8(const CString& strBytes);
// Characters (code points) of valid UTF-8; bytes of anything else.
int Utf8Length(const CString& str);
// Bytes of the last character of a UTF-8 text ending at nEnd (1 for a stray byte).
int Utf8LastCharBytes(const CString& str, int nEnd);

// The code page of legacy bytes: the system's ANSI code page on Windows,
// Windows-1252 elsewhere unless the tool was told otherwise.
unsigned GetLegacyCodePage();
void SetLegacyCodePage(unsigned nCodePage);
// False for a code page this machine cannot convert.
bool IsKnownCodePage(unsigned nCodePage);

// The code page bytes of a UTF-8 text; false when some character has no
// exact counterpart there (no best-fit, no default character).
bool Utf8ToCodePage(const CString& strUtf8, unsigned nCodePage, CString& strBytes);
// Code page bytes as UTF-8. Bytes the code page leaves undefined keep their
// value as a character (as Windows does for 0x81 in 1252).
CString CodePageToUtf8(const CString& strBytes, unsigned nCodePage);
// Valid UTF-8 as it is, anything else from the legacy code page.
CString LegacyOrUtf8ToUtf8(const CString& strBytes, unsigned nCodePage);

#ifdef _WIN32
std::wstring Utf8ToWide(const char* psz, int nBytes = -1);
CString WideToUtf8(const wchar_t* pwsz, int cch = -1);
// The same, but false (strOut untouched) for text that holds a lone
// surrogate, which WideToUtf8 would silently turn into U+FFFD.
bool WideToUtf8Exact(const wchar_t* pwsz, int cch, CString& strOut);
// A path for the wide file functions: long absolute paths get the "\\?\"
// (or "\\?\UNC\") form, so MAX_PATH does not apply.
std::wstring Win32Path(const CString& strPath);
#endif
