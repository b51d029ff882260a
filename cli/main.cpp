// kestrin: makes and reads containers from the command line, over the same
// core as the shell extension, one worker thread per file.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

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

volatile std::sig_atomic_t g_nSignal = 0;

extern "C" void OnSignal(int nSignal) { g_nSignal = nSignal; }

// SIGINT, SIGTERM and SIGHUP cancel the file in work. Without SA_RESTART, so
// that a password prompt's read returns and the terminal's echo comes back.
void CatchSignals()
{
#ifdef _WIN32
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
#else
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int nSignal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(nSignal, &action, nullptr);
#endif
}

// What one input needs beyond the options: its streams and its method.
struct CRun {
    const Options& options;
    const CString& strPassword;
    CInput input;
    int nIndex;
    int nCount;
    bool bStdin;
    bool bStdout;
    int nEncType = 0;
    FILE* pIn = nullptr;  // a replay of standard input, closed by us
};

// The reason a file failed, in this tool's words.
std::string Describe(const CRun& run, int nResult, const CContainerFacts& facts, int nErrno)
{
    CResultContext context;
    context.facts = facts;
    context.nErrno = nErrno;
    context.bEncrypt = run.options.command == Command::kEncrypt;
    context.bMethodGiven = run.options.bMethodGiven;
    context.bMissing = !run.bStdin && AfxGetFileKind(run.input.strPath.c_str()) == FileKind::kMissing;
    return DescribeResult(nResult, context).GetString();
}

int Report(const std::string& strFile, const std::string& strWhy, int nResult)
{
    PrintText(stderr, "kestrin: %s: %s\n", strFile.c_str(), strWhy.c_str());
    return nResult;
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
        // Only a regular file is opened: a FIFO would wait for a writer.
        const FileKind kind = AfxGetFileKind(run.input.strPath.c_str());
        if (kind == FileKind::kMissing)
            return Report(run.input.strPath, std::string("cannot read: ") + std::strerror(ENOENT), WR_READ_ERROR);
        if (kind != FileKind::kFile)
            return Report(run.input.strPath, "cannot read: not a regular file", WR_READ_ERROR);
        sniff = SniffContainer(run.input.strPath.c_str(), &ahead);
        if (sniff.nErrno)
            return Report(run.input.strPath, std::string("cannot read: ") + std::strerror(sniff.nErrno), WR_READ_ERROR);
    }
    // An authenticated container names itself; the legacy methods are tried.
    int nResult = sniff.nResult;
    CContainerFacts facts;
    run.nEncType = sniff.nVersion == 2   ? int(kEncTypeAuthenticated)
                   : sniff.nVersion == 1 ? FindLegacyMethod(ahead.data(), ahead.size(), run.strPassword, nResult, facts)
                                         : -1;
    if (run.nEncType < 0)
        return Report(run.input.strPath, Describe(run, nResult, facts, 0), nResult);
    if (run.bStdin && !(run.pIn = OpenReplayedStdin(ahead)))
        return Report(run.input.strPath, "cannot read: out of memory", WR_NO_MEMORY);
    return WR_OK;
}

// The path whose folder receives the output; the pipelines name the file.
CString WantedPath(const CRun& run)
{
    const bool bEncrypt = run.options.command == Command::kEncrypt;
    // Standard input has no path: encrypting names it by --name, decrypting by "-".
    const CString strSource = !run.bStdin ? CString(run.input.strPath.c_str())
                              : bEncrypt  ? GetFileNamePart(run.options.strName.c_str())
                                          : CString("-");
    const CString strBeside = bEncrypt ? MakeEncryptedName(strSource) : strSource;
    if (run.input.strOutputDir.empty())
        return strBeside;
    return CString(run.input.strOutputDir.c_str()) + kPathSeparator + GetFileNamePart(strBeside);
}

void FillJob(const CRun& run, CJob& job)
{
    const Options& o = run.options;
    job.options.bVerify = o.command != Command::kEncrypt && o.command != Command::kDecrypt;
    job.item.m_strSource = run.bStdin && o.command == Command::kEncrypt ? o.strName.c_str() : run.input.strPath.c_str();
    job.item.m_strDest = WantedPath(run);
    job.item.m_strPassword = run.strPassword;
    job.item.m_bEncrypt = o.command == Command::kEncrypt;
    job.item.m_nEncType = run.nEncType;
    job.options.pIn = run.pIn ? run.pIn : (run.bStdin ? stdin : nullptr);
    job.options.pOut = run.bStdout ? stdout : nullptr;
}

