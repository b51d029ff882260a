// The bytes a container keeps for its file name and the bytes its key is
// derived from. Containers made by the narrow version hold the code page
// bytes of their machine; those must stay byte-identical, and what a code
// page cannot hold goes as UTF-8.
#pragma once

#include "framework/afxstr.h"

// The name's code page bytes when it converts exactly, else its UTF-8
// bytes. When that exceeds what a reader accepts (260 bytes), characters
// are taken off the end of the stem, never the extension, until it fits.
CString EncodeStoredName(const CString& strName, unsigned nCodePage);
// The name an authenticated container stores: UTF-8 (bytes that are not are
// read in the code page), shortened the same way to at most 1024 bytes.
CString EncodeStoredNameV2(const CString& strName, unsigned nCodePage);
// Valid UTF-8 with a multi-byte sequence is UTF-8; anything else is code page.
CString DecodeStoredName(const CString& strBytes, unsigned nCodePage);

// The key bytes of a password, in the order a reader tries them. The first
// is also what a writer uses: the code page bytes when the password converts
// exactly, else UTF-8. A reader on Windows tries the code page form first
// (what the narrow version made), elsewhere the UTF-8 form. strSecond is
// empty when there is only one form.
void GetPasswordForms(const CString& strPassword, unsigned nCodePage, bool bReading, CString& strFirst,
                      CString& strSecond);
