// The shell's selection as a batch takes it: selected folders opened into the
// files inside them, and the order the files are done in.
#pragma once

#ifdef _WIN32
#include <functional>

#include "framework/afxstr.h"

// Replaces each selected folder by the files in it and in all its subfolders
// (links to folders and junctions inside are not followed; a link to a file
// is a file): encrypting, those that are not containers yet; decrypting, the
// containers (told by their magic). A file that cannot be read, or a folder
// that cannot be listed, is taken either way, so that its failure is
// reported. Every other selected entry
// stays as it is. Then sorts the list in descending byte order and drops
// empty entries. keepGoing is asked between entries of a walk; when it says
// false the walk stops and false is returned.
bool ExpandSelection(CStringArray& files, bool bEncrypt, const std::function<bool()>& keepGoing);
#endif
