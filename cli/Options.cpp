#include "cli/Options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/PathUtils.h"
#include "cipher/Methods.h"
#include "framework/afxconv.h"

namespace {

struct CommandEntry {
    const char* pszName;
    Command command;
};

const CommandEntry kCommands[] = {
    {"encrypt", Command::kEncrypt}, {"decrypt", Command::kDecrypt}, {"verify", Command::kVerify},
    {"info", Command::kInfo},       {"help", Command::kHelp},       {"--help", Command::kHelp},
    {"-h", Command::kHelp},         {"-?", Command::kHelp},         {"--version", Command::kVersion},
    {"-V", Command::kVersion},
#ifdef _WIN32
    {"/?", Command::kHelp},
#endif
};

bool ParseCommand(const char* psz, Command& command)
{
    for (const auto& c : kCommands) {
        if (std::strcmp(psz, c.pszName) == 0) {
            command = c.command;
            return true;
        }
    }
    return false;
}

bool IsWorkCommand(Command command)
{
    return command == Command::kEncrypt || command == Command::kDecrypt || command == Command::kVerify ||
           command == Command::kInfo;
}

// What asks for help wherever it stands: -? everywhere, and /? as Windows
// programs take it.
bool AsksForHelp(const std::string& s)
{
#ifdef _WIN32
    if (s == "/?")
        return true;
#endif
    return s == "-?";
}

bool Fail(std::string& strError, const std::string& strWhy)
{
    strError = strWhy;
    return false;
}

using Apply = bool (*)(Options&, const char* pszValue, std::string& strError);

// The commands an option belongs to, one bit each.
enum : unsigned {
    kE = 1u << int(Command::kEncrypt),
    kD = 1u << int(Command::kDecrypt),
    kV = 1u << int(Command::kVerify),
    kI = 1u << int(Command::kInfo),
    kAll = kE | kD | kV | kI,
};

struct OptionDef {
    char chShort;           // 0: long form only
    const char* pszLong;
    const char* pszValue;   // the value's name in help; null: takes no value
    unsigned nCommands;
    Apply pfnApply;
    const char* pszHelp;    // lines after the first begin with '\n'
};

bool SetMethod(Options& o, const char* psz, std::string& e)
{
    o.bMethodGiven = true;
    if (std::strcmp(psz, "auto") == 0) {
        o.nEncType = kMethodAuto;
        return true;
    }
    o.nEncType = ParseMethodName(psz);
    return o.nEncType >= 0 || Fail(e, std::string("unknown method: ") + psz +
                                          " (aes, sapphire, des, des-cbc, blowfish or auto)");
}

bool SetFd(Options& o, const char* psz, std::string& e)
{
    char* pEnd = nullptr;
    errno = 0;
    const long n = std::strtol(psz, &pEnd, 10);
    if (errno || !*psz || *pEnd || n < 0 || n > 1 << 20)
        return Fail(e, std::string("not a file descriptor: ") + psz);
    o.nPasswordFd = int(n);
    return true;
}

bool SetCodePage(Options& o, const char* psz, std::string& e)
{
    char* pEnd = nullptr;
    errno = 0;
    const unsigned long n = std::strtoul(psz, &pEnd, 10);
    if (errno || !*psz || *pEnd || n == 0 || n > 65535 || !IsKnownCodePage(unsigned(n)))
        return Fail(e, std::string("unknown code page: ") + psz);
    o.nCodePage = unsigned(n);
    return true;
}

bool SetThreads(Options& o, const char* psz, std::string& e)
{
    char* pEnd = nullptr;
    const long n = std::strtol(psz, &pEnd, 10);
    if (!*psz || *pEnd || n < 1 || n > 64)
        return Fail(e, std::string("--threads takes 1 to 64, not ") + psz);
    o.nThreads = int(n);
    return true;
}

// "sub/" names a folder: as an output it names no file, and as a stored
// name (only the last component is stored) no name at all.
bool NamesAFile(const char* pszOption, const char* psz, std::string& e)
{
    if (GetFileNamePart(psz).IsEmpty())
        return Fail(e, std::string(pszOption) + " needs a file name, not a folder: " + psz);
    return true;
}

bool SetOutput(Options& o, const char* psz, std::string& e)
{
    if (!*psz)
        return Fail(e, "-o needs a file name (- for standard output)");
    if (!NamesAFile("-o", psz, e))
        return false;
    o.strOutput = psz;
    return true;
}

bool SetName(Options& o, const char* psz, std::string& e)
{
    if (*psz && !NamesAFile("--name", psz, e))
        return false;
    o.strName = psz;
    return true;
}

bool SetOutputDir(Options& o, const char* psz, std::string& e)
{
    if (std::strcmp(psz, "-") == 0 || !*psz)
        return Fail(e, "-O takes a folder; -o - writes standard output");
    o.strOutputDir = psz;
    return true;
}

#define KESTRIN_FLAG(field) [](Options& o, const char*, std::string&) { o.field = true; return true; }
// An empty value ("--password-file=$UNSET") must not read as no option at
// all, which would ask on the terminal.
#define KESTRIN_SOME_TEXT(field, why) \
    [](Options& o, const char* p, std::string& e) { return *p ? (o.field = p, true) : Fail(e, why); }

// In the order help lists them. An option may stand twice, for different
// commands, when it tells each something else.
const OptionDef kOptions[] = {
    {'m', "method", "METHOD", kE, SetMethod,
     "aes (the default: AES-256-GCM, authenticated), or\n"
     "one of the older methods for existing containers:\n"
     "sapphire, des, des-cbc, blowfish"},
    {'m', "method", "METHOD", kD | kV | kI, SetMethod,
     "auto (the default: found from the container), aes,\n"
     "sapphire, des, des-cbc or blowfish"},
    {'o', "output", "FILE", kE, SetOutput,
     "name the container, for one input; - for standard\n"
     "output"},
    {'o', "output", "FILE", kD, SetOutput,
     "name the restored file, for one input; - for\n"
     "standard output"},
    {'O', "output-dir", "DIR", kE | kD, SetOutputDir,
     "put the outputs in DIR, made when missing (with\n"
     "-r, the folders below it too)"},
    {'r', "recursive", nullptr, kE, KESTRIN_FLAG(bRecursive),
     "every regular file below the named folders (links\n"
     "to folders are not followed)"},
    {'r', "recursive", nullptr, kD | kV | kI, KESTRIN_FLAG(bRecursive),
     "every container below the named folders, found by\n"
     "its content whatever its name"},
    {0, "name", "NAME", kE, SetName, "the name stored for standard input (FILE -)"},
    {'f', "force", nullptr, kE, KESTRIN_FLAG(bForce),
     "encrypt files that are containers already (or\n"
     "whose container is there), and replace an existing\n"
     "-o FILE"},
    {'f', "force", nullptr, kD, KESTRIN_FLAG(bForce), "replace an existing -o FILE"},
    {'q', "quiet", nullptr, kE | kD | kV, KESTRIN_FLAG(bQuiet), "print nothing but errors"},
    {'q', "quiet", nullptr, kI, KESTRIN_FLAG(bQuiet), "no progress line; the report and errors only"},
    {'v', "verbose", nullptr, kE | kD | kV, KESTRIN_FLAG(bVerbose),
     "add the method, the sizes and the time to each\n"
     "file's line"},
    {0, "password-file", "FILE", kAll, KESTRIN_SOME_TEXT(strPasswordFile, "--password-file needs a file name"),
     "the password is the first line of FILE"},
    {0, "password-stdin", nullptr, kAll, KESTRIN_FLAG(bPasswordStdin), "... of standard input"},
    {0, "password-env", "VAR", kAll, KESTRIN_SOME_TEXT(strPasswordEnv, "--password-env needs a variable name"),
     "... the value of the environment variable VAR"},
    {0, "password-fd", "N", kAll, SetFd,
     "... the first line read from file descriptor N;\n"
     "without any of these it is asked on the terminal"},
    {0, "codepage", "N", kAll, SetCodePage,
     "the Windows code page of stored names and\n"
     "passwords that are not UTF-8 (default 1252; on\n"
     "Windows the system's ANSI code page); aes uses\n"
     "UTF-8 only"},
    {0, "threads", "N", kAll, SetThreads,
     "threads a file is processed with (1..64; default\n"
     "one per hardware thread); same output"},
    {'h', "help", nullptr, kAll, KESTRIN_FLAG(bHelp), "this text (-? too)"},
    {'V', "version", nullptr, kAll, KESTRIN_FLAG(bVersion), "the version"},
};

#undef KESTRIN_FLAG
#undef KESTRIN_SOME_TEXT

bool Takes(const OptionDef& option, Command command)
{
    return (option.nCommands & (1u << int(command))) != 0;
}

// The option of this command by its name, or null with the reason.
template <class Match>
const OptionDef* Find(Command command, const std::string& strShown, Match match, std::string& strError)
{
    bool bOther = false;
    for (const auto& option : kOptions) {
        if (!match(option))
            continue;
        if (Takes(option, command))
            return &option;
        bOther = true;
    }
    strError = bOther ? strShown + " is not an option of " + CommandName(command) : "unknown option: " + strShown;
    return nullptr;
}

// "--name value" and "--name=value".
bool ParseLong(int argc, char** argv, int& i, Options& options, std::string& strError)
{
    const std::string strArg = argv[i] + 2;
    const size_t nEq = strArg.find('=');
    const std::string strName = strArg.substr(0, nEq);
    const OptionDef* pOption = Find(options.command, "--" + strName,
                                    [&](const OptionDef& o) { return strName == o.pszLong; }, strError);
    if (!pOption)
        return false;
    if (!pOption->pszValue) {
        if (nEq != std::string::npos)
            return Fail(strError, "--" + strName + " takes no value");
        return pOption->pfnApply(options, nullptr, strError);
    }
    if (nEq != std::string::npos)
        return pOption->pfnApply(options, argv[i] + 2 + nEq + 1, strError);
    if (i + 1 >= argc)
        return Fail(strError, "--" + strName + " needs a value");
    return pOption->pfnApply(options, argv[++i], strError);
}

// "-rq", "-m des", "-mdes".
bool ParseShort(int argc, char** argv, int& i, Options& options, std::string& strError)
{
    for (const char* p = argv[i] + 1; *p; ++p) {
        const char ch = *p;
        const OptionDef* pOption = Find(options.command, std::string("-") + ch,
                                        [ch](const OptionDef& o) { return o.chShort == ch; }, strError);
        if (!pOption)
            return false;
        if (!pOption->pszValue) {
            if (!pOption->pfnApply(options, nullptr, strError))
                return false;
            continue;
        }
        if (p[1])
            return pOption->pfnApply(options, p + 1, strError);
        if (i + 1 >= argc)
            return Fail(strError, std::string("-") + ch + " needs a value");
        return pOption->pfnApply(options, argv[++i], strError);
    }
    return true;
}

bool CheckPasswordSources(const Options& o, std::string& strError)
{
    const int nSources = !o.strPasswordFile.empty() + o.bPasswordStdin + !o.strPasswordEnv.empty() +
                         (o.nPasswordFd >= 0);
    if (nSources > 1)
        return Fail(strError, "give one password source: --password-file, --password-stdin, --password-env "
                              "or --password-fd");
    return true;
}

bool CheckOutputs(const Options& o, std::string& strError)
{
    if (o.bQuiet && o.bVerbose)
        return Fail(strError, "-q and -v contradict each other");
    if (o.strOutput.empty())
        return true;
    if (!o.strOutputDir.empty())
        return Fail(strError, "give -o FILE for one output or -O DIR for a folder, not both");
    if (o.files.size() != 1 || o.bRecursive)
        return Fail(strError, "-o names the output of one input; -O DIR puts the outputs of several in a folder");
    return true;
}

bool CheckStreams(const Options& o, std::string& strError)
{
    int nStdin = 0;
    for (const std::string& s : o.files)
        nStdin += s == "-";
    if (nStdin > 1)
        return Fail(strError, "standard input (-) can be read only once");
    if (nStdin && (o.bPasswordStdin || o.nPasswordFd == 0))
        return Fail(strError, "standard input cannot hold both the password and the data");
    if (nStdin && o.bRecursive)
        return Fail(strError, "-r needs folders, not standard input");
    if (nStdin && o.command == Command::kEncrypt && o.strName.empty())
        return Fail(strError, "encrypting standard input needs --name NAME, the name to store");
    if (!o.strName.empty() && !nStdin)
        return Fail(strError, "--name is for standard input (-) only");
    return true;
}

std::string Forms(const OptionDef& option)
{
    std::string str = option.chShort ? std::string("-") + option.chShort + ", " : std::string("    ");
    str += std::string("--") + option.pszLong;
    if (option.pszValue)
        str += std::string(" ") + option.pszValue;
    return str;
}

}  // namespace

