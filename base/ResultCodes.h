// What one file's work comes to, as small numbers every layer passes up
// unchanged: the file routines return them, the worker stores them, and only
// the front ends turn them into words.
#pragma once

enum {
    WR_OK = 0,
    WR_READ_ERROR = 1,
    WR_WRITE_ERROR = 2,
    WR_NO_MEMORY = 3,
    WR_BAD_FORMAT = 4,
    WR_DECRYPT_ERROR = 5,
    WR_INFLATE_ERROR = 6,
    WR_DEFLATE_ERROR = 7,
    WR_ENCRYPT_ERROR = 8
};

// What a file's run left under its output name.
enum {
    KEPT_NOTHING = 0,    // no output (failed, cancelled, or verify)
    KEPT_WHOLE = 1,      // the complete output
    KEPT_PARTIAL = 2,    // a decryption that failed on a damaged block kept what it restored before it
    KEPT_TEMPORARY = 3   // nothing under a final name, but a temporary file could not be removed
};
