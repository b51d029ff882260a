// kestrin: makes and reads containers from the command line, over the same
// core as the shell extension, one worker thread per file.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "base/FileStreams.h"
#include "base/PathUtils.h"
#include "base/WorkQueue.h"
#include "cipher/Methods.h"
#include "cli/Console.h"
#include "cli/Inputs.h"
#include "cli/Job.h"
#include "cli/Options.h"
#include "cli/Password.h"
#include "cli/Progress.h"
#include "cli/Streams.h"
#include "container/FormatV2.h"
#include "container/Messages.h"
#include "container/Sniff.h"
#include "framework/afxconv.h"
#include "framework/afxfile.h"

#ifndef KESTRIN_VERSION
#define KESTRIN_VERSION "0"
#endif

namespace {

const int kExitUsage = 64;
const int kExitSignalBase = 128;
// -o NUL or -O aux on Windows: the device, whatever folder stands before it.
const char kDeviceName[] = "is the name of a device, not of a file or folder";

volatile std::sig_atomic_t g_nSignal = 0;

extern "C" void OnSignal(int nSignal) { g_nSignal = nSignal; }

// SIGINT, SIGTERM, SIGHUP and SIGQUIT cancel the file in work, and so does
// SIGPIPE, so that a reader that went away ends the run like any signal
// (the progress line ended, the partial output removed, 128+13). Without
// SA_RESTART, so that a password prompt's read returns and the terminal's
// echo comes back.
void CatchSignals()
{
#ifdef _WIN32
    // Ctrl+Break arrives as SIGBREAK: left to its default it would end the
    // process with the hidden temporary file still on disk.
    for (int nSignal : {SIGINT, SIGTERM, SIGBREAK})
        std::signal(nSignal, OnSignal);
#else
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int nSignal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE})
        sigaction(nSignal, &action, nullptr);
    // Past a file size limit (ulimit -f) a write then fails with EFBIG like
    // a full disk, and the temporary file is removed, instead of the
    // process dying with it left behind.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

int Usage(const std::string& strError, bool bSynopsis)
{
    PrintText(stderr, "kestrin: %s\n%s", strError.c_str(), bSynopsis ? kSynopsis : "");
    return kExitUsage;
}

// The password, asked for when the first file needs it: a run that only
// skips or refuses files asks for none.
class CPasswordOnce {
public:
    explicit CPasswordOnce(const Options& options) : m_options(options) {}
    ~CPasswordOnce() { m_str.SecureEmpty(); }
    CPasswordOnce(const CPasswordOnce&) = delete;
    CPasswordOnce& operator=(const CPasswordOnce&) = delete;

    // False when there is none: Failure() is then the exit status.
    bool Ready()
    {
        if (!m_bAsked) {
            m_bAsked = true;
            m_nFailure = Ask();
        }
        return m_nFailure == 0;
    }
    int Failure() const { return m_nFailure; }
    const CString& Get() const { return m_str; }

private:
    int Ask()
    {
        std::string strError;
        const bool bEncrypting = m_options.command == Command::kEncrypt;
        const bool bGot = GetPassword(m_options, bEncrypting, m_str, strError);
        if (g_nSignal)
            return kExitSignalBase + g_nSignal;
        if (!bGot)
            return Usage(strError, false);
        // Decrypting decides for each container; encrypting with the
        // authenticated method would fail every file alike.
        if (bEncrypting && m_options.nEncType == kEncTypeAuthenticated &&
            !IsValidUtf8(m_str, size_t(m_str.GetLength())))
            return Usage("the password is not valid UTF-8: the aes method keys from UTF-8 bytes only (the legacy "
                         "methods read it in the code page)", false);
        return 0;
    }

    const Options& m_options;
    CString m_str;
    bool m_bAsked = false;
    int m_nFailure = 0;
};

// What one input needs beyond the options: its streams and its method.
struct CRun {
    const Options& options;
    CPasswordOnce& password;
    CInput input;
    int nIndex;
    int nCount;
    bool bStdin;
    bool bStdout;
    int nEncType = 0;
    FILE* pIn = nullptr;  // a replay of standard input, closed by us
    NameRule nameRule = NameRule::kNextFree;

    bool Encrypting() const { return options.command == Command::kEncrypt; }
    bool Writing() const { return options.command == Command::kEncrypt || options.command == Command::kDecrypt; }
    // An -o FILE: the output's own name, not one beside the source.
    bool NamedOutput() const { return !options.strOutput.empty() && !bStdout; }
};

