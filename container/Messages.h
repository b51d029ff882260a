// The words for a failed file, in one table with two voices: the dialogs'
// exact texts, which the batch driver shows in its message box, and the
// command-line tool's own few words for its "kestrin: FILE: reason" lines.
// The same for an authenticated container's faults; and the dialogs' words
// for a password that opened nothing and for a batch's closing summary. Only
// the front ends turn results into words, and both take them from here.
#pragma once

#include <vector>

#include "container/ContainerFacts.h"
#include "container/FaultV2.h"
#include "framework/afxstr.h"

// "cannot read: " and why, for the command-line tool's lines.
CString CannotRead(int nErrno);

// --- the dialogs

// "Kestrin was unable to read the file : <path>." and so on for codes 1..8,
// "Kestrin : Error <n>" for any other code. pszPath is the source, except for
// WR_WRITE_ERROR, where callers pass the path that could not be written.
// bWithPrompt appends the message box's "\nPress OK to continue, or Cancel to
// Quit." line (codes 1..8 only).
// strNote, when given, goes before the prompt (FormatKeptNote).
CString FormatResultMessage(int nResult, const char* pszPath, bool bWithPrompt, const CString& strNote = CString());

// What a failed file left on disk (CWorkItem::m_nKept), as a line of its own
// for the dialogs, or nothing when it left nothing. strOutput: the path the
// output went to (the work item's m_strDest).
CString FormatKeptNote(int nKept, const CString& strOutput);

// An authenticated container that could not be decrypted, in the same style:
// its reader knows what went wrong (the fault's kind, not V2_FAULT_NONE),
// and that nothing was written.
CString FormatFaultMessageV2(const CV2Fault& fault, const char* pszPath, bool bWithPrompt);

// The line the settings dialog adds when it asks again for a file whose
// password opened nothing (CWorkItem::m_bPasswordRefused); fault: the
// authenticated container's, V2_FAULT_NONE for a legacy one.
CString FormatRetryNote(const CV2Fault& fault);

// How a batch of several files went, for its one closing message.
struct CBatchSummary {
    int nSucceeded = 0;
    int nFailed = 0;
    int nSkipped = 0;     // the user gave up on them (Cancel when asked again)
    int nNotReached = 0;  // the batch ended before them
    std::vector<CString> failed;   // the first kSummaryNames paths of each
    std::vector<CString> skipped;
};
const size_t kSummaryNames = 5;

void AddFailed(CBatchSummary& summary, const CString& strPath);
void AddSkipped(CBatchSummary& summary, const CString& strPath);
// "Kestrin processed 4 files: 2 succeeded, 1 failed, 1 skipped." and the
// first few names of the failed and the skipped files.
CString FormatBatchSummary(const CBatchSummary& summary);

// --- the tool

// What the tool knows of a failed run beyond its result.
struct CResultContext {
    CContainerFacts facts;      // what the reading learned
    int nErrno = 0;             // the system's reason for a read or write failure
    bool bEncrypt = false;      // the run was making a container
    bool bMethodGiven = false;  // the user named the method: a first block that fails may be the wrong one
    bool bMissing = false;      // the input is not there
};

// "cannot read: No such file or directory", "damaged at block 3 (byte offset
// 8312)", "wrong password, or the container was made with another method".
CString DescribeResult(int nResult, const CResultContext& context);

// "wrong password (or a damaged header)", "damaged header: iterations
// 10000001 out of range", "altered or damaged at record 3 (byte offset 8312)".
CString DescribeFaultV2(const CV2Fault& fault);
// What the output got after such a fault: nothing (a file), or for a
// decryption to a stream the records before a damaged one. Empty when the
// run was not decrypting.
CString DescribeFaultOutputV2(const CV2Fault& fault, bool bDecrypting, bool bToStream);
