// Where the tool's password comes from: a file's or standard input's first
// line, or the terminal without echo.
#pragma once

#include <string>

#include "cli/Options.h"
#include "framework/afxstr.h"

// bEncrypting: asked twice on the terminal, and at least 4 characters.
// False with the reason in strError (a usage error).
bool GetPassword(const Options& options, bool bEncrypting, CString& strPassword, std::string& strError);
