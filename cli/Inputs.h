// The files a command works on: those named, and with -r those found below
// named folders.
#pragma once

#include <string>
#include <vector>

#include "cli/Options.h"

struct CInput {
    std::string strPath;       // "-" for standard input
    std::string strOutputDir;  // where its output goes; empty: beside it
    bool bNothingFound = false;  // a folder -r found nothing in: a failure of its own
    std::string strUnreadable;   // a folder below it that -r could not read: why
};

// With -r, a named folder gives every regular file below it (encrypt) or
// every container, known by its magic whatever its name (the others), in
// name order; symbolic links to folders are not followed; a folder with
// nothing to work on stands in the list as such, and so does a folder that
// cannot be read. With -O DIR, a file found below folder F goes to
// DIR/F/<its subfolder>. A file named twice is listed once. The list is made
// before any output is written, so outputs never become inputs.
std::vector<CInput> ExpandInputs(const Options& options);

bool StartsWithMagic(const std::string& strPath);
bool IsFolder(const std::string& strPath);
