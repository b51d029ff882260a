// kestrin: makes and reads containers from the command line, over the same
// core as the shell extension, one worker thread per file.
#include <csignal>
#include <cstdio>

#include "batch/Messages.h"
#include "batch/Worker.h"
#include "cipher/Methods.h"
#include "cli/Console.h"
#include "cli/Options.h"
#include "cli/Password.h"
#include "cli/Progress.h"
#include "container/FileStreams.h"
#include "container/BlockPool.h"
#include "container/FormatV2.h"
#include "container/PathUtils.h"
#include "framework/afxconv.h"

#ifndef KESTRIN_VERSION
#define KESTRIN_VERSION "0"
#endif

namespace {

const int kExitUsage = 64;
const int kExitSignalBase = 128;  // plus the signal's number, as shells report it

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

// Runs one file on a worker, as the batch driver does: wait for the item,
// pass on a signal as a cancel request, show the percentage.
int ProcessFile(const Options& options, const CString& strPassword, const CString& strFile, CString& strOutput,
                int& nKept, int64_t& nDamagedRecord)
{
    const bool bEncrypt = options.command == Command::kEncrypt;
    CWorkItem item;
    item.m_strSource = strFile;
    item.m_strDest = bEncrypt ? MakeEncryptedName(strFile) : strFile;
    item.m_strPassword = strPassword;
    item.m_bEncrypt = bEncrypt;
    // Unless told otherwise, encrypt writes the authenticated container;
    // decrypting recognises one by its magic whatever the method.
    item.m_nEncType = options.nEncType >= 0 ? options.nEncType : bEncrypt ? kEncTypeAuthenticated : 0;

    CProgressLine progress(!options.bQuiet && CProgressLine::StderrIsTerminal(), GetFileSize64(strFile));
    if (!StartWorker(&item, options.command == Command::kVerify ? VerifyThreadProc : WorkerThreadProc))
        return WR_NO_MEMORY;
    // The worker wakes us when it is done; the timeout only paces the
    // progress line and the look at the signal flag.
    while (!WaitForWorkerDone(item, 50)) {
        if (g_nSignal)
            LockedSet(item.m_bCancel, 1);
        progress.Update(LockedGet(item.m_nPercent));
    }
    progress.Update(LockedGet(item.m_nPercent));
    progress.Clear();
    strOutput = LockedCopy(item.m_strDest);
    nKept = LockedGet(item.m_nKept);
    nDamagedRecord = LockedGet(item.m_nDamagedRecord);
    return LockedGet(item.m_nResult);
}

void ReportSuccess(const Options& options, const CString& strFile, const CString& strOutput)
{
    if (options.command == Command::kVerify)
        PrintText(stdout, "%s: OK\n", strFile.GetString());
    else
        PrintText(stdout, "%s -> %s\n", strFile.GetString(), strOutput.GetString());
    std::fflush(stdout);
}

// Says what a signal left of the file in work, and only what is true.
void ReportSignal(const Options& options, const CString& strFile, const CString& strOutput, int nResult, int nKept)
{
    if (nKept == KEPT_WHOLE && nResult == WR_OK) {
        ReportSuccess(options, strFile, strOutput);  // finished before it saw the cancel
        PrintText(stderr, "kestrin: interrupted after %s\n", strFile.GetString());
    } else if (nKept == KEPT_TEMPORARY) {
        PrintText(stderr, "kestrin: interrupted while processing %s; a temporary file (.kestrin-*%s) could "
                  "not be removed from %s\n", strFile.GetString(), kPartialSuffix,
                  GetOutputDirectory(strOutput).GetString());
    } else if (options.command == Command::kVerify) {
        PrintText(stderr, "kestrin: interrupted while processing %s\n", strFile.GetString());
    } else {
        PrintText(stderr, "kestrin: interrupted while processing %s; its partial output was removed\n",
                  strFile.GetString());
    }
}

// True for an authenticated container, whose failures can be named exactly.
bool IsVersion2(const CString& strFile)
{
    CInputFile in;
    uint8_t abMagic[4];
    return in.Open(strFile) && std::fread(abMagic, 1, 4, in.Get()) == 4 && HasMagicV2(abMagic, 4);
}

void ReportFailure(const Options& options, int nResult, const CString& strFile, const CString& strOutput,
                   int nKept, int64_t nDamagedRecord)
{
    const CString& strShown = nResult == WR_WRITE_ERROR ? strOutput : strFile;
    PrintText(stderr, "%s\n", FormatResultMessage(nResult, strShown, false).GetString());
    if (nDamagedRecord >= 0)
        PrintText(stderr, "kestrin: %s: damaged at record %lld\n", strFile.GetString(), (long long)nDamagedRecord);
    else if (nResult == WR_DECRYPT_ERROR && options.command != Command::kEncrypt && IsVersion2(strFile))
        PrintText(stderr, "kestrin: %s: wrong password\n", strFile.GetString());
    if (nKept == KEPT_PARTIAL)
        PrintText(stderr, "kestrin: %s was only partly restored, up to the damage: %s\n", strFile.GetString(),
                  strOutput.GetString());
    else if (nKept == KEPT_TEMPORARY)
        PrintText(stderr, "kestrin: a temporary file (.kestrin-*%s) could not be removed from %s\n",
                  kPartialSuffix, GetOutputDirectory(strOutput).GetString());
}

int RunFiles(const Options& options, const CString& strPassword)
{
    int nExit = 0;
    for (const std::string& strName : options.files) {
        if (g_nSignal)
            return kExitSignalBase + g_nSignal;
        const CString strFile(strName);
        CString strOutput;
        int nKept = KEPT_NOTHING;
        int64_t nDamagedRecord = -1;
        const int nResult = ProcessFile(options, strPassword, strFile, strOutput, nKept, nDamagedRecord);
        if (g_nSignal) {
            ReportSignal(options, strFile, strOutput, nResult, nKept);
            return kExitSignalBase + g_nSignal;
        }
        if (nResult == WR_OK) {
            ReportSuccess(options, strFile, strOutput);
            continue;
        }
        ReportFailure(options, nResult, strFile, strOutput, nKept, nDamagedRecord);
        if (nExit == 0)
            nExit = nResult;
    }
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
    if (options.command == Command::kHelp) {
        PrintText(stdout, "%s\n%s", kSynopsis, kDetails);
        return 0;
    }
    if (options.command == Command::kVersion) {
        std::printf("kestrin %s\n", KESTRIN_VERSION);
        return 0;
    }

    CatchSignals();
    CString strPassword;
    const bool bGot = GetPassword(options, options.command == Command::kEncrypt, strPassword, strError);
    if (g_nSignal) {
        strPassword.SecureEmpty();
        return kExitSignalBase + g_nSignal;
    }
    if (!bGot)
        return Usage(strError, false);
    SetPipelineThreads(options.nThreads);
    const int nExit = RunFiles(options, strPassword);
    MasterKeys().Clear();
    strPassword.SecureEmpty();
    return nExit;
}