// The reason a file failed, in this tool's words.
std::string Describe(const CRun& run, int nResult, const CContainerFacts& facts, int nErrno)
{
    CResultContext context;
    context.facts = facts;
    context.nErrno = nErrno;
    context.bEncrypt = run.Encrypting();
    context.bMethodGiven = run.options.bMethodGiven;
    context.bMissing = !run.bStdin && AfxGetFileKind(run.input.strPath.c_str()) == FileKind::kMissing;
    return DescribeResult(nResult, context).GetString();
}

int Report(const std::string& strFile, const std::string& strWhy, int nResult)
{
    // The reason may hold a path too.
    PrintText(stderr, "kestrin: %s\n", ShownName(strFile + ": " + strWhy).c_str());
    return nResult;
}

// A file left alone on purpose: not a failure, and said unless -q.
int Notice(const CRun& run, const std::string& strWhat)
{
    if (!run.options.bQuiet)
        PrintText(stderr, "kestrin: %s\n", ShownName(run.input.strPath + ": " + strWhat).c_str());
    return WR_OK;
}

// Sources and containers are regular files (a link to one will do): a FIFO
// or device would wait for a peer or never end.
int CheckSource(const CRun& run)
{
    if (IsDeviceName(GetFileNamePart(run.input.strPath.c_str())))
        return Report(run.input.strPath, kDeviceName, WR_READ_ERROR);
    switch (AfxGetFileKind(run.input.strPath.c_str())) {
    case FileKind::kFile:
        return WR_OK;
    case FileKind::kMissing:
        return Report(run.input.strPath, CannotRead(ENOENT).GetString(), WR_READ_ERROR);
    case FileKind::kDirectory:
        return Report(run.input.strPath, "is a folder (-r works on the files below it)", WR_READ_ERROR);
    default:
        return Report(run.input.strPath, "not a regular file", WR_READ_ERROR);
    }
}

// Finds the method from the container's leading bytes: read ahead from
// standard input (and then replayed into the stream the run reads), or read
// from the file.
int FindMethod(CRun& run)
{
    std::vector<uint8_t> ahead;
    CSniff sniff;
    if (run.bStdin) {
        ahead = ReadAhead(kSniffBytes);
        sniff = SniffContainer(ahead.data(), ahead.size());
    } else {
        sniff = SniffContainer(run.input.strPath.c_str(), &ahead);
        if (sniff.nErrno)
            return Report(run.input.strPath, CannotRead(sniff.nErrno).GetString(), WR_READ_ERROR);
    }
    // An authenticated container names itself; the legacy methods are tried.
    int nResult = sniff.nResult;
    CContainerFacts facts;
    const CString& strPassword = run.password.Get();
    run.nEncType = sniff.nVersion == 2   ? int(kEncTypeAuthenticated)
                   : sniff.nVersion == 1 ? FindLegacyMethod(ahead.data(), ahead.size(), strPassword, nResult, facts)
                                         : -1;
    if (run.nEncType < 0)
        return Report(run.input.strPath, Describe(run, nResult, facts, 0), nResult);
    if (run.bStdin && !(run.pIn = OpenReplayedStdin(ahead)))
        return Report(run.input.strPath, "cannot read: out of memory", WR_NO_MEMORY);
    return WR_OK;
}

// The path whose folder receives the output (or, for -o FILE, the output
// itself); the pipelines name the file.
CString WantedPath(const CRun& run)
{
    if (run.NamedOutput())
        return run.options.strOutput.c_str();
    // Standard input has no path: encrypting names it by --name, decrypting by "-".
    const CString strSource = !run.bStdin     ? CString(run.input.strPath.c_str())
                              : run.Encrypting() ? GetFileNamePart(run.options.strName.c_str())
                                                 : CString("-");
    const CString strBeside = run.Encrypting() ? MakeEncryptedName(strSource) : strSource;
    if (run.input.strOutputDir.empty())
        return strBeside;
    return CString(run.input.strOutputDir.c_str()) + kPathSeparator + GetFileNamePart(strBeside);
}