// Polls the worker as the batch driver does, passing on a signal as a cancel request.
int Wait(const CRun& run, CJob& job)
{
    const bool bShow = !run.options.bQuiet && CProgressLine::StderrIsTerminal();
    const uint64_t nTotal = run.bStdin ? CProgressLine::kUnknownSize : GetFileSize64(run.input.strPath.c_str());
    CProgressLine progress(bShow, run.input.strPath, run.nIndex, run.nCount, nTotal);
    // The worker wakes us when it is done; the timeout only paces the
    // progress line and the look at the signal flag.
    while (!job.WaitDone(50)) {
        if (g_nSignal)
            LockedSet(job.item.m_bCancel, 1);
        progress.Update(LockedGet(job.item.m_nPercent));
    }
    job.Join();
    progress.Update(LockedGet(job.item.m_nPercent));
    progress.Clear();
    return LockedGet(job.item.m_nResult);
}

void PrintInfo(const CRun& run, const CContainerFacts& facts)
{
    char szRatio[32] = "-";  // an empty file has no ratio
    if (facts.nPlainBytes)
        std::snprintf(szRatio, sizeof szRatio, "%.1f%%", 100.0 * double(facts.nConsumed) / double(facts.nPlainBytes));
    const bool bVersion2 = facts.nVersion == 2;
    PrintText(stdout, "%s\n  name:       %s\n  method:     %s\n  %-12s%llu\n  plain size: %llu bytes\n"
                "  container:  %llu bytes\n  ratio:      %s of the plain size\n",
                run.input.strPath.c_str(), facts.strName.GetString(), GetMethodInfo(run.nEncType)->pszName,
                bVersion2 ? "records:" : "blocks:", static_cast<unsigned long long>(facts.nBlocks),
                static_cast<unsigned long long>(facts.nPlainBytes), static_cast<unsigned long long>(facts.nConsumed),
                szRatio);
    if (bVersion2)
        PrintText(stdout, "  format:     version 2 (VXJ2), authenticated; key from PBKDF2-HMAC-SHA256, %u "
                          "iterations\n", unsigned(facts.nIterations));
    else
        PrintText(stdout, "  format:     version 1 (VXJ1), not authenticated\n");
}

void PrintSuccess(const CRun& run, const CJob& job)
{
    const Options& o = run.options;
    const std::string strMethod =
        o.bMethodGiven || o.command == Command::kEncrypt ? "" : std::string(" (") + GetMethodInfo(run.nEncType)->pszName + ")";
    if (o.command == Command::kInfo)
        PrintInfo(run, job.report.facts);
    else if (o.command == Command::kVerify)
        PrintText(stdout, "%s: OK%s\n", run.input.strPath.c_str(), strMethod.c_str());
    else  // the data may be on standard output: the line goes beside the messages
        PrintText(run.bStdout ? stderr : stdout, "%s -> %s%s\n", run.input.strPath.c_str(),
                     run.bStdout ? "-" : LockedCopy(job.item.m_strDest).GetString(), strMethod.c_str());
    std::fflush(stdout);
}

// What a failed file left on disk, when it left anything.
void ReportKept(const CRun& run, const std::string& strOutput, int nKept)
{
    if (nKept == KEPT_PARTIAL)
        PrintText(stderr, "kestrin: %s was only partly restored, up to the damage: %s\n",
                     run.input.strPath.c_str(), strOutput.c_str());
    else if (nKept == KEPT_TEMPORARY)
        PrintText(stderr, "kestrin: a temporary file (.kestrin-*%s) could not be removed from %s\n",
                     kPartialSuffix, GetOutputDirectory(strOutput.c_str()).GetString());
}

// Says what a signal left of the file in work, and only what is true.
void ReportSignal(const CRun& run, const CJob& job, int nResult)
{
    const char* pszFile = run.input.strPath.c_str();
    const int nKept = LockedGet(job.item.m_nKept);
    if (nKept == KEPT_WHOLE && nResult == WR_OK) {
        PrintSuccess(run, job);  // finished before it saw the cancel
        PrintText(stderr, "kestrin: interrupted after %s\n", pszFile);
    } else if (nKept == KEPT_TEMPORARY) {
        PrintText(stderr, "kestrin: interrupted while processing %s; a temporary file (.kestrin-*%s) could "
                     "not be removed from %s\n", pszFile, kPartialSuffix,
                     GetOutputDirectory(LockedCopy(job.item.m_strDest)).GetString());
    } else if (run.bStdout) {
        PrintText(stderr, "kestrin: interrupted while processing %s; its output is incomplete\n", pszFile);
    } else if (run.options.command == Command::kEncrypt || run.options.command == Command::kDecrypt) {
        PrintText(stderr, "kestrin: interrupted while processing %s; its partial output was removed\n", pszFile);
    } else {
        PrintText(stderr, "kestrin: interrupted while processing %s\n", pszFile);
    }
}

