// The tool's arguments and output across platforms. On Windows the command
// line is read in UTF-16 and file arguments with * or ? are expanded as a
// Windows user expects (the system's shell leaves that to each program);
// names reach the console in UTF-16, and a file or pipe in UTF-8.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "framework/afxstr.h"

// The program's arguments as UTF-8 (argv as it is elsewhere).
std::vector<std::string> GetArguments(int argc, char** argv);

// Each argument with * or ? in its last component becomes the matching
// files of that folder, sorted; one that matches nothing stays as typed, so
// that it is reported as unreadable. Elsewhere the shell has done this.
std::vector<std::string> ExpandWildcards(const std::vector<std::string>& files);

// "C:name", relative to the current folder of drive C, as a full path; any
// other path as it is. Split at its last separator, "C:name" would give the
// folder "." and the output ".\C:name", a stream of a file "C".
std::string FromDriveRelative(const std::string& strPath);

// A name from a container or a folder, fit to print: control characters
// (C0, DEL and the UTF-8 forms of C1) shown as \xHH, so that a name can
// neither steer the terminal nor pass for a line of the tool's own.
std::string ShownName(const std::string& strName);

// A terminal or console window. On Windows a console, never NUL or another
// character device, which the C library's isatty also takes for one.
bool IsTerminal(FILE* pStream);

// printf to a stream, the text being UTF-8.
void PrintText(FILE* pStream, const char* pszFormat, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