// The tool's encrypt leaves a container alone, and a file whose container
// stands where its own would go: a second run over a tree changes nothing.
// -f encrypts them (the output then gets the next free name, as ever).
bool SkipsEncrypting(const CRun& run)
{
    if (!run.Encrypting() || run.options.bForce || run.bStdin)
        return false;
    if (SniffContainer(run.input.strPath.c_str()).nVersion != 0) {
        Notice(run, "skipped: already a Kestrin container (-f encrypts it anyway)");
        return true;
    }
    if (run.NamedOutput() || run.bStdout)
        return false;
    const CString strWanted = WantedPath(run);
    if (SniffContainer(strWanted).nVersion == 0)
        return false;
    Notice(run, std::string("skipped: ") + strWanted.GetString() + " is a Kestrin container already (-f makes "
                "another beside it)");
    return true;
}

// An output the user named is that file or nothing: one that exists is
// refused, or with -f replaced in one step, never when it is the input
// itself or anything but a regular file.
int CheckNamedOutput(CRun& run)
{
    if (!run.NamedOutput())
        return WR_OK;
    const std::string& strOutput = run.options.strOutput;
    run.nameRule = NameRule::kExactly;
    if (IsDeviceName(GetFileNamePart(strOutput.c_str())))
        return Report(strOutput, kDeviceName, WR_READ_ERROR);
    switch (AfxGetFileKind(strOutput.c_str())) {
    case FileKind::kMissing:
        return WR_OK;
    case FileKind::kDirectory:
        return Report(strOutput, "is a folder (-O " + strOutput + " puts the outputs in it)", WR_READ_ERROR);
    case FileKind::kFile:
        break;
    default:
        return Report(strOutput, "exists and is not a regular file", WR_READ_ERROR);
    }
    std::error_code ec;
    if (!run.bStdin && std::filesystem::equivalent(std::filesystem::u8path(strOutput),
                                                   std::filesystem::u8path(run.input.strPath), ec))
        return Report(strOutput, "is the input itself", WR_READ_ERROR);
    if (!run.options.bForce)
        return Report(strOutput, "already exists (-f replaces it)", WR_READ_ERROR);
    // Windows refuses to replace it at the very end, after the whole work;
    // Wine replaces it. Refused here, the same everywhere and before any work.
    if (IsReadOnlyFile(strOutput.c_str()))
        return Report(strOutput, "is read-only: clear its read-only attribute to replace it", WR_READ_ERROR);
    run.nameRule = NameRule::kReplacing;
    return WR_OK;
}

void FillJob(const CRun& run, CJob& job)
{
    const Options& o = run.options;
    job.options.bVerify = !run.Writing();
    job.item.m_strSource = run.bStdin && run.Encrypting() ? o.strName.c_str() : run.input.strPath.c_str();
    job.item.m_strDest = WantedPath(run);
    job.item.m_strPassword = run.password.Get();
    job.item.m_bEncrypt = run.Encrypting();
    job.item.m_nEncType = run.nEncType;
    job.options.pIn = run.pIn ? run.pIn : (run.bStdin ? stdin : nullptr);
    job.options.pOut = run.bStdout ? stdout : nullptr;
    job.options.nameRule = run.nameRule;
}

// Polls the worker as the batch driver does, passing on a signal as a cancel request.
int Wait(const CRun& run, CJob& job)
{
    const bool bShow = !run.options.bQuiet && IsTerminal(stderr);
    const uint64_t nTotal = run.bStdin ? CProgressLine::kUnknownSize : GetFileSize64(run.input.strPath.c_str());
    CProgressLine progress(bShow, ShownName(run.input.strPath), run.nIndex, run.nCount, nTotal);
    // The worker wakes us when it is done; the timeout only paces the
    // progress line and the look at the signal flag.
    while (!job.WaitDone(50)) {
        if (g_nSignal)
            LockedSet(job.item.m_bCancel, 1);
        progress.Update(LockedGet(job.item.m_nPercent));
    }
    job.Join();
    progress.Update(LockedGet(job.item.m_nPercent));
    if (g_nSignal)
        progress.End();
    else
        progress.Clear();
    return LockedGet(job.item.m_nResult);
}

// A legacy container of an empty file has no block, and any of the three
// methods with an 8-byte key restores it: the name check alone cannot tell.
bool MethodUntold(const CRun& run, const CContainerFacts& facts)
{
    return !run.Encrypting() && !run.options.bMethodGiven && facts.nVersion == 1 && facts.bHeaderPassed &&
           facts.nBlocks == 0 && run.nEncType != 0 && run.nEncType < kMethodCount;
}

// The method as the tool names it: the shown name without brackets inside brackets.
std::string MethodWords(const CRun& run, const CContainerFacts& facts)
{
    if (MethodUntold(run, facts))
        return "DES, DES-CBC or Blowfish: the method cannot be told from an empty file";
    if (run.nEncType == kEncTypeAuthenticated)
        return "AES-256-GCM, authenticated";
    return GetMethodInfo(run.nEncType)->pszName;
}

