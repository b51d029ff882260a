// zlib's memory through our own allocator, which wipes every block before it
// goes back to the heap: a stream's window and pending output hold the plain
// bytes of the file it worked on. Every z_stream the pipelines make starts here.
#pragma once

#include <zlib.h>

// Clears the stream, points its allocation hooks at the wiping allocator and
// initialises it; zlib's result code.
int DeflateInitWiping(z_stream& zs, int nLevel);
int InflateInitWiping(z_stream& zs);

// A stream of the pipelines' helpers: on the wiping allocator, ended when it goes.
class CZStream {
public:
    CZStream() = default;
    ~CZStream();
    CZStream(const CZStream&) = delete;
    CZStream& operator=(const CZStream&) = delete;

    // A deflate stream at the default level, or an inflate stream; zlib's result.
    int Init(bool bDeflate);
    z_stream& Get() { return m_zs; }

private:
    z_stream m_zs = {};
    bool m_bDeflate = false;
    bool m_bReady = false;
};