bool MakeOutputFolder(const CRun& run)
{
    if (run.input.strOutputDir.empty() || run.bStdout)
        return true;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::u8path(run.input.strOutputDir), ec);
    if (ec)
        Report(run.input.strOutputDir, "cannot make the folder: " + ec.message(), WR_WRITE_ERROR);
    return !ec;
}

int RunOne(CRun& run)
{
    if (!run.bStdin && IsFolder(run.input.strPath))
        return Report(run.input.strPath, "is a folder (-r works on the files below it)", WR_READ_ERROR);
    run.nEncType = run.options.nEncType;
    if (run.nEncType == kMethodAuto) {
        const int nResult = FindMethod(run);
        if (nResult != WR_OK)
            return nResult;
    }
    if (!MakeOutputFolder(run))
        return WR_WRITE_ERROR;
    CJob job;
    FillJob(run, job);
    int nResult = job.Start() ? Wait(run, job) : WR_NO_MEMORY;
    if (run.pIn)
        std::fclose(run.pIn);
    if (g_nSignal) {
        ReportSignal(run, job, nResult);
        return nResult;
    }
    if (nResult == WR_OK) {
        PrintSuccess(run, job);
        return nResult;
    }
    const std::string strOutput = LockedCopy(job.item.m_strDest).GetString();
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

int RunAll(const Options& options, const CString& strPassword)
{
    const std::vector<CInput> inputs = ExpandInputs(options);
    int nExit = 0;
    for (size_t i = 0; i < inputs.size(); ++i) {
        if (g_nSignal)
            return kExitSignalBase + g_nSignal;
        CRun run{options, strPassword, inputs[i], int(i + 1), int(inputs.size()), inputs[i].strPath == "-",
                 options.strOutputDir == "-"};
        const int nResult = RunOne(run);
        if (g_nSignal)
            return kExitSignalBase + g_nSignal;
        if (nResult != WR_OK && nExit == 0)
            nExit = nResult;
    }
    if (inputs.empty())
        PrintText(stderr, "kestrin: no %s found\n", options.command == Command::kEncrypt ? "files" : "containers");
    return nExit;
}

int Usage(const std::string& strError, bool bSynopsis)
{
    PrintText(stderr, "kestrin: %s\n%s", strError.c_str(), bSynopsis ? kSynopsis : "");
    return kExitUsage;
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
    options.files = ExpandWildcards(options.files);
    if (options.nCodePage)
        SetLegacyCodePage(options.nCodePage);
    if (options.command == Command::kHelp || options.bHelp) {
        std::fputs(HelpText(options.bHelp ? options.command : options.helpTopic).c_str(), stdout);
        return 0;
    }
    if (options.command == Command::kVersion) {
        std::printf("kestrin %s\n", KESTRIN_VERSION);
        return 0;
    }
    if (!options.strOutputDir.empty() && options.strOutputDir != "-" && !IsFolder(options.strOutputDir))
        return Usage("the output folder does not exist: " + options.strOutputDir, false);
    if (options.strOutputDir == "-" && options.command == Command::kEncrypt && StdoutIsTerminal())
        return Usage("a container is not for the terminal: redirect standard output", false);

    UseBinaryStdio();
    CatchSignals();
    CString strPassword;
    const bool bGot = GetPassword(options, options.command == Command::kEncrypt, strPassword, strError);
    if (g_nSignal) {
        strPassword.SecureEmpty();
        return kExitSignalBase + g_nSignal;
    }
    if (!bGot)
        return Usage(strError, false);
    // Decrypting decides for each container; encrypting with the
    // authenticated method would fail every file alike.
    if (options.command == Command::kEncrypt && options.nEncType == kEncTypeAuthenticated &&
        !IsValidUtf8(strPassword, size_t(strPassword.GetLength()))) {
        strPassword.SecureEmpty();
        return Usage("the password is not valid UTF-8: the aes method keys from UTF-8 bytes only (the legacy "
                     "methods read it in the code page)", false);
    }
    SetPipelineThreads(options.nThreads);
    MasterKeys().Clear();  // one derivation per password and salt in this run
    const int nExit = RunAll(options, strPassword);
    strPassword.SecureEmpty();
    return nExit;
}