void PrintInfo(const CRun& run, const CContainerFacts& facts)
{
    char szRatio[48] = "none (an empty file)";
    if (facts.nPlainBytes)
        std::snprintf(szRatio, sizeof szRatio, "%.1f%% of the plain size",
                      100.0 * double(facts.nConsumed) / double(facts.nPlainBytes));
    const bool bVersion2 = facts.nVersion == 2;
    PrintText(stdout, "%s\n  name:       %s\n  method:     %s\n  %-12s%llu\n  plain size: %llu bytes\n"
                "  container:  %llu bytes\n  ratio:      %s\n",
                ShownName(run.input.strPath).c_str(), ShownName(facts.strName.GetString()).c_str(),
                MethodWords(run, facts).c_str(),
                bVersion2 ? "records:" : "blocks:", static_cast<unsigned long long>(facts.nBlocks),
                static_cast<unsigned long long>(facts.nPlainBytes), static_cast<unsigned long long>(facts.nConsumed),
                szRatio);
    if (bVersion2)
        PrintText(stdout, "  format:     version 2 (VXJ2), authenticated; key from PBKDF2-HMAC-SHA256, %u "
                          "iterations\n", unsigned(facts.nIterations));
    else
        PrintText(stdout, "  format:     version 1 (VXJ1), not authenticated\n");
}

// The name a beside-the-source or -O output would have had before numbering.
CString FirstChoice(const CRun& run, const CContainerFacts& facts)
{
    const CString strWanted = WantedPath(run);
    const CString strName = run.Encrypting() ? GetFileNamePart(strWanted)
                                             : MakeSafeFileName(facts.strName, run.input.strPath.c_str());
    return JoinPath(GetOutputDirectory(strWanted), strName);
}

std::string Bytes(bool bKnown, uint64_t n)
{
    return bKnown ? std::to_string(n) : std::string("?");
}

// -v: what went in and came out, and how long it took.
std::string Details(const CRun& run, const CJob& job, const CString& strOutput, double dSeconds)
{
    const CContainerFacts& facts = job.report.facts;
    const bool bReading = !run.Encrypting();
    const uint64_t nIn = run.bStdin ? facts.nConsumed : GetFileSize64(run.input.strPath.c_str());
    const bool bInKnown = !run.bStdin || bReading;
    std::string str;
    if (!run.Writing()) {
        str = Bytes(true, nIn) + " bytes, " + std::to_string(facts.nPlainBytes) + " plain";
    } else {
        const bool bOutKnown = !run.bStdout || (bReading && facts.nVersion == 1);
        const uint64_t nOut = run.bStdout ? facts.nPlainBytes : GetFileSize64(strOutput);
        str = Bytes(bInKnown, nIn) + " -> " + Bytes(bOutKnown, nOut) + " bytes";
    }
    char szTime[32];
    std::snprintf(szTime, sizeof szTime, "; %.2f s", dSeconds);
    return str + szTime;
}

void PrintSuccess(const CRun& run, const CJob& job, double dSeconds)
{
    const Options& o = run.options;
    const CContainerFacts& facts = job.report.facts;
    if (o.command == Command::kInfo) {
        PrintInfo(run, facts);
        std::fflush(stdout);
        return;
    }
    if (o.bQuiet)
        return;
    const CString strOutput = LockedGet(job.item.m_strDest);
    std::vector<std::string> notes;
    if (o.bVerbose || (!o.bMethodGiven && !run.Encrypting()))
        notes.push_back(MethodWords(run, facts));
    if (run.Writing() && !run.bStdout && !run.NamedOutput() && strOutput != FirstChoice(run, facts))
        notes.push_back(std::string(GetFileNamePart(FirstChoice(run, facts)).GetString()) + " was taken");
    if (o.bVerbose)
        notes.push_back(Details(run, job, strOutput, dSeconds));
    std::string strNotes;
    for (const std::string& s : notes)
        strNotes += (strNotes.empty() ? " (" : "; ") + s;
    if (!strNotes.empty())
        strNotes += ")";
    if (o.command == Command::kVerify)
        PrintText(stdout, "%s: OK%s\n", ShownName(run.input.strPath).c_str(), strNotes.c_str());
    else  // the data may be on standard output: the line goes beside the messages
        PrintText(run.bStdout ? stderr : stdout, "%s -> %s%s\n", ShownName(run.input.strPath).c_str(),
                  run.bStdout ? "-" : ShownName(strOutput.GetString()).c_str(), ShownName(strNotes).c_str());
    std::fflush(stdout);
}

