// Standard input and output as the pipelines' source and sink.
#pragma once

#include <cstdio>
#include <vector>

// Puts standard input and output in byte-exact mode (Windows translates line ends).
void UseBinaryStdio();

// True when standard output is the file at pszPath (a shell's ">> file"):
// writing it while reading it would grow the input as it is read. The same
// file is the same device and inode, or on Windows volume and file index.
bool StdoutIsFile(const char* pszPath);

// The same for standard input ("- < file >> file").
bool StdoutIsStdin();

// Up to nMax bytes from the start of standard input, read ahead so that the
// method can be found before the container is processed once.
std::vector<unsigned char> ReadAhead(size_t nMax);

// The bytes read ahead followed by the rest of standard input, as one stream.
FILE* OpenReplayedStdin(const std::vector<unsigned char>& ahead);
