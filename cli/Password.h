// Where the tool's password comes from: the first line of a file, of
// standard input or of a descriptor, an environment variable, or else the
// controlling terminal (the console on Windows) without echo, also when
// standard input is a pipe.
#pragma once

#include <string>

#include "cli/Options.h"
#include "framework/afxstr.h"

// bEncrypting: asked twice on the terminal, and at least 4 characters.
// Without a terminal and without a source it is a usage error.
// False with the reason in strError (a usage error).
bool GetPassword(const Options& options, bool bEncrypting, CString& strPassword, std::string& strError);
