// kestrin: makes and reads containers from the command line, over the same
// core as the shell extension, one worker thread per file.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include "batch/Messages.h"
#include "batch/Worker.h"
#include "cli/Options.h"
#include "cli/Password.h"
#include "cli/Progress.h"
#include "container/BlockPool.h"
#include "container/PathUtils.h"

#ifndef KESTRIN_VERSION
#define KESTRIN_VERSION "0"
#endif

namespace {

const int kExitUsage = 64;
const int kExitInterrupted = 130;

volatile std::sig_atomic_t g_bInterrupted = 0;

extern "C" void OnInterrupt(int) { g_bInterrupted = 1; }

// Runs one file on a worker, as the batch driver does: poll the item, pass
// on an interrupt as a cancel request, show the percentage.
int ProcessFile(const Options& options, const CString& strPassword, const CString& strFile, CString& strOutput)
{
    const bool bEncrypt = options.command == Command::kEncrypt;
    CWorkItem item;
    item.m_strSource = strFile;
    item.m_strDest = bEncrypt ? MakeEncryptedName(strFile) : strFile;
    item.m_strPassword = strPassword;
    item.m_bEncrypt = bEncrypt;
    item.m_nEncType = options.nEncType;

    CProgressLine progress(!options.bQuiet && CProgressLine::StderrIsTerminal(), GetFileSize64(strFile));
    if (!StartWorker(&item, options.command == Command::kVerify ? VerifyThreadProc : WorkerThreadProc))
        return WR_NO_MEMORY;
    while (!LockedGet(item.m_bDone)) {
        if (g_bInterrupted)
            LockedSet(item.m_bCancel, 1);
        progress.Update(LockedGet(item.m_nPercent));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    progress.Update(LockedGet(item.m_nPercent));
    progress.Clear();
    strOutput = LockedCopy(item.m_strDest);
    return LockedGet(item.m_nResult);
}

int RunFiles(const Options& options, const CString& strPassword)
{
    int nExit = 0;
    for (const std::string& strName : options.files) {
        const CString strFile(strName);
        CString strOutput;
        const int nResult = ProcessFile(options, strPassword, strFile, strOutput);
        if (g_bInterrupted) {
            std::fprintf(stderr, "kestrin: interrupted while processing %s; its partial output was removed\n",
                         strFile.GetString());
            return kExitInterrupted;
        }
        if (nResult == WR_OK) {
            if (options.command == Command::kVerify)
                std::printf("%s: OK\n", strFile.GetString());
            else
                std::printf("%s -> %s\n", strFile.GetString(), strOutput.GetString());
            std::fflush(stdout);
            continue;
        }
        const CString& strShown = nResult == WR_WRITE_ERROR ? strOutput : strFile;
        std::fprintf(stderr, "%s\n", FormatResultMessage(nResult, strShown, false).GetString());
        if (nExit == 0)
            nExit = nResult;
    }
    return nExit;
}

int Usage(const std::string& strError, bool bSynopsis)
{
    std::fprintf(stderr, "kestrin: %s\n%s", strError.c_str(), bSynopsis ? kSynopsis : "");
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    std::string strError;
    if (!ParseOptions(argc, argv, options, strError))
        return Usage(strError, true);
    if (options.command == Command::kHelp) {
        std::printf("%s\n%s", kSynopsis, kDetails);
        return 0;
    }
    if (options.command == Command::kVersion) {
        std::printf("kestrin %s\n", KESTRIN_VERSION);
        return 0;
    }

    CString strPassword;
    if (!GetPassword(options, options.command == Command::kEncrypt, strPassword, strError))
        return Usage(strError, false);
    SetPipelineThreads(options.nThreads);
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    const int nExit = RunFiles(options, strPassword);
    strPassword.SecureEmpty();
    return nExit;
}