// What a failed file left on disk, when it left anything.
void ReportKept(const CRun& run, const std::string& strOutput, int nKept)
{
    if (nKept == KEPT_PARTIAL)
        PrintText(stderr, "kestrin: %s was only partly restored, up to the damage: %s\n",
                     ShownName(run.input.strPath).c_str(), ShownName(strOutput).c_str());
    else if (nKept == KEPT_TEMPORARY)
        PrintText(stderr, "kestrin: a temporary file (%s*%s) could not be removed from %s\n",
                     kTemporaryPrefix, kPartialSuffix, ShownName(GetOutputDirectory(strOutput.c_str()).str()).c_str());
}

// Says what a signal left of the file in work, and only what is true. A
// reader that went away (SIGPIPE) needs no words: the pipeline knows.
void ReportSignal(const CRun& run, const CJob& job, int nResult, double dSeconds)
{
    const std::string strFile = ShownName(run.input.strPath);
    const char* pszFile = strFile.c_str();
    const int nKept = LockedGet(job.item.m_nKept);
#ifdef SIGPIPE
    if (g_nSignal == SIGPIPE && nKept != KEPT_TEMPORARY)
        return;
#endif
    if (nKept == KEPT_WHOLE && nResult == WR_OK) {
        PrintSuccess(run, job, dSeconds);  // finished before it saw the cancel
        PrintText(stderr, "kestrin: interrupted after %s\n", pszFile);
    } else if (nKept == KEPT_TEMPORARY) {
        PrintText(stderr, "kestrin: interrupted while processing %s; a temporary file (%s*%s) could "
                     "not be removed from %s\n", pszFile, kTemporaryPrefix, kPartialSuffix,
                     ShownName(GetOutputDirectory(LockedGet(job.item.m_strDest)).str()).c_str());
    } else if (run.bStdout) {
        PrintText(stderr, "kestrin: interrupted while processing %s; its output is incomplete\n", pszFile);
    } else if (run.Writing()) {
        PrintText(stderr, "kestrin: interrupted while processing %s; its partial output was removed\n", pszFile);
    } else {
        PrintText(stderr, "kestrin: interrupted while processing %s\n", pszFile);
    }
}

bool MakeOutputFolder(const CRun& run)
{
    if (run.input.strOutputDir.empty() || run.bStdout)
        return true;
    if (IsDeviceName(GetFileNamePart(run.options.strOutputDir.c_str()))) {
        Report(run.options.strOutputDir, kDeviceName, WR_WRITE_ERROR);
        return false;
    }
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::u8path(run.input.strOutputDir);
    if (!std::filesystem::create_directories(folder, ec) && !ec && !std::filesystem::is_directory(folder, ec))
        ec = std::make_error_code(std::errc::not_a_directory);
    if (ec)
        Report(run.input.strOutputDir, "cannot make the folder: " + ec.message(), WR_WRITE_ERROR);
    return !ec;
}

int Prepare(CRun& run)
{
    if (run.input.bNothingFound)
        return Report(run.input.strPath, run.Encrypting() ? "no files found below it" : "no containers found below it",
                      WR_READ_ERROR);
    if (!run.input.strUnreadable.empty())
        return Report(run.input.strPath, run.input.strUnreadable, WR_READ_ERROR);
    int nResult = run.bStdin ? WR_OK : CheckSource(run);
    if (nResult == WR_OK && run.bStdout && (run.bStdin ? StdoutIsStdin() : StdoutIsFile(run.input.strPath.c_str())))
        return Report(run.input.strPath, "is standard output too: its output would be written into it", WR_READ_ERROR);
    if (nResult != WR_OK || SkipsEncrypting(run))
        return nResult;
    if ((nResult = CheckNamedOutput(run)) != WR_OK || !run.password.Ready())
        return nResult;
    run.nEncType = run.options.nEncType;
    if (run.nEncType == kMethodAuto && (nResult = FindMethod(run)) != WR_OK)
        return nResult;
    return MakeOutputFolder(run) ? WR_OK : WR_WRITE_ERROR;
}

