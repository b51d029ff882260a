#include "cli/Options.h"

#include <cstdlib>
#include <cstring>

#include "cipher/Methods.h"
#include "framework/afxconv.h"

const char kSynopsis[] =
    "usage: kestrin encrypt [-m METHOD] [--password-file FILE | --password-stdin] [-q] [--threads N] FILE...\n"
    "       kestrin decrypt [-m METHOD] [--password-file FILE | --password-stdin] [-q] [--threads N] FILE...\n"
    "       kestrin verify  [-m METHOD] [--password-file FILE | --password-stdin] [--threads N] FILE...\n"
    "       kestrin --help | --version\n"
    "options for all: [--codepage N]\n";

const char kDetails[] =
    "METHOD: aes (the default for encrypt: AES-256-GCM, authenticated), sapphire\n"
    "(the default for decrypt), des, des-cbc, blowfish, or 0..4. A container made\n"
    "with aes is recognised when decrypting whatever METHOD says.\n"
    "The password is the first line of FILE or of standard input; otherwise it is\n"
    "asked on the terminal (twice when encrypting, at least 4 characters).\n"
    "encrypt writes report._xt beside report.txt; decrypt restores the stored name\n"
    "in the container's folder; verify checks a container without writing.\n"
    "Nothing is ever overwritten: a taken name gets the next free number.\n"
    "--threads N: threads that compress or expand the blocks (1..64); 1 works on\n"
    "one thread, the default is one per hardware thread. The output is the same.\n"
    "--codepage N: the Windows code page of names and passwords that are not\n"
    "UTF-8 (default: the system's ANSI code page on Windows, else 1252).\n"
    "Exit status: 0 when every file succeeded, else the result code (1..8) of the\n"
    "first file that failed; 64 for a usage error.\n";

namespace {

bool ParseCommand(const char* psz, Command& command)
{
    static const struct {
        const char* pszName;
        Command command;
    } kCommands[] = {
        {"encrypt", Command::kEncrypt}, {"decrypt", Command::kDecrypt}, {"verify", Command::kVerify},
        {"--help", Command::kHelp},     {"-h", Command::kHelp},         {"--version", Command::kVersion},
    };
    for (const auto& c : kCommands) {
        if (std::strcmp(psz, c.pszName) == 0) {
            command = c.command;
            return true;
        }
    }
    return false;
}

bool ParseThreads(const char* psz, int& nThreads)
{
    char* pEnd = nullptr;
    const long n = std::strtol(psz, &pEnd, 10);
    if (!*psz || *pEnd || n < 1 || n > 64)
        return false;
    nThreads = int(n);
    return true;
}

bool Fail(std::string& strError, const std::string& strWhy)
{
    strError = strWhy;
    return false;
}

}  // namespace

bool ParseOptions(int argc, char** argv, Options& options, std::string& strError)
{
    if (argc < 2)
        return Fail(strError, "no command given");
    if (!ParseCommand(argv[1], options.command))
        return Fail(strError, std::string("unknown command: ") + argv[1]);
    if (options.command == Command::kHelp || options.command == Command::kVersion)
        return argc == 2 || Fail(strError, "nothing may follow " + std::string(argv[1]));

    bool bOptionsEnd = false;
    for (int i = 2; i < argc; ++i) {
        const std::string strArg = argv[i];
        const bool bHasValue = i + 1 < argc;
        if (bOptionsEnd || strArg.empty() || strArg[0] != '-' || strArg == "-") {
            options.files.push_back(strArg);
        } else if (strArg == "--") {
            bOptionsEnd = true;
        } else if (strArg == "-m" || strArg == "--method") {
            if (!bHasValue)
                return Fail(strError, strArg + " needs a method");
            options.nEncType = ParseMethodName(argv[++i]);
            if (options.nEncType < 0)
                return Fail(strError, std::string("unknown method: ") + argv[i]);
        } else if (strArg == "--password-file") {
            if (!bHasValue)
                return Fail(strError, "--password-file needs a file");
            options.strPasswordFile = argv[++i];
        } else if (strArg == "--password-stdin") {
            options.bPasswordStdin = true;
        } else if (strArg == "--threads") {
            if (!bHasValue)
                return Fail(strError, "--threads needs a number");
            if (!ParseThreads(argv[++i], options.nThreads))
                return Fail(strError, std::string("--threads takes 1 to 64, not ") + argv[i]);
        } else if (strArg == "--codepage") {
            if (!bHasValue)
                return Fail(strError, "--codepage needs a code page number");
            const std::string strValue = argv[++i];
            char* pEnd = nullptr;
            const unsigned long n = std::strtoul(strValue.c_str(), &pEnd, 10);
            if (strValue.empty() || *pEnd || n == 0 || n > 65535 || !IsKnownCodePage(unsigned(n)))
                return Fail(strError, "unknown code page: " + strValue);
            options.nCodePage = unsigned(n);
        } else if (strArg == "-q" || strArg == "--quiet") {
            options.bQuiet = true;
        } else {
            return Fail(strError, "unknown option: " + strArg);
        }
    }
    if (!options.strPasswordFile.empty() && options.bPasswordStdin)
        return Fail(strError, "--password-file and --password-stdin exclude each other");
    if (options.files.empty())
        return Fail(strError, "no files given");
    return true;
}
