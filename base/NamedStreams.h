// A file's named data streams (NTFS's alternate streams), where its file
// system has them, behind a small interface: the one rule that uses them,
// carrying the download mark from a source to the file made from it, is
// tested with a stand-in, since Wine has no such streams.
#pragma once

#include <cstddef>
#include <string>

#include "framework/afxstr.h"

class CNamedStreams {
public:
    enum ReadResult { kRead, kNone, kTooLarge, kFailed };

    virtual ~CNamedStreams() = default;
    // The bytes of strPath's stream pszStream, when it has one of at most
    // nLimit bytes. kNone: no such stream, or a file system without streams.
    virtual ReadResult Read(const CString& strPath, const char* pszStream, size_t nLimit, std::string& data) = 0;
    // Creates the stream (the file has none of that name yet) with data.
    // False when it could not be written whole, or the file system has no
    // streams.
    virtual bool Write(const CString& strPath, const char* pszStream, const std::string& data) = 0;
};

// The system's: on Windows the volume's own streams; elsewhere none.
CNamedStreams& SystemNamedStreams();

// The stream in which Windows marks a file that came from another zone (the
// internet, another computer); it warns before such a file is run or opened.
extern const char kDownloadMarkStream[];

// Gives strTo the download mark strFrom carries, if it carries one: its
// bytes, or, when they are too many or cannot be read, a plain mark of the
// internet zone, so that a file made from a marked one is never unmarked.
// Failures are not the file's: they are only returned.
enum class MarkCarried { kNoMark, kMarked, kNotWritten };
MarkCarried CarryDownloadMark(CNamedStreams& streams, const CString& strFrom, const CString& strTo);