// A file's result: WR_OK also for a file left alone on purpose.
int RunOne(CRun& run)
{
    run.nEncType = -1;
    int nResult = Prepare(run);
    if (nResult != WR_OK || run.nEncType < 0) {
        if (run.pIn)
            std::fclose(run.pIn);
        return nResult;
    }
    CJob job;
    FillJob(run, job);
    const auto start = std::chrono::steady_clock::now();
    nResult = job.Start() ? Wait(run, job) : WR_NO_MEMORY;
    const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (run.pIn)
        std::fclose(run.pIn);
    if (g_nSignal) {
        ReportSignal(run, job, nResult, dSeconds);
        return nResult;
    }
    if (nResult == WR_OK) {
        PrintSuccess(run, job, dSeconds);
        return nResult;
    }
    const std::string strOutput = LockedGet(job.item.m_strDest).GetString();
    const std::string strShown = nResult == WR_WRITE_ERROR && !run.bStdout ? strOutput : run.input.strPath;
    // An authenticated container's reader says exactly what went wrong.
    const CV2Fault fault = LockedGet(job.item.m_v2Fault);
    const std::string strWhy =
        fault.nKind != V2_FAULT_NONE
            ? std::string(DescribeFaultV2(fault).GetString()) +
                  DescribeFaultOutputV2(fault, run.options.command == Command::kDecrypt, run.bStdout).GetString()
            : Describe(run, nResult, job.report.facts, job.report.nErrno);
    Report(strShown, strWhy, nResult);
    ReportKept(run, strOutput, LockedGet(job.item.m_nKept));
    return nResult;
}

int RunAll(const Options& options)
{
    const std::vector<CInput> inputs = ExpandInputs(options);
    CPasswordOnce password(options);
    int nExit = 0;
    size_t nFailed = 0;
    for (size_t i = 0; i < inputs.size(); ++i) {
        if (g_nSignal)
            return kExitSignalBase + g_nSignal;
        CRun run{options, password, inputs[i], int(i + 1), int(inputs.size()), inputs[i].strPath == "-",
                 options.ToStdout()};
        const int nResult = RunOne(run);
        if (g_nSignal)
            return kExitSignalBase + g_nSignal;
        if (password.Failure())
            return password.Failure();
        if (nResult != WR_OK) {
            nFailed += 1;
            if (nExit == 0)
                nExit = nResult;
        }
    }
    // The first failure sets the status; how many there were is said once.
    if (nFailed && inputs.size() > 1)
        PrintText(stderr, "kestrin: %llu of %llu files failed\n", static_cast<unsigned long long>(nFailed),
                  static_cast<unsigned long long>(inputs.size()));
    return nExit;
}

// One line before any password is asked: the older methods are for the
// containers that exist, not for anything new.
void WarnOfWeakMethod(const Options& options)
{
    if (options.command != Command::kEncrypt || options.nEncType == kEncTypeAuthenticated || options.bQuiet)
        return;
    PrintText(stderr, "kestrin: warning: %s is an older method, kept for existing containers (not "
                      "authenticated, its key not salted); choose -m aes (AES-256-GCM, authenticated) for "
                      "anything new\n", GetMethodInfo(options.nEncType)->pszName);
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args = GetArguments(argc, argv);
    std::vector<char*> argvUtf8;
    for (std::string& s : args)
        argvUtf8.push_back(&s[0]);
    argvUtf8.push_back(nullptr);
    Options options;
    std::string strError;
    if (!ParseOptions(int(args.size()), argvUtf8.data(), options, strError))
        return Usage(strError, true);
    for (std::string* p : {&options.strOutput, &options.strOutputDir})
        *p = FromDriveRelative(*p);
    for (std::string& s : options.files)
        s = FromDriveRelative(s);
    options.files = ExpandWildcards(options.files);
    if (options.nCodePage)
        SetLegacyCodePage(options.nCodePage);
    if (options.command == Command::kHelp || options.bHelp) {
        std::fputs(HelpText(options.bHelp ? options.command : options.helpTopic).c_str(), stdout);
        return 0;
    }
    if (options.command == Command::kVersion || options.bVersion) {
        std::printf("kestrin %s\n", KESTRIN_VERSION);
        return 0;
    }
    if (options.ToStdout() && options.command == Command::kEncrypt && IsTerminal(stdout))
        return Usage("a container is not for the terminal: redirect standard output", false);
    WarnOfWeakMethod(options);

    UseBinaryStdio();
    CatchSignals();
    SetPipelineThreads(options.nThreads);
    MasterKeys().Clear();  // one derivation per password and salt in this run
    return RunAll(options);
}