const char* CommandName(Command command)
{
    for (const auto& c : kCommands)
        if (c.command == command)
            return c.pszName;
    return "";
}

std::vector<OptionHelp> OptionsOf(Command command)
{
    std::vector<OptionHelp> found;
    for (const auto& option : kOptions)
        if (Takes(option, command))
            found.push_back({Forms(option), option.pszHelp});
    return found;
}

bool ParseOptions(int argc, char** argv, Options& options, std::string& strError)
{
    if (argc < 2)
        return Fail(strError, "no command given");
    if (!ParseCommand(argv[1], options.command))
        return Fail(strError, std::string("unknown command: ") + argv[1] +
                                  " (encrypt, decrypt, verify, info or help)");
    if (options.command == Command::kVersion)
        return argc == 2 || Fail(strError, "nothing may follow " + std::string(argv[1]));
    if (options.command == Command::kHelp) {
        if (argc == 2)
            return true;
        Command topic = Command::kNone;
        if (argc > 3)
            return Fail(strError, "help takes one command: encrypt, decrypt, verify or info");
        if (!ParseCommand(argv[2], topic) || !IsWorkCommand(topic))
            return Fail(strError, std::string("help: no such command: ") + argv[2] +
                                      " (encrypt, decrypt, verify or info)");
        options.helpTopic = topic;
        return true;
    }

    // Help wins wherever it is asked for, so that "encrypt /?" never reads /? as a file.
    bool bOptionsEnd = false;
    for (int i = 2; i < argc && !bOptionsEnd; ++i) {
        bOptionsEnd = std::strcmp(argv[i], "--") == 0;
        if (AsksForHelp(argv[i])) {
            options.bHelp = true;
            return true;
        }
    }
    bOptionsEnd = false;
    for (int i = 2; i < argc; ++i) {
        const std::string strArg = argv[i];
        bool bOk = true;
        if (bOptionsEnd || strArg.size() < 2 || strArg[0] != '-')
            options.files.push_back(strArg);
        else if (strArg == "--")
            bOptionsEnd = true;
        else if (strArg[1] == '-')
            bOk = ParseLong(argc, argv, i, options, strError);
        else
            bOk = ParseShort(argc, argv, i, options, strError);
        if (!bOk)
            return false;
    }
    if (options.bHelp || options.bVersion)
        return true;
    if (options.command == Command::kEncrypt && options.nEncType == kMethodAuto) {
        if (options.bMethodGiven)
            return Fail(strError, "encrypt needs a method, not auto");
        options.nEncType = kEncTypeAuthenticated;
    }
    if (options.files.empty())
        return Fail(strError, "no files given");
    return CheckPasswordSources(options, strError) && CheckOutputs(options, strError) &&
           CheckStreams(options, strError);
}
