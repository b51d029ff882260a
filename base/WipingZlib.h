// zlib's memory through our own allocator, which wipes every block before it
// goes back to the heap: a stream's window and pending output hold the plain
// bytes of the file it worked on. Every z_stream the pipelines make starts here.
#pragma once

#include <zlib.h>

// Clears the stream, points its allocation hooks at the wiping allocator and
// initialises it; zlib's result code.
int DeflateInitWiping(z_stream& zs, int nLevel);
int InflateInitWiping(z_stream& zs);
